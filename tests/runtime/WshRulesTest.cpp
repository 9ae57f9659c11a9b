// How a run's argument text becomes WScript.Arguments, and how a script
// file's byte-order mark is read.
#include <gtest/gtest.h>

#include "WshRules.h"

namespace {

std::u16string U(const char *text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

TEST(WshRulesTest, ArgumentTextSplitsIntoWordsAndNames) {
  auto all = wsh::ParseArguments(U("  one \"two words\"\tx\\\"y /Src:\"C:\\a b\" /v /F+ /g- \"/quoted:1\" / //z:1 "));
  ASSERT_EQ(10u, all.size());
  EXPECT_EQ(U("one"), all[0].text);
  EXPECT_EQ(U("two words"), all[1].text) << "quotes group and are removed";
  EXPECT_EQ(U("x\"y"), all[2].text) << "a backslash-quote is a quote";
  EXPECT_FALSE(all[0].named || all[1].named || all[2].named);
  EXPECT_EQ(U("/Src:C:\\a b"), all[3].text) << "the full list keeps the word as written";
  EXPECT_TRUE(all[3].named);
  EXPECT_EQ(U("Src"), all[3].name);
  EXPECT_EQ(U("C:\\a b"), all[3].value);
  EXPECT_TRUE(all[4].named);
  EXPECT_FALSE(all[4].hasValue) << "/v is a name without a value";
  EXPECT_EQ(U("F"), all[5].name);
  EXPECT_EQ(U("+"), all[5].value);
  EXPECT_EQ(U("g"), all[6].name);
  EXPECT_EQ(U("-"), all[6].value);
  EXPECT_TRUE(all[7].named) << "quotes around a named word do not hide its name";
  EXPECT_FALSE(all[8].named) << "a slash alone names nothing";
  EXPECT_EQ(U("/z"), all[9].name) << "only the first slash goes";

  auto named = wsh::NamedArguments(wsh::ParseArguments(U("/a:1 b /A:2 /c")));
  ASSERT_EQ(2u, named.size()) << "a repeated name counts once";
  EXPECT_EQ(U("2"), wsh::FindNamed(named, U("a"))->value) << "the last value wins, names case-blind";
  EXPECT_TRUE(wsh::FindNamed(named, U("C")));
  EXPECT_EQ(nullptr, wsh::FindNamed(named, U("b")));
  EXPECT_TRUE(wsh::ParseArguments(U(" \t ")).empty());
  EXPECT_EQ(1u, wsh::ParseArguments(U("\"\"")).size()) << "an empty quoted word is a word";
}

TEST(WshRulesTest, ByteOrderMarksSayHowTheFileIsRead) {
  size_t length = 99;
  const unsigned char plain[] = {'a', 0xE9};
  EXPECT_EQ(wsh::TextMark::None, wsh::DetectMark(plain, sizeof plain, &length));
  EXPECT_EQ(0u, length);
  const unsigned char utf8[] = {0xEF, 0xBB, 0xBF, 'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0xC0, 0xAF, 0xE2};
  ASSERT_EQ(wsh::TextMark::Utf8, wsh::DetectMark(utf8, sizeof utf8, &length));
  EXPECT_EQ(3u, length);
  EXPECT_EQ(u"a\u00e9\u20ac\U0001F600\uFFFD\uFFFD\uFFFD", wsh::DecodeMarked(wsh::TextMark::Utf8, utf8 + 3, sizeof utf8 - 3))
      << "an overlong form and a cut sequence are not characters";
  const unsigned char utf16[] = {0xFF, 0xFE, 'W', 0, 0xAC, 0x20, 'x'};
  ASSERT_EQ(wsh::TextMark::Utf16LE, wsh::DetectMark(utf16, sizeof utf16, &length));
  EXPECT_EQ(2u, length);
  EXPECT_EQ(u"W\u20ac", wsh::DecodeMarked(wsh::TextMark::Utf16LE, utf16 + 2, sizeof utf16 - 2));
  const unsigned char big[] = {0xFE, 0xFF, 0, 'W'};
  ASSERT_EQ(wsh::TextMark::Utf16BE, wsh::DetectMark(big, sizeof big, &length));
  EXPECT_EQ(u"W", wsh::DecodeMarked(wsh::TextMark::Utf16BE, big + 2, 2));
  const unsigned char shortMark[] = {0xEF, 0xBB};
  EXPECT_EQ(wsh::TextMark::None, wsh::DetectMark(shortMark, sizeof shortMark, &length));
}

} // namespace
