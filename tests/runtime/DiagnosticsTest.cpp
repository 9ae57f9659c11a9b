// The diagnostic log beside the program and the system error text.
#include <gtest/gtest.h>
#include <regex>

#include "QuillmothRun.h"
#include "RuntimeInternal.h"
#include "SystemErrorText.h"
#include "WineTestSupport.h"

namespace {

std::string LogPath() {
  char path[MAX_PATH];
  GetModuleFileNameA(NULL, path, sizeof path);
  std::string p = path;
  return p.substr(0, p.find_last_of('.')) + ".log";
}

DWORD FileSize(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) ? info.nFileSizeLow
                                                                          : 0xFFFFFFFF;
}

class DiagnosticsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { RegisterRuntimeMessages(); }
  void SetUp() override { DeleteFileA(LogPath().c_str()); }
  std::string Log() { return qmtest::ReadTextFile(LogPath()); }
};

TEST_F(DiagnosticsTest, DebugLinesCarryLocationThreadAndLine) {
  QMR_DebugMessage(305, "CQuillmothApp::InitSystemInfo", "Can't find Scripts directory from: %s",
                   "C:\\A\\Scripts\\");
  std::string expected = "[CQuillmothApp::InitSystemInfo](thread=" +
                         std::to_string(GetCurrentThreadId()) +
                         ")(line=305): Can't find Scripts directory from: C:\\A\\Scripts\\\r\n";
  EXPECT_EQ(expected, Log()) << "one line, ended by CR LF on disk";
}

TEST_F(DiagnosticsTest, MissingRelayIsLoggedAndAnsweredFalse) {
  ASSERT_EQ(NULL, QMR_GetNotificationWindow());
  EXPECT_FALSE(QMR_NotifyMessage(0, "nobody hears this"));
  std::regex line("\\[QMR_NotifyMessage\\]\\(thread=" + std::to_string(GetCurrentThreadId()) +
                  "\\)\\(line=[0-9]+\\): Unable to get notification window\\.\r\n");
  EXPECT_TRUE(std::regex_match(Log(), line)) << Log();
}

TEST_F(DiagnosticsTest, LongDebugLinesAreCutAtTheBuffer) {
  std::string huge(5000, 'x');
  QMR_DebugMessage(1, "here", "%s", huge.c_str());
  QMR_DebugMessage(2, "here", "%s", "after");
  std::string log = Log();
  size_t first = log.find("\r\n");
  ASSERT_NE(std::string::npos, first);
  EXPECT_EQ(static_cast<size_t>(QMR_TEXT_MAX), first) << "the line fills the buffer exactly";
  EXPECT_NE(std::string::npos, log.find("(line=2): after\r\n", first));
  // A location name longer than the buffer leaves no room for the message
  // and still does not overrun.
  std::string where(2000, 'w');
  QMR_DebugMessage(3, where.c_str(), "%s", "lost");
  EXPECT_EQ(std::string::npos, Log().find("lost"));
}

TEST_F(DiagnosticsTest, DataTextsAreNotFormats) {
  QMR_DebugMessage(7, "here", "%s", "50% %s %d %n");
  EXPECT_NE(std::string::npos, Log().find("(line=7): 50% %s %d %n\r\n"));
  QMR_DebugWrite("plain %s %n text");
  EXPECT_NE(std::string::npos, Log().find("plain %s %n text\r\n"));
}

TEST_F(DiagnosticsTest, LogStartsAfreshPastOneMebibyte) {
  const DWORD limit = 1048576;
  ASSERT_TRUE(qmtest::WriteTextFile(LogPath(), std::string(limit, 'a')));
  QMR_DebugWrite("x");
  EXPECT_EQ(limit + 3, FileSize(LogPath())) << "a log of exactly 1,048,576 bytes stays and grows";

  ASSERT_TRUE(qmtest::WriteTextFile(LogPath(), std::string(limit + 1, 'b')));
  QMR_DebugWrite("y");
  EXPECT_EQ("y\r\n", Log()) << "a larger log is deleted before the line is written";
}

TEST_F(DiagnosticsTest, SystemErrorTextIsTrimmedOrExplained) {
  std::string text = SystemErrorText(ERROR_FILE_NOT_FOUND, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(std::string::npos, std::string(" \t\r\n").find(text.back()))
      << "no white space at the end: [" << text << "]";
  EXPECT_EQ("Error Message not found.",
            SystemErrorText(0x2000ABCD, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)));
}

} // namespace
