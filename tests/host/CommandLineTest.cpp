// The host's command line: splitting and the parse into the record.
#include <gtest/gtest.h>

#include "MyCommandLineInfo.h"
#include "WineTestSupport.h"

#include <string.h>

namespace {

CMyCommandLineInfo Parse(const char *arguments) {
  CMyCommandLineInfo info;
  std::string line = std::string("\"C:\\Program Files\\Quillmoth\\Quillmoth.exe\" ") + arguments;
  ParseCommandLine(line.c_str(), info);
  return info;
}

TEST(CommandLineSplit, FollowsTheRuntimeQuotingRules) {
  std::vector<std::string> p =
      SplitCommandLine("\"C:\\Program Files\\Q.exe\" a  \"b c\" d\\\"e \"f\\\\\" g\\\\h \"\" \"x\"\"y\"");
  ASSERT_EQ(8u, p.size());
  EXPECT_EQ("C:\\Program Files\\Q.exe", p[0]);
  EXPECT_EQ("a", p[1]);
  EXPECT_EQ("b c", p[2]);
  EXPECT_EQ("d\"e", p[3]);
  EXPECT_EQ("f\\", p[4]);
  EXPECT_EQ("g\\\\h", p[5]);
  EXPECT_EQ("", p[6]);
  EXPECT_EQ("x\"y", p[7]);
  EXPECT_EQ(1u, SplitCommandLine("Q.exe").size());
  EXPECT_EQ(1u, SplitCommandLine("Q.exe   \t ").size());
  EXPECT_TRUE(SplitCommandLine(NULL).empty());
}

TEST(CommandLineParse, HelpSwitchesInAnyCaseAndEitherPrefix) {
  for (const char *line : {"-HELP", "/help", "-?", "-h", "/H"})
    EXPECT_TRUE(Parse(line).m_help) << line;
  CMyCommandLineInfo unknown = Parse("-foo");
  EXPECT_TRUE(unknown.m_unknownOption);
  EXPECT_FALSE(unknown.m_help);
  ASSERT_EQ(1u, unknown.m_unhandledSwitches.size()) << "handed on to the framework";
  EXPECT_EQ("foo", unknown.m_unhandledSwitches[0]);
}

TEST(CommandLineParse, EverySwitchSetsItsFlag) {
  CMyCommandLineInfo info =
      Parse("-install -uninstall -version -hc -application -proxy -hide /f -debug -logfile "
            "-account -password");
  EXPECT_TRUE(info.m_install && info.m_uninstall && info.m_version && info.m_hc &&
              info.m_application && info.m_proxy && info.m_hide && info.m_load && info.m_debug &&
              info.m_logfile && info.m_account && info.m_password);
  EXPECT_FALSE(info.m_unknownOption);
  EXPECT_FALSE(info.m_help);
}

TEST(CommandLineParse, PlainParametersFillPendingOptionsInFixedOrder) {
  CMyCommandLineInfo info = Parse("-debug -load x y");
  EXPECT_EQ("x", info.m_loadFile) << "load comes first whatever the order of the switches";
  EXPECT_EQ("y", info.m_debugValue);

  CMyCommandLineInfo all = Parse("-password -account -logfile -debug -load a b c d e f");
  EXPECT_EQ("a", all.m_loadFile);
  EXPECT_EQ("b", all.m_debugValue);
  EXPECT_EQ("c", all.m_logfileValue);
  EXPECT_EQ("d", all.m_accountValue);
  EXPECT_EQ("e", all.m_passwordValue);
  EXPECT_EQ("f", all.m_fileName) << "the rest goes to the framework as its file name";
}

TEST(CommandLineParse, AccountGivenTwiceKeepsTheFirstValue) {
  CMyCommandLineInfo info = Parse("-account alice -account bob");
  EXPECT_EQ("alice", info.m_accountValue);
  EXPECT_EQ("bob", info.m_fileName) << "with no option pending it goes to the framework";
  CMyCommandLineInfo pending = Parse("-password -account alice -account bob");
  EXPECT_EQ("alice", pending.m_accountValue);
  EXPECT_EQ("bob", pending.m_passwordValue) << "or to the next pending option";
  EXPECT_EQ("", pending.m_fileName);
}

TEST(CommandLineParse, QuotedValuesKeepTheirBlanks) {
  CMyCommandLineInfo info = Parse("-install -account \"DOMAIN\\Job Runner\" -password \"p w\"");
  EXPECT_EQ("DOMAIN\\Job Runner", info.m_accountValue);
  EXPECT_EQ("p w", info.m_passwordValue);
}

TEST(CommandLineParse, LoneSwitchCharactersAreHarmless) {
  CMyCommandLineInfo info = Parse("- / \"\"");
  EXPECT_TRUE(info.m_unknownOption) << "an empty switch name is unknown";
  EXPECT_FALSE(info.m_help);
}

} // namespace

// Every command of the guide that starts the program is one its parser takes.
TEST(CommandLineParse, EveryCommandTheGuideShowsIsKnown) {
  size_t checked = 0;
  for (const qmtest::GuideBlock &block : qmtest::GuideBlocks("command")) {
    size_t start = 0;
    while (start < block.text.size()) {
      size_t end = block.text.find('\n', start);
      std::string line = block.text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      start = end == std::string::npos ? block.text.size() : end + 1;
      size_t program = line.find("Quillmoth.exe");
      if (program == std::string::npos)
        continue;
      size_t arguments = program + strlen("Quillmoth.exe");
      if (arguments < line.size() && line[arguments] == '"')
        ++arguments;
      EXPECT_FALSE(Parse(line.substr(arguments).c_str()).m_unknownOption) << block.page << ": " << line;
      ++checked;
    }
  }
  EXPECT_GE(checked, 4u) << "the assembled guide beside the tests";
}
