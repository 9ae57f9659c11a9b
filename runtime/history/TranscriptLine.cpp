#include "TranscriptLine.h"

#include <cstdio>

#include "HistoryText.h"

namespace {

std::string TimeText(const HistoryTime &t) {
  if (!IsValidTime(t))
    return "---------- --:--:--";
  char text[48];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.date.year, t.date.month, t.date.day, t.hour, t.minute,
           t.second);
  return text;
}

} // namespace

std::string TranscriptLine(const HistoryTime &time, const std::string &text) {
  std::string body = CleanText(text);
  if (!body.empty() && body.back() == '\n')
    body.pop_back();
  if (!body.empty() && body.back() == '\r')
    body.pop_back();
  const std::string prefix = TimeText(time) + " ";
  const std::string lineBreak = "\r\n" + std::string(prefix.size(), ' ');
  std::string line = prefix;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r' || body[i] == '\n') {
      // CRLF, a lone LF and a lone CR are each one break.
      if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
        ++i;
      line += lineBreak;
    } else {
      line += body[i];
    }
  }
  return line + "\r\n";
}
