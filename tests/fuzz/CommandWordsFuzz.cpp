// Any command line splits into non-empty words that never hold a separator
// outside quotes, never hold a quote, and together never hold more characters
// than the line; the first word is the first of the split.
#include "CommandWords.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string line = FuzzText(data, size);
  std::vector<std::string> words = SplitCommandWords(line.c_str());
  size_t total = 0;
  for (const std::string &word : words) {
    FUZZ_CHECK(!word.empty());
    FUZZ_CHECK(word.find('"') == std::string::npos);
    total += word.size();
  }
  FUZZ_CHECK(total <= line.size());
  if (line.find('"') == std::string::npos)
    for (const std::string &word : words)
      FUZZ_CHECK(word.find_first_of(" \t,") == std::string::npos);

  std::string first;
  bool found = FirstCommandWord(line.c_str(), first);
  FUZZ_CHECK(found == !words.empty());
  if (found)
    FUZZ_CHECK(first == words.front());
  return 0;
}
