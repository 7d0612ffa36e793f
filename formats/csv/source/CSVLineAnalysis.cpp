#include <CSVLineAnalysis.h>

#include <CSVLineScanner.h>

#include <common/PluginLogger.h>

#include <algorithm>
#include <utility>

namespace quenza::csv {

const std::vector<std::string> SEPARATORS_LIST = {"|", ",", ";"};

namespace {

namespace qi = boost::spirit::qi;

bool debugLogging()
{
    const auto logger = common::PluginLogger::logger();
    return logger && logger->should_log(spdlog::level::debug);
}

void logContent(const FileCSV& lines, const std::string& separator)
{
    QUENZA_LOG_DEBUG("=====CONTENT with separator '{}'=====", separator);
    for (const Line& line : lines) {
        QUENZA_LOG_DEBUG("LINE:");
        for (const Token& token : line) {
            switch (token.which()) {
            case TOKEN_STRING:
                QUENZA_LOG_DEBUG("Val STRING read: {}", boost::get<std::string>(token));
                break;
            case TOKEN_INT:
                QUENZA_LOG_DEBUG("Val INT read: {}", boost::get<int32_t>(token));
                break;
            default:
                QUENZA_LOG_DEBUG("Val double read: {}", boost::get<double>(token));
                break;
            }
        }
    }
}

} // namespace

bool CSVLineAnalysis::extract(const std::string& stringToParse, const std::string& separator, FileCSV& tokensByLine)
{
    return extract(stringToParse.data(), stringToParse.data() + stringToParse.size(), separator, tokensByLine);
}

bool CSVLineAnalysis::extract(CSVIterator first, CSVIterator last, const std::string& separator,
                              FileCSV& tokensByLine)
{
    tokensByLine.clear();
    const CSVGrammar grammar(separator);
    CSVIterator position = first;
    const bool matched = qi::phrase_parse(position, last, grammar, blankSkipper(), tokensByLine);
    return matched && position == last;
}

namespace {

constexpr uint64_t ROWS_BEFORE_RESERVE = 4096;

size_t endOfTable(CSVIterator position, CSVIterator last, size_t width)
{
    while (position != last && (*position == ' ' || *position == '\t')) {
        ++position;
    }
    return position == last ? width : 0;
}

size_t scanTable(CSVIterator first, CSVIterator last, const std::string& separator, size_t widthToBeat,
                 CSVTokenTable& table)
{
    CSVLineScanner scanner(first, last, separator);
    std::vector<CSVTokenTable::Cell> cells;
    CSVLineScanner::Item item = CSVLineScanner::LINE_1;
    bool matched = false;
    CSVIterator position = first;
    for (const auto candidate :
         {CSVLineScanner::LINE_1, CSVLineScanner::LINE_X_WITH_FINAL_SEP, CSVLineScanner::LINE_X}) {
        if (scanner.parse(candidate, position, cells)) {
            item = candidate;
            matched = true;
            break;
        }
    }
    if (!matched || cells.size() <= widthToBeat) {
        return 0;
    }
    const size_t width = cells.size();
    Line line;
    for (const CSVTokenTable::Cell& cell : cells) {
        switch (cell.kind) {
        case CSVTokenTable::INTEGER:
            line.emplace_back(static_cast<int32_t>(cell.number));
            break;
        case CSVTokenTable::REAL:
            line.emplace_back(cell.number);
            break;
        default:
            line.emplace_back(std::string(cell.text));
            break;
        }
    }
    const auto contentBytes = static_cast<uint64_t>(last - first);
    table.setFirstLine(std::move(line));
    table.checkMemory(contentBytes);
    bool reserved = false;
    while (scanner.parse(item, position, cells)) {
        if (!table.addLine(cells)) {
            return 0;
        }
        table.checkMemory(contentBytes);
        if (!reserved && table.followingRows() == ROWS_BEFORE_RESERVE) {
            // The lines so far tell roughly how many there are.
            reserved = true;
            const auto parsed = static_cast<double>(position - first);
            table.reserveRows(static_cast<uint64_t>(static_cast<double>(ROWS_BEFORE_RESERVE)
                                                    * (static_cast<double>(contentBytes) / parsed) * 1.1));
        }
    }
    return endOfTable(position, last, width);
}

} // namespace

size_t CSVLineAnalysis::parseTable(CSVIterator first, CSVIterator last, const std::string& separator,
                                   size_t widthToBeat, CSVTokenTable& table)
{
    if (CSVLineScanner::handles(separator)) {
        return scanTable(first, last, separator, widthToBeat, table);
    }
    return grammarTable(first, last, separator, widthToBeat, table);
}

size_t CSVLineAnalysis::grammarTable(CSVIterator first, CSVIterator last, const std::string& separator,
                                     size_t widthToBeat, CSVTokenTable& table)
{
    // m_csvFile line by line: the first item that matches at the start chooses the
    // alternative, whose item then repeats until it fails; what is left must be blanks.
    const CSVGrammar grammar(separator);
    const CSVSkipper skipper = blankSkipper();
    const CSVGrammar::Rule<Line(), CSVSkipper>* const items[] = {&grammar.m_item_1, &grammar.m_item_X_with_final_sep,
                                                                 &grammar.m_item_X};
    const CSVGrammar::Rule<Line(), CSVSkipper>* item = nullptr;
    CSVIterator position = first;
    Line line;
    for (const auto* candidate : items) {
        line.clear();
        CSVIterator next = position;
        if (qi::phrase_parse(next, last, *candidate, skipper, qi::skip_flag::dont_postskip, line)) {
            item = candidate;
            position = next;
            break;
        }
    }
    if (item == nullptr) {
        return 0;
    }
    const size_t width = line.size();
    if (width <= widthToBeat) {
        return 0;
    }
    const auto contentBytes = static_cast<uint64_t>(last - first);
    table.setFirstLine(std::move(line));
    table.checkMemory(contentBytes);
    while (true) {
        line.clear();
        CSVIterator next = position;
        if (!qi::phrase_parse(next, last, *item, skipper, qi::skip_flag::dont_postskip, line)) {
            break;
        }
        position = next;
        if (!table.addLine(line)) {
            return 0;
        }
        table.checkMemory(contentBytes);
    }
    return endOfTable(position, last, width);
}

size_t CSVLineAnalysis::chooseSeparator(CSVIterator first, CSVIterator last, CSVTokenTable& table)
{
    size_t best = NO_SEPARATOR;
    size_t bestWidth = 0;
    if (debugLogging()) {
        FileCSV bestLines;
        for (size_t i = 0; i < SEPARATORS_LIST.size(); ++i) {
            FileCSV lines;
            if (!extract(first, last, SEPARATORS_LIST[i], lines)) {
                continue;
            }
            const size_t width = checkCoherency(lines);
            logContent(lines, SEPARATORS_LIST[i]);
            if (width > bestWidth) {
                best = i;
                bestWidth = width;
                bestLines = std::move(lines);
            }
        }
        if (best != NO_SEPARATOR) {
            table.assign(std::move(bestLines));
        }
    } else {
        CSVTokenTable candidate(table.memoryLimit());
        for (size_t i = 0; i < SEPARATORS_LIST.size(); ++i) {
            const size_t width = parseTable(first, last, SEPARATORS_LIST[i], bestWidth, candidate);
            if (width > bestWidth) {
                best = i;
                bestWidth = width;
                std::swap(table, candidate);
                candidate = CSVTokenTable(table.memoryLimit());
            }
        }
    }
    if (best != NO_SEPARATOR) {
        QUENZA_LOG_DEBUG("Separator used: '{}'", SEPARATORS_LIST[best]);
    }
    return best;
}

size_t checkCoherency(const FileCSV& fileContent)
{
    if (fileContent.empty() || fileContent.front().empty()) {
        return 0;
    }
    const size_t width = fileContent.front().size();
    const bool coherent = std::all_of(fileContent.begin(), fileContent.end(),
                                      [width](const Line& line) { return line.size() == width; });
    return coherent ? width : 0;
}

void determineDataTypeInLine(const Line& line, LineTypes& listTypes)
{
    for (const Token& token : line) {
        switch (token.which()) {
        case TOKEN_STRING:
            listTypes.emplace_back(boost::get<std::string>(token).empty() ? dravik::DataTypeId::UNKNOWN
                                                                           : dravik::DataTypeId::UTF8_STRING);
            break;
        case TOKEN_INT:
            listTypes.emplace_back(dravik::DataTypeId::INT64);
            break;
        default:
            listTypes.emplace_back(dravik::DataTypeId::DOUBLE);
            break;
        }
    }
}

dravik::DataType discriminateTokenType(const dravik::DataType& type1, const dravik::DataType& type2)
{
    const dravik::DataType text = dravik::DataTypeId::UTF8_STRING;
    const dravik::DataType real = dravik::DataTypeId::DOUBLE;
    const dravik::DataType unknown = dravik::DataTypeId::UNKNOWN;
    if (type1 == text || type2 == text) {
        return text;
    }
    if (type1 == real || type2 == real) {
        return real;
    }
    if (type1 == unknown || type2 == unknown) {
        // An empty cell in an integer column must be able to hold a not-a-number.
        return type1 == type2 ? unknown : real;
    }
    return dravik::DataTypeId::INT64;
}

void determineDataTypeFromLines(FileCSV::const_iterator startLine, FileCSV::const_iterator endLine,
                                LineTypes& finalTypesList)
{
    if (startLine == endLine) {
        return;
    }
    const size_t offset = finalTypesList.size();
    determineDataTypeInLine(*startLine, finalTypesList);
    const size_t width = finalTypesList.size() - offset;
    LineTypes lineTypes;
    for (auto line = std::next(startLine); line != endLine; ++line) {
        lineTypes.clear();
        determineDataTypeInLine(*line, lineTypes);
        const size_t count = std::min(width, lineTypes.size());
        for (size_t i = 0; i < count; ++i) {
            finalTypesList[offset + i] = discriminateTokenType(lineTypes[i], finalTypesList[offset + i]);
        }
    }
}

} // namespace quenza::csv
