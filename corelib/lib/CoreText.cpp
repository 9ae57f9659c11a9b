#include "CoreText.h"

#include <stdio.h>
#include <string.h>

#include "CoreModule.h"
#include <vector>

namespace {

// The whole text in the ANSI code page; false for an unrepresentable
// character. Stops at an embedded zero character, as the text does in C.
bool ToAnsi(BSTR text, std::vector<char> &out) {
  out.clear();
  if (!text)
    return true;
  int length = static_cast<int>(wcsnlen(text, SysStringLen(text)));
  if (length == 0)
    return true;
  BOOL usedDefault = FALSE;
  int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, length, NULL, 0, NULL, &usedDefault);
  if (bytes <= 0 || usedDefault)
    return false;
  out.resize(static_cast<size_t>(bytes));
  usedDefault = FALSE;
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, length, out.data(), bytes, NULL, &usedDefault) !=
          bytes ||
      usedDefault)
    return false;
  return true;
}

// The longest prefix of at most `limit` bytes that ends on a character
// boundary.
size_t CutLength(const std::vector<char> &text, size_t limit) {
  if (text.size() <= limit)
    return text.size();
  size_t i = 0;
  while (i < limit) {
    size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[i])) ? 2 : 1;
    if (i + step > limit)
      break;
    i += step;
  }
  return i;
}

} // namespace

bool ConvertText(BSTR text, char *buffer, size_t size, TextMode mode) {
  if (!buffer || size == 0)
    return false;
  memset(buffer, 0, size);
  std::vector<char> ansi;
  if (!ToAnsi(text, ansi))
    return false;
  size_t length = CutLength(ansi, size - 1);
  memcpy(buffer, ansi.data(), length);
  return mode == kOptionalText || length > 0;
}

TextResult TakeText(BSTR text, char *buffer, size_t size, TextMode mode, size_t *length) {
  if (length)
    *length = 0;
  if (!buffer || size == 0)
    return kTextTooLong;
  memset(buffer, 0, size);
  std::vector<char> ansi;
  if (!ToAnsi(text, ansi))
    return kTextUnconvertible;
  if (length)
    *length = ansi.size();
  if (ansi.size() > size - 1)
    return kTextTooLong;
  if (ansi.empty() && mode == kRequiredText)
    return kTextEmpty;
  memcpy(buffer, ansi.data(), ansi.size());
  return kTextTaken;
}

void NotifyRefusedText(const char *method, const char *what, TextResult result, size_t length, size_t limit) {
  char notice[200];
  switch (result) {
  case kTextTaken:
    return;
  case kTextEmpty:
    snprintf(notice, sizeof notice, "%s is empty", what);
    break;
  case kTextUnconvertible:
    snprintf(notice, sizeof notice, "%s holds a character the system's code page cannot represent", what);
    break;
  case kTextTooLong:
    snprintf(notice, sizeof notice, "%s is too long (%lu characters, at most %lu)", what,
             static_cast<unsigned long>(length), static_cast<unsigned long>(limit));
    break;
  }
  // A notice starts with a capital like the system's texts.
  if (notice[0] >= 'a' && notice[0] <= 'z')
    notice[0] = static_cast<char>(notice[0] - 'a' + 'A');
  CoreNotifyText(method, notice);
}

bool ConvertWholeText(BSTR text, std::string &out) {
  std::vector<char> ansi;
  if (!ToAnsi(text, ansi))
    return false;
  out.assign(ansi.begin(), ansi.end());
  return true;
}

BSTR NewAutomationText(const char *text) {
  if (!text || !*text)
    return SysAllocString(L"");
  int length = static_cast<int>(strlen(text));
  int wide = MultiByteToWideChar(CP_ACP, 0, text, length, NULL, 0);
  BSTR result = SysAllocStringLen(NULL, static_cast<UINT>(wide > 0 ? wide : 0));
  if (result && wide > 0)
    MultiByteToWideChar(CP_ACP, 0, text, length, result, wide);
  return result;
}
