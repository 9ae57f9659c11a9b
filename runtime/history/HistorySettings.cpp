#include "HistorySettings.h"

#include <climits>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// A positive decimal number that fits an int, with blanks around it
// allowed; otherwise the default.
int PositiveOr(const std::string &text, int fallback) {
  size_t pos = 0, end = text.size();
  while (pos < end && IsSpace(text[pos]))
    ++pos;
  while (end > pos && IsSpace(text[end - 1]))
    --end;
  if (pos < end && text[pos] == '+')
    ++pos;
  if (pos == end)
    return fallback;
  long long value = 0;
  for (; pos < end; ++pos) {
    if (text[pos] < '0' || text[pos] > '9')
      return fallback;
    value = value * 10 + (text[pos] - '0');
    if (value > INT_MAX)
      return fallback;
  }
  return value > 0 ? static_cast<int>(value) : fallback;
}

int PositiveOr(long long value, int fallback) {
  return value > 0 && value <= INT_MAX ? static_cast<int>(value) : fallback;
}

} // namespace

int HistoryKeepDays(long long value) { return PositiveOr(value, kDefaultHistoryDays); }

int ParseHistoryKeepDays(const std::string &text) { return PositiveOr(text, kDefaultHistoryDays); }

int TranscriptLimitKiB(long long value) { return PositiveOr(value, kDefaultTranscriptKiB); }

int ParseTranscriptLimitKiB(const std::string &text) { return PositiveOr(text, kDefaultTranscriptKiB); }
