// A pattern and a subject (split at the first NUL): the search answers 0 or
// 1, and a match lies within the subject with its groups inside it.
#include <cstdlib>
#include <cstring>

#include "FuzzInput.h"
#include "RegexEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string pattern, subject;
  FuzzTwoTexts(data, size, pattern, subject);
  RegexProgram *program = RegexCompile(pattern.c_str());
  if (!program)
    return 0;
  const char *text = subject.c_str();
  int found = RegexMatch(program, text);
  FUZZ_CHECK(found == 0 || found == 1);
  if (found == 1) {
    const char *end = text + subject.size();
    FUZZ_CHECK(program->start[0] && program->end[0]);
    FUZZ_CHECK(program->start[0] >= text && program->end[0] <= end && program->start[0] <= program->end[0]);
    for (int slot = 1; slot < 10; ++slot) {
      if (!program->start[slot] || !program->end[slot])
        continue;
      FUZZ_CHECK(program->start[slot] >= text && program->end[slot] <= end);
    }
  }
  std::free(program);
  return 0;
}
