// Any pattern compiles to a well-formed program or to a reported failure;
// a compiled program searches fixed subjects within their bounds.
#include <cstdlib>
#include <cstring>

#include "FuzzInput.h"
#include "RegexEngine.h"

namespace {

int g_reports;
void CountReport(const char *text) {
  FUZZ_CHECK(text != nullptr);
  ++g_reports;
}

void CheckSlots(const RegexProgram *program, const char *subject) {
  size_t length = std::strlen(subject);
  for (int slot = 0; slot < 10; ++slot) {
    const char *start = program->start[slot];
    const char *end = program->end[slot];
    if (!start || !end)
      continue;
    FUZZ_CHECK(start >= subject && end <= subject + length && start <= end);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  RegexErrorHook = CountReport;
  std::string pattern = FuzzText(data, size);
  g_reports = 0;
  RegexProgram *program = RegexCompile(pattern.c_str());
  if (!program) {
    FUZZ_CHECK(g_reports > 0); // every refusal says why
    return 0;
  }
  FUZZ_CHECK(program->programSize > 0);
  static const char *const kSubjects[] = {"", "a", "Untitled - Notepad", "abcabcabc xyz 0123456789",
                                          "\x01\xff\x80 ((()))[[]]**++??..^^$$\\\\"};
  for (const char *subject : kSubjects) {
    if (RegexMatch(program, subject) == 1)
      CheckSlots(program, subject);
  }
  if (RegexMatch(program, pattern.c_str()) == 1)
    CheckSlots(program, pattern.c_str());
  std::free(program);
  return 0;
}
