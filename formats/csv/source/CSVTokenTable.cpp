#include <CSVTokenTable.h>

#include <CSVLineAnalysis.h>

#include <dravik/Error.h>

#include <fmt/format.h>

#include <limits>
#include <utility>

#include <unistd.h>

namespace quenza::csv {

namespace {

dravik::DataType typeOfKind(CSVTokenTable::Kind kind)
{
    switch (kind) {
    case CSVTokenTable::EMPTY:
        return dravik::DataTypeId::UNKNOWN;
    case CSVTokenTable::TEXT:
        return dravik::DataTypeId::UTF8_STRING;
    case CSVTokenTable::INTEGER:
        return dravik::DataTypeId::INT64;
    case CSVTokenTable::REAL:
        break;
    }
    return dravik::DataTypeId::DOUBLE;
}

// What a frame of data-model columns costs, at most: a column's record and name, and a
// text cell (a std::string, more than a number takes).
constexpr uint64_t FRAME_BYTES_PER_COLUMN = 256;
constexpr uint64_t FRAME_BYTES_PER_CELL = sizeof(std::string);

} // namespace

CSVTokenTable::CSVTokenTable(uint64_t memoryLimit)
    : m_memoryLimit(memoryLimit)
{
}

uint64_t CSVTokenTable::physicalMemory()
{
    static const uint64_t bytes = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGE_SIZE);
        return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                                         : std::numeric_limits<uint64_t>::max();
    }();
    return bytes;
}

void CSVTokenTable::checkMemory(uint64_t otherBytes) const
{
    const uint64_t cells = static_cast<uint64_t>(m_width) * (m_rows + 1);
    const long double needed = static_cast<long double>(m_heldBytes) + static_cast<long double>(otherBytes)
        + static_cast<long double>(m_width) * FRAME_BYTES_PER_COLUMN
        + static_cast<long double>(cells) * FRAME_BYTES_PER_CELL;
    if (needed > static_cast<long double>(m_memoryLimit)) {
        throw dravik::Error(fmt::format("Not enough memory for a table of {} columns and {} rows: more than the {} "
                                        "bytes available",
                                        m_width, m_rows + 1, m_memoryLimit));
    }
}

void CSVTokenTable::setFirstLine(Line line)
{
    m_firstLine = std::move(line);
    m_width = m_firstLine.size();
    m_rows = 0;
    m_heldBytes = static_cast<uint64_t>(m_width) * (sizeof(Column) + sizeof(Token));
    m_columns.clear();
    checkMemory(0);
    m_columns.resize(m_width);
}

void CSVTokenTable::add(Column& column, Kind kind, double number, std::string_view text)
{
    if (kind == TEXT) {
        number = static_cast<double>(column.texts.size());
        char length[10];
        size_t bytes = 0;
        for (uint64_t rest = text.size(); bytes == 0 || rest != 0; rest >>= 7) {
            length[bytes++] = static_cast<char>((rest & 0x7f) | (rest > 0x7f ? 0x80 : 0));
        }
        column.texts.append(length, bytes);
        column.texts.append(text.data(), text.size());
        m_heldBytes += text.size() + bytes;
    }
    column.kinds.push_back(kind);
    column.numbers.push_back(number);
    column.kindsSeen = static_cast<uint8_t>(column.kindsSeen | (1u << kind));
}

bool CSVTokenTable::addLine(const Line& line)
{
    if (line.size() != m_width) {
        return false;
    }
    for (size_t c = 0; c < m_width; ++c) {
        const Token& token = line[c];
        switch (token.which()) {
        case TOKEN_STRING: {
            const auto& text = boost::get<std::string>(token);
            add(m_columns[c], text.empty() ? EMPTY : TEXT, 0, text);
            break;
        }
        case TOKEN_INT:
            add(m_columns[c], INTEGER, boost::get<int32_t>(token), {});
            break;
        default:
            add(m_columns[c], REAL, boost::get<double>(token), {});
            break;
        }
    }
    m_heldBytes += static_cast<uint64_t>(m_width) * (sizeof(uint8_t) + sizeof(double));
    ++m_rows;
    return true;
}

bool CSVTokenTable::addLine(const std::vector<Cell>& cells)
{
    if (cells.size() != m_width) {
        return false;
    }
    for (size_t c = 0; c < m_width; ++c) {
        add(m_columns[c], cells[c].kind, cells[c].number, cells[c].text);
    }
    m_heldBytes += static_cast<uint64_t>(m_width) * (sizeof(uint8_t) + sizeof(double));
    ++m_rows;
    return true;
}

void CSVTokenTable::reserveRows(uint64_t rows)
{
    if (m_rows == 0 || rows <= m_rows) {
        return;
    }
    const long double growth = static_cast<long double>(rows) / static_cast<long double>(m_rows);
    long double textBytes = 0;
    for (const Column& column : m_columns) {
        textBytes += static_cast<long double>(column.texts.size()) * growth;
    }
    const long double needed = static_cast<long double>(rows) * static_cast<long double>(m_width)
            * (sizeof(uint8_t) + sizeof(double) + FRAME_BYTES_PER_CELL)
        + textBytes;
    if (needed > static_cast<long double>(m_memoryLimit)) {
        return;
    }
    for (Column& column : m_columns) {
        column.kinds.reserve(static_cast<size_t>(rows));
        column.numbers.reserve(static_cast<size_t>(rows));
        column.texts.reserve(static_cast<size_t>(static_cast<long double>(column.texts.size()) * growth));
    }
}

void CSVTokenTable::Bytes::reserve(size_t capacity)
{
    if (capacity <= m_capacity) {
        return;
    }
    std::unique_ptr<char[]> data(new char[capacity]);
    if (m_size > 0) {
        std::memcpy(data.get(), m_data.get(), m_size);
    }
    m_data = std::move(data);
    m_capacity = capacity;
}

bool CSVTokenTable::assign(FileCSV&& lines)
{
    if (checkCoherency(lines) == 0) {
        return false;
    }
    setFirstLine(std::move(lines.front()));
    for (size_t i = 1; i < lines.size(); ++i) {
        addLine(lines[i]);
    }
    return true;
}

LineTypes CSVTokenTable::followingTypes() const
{
    LineTypes types;
    if (m_rows == 0) {
        return types;
    }
    // The merge is a join (commutative, associative, idempotent): merging line by line
    // gives what merging the kinds met in the column gives.
    for (const Column& column : m_columns) {
        bool first = true;
        dravik::DataType merged;
        for (uint8_t k = EMPTY; k <= REAL; ++k) {
            if ((column.kindsSeen & (1u << k)) == 0) {
                continue;
            }
            const dravik::DataType type = typeOfKind(static_cast<Kind>(k));
            merged = first ? type : discriminateTokenType(type, merged);
            first = false;
        }
        types.push_back(merged);
    }
    return types;
}

std::string CSVTokenTable::text(uint64_t row, size_t column) const
{
    return std::string(textView(row, column));
}

std::string_view CSVTokenTable::textView(uint64_t row, size_t column) const
{
    const Column& c = m_columns[column];
    auto position = static_cast<size_t>(c.numbers[row]);
    uint64_t length = 0;
    for (unsigned shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(c.texts.data()[position++]);
        length |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            break;
        }
    }
    return std::string_view(c.texts.data() + position, static_cast<size_t>(length));
}

void CSVTokenTable::releaseColumn(size_t column)
{
    m_columns[column] = Column();
}

} // namespace quenza::csv
