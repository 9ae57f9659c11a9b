// One field against one value (the first four bytes): the answer is 0, 1 or
// 2; 2 ("*") exactly for a field that begins with "*" and is no step, and a
// step matches only values at or after the field's first one.
#include "CronFields.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int value = FuzzTakeInt(data, size);
  std::string field = FuzzText(data, size);
  int answer = FieldMatches(field.c_str(), value);
  FUZZ_CHECK(answer >= 0 && answer <= 2);
  bool star = !field.empty() && field[0] == '*';
  bool step = star && field.size() > 1 && !CronStarIgnoresText(field.c_str());
  FUZZ_CHECK((answer == 2) == (star && !step));
  if (step) {
    FUZZ_CHECK(FieldMatches(field.c_str(), 0) == 1); // every step starts at the first value
    FUZZ_CHECK(FieldMatches(field.c_str(), -1) == 0);
    FUZZ_CHECK(FieldMatches(field.c_str(), 1, 1) == 1);
  }
  // Small values as the evaluation passes them, and the extremes.
  static const int kValues[] = {-1, 0, 1, 7, 31, 59, 366, 2026, 0x7FFFFFFF, -0x7FFFFFFF - 1};
  for (int other : kValues) {
    int again = FieldMatches(field.c_str(), other);
    FUZZ_CHECK(again >= 0 && again <= 2);
  }
  FUZZ_CHECK(FieldMatches(field.c_str(), value) == answer); // no hidden state
  return 0;
}
