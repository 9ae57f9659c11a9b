#include "CommandWords.h"

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }

// Reads the word that starts at `at` (after separators); returns the
// position after it. Quotes toggle whether separators split.
const char *ReadWord(const char *at, std::string &word) {
  word.clear();
  bool quoted = false;
  for (; *at; ++at) {
    if (*at == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && IsSeparator(*at))
      break;
    word += *at;
  }
  return at;
}

const char *SkipSeparators(const char *at) {
  while (*at && IsSeparator(*at))
    ++at;
  return at;
}

} // namespace

std::vector<std::string> SplitCommandWords(const char *line) {
  std::vector<std::string> words;
  if (!line)
    return words;
  std::string word;
  for (const char *at = SkipSeparators(line); *at; at = SkipSeparators(at)) {
    at = ReadWord(at, word);
    if (!word.empty())
      words.push_back(word);
  }
  return words;
}

bool FirstCommandWord(const char *line, std::string &word) {
  word.clear();
  if (!line)
    return false;
  for (const char *at = SkipSeparators(line); *at; at = SkipSeparators(at)) {
    at = ReadWord(at, word);
    if (!word.empty())
      return true;
  }
  return false;
}
