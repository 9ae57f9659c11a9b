// The day's history file: comma-separated values (RFC 4180) in UTF-8 with a
// byte-order mark, so a spreadsheet opens it with the right characters, and
// CRLF line ends. One record is one byte string, written with one write, so
// runs that end at the same moment never interleave their lines.
#pragma once

#include <cstddef>
#include <string>

#include "RunRecord.h"

const size_t kHistoryColumns = 12;
// The header row's names, in column order.
extern const char *const kHistoryColumnNames[kHistoryColumns];

// The argument and the return value are cut to this many characters (see
// CutText): a script may hand over megabytes, the history is for reading.
const size_t kHistoryCutChars = 1024;

extern const char kUtf8ByteOrderMark[4]; // "\xEF\xBB\xBF"

// How the file to append to ends, which decides what goes before a record.
enum class HistoryFileEnd {
  New,     // absent or empty: the byte-order mark and the header row first
  LineEnd, // ends with a line end: the record alone
  Torn,    // ends inside a line (a write cut short): a line end first, so the
           // new record starts a line of its own and the reader finds it
  TornCR,  // ends with a line end's CR, its LF lost: the LF first
};

// From the file's size and its last byte (not looked at when size is 0).
HistoryFileEnd HistoryFileEndOf(unsigned long long size, char lastByte);

// One field as RFC 4180 has it: quoted, with its quotes doubled, when it
// holds a comma, a quote, a CR or an LF; as it is otherwise.
std::string CsvField(const std::string &text);

// The header row with its CRLF.
std::string HistoryHeaderLine();

// One record with its CRLF: every text cleaned (CleanText), the argument and
// the return value cut, a negative duration written as 0. The times must be
// valid (IsValidTime): the reader keeps no record without them.
std::string HistoryRecordLine(const RunRecord &record);

// Everything to write, with one write, to append the record to a file that
// ends as `end` says.
std::string HistoryAppendBytes(const RunRecord &record, HistoryFileEnd end);
