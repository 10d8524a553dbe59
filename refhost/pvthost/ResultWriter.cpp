#include "ResultWriter.h"

#include "Diagnostics.h"
#include "FluidFile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pvthost {

namespace {

bool IsEmpty(double value) { return value == kEmptyValue; }

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// JSON has no NaN or infinity: those go out as strings.
std::string JsonNumber(double value) {
    if (IsEmpty(value)) return "null";
    if (!std::isfinite(value)) return JsonString(FormatNumber(value));
    return FormatNumber(value);
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// Ten significant digits are plenty to read; JSON and CSV carry every digit.
std::string TableNumber(double value) { return IsEmpty(value) ? "n/a" : FormatNumber(value, 10); }
std::string CsvNumber(double value) { return IsEmpty(value) ? "" : FormatNumber(value); }

void WriteJson(std::FILE* out, const std::vector<CorrelationResult>& results) {
    std::fputs("[\n", out);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const CorrelationResult& r = results[i];
        std::fprintf(out,
                     "  {\"class\": %s, \"displayName\": %s, \"kind\": %ld, \"overall\": %s, "
                     "\"phases\": [%s, %s, %s]}%s\n",
                     JsonString(Utf8(r.moduleClass.name)).c_str(),
                     JsonString(r.identity.displayName).c_str(), r.identity.kindCode,
                     JsonNumber(r.values[0]).c_str(), JsonNumber(r.values[1]).c_str(),
                     JsonNumber(r.values[2]).c_str(), JsonNumber(r.values[3]).c_str(),
                     i + 1 < results.size() ? "," : "");
    }
    std::fputs("]\n", out);
}

void WriteCsv(std::FILE* out, const std::vector<CorrelationResult>& results) {
    std::fputs("class,display_name,kind,overall,phase_0,phase_1,phase_2\n", out);
    for (const CorrelationResult& r : results) {
        std::fprintf(out, "%s,%s,%ld,%s,%s,%s,%s\n", CsvField(Utf8(r.moduleClass.name)).c_str(),
                     CsvField(r.identity.displayName).c_str(), r.identity.kindCode,
                     CsvNumber(r.values[0]).c_str(), CsvNumber(r.values[1]).c_str(),
                     CsvNumber(r.values[2]).c_str(), CsvNumber(r.values[3]).c_str());
    }
}

void WriteResultTable(std::FILE* out, const std::vector<CorrelationResult>& results) {
    std::vector<std::vector<std::string>> rows;
    for (const CorrelationResult& r : results) {
        rows.push_back({Utf8(r.moduleClass.name), r.identity.displayName,
                        std::to_string(r.identity.kindCode), TableNumber(r.values[0]),
                        TableNumber(r.values[1]), TableNumber(r.values[2]),
                        TableNumber(r.values[3])});
    }
    WriteTable(out, {"Class", "Display name", "Kind", "Overall", "Phase 0", "Phase 1", "Phase 2"},
               rows, {false, false, true, true, true, true, true});
}

}  // namespace

std::string JsonText(const std::string& text) { return JsonString(text); }

bool ParseOutputFormat(const std::string& name, OutputFormat& format) {
    if (name == "table") {
        format = OutputFormat::Table;
    } else if (name == "json") {
        format = OutputFormat::Json;
    } else if (name == "csv") {
        format = OutputFormat::Csv;
    } else {
        return false;
    }
    return true;
}

std::string FormatNumber(double value, int maxDigits) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    // The fewest significant digits that read back as the same double (or
    // maxDigits), written without an exponent where %g allows it.
    int digits = 1;
    char text[48];
    for (; digits < maxDigits; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    const double magnitude = std::fabs(value);
    if (magnitude >= 1.0 && magnitude < 1e17) {
        const int integerDigits = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
        digits = std::max(digits, integerDigits);
    }
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

void WriteResults(std::FILE* out, OutputFormat format,
                  const std::vector<CorrelationResult>& results) {
    switch (format) {
        case OutputFormat::Table:
            WriteResultTable(out, results);
            break;
        case OutputFormat::Json:
            WriteJson(out, results);
            break;
        case OutputFormat::Csv:
            WriteCsv(out, results);
            break;
    }
}

void WriteTable(std::FILE* out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& numeric) {
    std::vector<std::size_t> widths(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) widths[c] = header[c].size();
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    auto writeRow = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
            const std::string padding(widths[c] - cells[c].size(), ' ');
            if (c) line += "  ";
            line += numeric[c] ? padding + cells[c] : cells[c] + padding;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::fprintf(out, "%s\n", line.c_str());
    };
    writeRow(header);
    std::vector<std::string> rule;
    for (std::size_t width : widths) rule.push_back(std::string(width, '-'));
    writeRow(rule);
    for (const auto& row : rows) writeRow(row);
}

}  // namespace pvthost
