// The rules scripts written for the console script host expect of their
// host, in plain C++ without Windows so they are also built and tested
// natively: how an argument text becomes the script's arguments, and how a
// script file's byte-order mark says what its bytes are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace wsh {

// One argument as the script sees it. Every argument is in the full list;
// those written /name, /name:value, /name+ or /name- are also named.
struct Argument {
  std::u16string text; // the word as given (quotes removed)
  bool named = false;
  std::u16string name;  // without the slash and the value
  std::u16string value; // after the colon; "+" or "-" for a switch so marked
  bool hasValue = false; // /name alone has none
};

// Splits an argument text into words the way a command line is split:
// blanks and tabs separate words, double quotes group and are removed, \"
// is a quote inside a word. Then each word is looked at for a name.
std::vector<Argument> ParseArguments(const std::u16string &text);

// The named arguments, the last value of each name (names compared without
// regard to ASCII case) under its first spelling, in the place of its first
// mention.
std::vector<Argument> NamedArguments(const std::vector<Argument> &all);

// Finds the named argument, case-blind; null when absent.
const Argument *FindNamed(const std::vector<Argument> &named, const std::u16string &name);

// ASCII case-blind equality, the way the host compares member and argument
// names.
bool SameName(const std::u16string &a, const std::u16string &b);

enum class TextMark { None, Utf8, Utf16LE, Utf16BE };

// The byte-order mark at the start of the bytes and its length.
TextMark DetectMark(const unsigned char *bytes, size_t size, size_t *markLength);

// Decodes the bytes after the mark. UTF-8 that is not well formed gives
// U+FFFD for each bad sequence; an odd last byte of UTF-16 is dropped.
std::u16string DecodeMarked(TextMark mark, const unsigned char *bytes, size_t size);

} // namespace wsh
