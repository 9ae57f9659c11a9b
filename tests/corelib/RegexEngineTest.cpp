// The regular expression engine: compiled programs, compile errors, search
// results and positions, bad input, and agreement with std::regex on the
// syntax both share.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
// GCC 12 with the sanitizers sees libstdc++'s regex internals as maybe
// uninitialised, a known false alarm in the library's own code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <string>
#include <vector>

#include "RegexEngine.h"
#include "RegexNodes.h"

namespace {

std::vector<std::string> g_reports;
void CollectReport(const char *text) { g_reports.push_back(text ? text : "(null)"); }

struct FreeProgram {
  void operator()(RegexProgram *program) const { free(program); }
};
using Program = std::unique_ptr<RegexProgram, FreeProgram>;

class RegexTest : public ::testing::Test {
protected:
  void SetUp() override {
    g_reports.clear();
    RegexErrorHook = CollectReport;
  }
  void TearDown() override { RegexErrorHook = nullptr; }

  static Program Compile(const std::string &pattern) { return Program(RegexCompile(pattern.c_str())); }

  static std::vector<unsigned char> Bytes(const RegexProgram *program) {
    const unsigned char *code = RegexProgramCode(program);
    return std::vector<unsigned char>(code, code + program->programSize);
  }

  // "start-end" of the whole match, or "none".
  static std::string Search(const std::string &pattern, const std::string &subject) {
    Program program = Compile(pattern);
    if (!program)
      return "compile failed";
    if (!RegexMatch(program.get(), subject.c_str()))
      return "none";
    return Span(program.get(), 0, subject.c_str());
  }

  static std::string Span(const RegexProgram *program, int slot, const char *subject) {
    if (!program->start[slot] || !program->end[slot])
      return "unset";
    return std::to_string(program->start[slot] - subject) + "-" + std::to_string(program->end[slot] - subject);
  }
};

TEST_F(RegexTest, ExampleProgramsAreExactByteForByte) {
  Program star = Compile("ab*c");
  ASSERT_TRUE(star);
  const std::vector<unsigned char> starBytes = {0x9C, 0x06, 0x00, 0x15, 0x08, 0x00, 0x05, 0x61, 0x00,
                                                0x0A, 0x00, 0x08, 0x08, 0x00, 0x00, 0x62, 0x00, 0x08,
                                                0x00, 0x05, 0x63, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(star.get()), starBytes);

  Program plus = Compile("(ab)+");
  ASSERT_TRUE(plus);
  const std::vector<unsigned char> plusBytes = {
      0x9C,                               // check byte
      0x06, 0x00, 0x1E,                   // 1 alternative -> 31
      0x15, 0x00, 0x03,                   // 4 group 1 open -> 7
      0x06, 0x00, 0x09,                   // 7 alternative -> 16
      0x08, 0x00, 0x06, 'a', 'b', 0x00,   // 10 literal "ab" -> 16
      0x1F, 0x00, 0x03,                   // 16 group 1 close -> 19
      0x06, 0x00, 0x06,                   // 19 alternative -> 25
      0x07, 0x00, 0x12,                   // 22 loop back -> 4
      0x06, 0x00, 0x03,                   // 25 alternative -> 28
      0x09, 0x00, 0x03,                   // 28 empty -> 31
      0x00, 0x00, 0x00};                  // 31 end
  EXPECT_EQ(Bytes(plus.get()), plusBytes);
  EXPECT_TRUE(g_reports.empty());
}

TEST_F(RegexTest, HintsSpareHopelessAttempts) {
  Program literal = Compile("ab*c");
  ASSERT_TRUE(literal);
  EXPECT_EQ(literal->firstChar, 'a');
  EXPECT_EQ(literal->anchored, 0);
  EXPECT_EQ(literal->must, nullptr);

  Program anchored = Compile("^abc");
  ASSERT_TRUE(anchored);
  EXPECT_EQ(anchored->anchored, 1);
  EXPECT_EQ(anchored->firstChar, 0);

  // Starts with repetition: the longest literal, the later of equal ones.
  Program must = Compile("x*ab.c*de");
  ASSERT_TRUE(must);
  ASSERT_NE(must->must, nullptr);
  EXPECT_EQ(std::string(must->must, static_cast<size_t>(must->mustLength)), "de");
  EXPECT_EQ(must->mustLength, 2);

  Program twoWays = Compile("ab|cd");
  ASSERT_TRUE(twoWays);
  EXPECT_EQ(twoWays->firstChar, 0);
  EXPECT_EQ(twoWays->anchored, 0);
  EXPECT_EQ(twoWays->must, nullptr);
}

struct CompileError {
  std::string pattern;
  const char *text;
};

TEST_F(RegexTest, MalformedPatternsFailWithTheirText) {
  const CompileError cases[] = {
      {"a**", "nested *?+"},
      {"a*+", "nested *?+"},
      {"(ab)?*", "nested *?+"},
      {"*a", "?+* follows nothing"},
      {"(*a)", "?+* follows nothing"},
      {"a|+b", "?+* follows nothing"},
      {"?", "?+* follows nothing"},
      {"(a*)*", "*+ operand could be empty"},
      {"(^)+", "*+ operand could be empty"},
      {"$*", "*+ operand could be empty"},
      {"(a|)+", "*+ operand could be empty"},
      {"(a", "unmatched ()"},
      {"a)", "unmatched ()"},
      {"((a)", "unmatched ()"},
      {"())", "unmatched ()"},
      {"((((((((((a))))))))))", "too many ()"},
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "too many ()"},
      {"a\\", "trailing \\"},
      {"[z-a]", "invalid [] range"},
      {"[\xF0-\xE0]", "invalid [] range"},
      {"[abc", "unmatched []"},
      {"[]", "unmatched []"},
      {"[^]", "unmatched []"},
      {"[a-", "unmatched []"},
  };
  for (const CompileError &c : cases) {
    g_reports.clear();
    Program program = Compile(c.pattern);
    EXPECT_FALSE(program) << c.pattern;
    EXPECT_EQ(g_reports, std::vector<std::string>{c.text}) << c.pattern;
  }
}

TEST_F(RegexTest, ValidOddPatternsCompile) {
  for (const char *pattern : {"", "a|", "|", "(a*)?", "()", "(^)?", "{}]", "[]a]", "[^]a]", "[a-]", "[-a]",
                              "[a-a]", "a\\.b", "\xE9[\x80-\xFF]", "[a-\xE9]", "(a)(b)(c)(d)(e)(f)(g)(h)(i)",
                              "(((((((((a)))))))))"}) {
    g_reports.clear();
    Program program = Compile(pattern);
    EXPECT_TRUE(program) << pattern;
    EXPECT_TRUE(g_reports.empty()) << pattern << ": " << (g_reports.empty() ? "" : g_reports[0]);
  }
}

TEST_F(RegexTest, NoPatternIsANullArgument) {
  EXPECT_EQ(RegexCompile(nullptr), nullptr);
  EXPECT_EQ(g_reports, std::vector<std::string>{"NULL argument"});
}

TEST_F(RegexTest, ProgramSizeLimitIsExact) {
  // A literal of n characters takes n + 11 bytes with the check byte, the
  // alternative, the literal's header and terminator, and the end node.
  Program largest = Compile(std::string(32755, 'a'));
  ASSERT_TRUE(largest);
  EXPECT_EQ(largest->programSize, 32766);
  EXPECT_TRUE(g_reports.empty());

  EXPECT_FALSE(Compile(std::string(32756, 'a')));
  EXPECT_EQ(g_reports, std::vector<std::string>{"regexp too big"});

  // Sets count every member: 200 full ranges are far beyond the limit.
  g_reports.clear();
  std::string sets;
  for (int i = 0; i < 200; ++i)
    sets += "[\x01-\xFF]";
  EXPECT_FALSE(Compile(sets));
  EXPECT_EQ(g_reports, std::vector<std::string>{"regexp too big"});

  // Syntax errors are found before the size is judged.
  g_reports.clear();
  EXPECT_FALSE(Compile(std::string(40000, 'a') + ")"));
  EXPECT_EQ(g_reports, std::vector<std::string>{"unmatched ()"});

  g_reports.clear();
  EXPECT_FALSE(Compile(std::string(4 << 20, 'a')));
  EXPECT_EQ(g_reports, std::vector<std::string>{"regexp too big"});
}

struct SearchCase {
  std::string pattern;
  std::string subject;
  std::string span;  // whole match "start-end", or "none"
};

TEST_F(RegexTest, SearchFindsTheLeftmostMatch) {
  const SearchCase cases[] = {
      // The empty pattern matches everything, the empty subject too.
      {"", "", "0-0"},
      {"", "abc", "0-0"},
      {"a|", "xyz", "0-0"},
      // Quantifiers bind to the last character of a run.
      {"abc*", "ab", "0-2"},
      {"abc*", "abccc!", "0-5"},
      {"ab+c", "ac", "none"},
      {"ab+c", "xabbbc", "1-6"},
      {"ab?c", "abbc", "none"},
      {"ab?c", "zac", "1-3"},
      // No case folding.
      {"notepad", "Notepad", "none"},
      {"Notepad", "Untitled - Notepad", "11-18"},
      // Sets.
      {"[]a]", "]", "0-1"},
      {"[]a]", "xa", "1-2"},
      {"[]a]", "b", "none"},
      {"[^]a]", "]ab", "2-3"},
      {"[^]a]", "]a", "none"},
      {"[^a]", "", "none"},
      {"[a-]", "-", "0-1"},
      {"[a-]", "xa", "1-2"},
      {"[a-]", "b", "none"},
      {"[-a]", "-", "0-1"},
      {"[a-a]", "b", "none"},
      {"[0-9]+px", "w=120px", "2-7"},
      {"[\\]", "a\\", "1-2"},
      // A backslash makes the next character literal; no escape classes.
      {"a\\.b", "a.b", "0-3"},
      {"a\\.b", "axb", "none"},
      {"a\\nb", "anb", "0-3"},
      {"\\(x\\)", "(x)", "0-3"},
      // Anchors.
      {"x$", "ax", "1-2"},
      {"x$", "xa", "none"},
      {"^a", "ab", "0-1"},
      {"^a", "ba", "none"},
      {"a^b", "ab", "none"},
      {"a^b", "a^b", "none"},
      {"$", "abc", "3-3"},
      {"$", "", "0-0"},
      {"x*", "abc", "0-0"},
      {"^$", "", "0-0"},
      {"^$", "a", "none"},
      // Greed, backtracking, order of alternatives.
      {"(ab|a)c", "ac", "0-2"},
      {"a.*b", "aXbYb!", "0-5"},
      {"a*ab", "aaab", "0-4"},
      {"x.*y", "xyzy", "0-4"},
      {"(a|ab)(c|bcd)", "abcd", "0-4"},
      {"b|abc", "xabc", "1-4"},
      {"(a|b)*c", "abbac", "0-5"},
      {"(ab)+", "xababa", "1-5"},
      {"(ab)*c", "ababab", "none"},
      {"[ab]*$", "xab", "1-3"},
      {"x*abc", "zzabc", "2-5"},
      {"x*abc", "zzab", "none"},
      {"abc", "aababc", "3-6"},
      {"^ab", "cab", "none"},
      {"a+b+", "caabbbc", "1-6"},
      {"(a+)+b", "aaaab", "0-5"},
      // Ordinary characters that are special elsewhere.
      {"a{2}", "aa{2}", "1-5"},
      {"]", "a]", "1-2"},
      // Bytes above 0x7F are ordinary; ranges compare unsigned bytes.
      {"\xE9t\xE9", "l'\xE9t\xE9", "2-5"},
      {"[\xE0-\xEF]", "e\xE9", "1-2"},
      {"[\xE0-\xEF]", "\xF0\xDF", "none"},
      {"[a-\xE9]+", "A\x80z\xE9\xEA", "1-4"},
      {"[^\x80-\xFF]", "\xE9\xFFq", "2-3"},
      {".\xFF*", "\xFF\xFF\xFF", "0-3"},
  };
  for (const SearchCase &c : cases)
    EXPECT_EQ(Search(c.pattern, c.subject), c.span) << "pattern \"" << c.pattern << "\" subject \"" << c.subject << '"';
  EXPECT_TRUE(g_reports.empty());
}

TEST_F(RegexTest, GroupsReportTheirPositions) {
  const char abc[] = "abc";
  Program three = Compile("(a)(b)(c)");
  ASSERT_TRUE(three);
  ASSERT_EQ(RegexMatch(three.get(), abc), 1);
  EXPECT_EQ(Span(three.get(), 1, abc), "0-1");
  EXPECT_EQ(Span(three.get(), 2, abc), "1-2");
  EXPECT_EQ(Span(three.get(), 3, abc), "2-3");
  EXPECT_EQ(Span(three.get(), 4, abc), "unset");

  // A group in a loop reports its last iteration.
  const char abab[] = "abab";
  Program loop = Compile("(a|b)+");
  ASSERT_TRUE(loop);
  ASSERT_EQ(RegexMatch(loop.get(), abab), 1);
  EXPECT_EQ(Span(loop.get(), 0, abab), "0-4");
  EXPECT_EQ(Span(loop.get(), 1, abab), "3-4");

  // Nested groups; the outer one takes the first alternative's failure
  // into account.
  const char subject[] = "xxabcd";
  Program nested = Compile("((a)b|(a)bc)d");
  ASSERT_TRUE(nested);
  ASSERT_EQ(RegexMatch(nested.get(), subject), 1);
  EXPECT_EQ(Span(nested.get(), 0, subject), "2-6");
  EXPECT_EQ(Span(nested.get(), 1, subject), "2-5");
  EXPECT_EQ(Span(nested.get(), 2, subject), "unset");
  EXPECT_EQ(Span(nested.get(), 3, subject), "2-3");

  const char nine[] = "abcdefghi";
  Program all = Compile("(a)(b)(c)(d)(e)(f)(g)(h)(i)");
  ASSERT_TRUE(all);
  ASSERT_EQ(RegexMatch(all.get(), nine), 1);
  for (int group = 1; group <= 9; ++group)
    EXPECT_EQ(Span(all.get(), group, nine), std::to_string(group - 1) + "-" + std::to_string(group));

  // Each search starts from empty slots.
  Program either = Compile("(a)|b");
  ASSERT_TRUE(either);
  const char a[] = "a";
  const char b[] = "b";
  const char c[] = "c";
  ASSERT_EQ(RegexMatch(either.get(), a), 1);
  EXPECT_EQ(Span(either.get(), 1, a), "0-1");
  ASSERT_EQ(RegexMatch(either.get(), b), 1);
  EXPECT_EQ(Span(either.get(), 1, b), "unset");
  ASSERT_EQ(RegexMatch(either.get(), c), 0);
  EXPECT_EQ(either->start[0], nullptr);

  const char y[] = "y";
  Program optional = Compile("(x)?y");
  ASSERT_TRUE(optional);
  ASSERT_EQ(RegexMatch(optional.get(), y), 1);
  EXPECT_EQ(Span(optional.get(), 1, y), "unset");
}

TEST_F(RegexTest, SearchWithoutProgramOrSubjectFails) {
  Program program = Compile("a");
  ASSERT_TRUE(program);
  EXPECT_EQ(RegexMatch(nullptr, "a"), 0);
  EXPECT_EQ(RegexMatch(program.get(), nullptr), 0);
  EXPECT_EQ(RegexMatch(nullptr, nullptr), 0);
  EXPECT_EQ(g_reports, (std::vector<std::string>{"NULL parameter", "NULL parameter", "NULL parameter"}));
}

TEST_F(RegexTest, DamagedProgramsFailWithoutStrayReads) {
  // "ab": 9C | 1 alternative -> 10 | 4 literal "ab" -> 10 | 10 end
  {
    Program program = Compile("ab");
    ASSERT_TRUE(program);
    RegexProgramCode(program.get())[0] = 0x9D;
    EXPECT_EQ(RegexMatch(program.get(), "ab"), 0);
    EXPECT_EQ(g_reports, std::vector<std::string>{"corrupted program"});
  }
  {
    g_reports.clear();
    Program program = Compile("ab");
    ASSERT_TRUE(program);
    unsigned char *code = RegexProgramCode(program.get());
    ASSERT_EQ(code[4], RX_LITERAL);
    code[4] = 12;
    EXPECT_EQ(RegexMatch(program.get(), "ab"), 0);
    ASSERT_FALSE(g_reports.empty());
    EXPECT_EQ(g_reports[0], "memory corruption");
  }
  {
    // The literal's chain ends before the end node.
    g_reports.clear();
    Program program = Compile("ab");
    ASSERT_TRUE(program);
    unsigned char *code = RegexProgramCode(program.get());
    code[5] = 0;
    code[6] = 0;
    EXPECT_EQ(RegexMatch(program.get(), "ab"), 0);
    ASSERT_FALSE(g_reports.empty());
    EXPECT_EQ(g_reports[0], "corrupted pointers");
  }
  {
    // A link that leads outside the program.
    g_reports.clear();
    Program program = Compile("ab");
    ASSERT_TRUE(program);
    unsigned char *code = RegexProgramCode(program.get());
    code[5] = 0x7F;
    code[6] = 0xF0;
    EXPECT_EQ(RegexMatch(program.get(), "ab"), 0);
    ASSERT_FALSE(g_reports.empty());
    EXPECT_EQ(g_reports[0], "corrupted pointers");
  }
  {
    // A program whose end node was overwritten.
    g_reports.clear();
    Program program = Compile("ab");
    ASSERT_TRUE(program);
    RegexProgramCode(program.get())[program->programSize - 1] = 'x';
    EXPECT_EQ(RegexMatch(program.get(), "ab"), 0);
    EXPECT_EQ(g_reports, std::vector<std::string>{"corrupted program"});
  }
  {
    // A repeat whose operand is not one character wide counts nothing.
    // "a*b": 9C | 1 alternative | 4 repeat0 (operand 7 literal "a") | 12 literal "b" | 17 end
    g_reports.clear();
    Program program = Compile("a*b");
    ASSERT_TRUE(program);
    unsigned char *code = RegexProgramCode(program.get());
    ASSERT_EQ(code[4], RX_REPEAT0);
    ASSERT_EQ(code[7], RX_LITERAL);
    code[7] = RX_EMPTY;
    EXPECT_EQ(RegexMatch(program.get(), "aab"), 1);
    EXPECT_EQ(program->start[0] - program->end[0], -1);
    ASSERT_FALSE(g_reports.empty());
    EXPECT_EQ(g_reports[0], "internal foulup");
  }
  {
    // A loop that consumes nothing ends at the step limit.
    // "x": 9C | 1 alternative -> 9 | 4 literal "x" -> 9 | 9 end
    g_reports.clear();
    Program program = Compile("x");
    ASSERT_TRUE(program);
    unsigned char *code = RegexProgramCode(program.get());
    ASSERT_EQ(code[4], RX_LITERAL);
    code[4] = RX_LOOP_BACK;
    code[5] = 0;
    code[6] = 3;
    EXPECT_EQ(RegexMatch(program.get(), "x"), 0);
    EXPECT_EQ(g_reports, std::vector<std::string>{"step limit reached"});
  }
  {
    // A loop through a choice ends when the choices fill their stack.
    g_reports.clear();
    Program program = Compile("(ab)+");
    ASSERT_TRUE(program);
    unsigned char *code = RegexProgramCode(program.get());
    ASSERT_EQ(code[22], RX_LOOP_BACK);
    code[24] = 3;  // back to the alternative at 19, whose operand it is
    EXPECT_EQ(RegexMatch(program.get(), "ab"), 0);
    EXPECT_EQ(g_reports, std::vector<std::string>{"backtrack stack full"});
  }
}

TEST_F(RegexTest, LongSubjectsNeedNoDeepStack) {
  std::string pairs;
  for (int i = 0; i < 100000; ++i)
    pairs += "ab";
  Program loop = Compile("(ab)+$");
  ASSERT_TRUE(loop);
  ASSERT_EQ(RegexMatch(loop.get(), pairs.c_str()), 1);
  EXPECT_EQ(Span(loop.get(), 0, pairs.c_str()), "0-200000");
  EXPECT_EQ(Span(loop.get(), 1, pairs.c_str()), "199998-200000");

  std::string many(8 << 20, 'a');
  Program run = Compile("a*$");
  ASSERT_TRUE(run);
  ASSERT_EQ(RegexMatch(run.get(), many.c_str()), 1);
  EXPECT_EQ(run->end[0] - many.c_str(), static_cast<ptrdiff_t>(many.size()));

  many.back() = 'x';
  Program last = Compile("ax$");
  ASSERT_TRUE(last);
  ASSERT_EQ(RegexMatch(last.get(), many.c_str()), 1);
  EXPECT_EQ(last->start[0] - many.c_str(), static_cast<ptrdiff_t>(many.size() - 2));
  EXPECT_TRUE(g_reports.empty());

  // More open choices than the search keeps: refused, not a crash.
  std::string mixed(2 << 20, 'a');
  Program choices = Compile("(a|b)*$");
  ASSERT_TRUE(choices);
  EXPECT_EQ(RegexMatch(choices.get(), mixed.c_str()), 0);
  EXPECT_EQ(g_reports, std::vector<std::string>{"backtrack stack full"});
}

TEST_F(RegexTest, PathologicalBacktrackingEndsWithAClearFailure) {
  for (const char *pattern : {"(a+)+b", "(a|aa)+b", "(a*a*a*a*a*a)+b"}) {
    g_reports.clear();
    Program program = Compile(pattern);
    ASSERT_TRUE(program) << pattern;
    std::string subject = std::string(60, 'a') + "c";
    EXPECT_EQ(RegexMatch(program.get(), subject.c_str()), 0) << pattern;
    EXPECT_EQ(g_reports, std::vector<std::string>{"step limit reached"}) << pattern;
    // The program stays usable.
    g_reports.clear();
    EXPECT_EQ(RegexMatch(program.get(), "aaab"), 1) << pattern;
    EXPECT_TRUE(g_reports.empty()) << pattern;
  }
}

// Patterns over the syntax this engine and ECMAScript read alike: literals,
// ".", simple sets, groups, alternatives, anchors, and quantifiers on items
// that cannot match the empty string.
class PatternMaker {
public:
  explicit PatternMaker(uint32_t seed) : state_(seed) {}

  std::string Pattern(int depth, bool *hasWidth) {
    std::string text;
    bool width = true;
    int branches = 1 + (Next(4) == 0 ? 1 + Next(2) : 0);
    for (int i = 0; i < branches; ++i) {
      if (i > 0)
        text += '|';
      bool branchWidth = false;
      int pieces = 1 + Next(3);
      for (int j = 0; j < pieces; ++j)
        text += Piece(depth, &branchWidth);
      width = width && branchWidth;
    }
    *hasWidth = width;
    return text;
  }

  std::string Subject() {
    std::string text;
    int length = Next(9);
    for (int i = 0; i < length; ++i)
      text += "abc"[Next(3)];
    return text;
  }

private:
  uint32_t Next(uint32_t bound) {
    state_ = state_ * 1103515245u + 12345u;
    return (state_ >> 16) % bound;
  }

  std::string Piece(int depth, bool *branchWidth) {
    bool width = true;
    std::string atom;
    switch (Next(depth > 0 ? 9 : 8)) {
    case 0: atom = "."; break;
    case 1: atom = Next(2) ? "[ab]" : "[^a]"; break;
    case 2:
      if (Next(3) == 0) {
        atom = Next(2) ? "^" : "$";
        width = false;
        break;
      }
      atom = "b";
      break;
    case 3: atom = "c"; break;
    case 8: atom = "(" + Pattern(depth - 1, &width) + ")"; break;
    default: atom = "a"; break;
    }
    if (width) {
      switch (Next(6)) {
      case 0: atom += '*'; width = false; break;
      case 1: atom += '+'; break;
      case 2: atom += '?'; width = false; break;
      default: break;
      }
    }
    *branchWidth = *branchWidth || width;
    return atom;
  }

  uint32_t state_;
};

TEST_F(RegexTest, AgreesWithEcmaScriptOnSharedSyntax) {
  PatternMaker maker(20240611u);
  int compared = 0;
  for (int i = 0; i < 1500; ++i) {
    bool width;
    std::string pattern = maker.Pattern(2, &width);
    Program program = Compile(pattern);
    ASSERT_TRUE(program) << pattern << ": " << (g_reports.empty() ? "" : g_reports.back());
    std::regex reference(pattern, std::regex::ECMAScript);
    for (int j = 0; j < 6; ++j) {
      std::string subject = maker.Subject();
      std::smatch expected;
      std::string want = "none";
      if (std::regex_search(subject, expected, reference))
        want = std::to_string(expected.position(0)) + "-" +
               std::to_string(expected.position(0) + expected.length(0));
      std::string got = "none";
      if (RegexMatch(program.get(), subject.c_str()))
        got = Span(program.get(), 0, subject.c_str());
      EXPECT_EQ(got, want) << "pattern \"" << pattern << "\" subject \"" << subject << '"';
      ++compared;
    }
  }
  EXPECT_EQ(compared, 9000);
  EXPECT_TRUE(g_reports.empty());
}

} // namespace
