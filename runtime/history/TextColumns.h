// Console listings in aligned columns: a header row, a line of '=' under
// each column, then the rows, every column as wide as its widest cell.
//
//   Start                          Outcome  Script or program
//   ============================== ======== =================
//   2026-12-09 20:21:05.123 +01:00 returned C:\Scripts\AutoRun.vbs
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Cells longer than this many characters are cut (CutText) to it.
const size_t kColumnMaxWidth = 40;

// The lines, without line ends. Widths count characters, not bytes, so
// UTF-8 cells line up. Columns are parted by one blank and the last one is
// not padded (no trailing blanks). A row with fewer cells than the header
// has empty ones; cells beyond the header's are dropped. Each cell is
// cleaned (CleanText) and its tabs and line breaks become blanks, so a row
// stays one line. maxWidth below 3 counts as 3.
std::vector<std::string> AlignColumns(const std::vector<std::string> &header,
                                      const std::vector<std::vector<std::string>> &rows,
                                      size_t maxWidth = kColumnMaxWidth);
