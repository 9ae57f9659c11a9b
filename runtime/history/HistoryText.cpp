#include "HistoryText.h"

const char kCutMark[] = "...";

namespace {

const char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Sequence length at `pos`: a well-formed sequence's length, else 1, so a
// broken byte is stepped over on its own.
size_t StepAt(const std::string &text, size_t pos) {
  uint32_t codePoint;
  size_t length = Utf8SequenceAt(text, pos, codePoint);
  return length ? length : 1;
}

} // namespace

size_t Utf8SequenceAt(const std::string &text, size_t pos, uint32_t &codePoint) {
  if (pos >= text.size())
    return 0;
  unsigned char lead = static_cast<unsigned char>(text[pos]);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
    codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = 0x10000;
    codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - pos < length)
    return 0;
  for (size_t i = 1; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(text[pos + i]);
    if (!IsContinuation(byte))
      return 0;
    codePoint = (codePoint << 6) | (byte & 0x3F);
  }
  // Overlong forms and surrogates would let a check see a different
  // character than the one a reader decodes.
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return 0;
  return length;
}

size_t Utf8Length(const std::string &text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); pos += StepAt(text, pos))
    ++count;
  return count;
}

std::string CleanText(const std::string &text) {
  std::string clean;
  clean.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    uint32_t c;
    size_t length = Utf8SequenceAt(text, pos, c);
    bool control = (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || (c >= 0x7F && c <= 0x9F);
    if (length == 0 || control) {
      clean += kReplacement;
      pos += length ? length : 1;
    } else {
      clean.append(text, pos, length);
      pos += length;
    }
  }
  return clean;
}

std::string CutText(const std::string &text, size_t maxChars) {
  const size_t markLength = sizeof kCutMark - 1;
  if (maxChars < markLength)
    maxChars = markLength;
  // Where the kept part ends: after maxChars - 3 characters.
  size_t keep = 0, count = 0, pos = 0;
  for (; pos < text.size(); pos += StepAt(text, pos), ++count) {
    if (count == maxChars - markLength)
      keep = pos;
    if (count == maxChars)
      return text.substr(0, keep) + kCutMark;
  }
  return text;
}
