#include "HistoryReader.h"

#include <cstdint>

#include "HistoryCsv.h"

namespace {

enum class CsvParse {
  Row,          // a complete row, its line end read
  Malformed,    // not RFC 4180, or more fields than a record has
  Unterminated, // the data ended before the row's line end
};

// One CSV row starting at `pos`; `next` is where the following row starts.
CsvParse ParseRow(const std::string &s, size_t pos, std::vector<std::string> &fields, size_t &next) {
  const size_t n = s.size();
  fields.clear();
  for (;;) {
    if (fields.size() == kHistoryColumns)
      return CsvParse::Malformed; // a further field: no record of ours
    std::string field;
    if (pos < n && s[pos] == '"') {
      for (++pos;; ++pos) {
        if (pos >= n)
          return CsvParse::Unterminated;
        if (s[pos] == '"') {
          if (pos + 1 < n && s[pos + 1] == '"')
            ++pos; // a doubled quote stands for one
          else
            break;
        }
        field += s[pos];
      }
      ++pos; // the closing quote
    } else {
      for (; pos < n && s[pos] != ',' && s[pos] != '\n'; ++pos) {
        if (s[pos] == '\r' && pos + 1 < n && s[pos + 1] == '\n')
          break;
        if (s[pos] == '"')
          return CsvParse::Malformed; // a quote only ever appears in a quoted field
        field += s[pos];
      }
    }
    fields.push_back(field);
    if (pos >= n)
      return CsvParse::Unterminated;
    if (s[pos] == ',') {
      ++pos;
      continue;
    }
    if (s[pos] == '\r' && pos + 1 < n && s[pos + 1] == '\n')
      ++pos;
    if (s[pos] != '\n')
      return pos + 1 == n && s[pos] == '\r' ? CsvParse::Unterminated : CsvParse::Malformed;
    next = pos + 1;
    return CsvParse::Row;
  }
}

// A decimal number of only digits that fits `max`.
bool ParseCount(const std::string &text, unsigned long long max, unsigned long long &value) {
  if (text.empty() || text.size() > 20)
    return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10)
      return false;
    value = value * 10 + digit;
  }
  return true;
}

// The fields in HistoryCsv's column order, each of its own form.
bool RecordFromFields(const std::vector<std::string> &f, RunRecord &r) {
  unsigned long long duration, threadId;
  if (f.size() != kHistoryColumns || !ParseHistoryTime(f[0], r.start) ||
      !ParseCount(f[1], static_cast<unsigned long long>(INT64_MAX), duration) ||
      !ParseOutcome(f[2], r.outcome, r.exitCode) || !ParseCount(f[9], UINT32_MAX, threadId) ||
      (f[10] != "yes" && f[10] != "no") || !ParseHistoryTime(f[11], r.end))
    return false;
  r.durationMs = static_cast<long long>(duration);
  r.ran = f[3];
  r.argument = f[4];
  r.returnValue = f[5];
  r.error = f[6];
  r.language = f[7];
  r.host = f[8];
  r.threadId = static_cast<uint32_t>(threadId);
  r.pooled = f[10] == "yes";
  return true;
}

bool IsHeader(const std::vector<std::string> &fields) {
  if (fields.size() != kHistoryColumns)
    return false;
  for (size_t i = 0; i < kHistoryColumns; ++i)
    if (fields[i] != kHistoryColumnNames[i])
      return false;
  return true;
}

bool IsBlank(const std::vector<std::string> &fields) { return fields.size() == 1 && fields[0].empty(); }

size_t NextLineStart(const std::string &s, size_t pos) {
  size_t lineFeed = s.find('\n', pos);
  return lineFeed == std::string::npos ? s.size() : lineFeed + 1;
}

} // namespace

HistoryReadResult ReadHistory(const std::string &bytes) {
  HistoryReadResult result;
  result.skippedLines = 0;
  const size_t bomLength = sizeof kUtf8ByteOrderMark - 1;
  size_t pos = 0;
  std::vector<std::string> fields;
  while (pos < bytes.size()) {
    // A mark at a row's start, not only the file's: two writers that both
    // found the file new each wrote one.
    if (bytes.compare(pos, bomLength, kUtf8ByteOrderMark) == 0)
      pos += bomLength;
    size_t next = pos;
    if (ParseRow(bytes, pos, fields, next) == CsvParse::Row) {
      RunRecord record;
      if (RecordFromFields(fields, record)) {
        result.records.push_back(record);
        pos = next;
        continue;
      }
      if (IsHeader(fields) || IsBlank(fields)) {
        pos = next;
        continue;
      }
    }
    ++result.skippedLines;
    pos = NextLineStart(bytes, pos);
  }
  return result;
}
