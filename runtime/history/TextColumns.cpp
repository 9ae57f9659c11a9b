#include "TextColumns.h"

#include <algorithm>

#include "HistoryText.h"

namespace {

std::string Cell(const std::vector<std::string> &row, size_t column, size_t maxWidth) {
  if (column >= row.size())
    return std::string();
  std::string cell = CleanText(row[column]);
  std::replace_if(
      cell.begin(), cell.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return CutText(cell, maxWidth);
}

std::string Line(const std::vector<std::string> &cells, const std::vector<size_t> &widths) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0)
      line += ' ';
    line += cells[i];
    if (i + 1 < cells.size())
      line.append(widths[i] - Utf8Length(cells[i]), ' ');
  }
  // An empty last cell would leave the blanks before it.
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

} // namespace

std::vector<std::string> AlignColumns(const std::vector<std::string> &header,
                                      const std::vector<std::vector<std::string>> &rows, size_t maxWidth) {
  const size_t columns = header.size();
  std::vector<std::vector<std::string>> table;
  table.reserve(rows.size() + 1);
  for (size_t r = 0; r <= rows.size(); ++r) {
    const std::vector<std::string> &source = r == 0 ? header : rows[r - 1];
    std::vector<std::string> cells(columns);
    for (size_t c = 0; c < columns; ++c)
      cells[c] = Cell(source, c, maxWidth);
    table.push_back(cells);
  }

  std::vector<size_t> widths(columns, 0);
  for (const std::vector<std::string> &cells : table)
    for (size_t c = 0; c < columns; ++c)
      widths[c] = std::max(widths[c], Utf8Length(cells[c]));

  std::vector<std::string> lines;
  lines.reserve(table.size() + 1);
  lines.push_back(Line(table[0], widths));
  std::vector<std::string> rule(columns);
  for (size_t c = 0; c < columns; ++c)
    rule[c] = std::string(widths[c], '=');
  lines.push_back(Line(rule, widths));
  for (size_t r = 1; r < table.size(); ++r)
    lines.push_back(Line(table[r], widths));
  return lines;
}
