#include <CSVWriter.h>

#include <CSVNumberText.h>
#include <CSVWriterPlugin.h>

#include <common/PluginLogger.h>

#include <dravik/ColumnUnitExtension.h>
#include <dravik/DataType.h>
#include <dravik/Error.h>
#include <dravik/Providers.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueConverter.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

namespace quenza::csv {

const std::string LINE_BREAK = "\n";

namespace {

// Text handed to the stream in pieces of about this size.
constexpr size_t FLUSH_BYTES = size_t(1) << 20;

enum class CellFormat { SIGNED_32, SIGNED_64, UNSIGNED_64, FLOAT_32, FLOAT_64, TEXT };

// How cells of `type` are written; throws the documented error for a type that is not.
CellFormat cellFormatOf(const dravik::DataType& type)
{
    const uint32_t bits = type.bitDepth();
    // A vector or complex cell would not fit the scalar it is read into.
    if (!type.isScalar() && !type.isUnknown()) {
        throw dravik::Error(fmt::format("Unsupported data type: {0}", type.toString()));
    }
    switch (type.primitiveType()) {
    case dravik::PrimitiveType::UNSIGNED_INTEGER:
        if (bits == 8 || bits == 16) {
            return CellFormat::SIGNED_32;
        }
        if (bits == 32 || bits == 64) {
            return CellFormat::UNSIGNED_64;
        }
        throw dravik::Error(fmt::format("unsupported unsigned integer bit depth of {0}", bits));
    case dravik::PrimitiveType::SIGNED_INTEGER:
        if (bits == 8 || bits == 16 || bits == 32) {
            return CellFormat::SIGNED_32;
        }
        if (bits == 64) {
            return CellFormat::SIGNED_64;
        }
        throw dravik::Error(fmt::format("unsupported signed integer bit depth of {0}", bits));
    case dravik::PrimitiveType::FLOATING_POINT:
        if (bits == 32) {
            return CellFormat::FLOAT_32;
        }
        if (bits == 64) {
            return CellFormat::FLOAT_64;
        }
        throw dravik::Error(fmt::format("unsupported floating-point bit depth of {0}", bits));
    case dravik::PrimitiveType::UNICODE_STRING:
        if (bits == 8) {
            return CellFormat::TEXT;
        }
        throw dravik::Error(fmt::format("unsupported UTF string bit depth of {0}", bits));
    default:
        throw dravik::Error(fmt::format("Unsupported data type: {0}", type.toString()));
    }
}

void appendEscaped(std::string& out, const std::string& text)
{
    // The reader's escapes: a backslash before a double quote or a backslash.
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
}

// One column's cells of a block of rows, read in one call and turned into text.
class ColumnBlock {
public:
    explicit ColumnBlock(const dravik::DataType& type)
        : m_format(cellFormatOf(type))
        , m_type(type)
    {
    }

    void load(dravik::DataFrameView& frame, size_t column, uint64_t row, uint64_t count)
    {
        if (m_format == CellFormat::TEXT) {
            m_texts.assign(count, std::string());
            frame.read(column, row, count, m_texts.data());
        } else {
            m_bytes.resize(count * m_type.byteCount());
            frame.read(column, row, count, m_bytes.data());
        }
    }

    void append(std::string& out, uint64_t i) const
    {
        switch (m_format) {
        case CellFormat::SIGNED_32:
            CSVNumberText::appendInteger(out, static_cast<int64_t>(signed32(i)));
            break;
        case CellFormat::SIGNED_64:
            CSVNumberText::appendInteger(out, cell<int64_t>(i));
            break;
        case CellFormat::UNSIGNED_64:
            CSVNumberText::appendInteger(out, m_type.bitDepth() == 32 ? uint64_t{cell<uint32_t>(i)} : cell<uint64_t>(i));
            break;
        case CellFormat::FLOAT_32:
            CSVNumberText::appendReal(out, cell<float>(i));
            break;
        case CellFormat::FLOAT_64:
            CSVNumberText::appendReal(out, cell<double>(i));
            break;
        case CellFormat::TEXT:
            out += '"';
            appendEscaped(out, m_texts[i]);
            out += '"';
            break;
        }
    }

private:
    template <typename T>
    T cell(uint64_t i) const
    {
        T value;
        std::memcpy(&value, m_bytes.data() + i * sizeof(T), sizeof(T));
        return value;
    }

    // 8- and 16-bit cells, signed or not, go through a signed 32-bit value.
    int32_t signed32(uint64_t i) const
    {
        const bool isSigned = m_type.primitiveType() == dravik::PrimitiveType::SIGNED_INTEGER;
        switch (m_type.bitDepth()) {
        case 8:
            return isSigned ? int32_t{cell<int8_t>(i)} : int32_t{cell<uint8_t>(i)};
        case 16:
            return isSigned ? int32_t{cell<int16_t>(i)} : int32_t{cell<uint16_t>(i)};
        default:
            return cell<int32_t>(i);
        }
    }

    CellFormat m_format;
    dravik::DataType m_type;
    std::vector<uint8_t> m_bytes;
    std::vector<std::string> m_texts;
};

} // namespace

CSVWriter::CSVWriter(std::shared_ptr<dravik::View> src, const std::string& path)
    : m_delimiter(",")
    , m_displayUnits(true)
{
    // The view is checked before the file is opened, so that a rejected view does not
    // leave an existing file emptied.
    m_src = checkedFrame(src);
    setDestination(dravik::StreamAccessFactory::openFileWrite(path));
}

CSVWriter::CSVWriter(std::shared_ptr<dravik::View> src, std::shared_ptr<dravik::DataAccess> accessor,
                     const std::string& format)
    : m_delimiter(",")
    , m_displayUnits(true)
{
    if (format != FORMAT) {
        throw dravik::InvalidArgument(fmt::format("unsupported format: {0}", format));
    }
    m_src = checkedFrame(src);
    setDestination(accessor);
}

CSVWriter::~CSVWriter() = default;

std::shared_ptr<dravik::DataFrameView> CSVWriter::checkedFrame(const std::shared_ptr<dravik::View>& src)
{
    auto frame = dravik::DataFrameViewProvider::toDataFrame(src);
    if (!frame) {
        throw dravik::Error("CSV writer only accepts dataframes as input");
    }
    return frame;
}

void CSVWriter::setDestination(const std::shared_ptr<dravik::DataAccess>& accessor)
{
    m_dst = dravik::StreamAccessProvider::toStream(accessor);
    if (!m_dst) {
        throw dravik::Error("CSV writer only accepts streams as output");
    }
    if (!m_dst->support(dravik::StreamAccessCapability::WRITE)) {
        throw dravik::Error("output stream must support writing");
    }
}

void CSVWriter::writeAll()
{
    writeInit();
    writeData();
    writeFinish();
}

void CSVWriter::writeInit()
{
    const dravik::VectorXu64& shape = m_src->shape();
    const uint64_t columns = shape.size() > 0 ? shape[0] : 0;
    std::shared_ptr<dravik::ColumnUnitExtension> units;
    try {
        units = m_src->extension<dravik::ColumnUnitExtension>();
    } catch (const dravik::Error&) {
        units.reset();
    }
    try {
        if (units && m_displayUnits) {
            for (uint64_t column = 0; column < columns; ++column) {
                if (column > 0) {
                    writeColumDelimiter();
                }
                const std::string unit = units->unit(column);
                if (unit.empty()) {
                    writeQuoted(m_src->columnName(column));
                } else {
                    m_buffer += '"';
                    appendEscaped(m_buffer, m_src->columnName(column));
                    m_buffer += " (";
                    appendEscaped(m_buffer, unit);
                    m_buffer += ")\"";
                }
            }
        } else {
            if (m_displayUnits) {
                QUENZA_LOG_INFO("column units requested but the source does not support the column units extension");
            }
            for (uint64_t column = 0; column < columns; ++column) {
                if (column > 0) {
                    writeColumDelimiter();
                }
                writeQuoted(m_src->columnName(column));
            }
        }
        writeRowEnd(columns);
        flushBuffer();
    } catch (...) {
        flushBufferAfterError();
        throw;
    }
}

void CSVWriter::writeData()
{
    const dravik::VectorXu64& shape = m_src->shape();
    const uint64_t columns = shape.size() > 0 ? shape[0] : 0;
    const uint64_t rows = shape.size() > 1 ? shape[1] : 0;
    if (rows == 0) {
        return;
    }
    // Cells are checked by type before anything is read; a refused column fails at its
    // first cell, after the cells before it in the first row.
    std::vector<ColumnBlock> blocks;
    std::exception_ptr refusal;
    for (uint64_t column = 0; column < columns && !refusal; ++column) {
        try {
            blocks.emplace_back(m_src->columnDataType(column));
        } catch (const dravik::Error&) {
            refusal = std::current_exception();
        }
    }
    const size_t accepted = blocks.size();
    const uint64_t lastRow = refusal ? 1 : rows;
    try {
        for (uint64_t first = 0; first < lastRow; first += ROWS_PER_BLOCK) {
            const uint64_t count = std::min(ROWS_PER_BLOCK, lastRow - first);
            for (size_t column = 0; column < accepted; ++column) {
                blocks[column].load(*m_src, column, first, count);
            }
            for (uint64_t i = 0; i < count; ++i) {
                for (size_t column = 0; column < accepted; ++column) {
                    if (column > 0) {
                        writeColumDelimiter();
                    }
                    blocks[column].append(m_buffer, i);
                }
                if (refusal) {
                    if (accepted > 0) {
                        writeColumDelimiter();
                    }
                    std::rethrow_exception(refusal);
                }
                writeRowEnd(columns);
            }
            if (m_buffer.size() >= FLUSH_BYTES) {
                flushBuffer();
            }
        }
        flushBuffer();
    } catch (...) {
        flushBufferAfterError();
        throw;
    }
}

void CSVWriter::writeFinish()
{
    flushBuffer();
    m_dst->flush();
}

std::string CSVWriter::name() const
{
    return CSVWriterPlugin::s_name;
}

std::string CSVWriter::version() const
{
    return CSVWriterPlugin::s_version;
}

void CSVWriter::setOption(const std::string& name, std::shared_ptr<dravik::VariantDataValue> value)
{
    if (name == "delimiter") {
        m_delimiter = dravik::VariantDataValueConverter::toString(value);
    } else if (name == "display_units") {
        m_displayUnits = dravik::VariantDataValueConverter::toInt64(value) != 0;
    } else {
        throw dravik::InvalidArgument(fmt::format("invalid option {0}", name));
    }
}

void CSVWriter::writeColumDelimiter()
{
    m_buffer += m_delimiter;
}

void CSVWriter::writeLineBreak()
{
    m_buffer += LINE_BREAK;
}

void CSVWriter::writeRowEnd(uint64_t columns)
{
    // A line without any separator is no table to the reader: a single column gets the
    // final-separator form, which the reader reads as one column.
    if (columns == 1) {
        writeColumDelimiter();
    }
    writeLineBreak();
}

void CSVWriter::writeQuoted(const std::string& text)
{
    m_buffer += '"';
    appendEscaped(m_buffer, text);
    m_buffer += '"';
}

void CSVWriter::flushBuffer()
{
    if (m_buffer.empty()) {
        return;
    }
    const uint64_t size = m_buffer.size();
    const uint64_t written = m_dst->write(size, m_buffer.data());
    m_buffer.clear();
    if (written != size) {
        throw dravik::Error(fmt::format("CSV writer could write only {0} of {1} bytes", written, size));
    }
}

void CSVWriter::flushBufferAfterError() noexcept
{
    try {
        flushBuffer();
    } catch (...) {
        m_buffer.clear();
    }
}

} // namespace quenza::csv
