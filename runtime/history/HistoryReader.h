// Reading a day's history file back (for listings of what ran).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "RunRecord.h"

struct HistoryReadResult {
  std::vector<RunRecord> records; // in file order
  // Lines that held no record: a line torn by a write cut short (a crash, a
  // full disk), or one changed by hand. Blank lines and header rows are not
  // counted.
  size_t skippedLines;
};

// Parses the file's bytes as HistoryCsv writes them: RFC 4180 fields, quoted
// line breaks and doubled quotes, a byte-order mark at the start, CRLF or LF
// line ends. A record counts only when it is complete: its line end read,
// every column there and every field of its own form (times, numbers,
// outcome). Anything else is dropped one physical line at a time and
// reading goes on from the next line, so a torn record never swallows the
// records written after it, and a file cut mid-record loses only that one.
HistoryReadResult ReadHistory(const std::string &bytes);
