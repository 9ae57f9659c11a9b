#include "FtpReply.h"

#include <stdio.h>
#include <string.h>

namespace {

// The C locale's white space, independent of the process locale.
bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

} // namespace

std::string FtpLastReplyLine(const char *text, size_t length) {
  if (!text)
    return std::string();
  const void *zero = memchr(text, '\0', length);
  if (zero)
    length = static_cast<size_t>(static_cast<const char *>(zero) - text);
  while (length > 0 && IsWhite(text[length - 1]))
    --length;
  size_t start = length;
  while (start > 0 && text[start - 1] != '\n' && text[start - 1] != '\r')
    --start;
  return std::string(text + start, length - start);
}

std::string FtpDecimal(long value) {
  char text[24];
  snprintf(text, sizeof text, "%ld", value);
  return text;
}
