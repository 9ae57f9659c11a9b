// Text arguments of Core methods: automation strings to 8-bit text in the
// system's ANSI code page, in fixed buffers, and back.
#ifndef CORETEXT_H
#define CORETEXT_H

#include <windows.h>
#include <oaidl.h>
#include <string>

// Buffer sizes of the argument conversions.
const size_t kTextBuffer = 1024;    // names and most texts
const size_t kShortTextBuffer = 256; // Print and CheckTime
const size_t kValueBuffer = 8192;   // variable values

enum TextMode {
  kRequiredText, // must yield at least one byte
  kOptionalText, // null or empty yields empty text
};

// Converts `text` into the zero-filled `buffer` of `size` bytes; text beyond
// size - 1 bytes is cut off (never inside a double-byte character). False
// when the text holds a character the code page cannot represent, or when
// required text comes out empty (a null string counts as empty).
bool ConvertText(BSTR text, char *buffer, size_t size, TextMode mode);

// Why an argument was not taken.
enum TextResult {
  kTextTaken,
  kTextEmpty,         // required text that came out empty (or null)
  kTextUnconvertible, // a character the code page cannot represent
  kTextTooLong,       // more than the buffer holds
};

// As ConvertText, but never cuts: text that does not fit whole is refused
// with kTextTooLong (the buffer then stays empty). `length` (optional)
// receives the converted text's length in bytes, also when too long.
TextResult TakeText(BSTR text, char *buffer, size_t size, TextMode mode, size_t *length = nullptr);

// The console notice for a refused argument, "<method>: <what> is too
// long (N characters, at most M)" and the like; nothing for kTextTaken.
void NotifyRefusedText(const char *method, const char *what, TextResult result, size_t length, size_t limit);

// The whole text, without a length limit; false when it cannot be converted.
bool ConvertWholeText(BSTR text, std::string &out);

// A new automation string of 8-bit text, or null when memory runs out.
BSTR NewAutomationText(const char *text);

// A fixed, zero-filled buffer for one converted argument.
template <size_t Size> struct TextArg {
  char text[Size];
  bool Convert(BSTR value, TextMode mode) { return ConvertText(value, text, Size, mode); }
  // The whole text or nothing: a refusal is shown on the console as
  // `method`'s, naming the argument as `what` ("the command line").
  bool Take(const char *method, const char *what, BSTR value, TextMode mode) {
    size_t length = 0;
    TextResult result = TakeText(value, text, Size, mode, &length);
    NotifyRefusedText(method, what, result, length, Size - 1);
    return result == kTextTaken;
  }
  // As Take, but only a text too long for the buffer is shown; an empty or
  // unconvertible one is refused quietly, as these methods always did.
  bool TakeQuietly(const char *method, const char *what, BSTR value, TextMode mode) {
    size_t length = 0;
    TextResult result = TakeText(value, text, Size, mode, &length);
    if (result == kTextTooLong)
      NotifyRefusedText(method, what, result, length, Size - 1);
    return result == kTextTaken;
  }
  bool Empty() const { return text[0] == '\0'; }
  // The text, or null (no value) when it is empty.
  const char *OrNull() const { return text[0] ? text : nullptr; }
};

#endif
