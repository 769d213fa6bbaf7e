#include "Batch.h"

#include "FieldText.h"

namespace kelvara {

std::optional<unsigned> ValueOf(std::string_view typed) {
    const std::string text = TrimUpper(typed);
    if (text.size() == 4 && AllHexDigits(text))
        return HexValue(text);
    if (text.size() == 5 && AllDecimalDigits(text))
        return DecimalValue(text);
    return std::nullopt;
}

std::optional<std::string> ValueLike(std::string_view typed, std::size_t value) {
    if (!ValueOf(typed) || value > 0xFFFF)
        return std::nullopt;
    if (TrimUpper(typed).size() == 4)
        return FormatHex(static_cast<std::uint32_t>(value), 4);
    std::string decimal = std::to_string(value);
    return std::string(5 - decimal.size(), '0') + decimal;
}

std::optional<std::string> CountedValue(std::string_view typed, std::size_t offset) {
    const auto value = ValueOf(typed);
    if (!value || offset > 0xFFFF)
        return std::nullopt;
    return ValueLike(typed, *value + offset);
}

namespace {

std::string Cell(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

std::string RecordHeader() {
    std::string line;
    for (std::string_view column : kRecordColumns) {
        if (!line.empty())
            line += ',';
        line += column;
    }
    line += "\r\n";
    return line;
}

std::string RecordLine(const TRecordRow& row) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            line += ',';
        line += Cell(row[i]);
    }
    line += "\r\n";
    return line;
}

std::variant<std::vector<TRecordRow>, TRecordError> ParseRecord(std::string_view text) {
    std::vector<std::vector<std::string>> lines(1);
    std::vector<std::string>* cells = &lines.back();
    cells->emplace_back();
    bool quoted = false;
    std::size_t lineNumber = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cells->back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                lineNumber += c == '\n';
                cells->back() += c;
            }
        } else if (c == '"' && cells->back().empty()) {
            quoted = true;
        } else if (c == ',') {
            cells->emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        } else if (c == '\n') {
            ++lineNumber;
            cells = &lines.emplace_back();
            cells->emplace_back();
        } else {
            cells->back() += c;
        }
    }
    if (quoted)
        return TRecordError{lineNumber, "has a quote that is never closed"};
    if (lines.back().size() == 1 && lines.back().front().empty())
        lines.pop_back();
    if (lines.empty() || RecordLine([&] {
            TRecordRow header;
            for (std::size_t i = 0; i < header.size() && i < lines.front().size(); ++i)
                header[i] = lines.front()[i];
            return header;
        }()) != RecordHeader() || lines.front().size() != kRecordColumns.size())
        return TRecordError{1, "is not a Kelvara record: its first line is not " +
                                   RecordHeader().substr(0, RecordHeader().size() - 2)};
    std::vector<TRecordRow> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].size() != kRecordColumns.size())
            return TRecordError{i + 1, "has a row of " + std::to_string(lines[i].size()) +
                                           " cells, not " + std::to_string(kRecordColumns.size())};
        TRecordRow& row = rows.emplace_back();
        for (std::size_t j = 0; j < row.size(); ++j)
            row[j] = std::move(lines[i][j]);
    }
    return rows;
}

} // namespace kelvara
