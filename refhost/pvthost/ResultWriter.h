// Prints calc results as a table, JSON or CSV. The empty value -32767.0 is
// "n/a" in the table, null in JSON and an empty field in CSV. Numbers are
// written in the shortest form that reads back as the same double (the
// table rounds them to ten significant digits).
#pragma once

#include "Calculation.h"

#include <cstdio>
#include <string>
#include <vector>

namespace pvthost {

enum class OutputFormat { Table, Json, Csv };

// False when name is not table, json or csv.
bool ParseOutputFormat(const std::string& name, OutputFormat& format);

std::string FormatNumber(double value, int maxDigits = 17);

// text (UTF-8) as a JSON string, quotes included.
std::string JsonText(const std::string& text);

void WriteResults(std::FILE* out, OutputFormat format,
                  const std::vector<CorrelationResult>& results);

// A plain table: a header row, then rows; columns padded to their widest
// cell, those flagged numeric aligned right.
void WriteTable(std::FILE* out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& numeric);

}  // namespace pvthost
