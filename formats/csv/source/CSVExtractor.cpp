#include <CSVExtractor.h>

#include <CSVLineAnalysis.h>
#include <CSVNumberText.h>

#include <common/PluginLogger.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/DataFrameViewFactory.h>
#include <dravik/Error.h>
#include <dravik/Providers.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace quenza::csv {

namespace {

double realOf(const Token& token)
{
    switch (token.which()) {
    case TOKEN_INT:
        return boost::get<int32_t>(token);
    case TOKEN_DOUBLE:
        return boost::get<double>(token);
    default:
        return std::numeric_limits<double>::quiet_NaN();
    }
}

std::string textOf(const Token& token)
{
    switch (token.which()) {
    case TOKEN_INT:
        return std::to_string(boost::get<int32_t>(token));
    case TOKEN_DOUBLE:
        return CSVNumberText::realText(boost::get<double>(token));
    default:
        return boost::get<std::string>(token);
    }
}

// Rows go to the frame in pieces, so that no copy of a whole column is held besides it.
// The same values are refilled piece after piece: texts keep their storage.
constexpr uint64_t ROWS_PER_WRITE = 65536;

template <typename T, typename Fill>
void writeColumn(dravik::DataFrameView& frame, size_t column, uint64_t height, const Fill& fill)
{
    std::vector<T> values(static_cast<size_t>(std::min(ROWS_PER_WRITE, height)));
    for (uint64_t start = 0; start < height; start += ROWS_PER_WRITE) {
        const uint64_t count = std::min(ROWS_PER_WRITE, height - start);
        for (uint64_t i = 0; i < count; ++i) {
            fill(start + i, values[i]);
        }
        frame.write(column, start, count, values.data());
    }
}

std::shared_ptr<quenza::common::ViewOriginExtensionImpl> originExtension(dravik::ViewDataOrigin origin)
{
    return std::make_shared<quenza::common::ViewOriginExtensionImpl>(
        fmt::format("{0} Extractor", quenza::common::PLUGIN_NAME), origin);
}

} // namespace

CSVExtractor::CSVExtractor(const std::string& path)
{
    common(dravik::StreamAccessFactory::openFileRead(path), FORMAT);
    m_extensions.add<quenza::common::ViewOriginExtensionImpl>(originExtension(dravik::ViewDataOrigin::DRIVE));
}

CSVExtractor::CSVExtractor(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format)
{
    common(std::move(accessor), format);
    m_extensions.add<quenza::common::ViewOriginExtensionImpl>(originExtension(dravik::ViewDataOrigin::UNKNOWN));
}

CSVExtractor::~CSVExtractor() = default;

void CSVExtractor::common(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format)
{
    if (format != FORMAT) {
        throw dravik::InvalidArgument(
            fmt::format("Format {} not supported by the plugin {}", format, quenza::common::PLUGIN_NAME));
    }
    if (!accessor) {
        throw dravik::InvalidArgument("Bad input storage");
    }
    CSVTokenTable table;
    {
        auto stream = dravik::StreamAccessProvider::toStream(accessor);
        auto random = dravik::RandomAccessProvider::toRandom(accessor);
        accessor.reset();
        if (!random) {
            if (!stream) {
                throw dravik::InvalidArgument("Bad input storage");
            }
            random = dravik::RandomAccessFactory::fromStream(std::move(stream));
        }
        if (!random->support(dravik::RandomAccessCapability::READ)) {
            throw dravik::InvalidArgument("Bad input storage");
        }
        const auto content = dravik::RandomAccessFactory::copyInMemory(random);
        random.reset();
        const auto* text = static_cast<const char*>(content->bufferReadOnly());
        const uint64_t size = text == nullptr ? 0 : content->bufferSize();
        if (CSVLineAnalysis::chooseSeparator(text, text + size, table) == CSVLineAnalysis::NO_SEPARATOR) {
            throw dravik::Error("Invalid content file");
        }
        // The content goes before the frame is allocated: the table holds all it needs.
    }
    buildFrame(table);
}

void CSVExtractor::buildFrame(CSVTokenTable& table)
{
    const size_t width = table.width();
    const Line& first = table.firstLine();
    const uint64_t following = table.followingRows();
    LineTypes firstTypes;
    determineDataTypeInLine(first, firstTypes);
    const LineTypes followingTypes = table.followingTypes();

    const bool header = following > 0 && std::all_of(first.begin(), first.end(), [](const Token& token) {
                            return token.which() == TOKEN_STRING;
                        });
    std::vector<std::string> names(width);
    if (header) {
        m_columnTypes = followingTypes;
        for (size_t i = 0; i < width; ++i) {
            const auto& name = boost::get<std::string>(first[i]);
            names[i] = name.empty() ? fmt::format("COLUMN_{}", i) : name;
        }
    } else {
        // A single line has no following lines to merge with: its own types stand.
        m_columnTypes = firstTypes;
        for (size_t i = 0; i < width; ++i) {
            if (following > 0) {
                m_columnTypes[i] = discriminateTokenType(firstTypes[i], followingTypes[i]);
            }
            names[i] = fmt::format("COLUMN_{}", i);
        }
    }

    const uint64_t height = header ? following : following + 1;
    m_memoryFrame = dravik::DataFrameViewFactory::allocate({static_cast<uint64_t>(width), height}, names,
                                                           m_columnTypes);
    // Without a header the first line is row 0 of the frame, and following line i row i + 1.
    const uint64_t lead = header ? 0 : 1;
    for (size_t column = 0; column < width; ++column) {
        QUENZA_LOG_INFO("COLUMN: {}", column);
        const dravik::DataTypeId type = m_columnTypes[column].id();
        if (type == dravik::DataTypeId::DOUBLE) {
            writeColumn<double>(*m_memoryFrame, column, height, [&](uint64_t row, double& value) {
                if (row < lead) {
                    value = realOf(first[column]);
                } else {
                    value = table.kind(row - lead, column) == CSVTokenTable::EMPTY
                        ? std::numeric_limits<double>::quiet_NaN()
                        : table.number(row - lead, column);
                }
            });
        } else if (type == dravik::DataTypeId::INT64) {
            // Such a column holds integer tokens only.
            writeColumn<int64_t>(*m_memoryFrame, column, height, [&](uint64_t row, int64_t& value) {
                value = row < lead ? int64_t{boost::get<int32_t>(first[column])}
                                   : static_cast<int64_t>(table.number(row - lead, column));
            });
        } else {
            writeColumn<std::string>(*m_memoryFrame, column, height, [&](uint64_t row, std::string& value) {
                if (row < lead) {
                    value = textOf(first[column]);
                    return;
                }
                value.clear();
                switch (table.kind(row - lead, column)) {
                case CSVTokenTable::TEXT:
                    value.assign(table.textView(row - lead, column));
                    break;
                case CSVTokenTable::INTEGER:
                    CSVNumberText::appendInteger(value, static_cast<int64_t>(table.number(row - lead, column)));
                    break;
                case CSVTokenTable::REAL:
                    CSVNumberText::appendReal(value, table.number(row - lead, column));
                    break;
                default:
                    break;
                }
            });
        }
        table.releaseColumn(column);
    }
}

std::shared_ptr<dravik::Extension> CSVExtractor::extension(size_t id)
{
    return m_extensions.extensionFromId(id);
}

dravik::DataFrameCapabilitySet CSVExtractor::capabilities() const
{
    return dravik::DataFrameCapability::READ;
}

const dravik::VectorXu64& CSVExtractor::shape() const
{
    return m_memoryFrame->shape();
}

std::string CSVExtractor::columnName(size_t column) const
{
    return m_memoryFrame->columnName(column);
}

size_t CSVExtractor::columnIndex(const std::string& name) const
{
    return m_memoryFrame->columnIndex(name);
}

dravik::DataType CSVExtractor::columnDataType(size_t column) const
{
    return m_memoryFrame->columnDataType(column);
}

void CSVExtractor::read(size_t column, uint64_t offset, uint64_t count, void* dst)
{
    m_memoryFrame->read(column, offset, count, dst);
}

} // namespace quenza::csv
