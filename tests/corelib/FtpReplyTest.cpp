// The last reply line of a server's response text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FtpReply.h"

namespace {

std::string Last(const std::string &text) { return FtpLastReplyLine(text.data(), text.size()); }

TEST(FtpLastReplyLine, KeepsOnlyTheLastLineOfAMultiLineReply) {
  EXPECT_EQ("250 Directory successfully changed.",
            Last("250-first note line\r\n250-second note line\r\n250 Directory successfully changed.\r\n"));
  EXPECT_EQ("230 Login successful.", Last("230 Login successful."));
  // Bare carriage returns and bare line feeds both end lines; the later one counts.
  EXPECT_EQ("221 Goodbye.", Last("220 Hello\r221 Goodbye."));
  EXPECT_EQ("221 Goodbye.", Last("220 Hello\n\r221 Goodbye."));
  EXPECT_EQ("221 Goodbye.", Last("220 Hello\r\n221 Goodbye. \t\r\n\r\n"));
  // Blanks inside the line and at its start stay.
  EXPECT_EQ("  550 x  y", Last("a\n  550 x  y  \n"));
}

TEST(FtpLastReplyLine, NothingButWhiteSpaceIsNoLine) {
  EXPECT_EQ("", Last(""));
  EXPECT_EQ("", Last(" \r\n\t\v\f"));
  EXPECT_EQ("", FtpLastReplyLine(nullptr, 10));
  EXPECT_EQ("550 gone", Last("550 gone\r\n   \r\n"));
}

TEST(FtpLastReplyLine, ReadsNoFurtherThanTheLengthOrAZero) {
  // Only the first `length` bytes are read: the rest of this buffer is
  // deliberately not terminated (a heap copy, so the sanitizers see any
  // read beyond it).
  const char source[] = "331 Please specify the password.\r\n230 Login";
  size_t length = std::strlen("331 Please specify the password.\r\n");
  char *text = new char[length];
  std::memcpy(text, source, length);
  EXPECT_EQ("331 Please specify the password.", FtpLastReplyLine(text, length));
  delete[] text;
  // A zero inside the given length ends the text there.
  const char withZero[] = "150 Here\r\n226 Done\0\r\n999 Stale";
  EXPECT_EQ("226 Done", FtpLastReplyLine(withZero, sizeof withZero - 1));
}

TEST(FtpDecimal, WritesSignedDecimal) {
  EXPECT_EQ("12003", FtpDecimal(12003));
  EXPECT_EQ("0", FtpDecimal(0));
  EXPECT_EQ("-1", FtpDecimal(-1));
  EXPECT_EQ("-2147483648", FtpDecimal(-2147483647L - 1));
}

} // namespace
