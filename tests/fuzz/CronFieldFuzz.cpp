// One field against one value (the first four bytes): the answer is 0, 1 or
// 2, "*" only for a field that begins with it, and the answer does not
// depend on the value for a star.
#include "CronFields.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int value = FuzzTakeInt(data, size);
  std::string field = FuzzText(data, size);
  int answer = FieldMatches(field.c_str(), value);
  FUZZ_CHECK(answer >= 0 && answer <= 2);
  FUZZ_CHECK((answer == 2) == (!field.empty() && field[0] == '*'));
  // Small values as the evaluation passes them, and the extremes.
  static const int kValues[] = {-1, 0, 1, 7, 31, 59, 366, 2026, 0x7FFFFFFF, -0x7FFFFFFF - 1};
  for (int other : kValues) {
    int again = FieldMatches(field.c_str(), other);
    FUZZ_CHECK(again >= 0 && again <= 2);
  }
  FUZZ_CHECK(FieldMatches(field.c_str(), value) == answer); // no hidden state
  return 0;
}
