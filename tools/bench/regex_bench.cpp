// Searches per second of the regex engine and of std::regex (ECMAScript) on
// the same patterns and window-title-like subjects, side by side.
//
//   regex_bench [seconds per measurement, default 0.3]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "RegexEngine.h"

namespace {

// Written so that both engines read them alike.
const char *const kPatterns[] = {
    "Notepad",
    "^Microsoft Word - ",
    "(Inbox|Outbox) - .*Outlook$",
    "[0-9]+ unread",
    "^[A-Z]:\\\\.*\\.exe$",
    "Untitled|Document[0-9]+",
    "x*Calculator",
    "^(Mozilla Firefox|Google Chrome)$",
    ".*- Paint$",
};

const char *const kSubjects[] = {
    "Untitled - Notepad",
    "Document1 - Microsoft Word",
    "Microsoft Word - Quarterly report 2008.doc",
    "Inbox - Microsoft Outlook",
    "Outbox - Personal Folders - Microsoft Outlook",
    "C:\\WINDOWS\\system32\\cmd.exe",
    "Calculator",
    "Mozilla Firefox",
    "Quillmoth console (12 unread notifications)",
    "Program Manager",
    "Sent Items - Microsoft Outlook - Working Offline",
    "photo_0042.bmp - Paint",
    "",
    "Windows Task Manager",
    "Administrator: Command Prompt - ping -t quillmoth-build-server.example.local",
    "Properties for \\\\fileserver\\share\\projects\\2008\\budget.xls",
};

const size_t kSubjectCount = sizeof kSubjects / sizeof kSubjects[0];

using Clock = std::chrono::steady_clock;

// Runs whole passes over the subjects until `seconds` have gone by; searches
// per second. `sink` keeps the results alive.
template <typename Search>
double Rate(double seconds, Search search, long &sink) {
  long searches = 0;
  Clock::time_point start = Clock::now();
  double elapsed = 0;
  do {
    for (int pass = 0; pass < 16; ++pass)
      for (size_t i = 0; i < kSubjectCount; ++i)
        sink += search(kSubjects[i]);
    searches += static_cast<long>(16 * kSubjectCount);
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  return searches / elapsed;
}

} // namespace

int main(int argc, char **argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 0.3;
  if (!(seconds > 0))
    seconds = 0.3;

  printf("%-36s %14s %14s %8s\n", "pattern", "engine/s", "std::regex/s", "ratio");
  long sink = 0;
  int disagreements = 0;
  double engineTotal = 0, referenceTotal = 0;
  for (const char *pattern : kPatterns) {
    RegexProgram *program = RegexCompile(pattern);
    if (!program) {
      printf("%-36s does not compile\n", pattern);
      return 1;
    }
    std::regex reference(pattern, std::regex::ECMAScript);
    for (const char *subject : kSubjects) {
      if ((RegexMatch(program, subject) != 0) != std::regex_search(subject, reference)) {
        printf("  disagreement: \"%s\" on \"%s\"\n", pattern, subject);
        ++disagreements;
      }
    }
    double engine = Rate(seconds, [&](const char *s) { return RegexMatch(program, s); }, sink);
    double standard = Rate(seconds, [&](const char *s) { return std::regex_search(s, reference) ? 1 : 0; }, sink);
    engineTotal += 1 / engine;
    referenceTotal += 1 / standard;
    printf("%-36s %14.0f %14.0f %7.1fx\n", pattern, engine, standard, engine / standard);
    free(program);
  }
  size_t patterns = sizeof kPatterns / sizeof kPatterns[0];
  double engineMean = patterns / engineTotal, referenceMean = patterns / referenceTotal;
  printf("%-36s %14.0f %14.0f %7.1fx\n", "all patterns (harmonic mean)", engineMean, referenceMean,
         engineMean / referenceMean);
  printf("%zu subjects per pass, %d disagreements (checksum %ld)\n", kSubjectCount, disagreements, sink);
  return disagreements == 0 ? 0 : 1;
}
