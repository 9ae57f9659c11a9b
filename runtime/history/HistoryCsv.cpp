#include "HistoryCsv.h"

#include "HistoryText.h"

// The end comes last: a line cut short anywhere ends without a whole time,
// so a torn record is never taken for a complete one, even when a line end
// is added after it (HistoryFileEnd::Torn).
const char *const kHistoryColumnNames[kHistoryColumns] = {"Start",    "Duration ms",  "Outcome", "Script or program",
                                                          "Argument", "Return value", "Error",   "Language",
                                                          "Host",     "Thread",       "Pooled",  "End"};

const char kUtf8ByteOrderMark[4] = "\xEF\xBB\xBF";

namespace {

const char kLineEnd[] = "\r\n";

// The fields as one CSV line with its line end.
std::string Row(const std::string (&fields)[kHistoryColumns]) {
  std::string line;
  for (size_t i = 0; i < kHistoryColumns; ++i) {
    if (i > 0)
      line += ',';
    line += CsvField(fields[i]);
  }
  return line + kLineEnd;
}

} // namespace

HistoryFileEnd HistoryFileEndOf(unsigned long long size, char lastByte) {
  if (size == 0)
    return HistoryFileEnd::New;
  if (lastByte == '\n')
    return HistoryFileEnd::LineEnd;
  return lastByte == '\r' ? HistoryFileEnd::TornCR : HistoryFileEnd::Torn;
}

std::string CsvField(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string HistoryHeaderLine() {
  std::string names[kHistoryColumns];
  for (size_t i = 0; i < kHistoryColumns; ++i)
    names[i] = kHistoryColumnNames[i];
  return Row(names);
}

std::string HistoryRecordLine(const RunRecord &r) {
  const std::string fields[kHistoryColumns] = {FormatHistoryTime(r.start),
                                               std::to_string(r.durationMs < 0 ? 0 : r.durationMs),
                                               OutcomeText(r.outcome, r.exitCode),
                                               CleanText(r.ran),
                                               CutText(CleanText(r.argument), kHistoryCutChars),
                                               CutText(CleanText(r.returnValue), kHistoryCutChars),
                                               CleanText(r.error),
                                               CleanText(r.language),
                                               CleanText(r.host),
                                               std::to_string(r.threadId),
                                               r.pooled ? "yes" : "no",
                                               FormatHistoryTime(r.end)};
  return Row(fields);
}

std::string HistoryAppendBytes(const RunRecord &record, HistoryFileEnd end) {
  switch (end) {
  case HistoryFileEnd::New:
    return kUtf8ByteOrderMark + HistoryHeaderLine() + HistoryRecordLine(record);
  case HistoryFileEnd::Torn:
    return kLineEnd + HistoryRecordLine(record);
  case HistoryFileEnd::TornCR:
    return "\n" + HistoryRecordLine(record);
  default:
    return HistoryRecordLine(record);
  }
}
