#include "WshRules.h"

namespace wsh {

namespace {

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// A word that starts with a slash and has a name after it is named.
void ClassifyWord(Argument *argument) {
  const std::u16string &word = argument->text;
  if (word.size() < 2 || word[0] != u'/')
    return;
  size_t colon = word.find(u':');
  std::u16string name = word.substr(1, colon == std::u16string::npos ? std::u16string::npos : colon - 1);
  if (colon != std::u16string::npos) {
    argument->value = word.substr(colon + 1);
    argument->hasValue = true;
  } else if (name.size() > 1 && (name.back() == u'+' || name.back() == u'-')) {
    argument->value = name.substr(name.size() - 1);
    argument->hasValue = true;
    name.pop_back();
  }
  if (name.empty()) {
    argument->value.clear();
    argument->hasValue = false;
    return;
  }
  argument->named = true;
  argument->name = name;
}

} // namespace

bool SameName(const std::u16string &a, const std::u16string &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i]))
      return false;
  return true;
}

std::vector<Argument> ParseArguments(const std::u16string &text) {
  std::vector<Argument> out;
  size_t i = 0;
  const size_t n = text.size();
  for (;;) {
    while (i < n && IsBlank(text[i]))
      ++i;
    if (i >= n)
      break;
    Argument argument;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(text[i]))) {
      char16_t c = text[i];
      if (c == u'\\' && i + 1 < n && text[i + 1] == u'"') {
        argument.text += u'"';
        i += 2;
      } else if (c == u'"') {
        quoted = !quoted;
        ++i;
      } else {
        argument.text += c;
        ++i;
      }
    }
    ClassifyWord(&argument);
    out.push_back(argument);
  }
  return out;
}

std::vector<Argument> NamedArguments(const std::vector<Argument> &all) {
  std::vector<Argument> named;
  for (const Argument &argument : all) {
    if (!argument.named)
      continue;
    bool replaced = false;
    for (Argument &known : named)
      if (SameName(known.name, argument.name)) {
        known.text = argument.text;
        known.value = argument.value;
        known.hasValue = argument.hasValue;
        replaced = true;
      }
    if (!replaced)
      named.push_back(argument);
  }
  return named;
}

const Argument *FindNamed(const std::vector<Argument> &named, const std::u16string &name) {
  for (const Argument &argument : named)
    if (SameName(argument.name, name))
      return &argument;
  return nullptr;
}

TextMark DetectMark(const unsigned char *bytes, size_t size, size_t *markLength) {
  *markLength = 0;
  if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    *markLength = 3;
    return TextMark::Utf8;
  }
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    *markLength = 2;
    return TextMark::Utf16LE;
  }
  if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    *markLength = 2;
    return TextMark::Utf16BE;
  }
  return TextMark::None;
}

namespace {

void AppendCodePoint(std::u16string *out, unsigned long cp) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

std::u16string DecodeUtf8(const unsigned char *bytes, size_t size) {
  std::u16string out;
  out.reserve(size);
  size_t i = 0;
  while (i < size) {
    unsigned char lead = bytes[i];
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > size) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    unsigned long cp = length == 1 ? lead : lead & (0x7F >> length);
    bool good = true;
    for (size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) {
        good = false;
        break;
      }
      cp = (cp << 6) | (bytes[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    static const unsigned long kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (!good || cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    AppendCodePoint(&out, cp);
    i += length;
  }
  return out;
}

} // namespace

std::u16string DecodeMarked(TextMark mark, const unsigned char *bytes, size_t size) {
  std::u16string out;
  switch (mark) {
  case TextMark::Utf8:
    return DecodeUtf8(bytes, size);
  case TextMark::Utf16LE:
  case TextMark::Utf16BE:
    out.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) {
      unsigned lo = bytes[i], hi = bytes[i + 1];
      if (mark == TextMark::Utf16BE)
        lo = bytes[i + 1], hi = bytes[i];
      out.push_back(static_cast<char16_t>(lo | (hi << 8)));
    }
    return out;
  case TextMark::None:
    break;
  }
  for (size_t i = 0; i < size; ++i)
    out.push_back(static_cast<char16_t>(bytes[i]));
  return out;
}

} // namespace wsh
