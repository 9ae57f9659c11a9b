// Cron specifications: field splitting and matching, the latch text, the
// evaluation against a sequence of injected clock readings, and the
// conversion to a job schedule.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CronDue.h"
#include "CronEvaluate.h"
#include "CronFields.h"
#include "CronLatch.h"
#include "CronSchedule.h"
#include "CronTime.h"

namespace {

// A wall-clock reading kept by the test itself, so that the library's own
// calendar arithmetic is checked rather than reused.
struct Clock {
  int year, month, day, hour, minute, second;
};

bool Leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int MonthLength(int year, int month) {
  const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && Leap(year) ? 29 : lengths[month - 1];
}

void Advance(Clock &c, int seconds) {
  int total = c.second + seconds;
  c.second = total % 60;
  int minutes = c.minute + total / 60;
  c.minute = minutes % 60;
  int hours = c.hour + minutes / 60;
  c.hour = hours % 24;
  for (int days = hours / 24; days > 0; --days) {
    if (++c.day <= MonthLength(c.year, c.month))
      continue;
    c.day = 1;
    if (++c.month > 12) {
      c.month = 1;
      ++c.year;
    }
  }
}

bool Before(const Clock &a, const Clock &b) {
  const int x[] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
  const int y[] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
  for (int i = 0; i < 6; ++i)
    if (x[i] != y[i])
      return x[i] < y[i];
  return false;
}

std::string Text(const Clock &c) {
  char text[32];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
  return text;
}

CronTime Reading(const Clock &c) { return CronTimeFromCalendar(c.year, c.month, c.day, c.hour, c.minute, c.second); }

// A script's loop around one id: the latch is made fresh at the first check
// and passes through its text between checks, as it does in the environment.
class Script {
public:
  explicit Script(const char *spec) : spec_(spec) {}

  bool Check(const Clock &when, bool reset = false) {
    CronTime now = Reading(when);
    if (latchText_.empty() || reset) {
      char text[kCronLatchTextSize];
      EXPECT_TRUE(CronFormatLatch(CronFreshLatch(now), text, sizeof text));
      latchText_ = text;
    }
    CronLatch latch = CronParseLatch(latchText_.c_str());
    bool fired = true;
    EXPECT_TRUE(CronEvaluate(spec_, now, latch, &fired)) << spec_;
    char text[kCronLatchTextSize];
    EXPECT_TRUE(CronFormatLatch(latch, text, sizeof text));
    latchText_ = text;
    return fired;
  }

  // The clock readings of [from, to) at `step` seconds, each checked
  // `checks` times; the readings at which a check fired.
  std::vector<std::string> Run(Clock from, const Clock &to, int step, int checks = 1) {
    std::vector<std::string> firings;
    for (Clock t = from; Before(t, to); Advance(t, step))
      for (int i = 0; i < checks; ++i)
        if (Check(t))
          firings.push_back(Text(t));
    return firings;
  }

private:
  const char *spec_;
  std::string latchText_;
};

using Firings = std::vector<std::string>;

TEST(CronTimeTest, CalendarComponentsAndDerivedDays) {
  CronTime t = CronTimeFromCalendar(2008, 4, 9, 8, 30, 15);
  EXPECT_EQ(t.year, 2008);
  EXPECT_EQ(t.month, 4);
  EXPECT_EQ(t.day, 9);
  EXPECT_EQ(t.hour, 8);
  EXPECT_EQ(t.minute, 30);
  EXPECT_EQ(t.second, 15);
  EXPECT_EQ(t.dayOfYear, 100);
  EXPECT_EQ(t.weekday, 4);  // a Wednesday

  EXPECT_EQ(CronTimeFromCalendar(2008, 12, 31, 0, 0, 0).dayOfYear, 366);
  EXPECT_EQ(CronTimeFromCalendar(2009, 12, 31, 0, 0, 0).dayOfYear, 365);
  EXPECT_EQ(CronTimeFromCalendar(2100, 3, 1, 0, 0, 0).dayOfYear, 60);
  EXPECT_EQ(CronTimeFromCalendar(2000, 3, 1, 0, 0, 0).dayOfYear, 61);
  EXPECT_EQ(CronTimeFromCalendar(2000, 2, 29, 0, 0, 0).weekday, 3);  // a Tuesday

  // Every day from 1 January 1990 (a Monday) for sixty years.
  int weekday = 2;
  for (Clock c{1990, 1, 1, 12, 0, 0}; c.year < 2050; Advance(c, 86400)) {
    CronTime day = Reading(c);
    ASSERT_EQ(day.weekday, weekday) << Text(c);
    ASSERT_EQ(day.day, c.day) << Text(c);
    weekday = weekday % 7 + 1;
  }
}

TEST(CronTimeTest, ComponentsThatCannotBeComputedAreMinusOne) {
  CronTime bad = CronTimeFromCalendar(1900, 2, 29, 24, 60, 60);
  EXPECT_EQ(bad.year, 1900);
  EXPECT_EQ(bad.month, 2);
  EXPECT_EQ(bad.day, -1);
  EXPECT_EQ(bad.weekday, -1);
  EXPECT_EQ(bad.dayOfYear, -1);
  EXPECT_EQ(bad.hour, -1);
  EXPECT_EQ(bad.minute, -1);
  EXPECT_EQ(bad.second, -1);

  CronTime noMonth = CronTimeFromCalendar(2008, 13, 5, 1, 2, 3);
  EXPECT_EQ(noMonth.month, -1);
  EXPECT_EQ(noMonth.day, 5);
  EXPECT_EQ(noMonth.weekday, -1);
  EXPECT_EQ(noMonth.dayOfYear, -1);
  EXPECT_EQ(CronTimeFromCalendar(0, 1, 1, 0, 0, 0).year, -1);
  EXPECT_EQ(CronTimeFromCalendar(-5, 1, 1, 0, 0, 0).weekday, -1);
  EXPECT_EQ(CronTimeFromCalendar(2008, 0, 1, -1, 0, 0).hour, -1);
}

std::vector<std::string> Split(const char *text) {
  CronFields fields;
  SplitCronFields(text, fields);
  std::vector<std::string> out;
  for (int i = 0; i < fields.count && i < kCronFieldCount; ++i)
    out.push_back(fields.field[i]);
  if (fields.count > kCronFieldCount)
    out.push_back("+" + std::to_string(fields.count - kCronFieldCount));
  return out;
}

using Fields = std::vector<std::string>;

TEST(CronFieldsTest, SplittingAtBlanksAndTabs) {
  EXPECT_EQ(Split("30 8\t* *  \t 2-6"), (Fields{"30", "8", "*", "*", "2-6"}));
  EXPECT_EQ(Split("  0 12"), (Fields{"0", "12"}));
  EXPECT_EQ(Split("0 12 \t\r\n"), (Fields{"0", "12"}));
  EXPECT_EQ(Split("0,30 *"), (Fields{"0,30", "*"}));
  EXPECT_EQ(Split("0\n12"), (Fields{"0\n12"}));
  EXPECT_EQ(Split(""), Fields{});
  EXPECT_EQ(Split(" \t \n"), Fields{});
  EXPECT_EQ(Split(nullptr), Fields{});
  EXPECT_EQ(Split("1 2 3 4 5 6 7 8 9"), (Fields{"1", "2", "3", "4", "5", "6", "7", "8", "+1"}));
}

TEST(CronFieldsTest, QuotesKeepBlanksInsideOneField) {
  EXPECT_EQ(Split("\"0 12\" 5"), (Fields{"0 12", "5"}));
  EXPECT_EQ(Split("a\"b \tc\"d e"), (Fields{"ab \tcd", "e"}));
  EXPECT_EQ(Split("\"\" 5"), (Fields{"", "5"}));
  EXPECT_EQ(Split("5 \"0 12"), (Fields{"5", "0 12"}));
  EXPECT_EQ(Split("\"_ \" 9"), (Fields{"_ ", "9"}));
}

TEST(CronFieldsTest, OverlongTextIsCutNotOverrun) {
  std::string longField(5000, '7');
  Fields one = Split(longField.c_str());
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].size(), static_cast<size_t>(kCronTextMax));

  // Only the first kCronTextMax bytes are read.
  std::string padded = "0 12" + std::string(kCronTextMax - 5, ' ') + "5 6";
  EXPECT_EQ(Split(padded.c_str()), (Fields{"0", "12", "5"}));

  std::string many;
  for (int i = 0; i < 400; ++i)
    many += "1 ";
  Fields counted = Split(many.c_str());
  ASSERT_EQ(counted.size(), 9u);
  EXPECT_EQ(counted[8], "+392");
}

TEST(CronFieldsTest, GivenFieldsAndMask) {
  CronFields fields;
  SplitCronFields("0 _ * _5 2", fields);
  EXPECT_TRUE(CronFieldGiven(fields, kCronMinute));
  EXPECT_FALSE(CronFieldGiven(fields, kCronHour));
  EXPECT_TRUE(CronFieldGiven(fields, kCronDay));
  EXPECT_FALSE(CronFieldGiven(fields, kCronMonth));
  EXPECT_TRUE(CronFieldGiven(fields, kCronWeekday));
  EXPECT_FALSE(CronFieldGiven(fields, kCronYear));
  EXPECT_FALSE(CronFieldGiven(fields, -1));
  EXPECT_FALSE(CronFieldGiven(fields, 8));
  EXPECT_EQ(CronFieldMask(fields), 0x80 | 0x20 | 0x08);

  SplitCronFields("_ _ _ _ _ _ _ 0", fields);
  EXPECT_EQ(CronFieldMask(fields), 0x01);
  SplitCronFields("* * * * * * * *", fields);
  EXPECT_EQ(CronFieldMask(fields), 0xFF);
  SplitCronFields("_ _ _", fields);
  EXPECT_EQ(CronFieldMask(fields), 0);
}

struct MatchCase {
  const char *field;
  int value;
  int expected;
};

TEST(CronFieldsTest, FieldMatchesReadsListsAndRanges) {
  const MatchCase cases[] = {
      {"*", 17, 2},
      {"*", -1, 2},
      {"*junk", 3, 2},
      {"5", 5, 1},
      {"5", 6, 0},
      {"08", 8, 1},
      {"0", 0, 1},
      {"0,30", 30, 1},
      {"0,30", 0, 1},
      {"0,30", 15, 0},
      {"5-10", 5, 1},
      {"5-10", 10, 1},
      {"5-10", 4, 0},
      {"5-10", 11, 0},
      {"1-3,7-9", 8, 1},
      {"1-3,7-9", 5, 0},
      {"1,3-4,9", 9, 1},
      {"1,x", 1, 1},
      {"1,x", 2, 0},
      {"7,", 7, 1},
      {"7,", 8, 0},
      {"12-", 12, 0},
      {"5x", 5, 0},
      {"0/5", 0, 0},
      {"0/5", 5, 0},
      {"1-5x", 1, 1},
      {"1-5x", 5, 1},
      {"1-5x", 6, 0},
      {"3-5-7", 4, 1},
      {"3-5-7", 6, 0},
      {"59-0", 59, 0},
      {"59-0", 0, 0},
      {"59-0", 30, 0},
      {"1--5", 3, 0},
      {",5", 5, 0},
      {"-1", -1, 0},
      {"+5", 5, 0},
      {" 5", 5, 0},
      {"5 ", 5, 0},
      {"", 0, 0},
      {"_", 0, 0},
      {"x", 0, 0},
      {"5", -1, 0},
  };
  for (const MatchCase &c : cases)
    EXPECT_EQ(FieldMatches(c.field, c.value), c.expected) << '"' << c.field << "\" against " << c.value;
  EXPECT_EQ(FieldMatches(nullptr, 0), 0);
}

// Steps as cron writes them, counted from the field's first value; any other
// text after "*" still matches everything (and is reported by CheckTime).
TEST(CronFieldsTest, StepsCountFromTheFieldsFirstValue) {
  struct StepCase {
    const char *field;
    int value, first, expected;
  } cases[] = {
      {"*/15", 0, 0, 1},     {"*/15", 45, 0, 1},    {"*/15", 7, 0, 0},      {"*/15", -1, 0, 0},
      {"*/2", 1, 1, 1},      {"*/2", 2, 1, 0},      {"*/2", 31, 1, 1},      {"*/1", 9, 0, 1},
      {"1-10/3", 1, 0, 1},   {"1-10/3", 10, 0, 1},  {"1-10/3", 2, 0, 0},    {"1-10/3", 13, 0, 0},
      {"0-59/20,5", 40, 0, 1}, {"0-59/20,5", 5, 0, 1}, {"0-59/20,5", 6, 0, 0}, {"5,10-20/5", 15, 0, 1},
      {"1-5/0", 1, 0, 0},    {"1-5/x", 1, 0, 0},    {"1-5/", 1, 0, 0},      {"0/5", 5, 0, 0},
      {"*/0", 7, 0, 2},      {"*/x", 7, 0, 2},      {"*5", 3, 0, 2},        {"*/5x", 3, 0, 2},
  };
  for (const StepCase &c : cases)
    EXPECT_EQ(FieldMatches(c.field, c.value, c.first), c.expected)
        << '"' << c.field << "\" against " << c.value << " from " << c.first;
  for (const char *field : {"*5", "*/0", "*/", "*junk", "*/5/2"})
    EXPECT_TRUE(CronStarIgnoresText(field)) << field;
  for (const char *field : {"*", "*/5", "5", "1-10/3", "", "_"})
    EXPECT_FALSE(CronStarIgnoresText(field)) << field;
}

TEST(CronFieldsTest, NumbersLongerThanFifteenDigitsNeverMatch) {
  EXPECT_EQ(FieldMatches("000000000000005", 5), 1);          // 15 digits
  EXPECT_EQ(FieldMatches("0000000000000005", 5), 0);         // 16 digits
  EXPECT_EQ(FieldMatches("1234567890123456", 0), 0);
  EXPECT_EQ(FieldMatches("99999999999999999999999", INT_MAX), 0);
  EXPECT_EQ(FieldMatches("0-9999999999999999", 5), 0);
  EXPECT_EQ(FieldMatches("0-999999999999999", INT_MAX), 1);
  EXPECT_EQ(FieldMatches("2147483648", INT_MIN), 0);
  EXPECT_EQ(FieldMatches("4294967301", 5), 0);
  // Items are read left to right: a match before the long number stands.
  EXPECT_EQ(FieldMatches("5,1234567890123456", 5), 1);
  EXPECT_EQ(FieldMatches("5,1234567890123456", 6), 0);
  std::string huge(100000, '9');
  EXPECT_EQ(FieldMatches(huge.c_str(), 9), 0);
}

TEST(CronLatchTest, TextHoldsMaskThenComponentsInFieldOrder) {
  CronLatch latch;
  latch.mask = 0x80;
  latch.time = CronTime{5, 9, -1, 3, 4, 2008, 64, 0};
  char text[kCronLatchTextSize];
  ASSERT_TRUE(CronFormatLatch(latch, text, sizeof text));
  EXPECT_STREQ(text, "128 5 9 -1 3 4 2008 64 0");

  CronLatch back = CronParseLatch(text);
  EXPECT_EQ(back.mask, 0x80);
  EXPECT_EQ(back.time.minute, 5);
  EXPECT_EQ(back.time.hour, 9);
  EXPECT_EQ(back.time.day, -1);
  EXPECT_EQ(back.time.month, 3);
  EXPECT_EQ(back.time.weekday, 4);
  EXPECT_EQ(back.time.year, 2008);
  EXPECT_EQ(back.time.dayOfYear, 64);
  EXPECT_EQ(back.time.second, 0);

  CronLatch fresh = CronFreshLatch(CronTimeFromCalendar(2008, 3, 4, 9, 5, 7));
  ASSERT_TRUE(CronFormatLatch(fresh, text, sizeof text));
  EXPECT_STREQ(text, "0 5 9 4 3 3 2008 64 7");
}

TEST(CronLatchTest, ExtremeValuesFitAndReadBack) {
  CronLatch latch;
  latch.mask = INT_MIN;
  latch.time = CronTime{INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MAX};
  char text[kCronLatchTextSize];
  ASSERT_TRUE(CronFormatLatch(latch, text, sizeof text));
  CronLatch back = CronParseLatch(text);
  EXPECT_EQ(back.mask, INT_MIN);
  EXPECT_EQ(back.time.minute, INT_MIN);
  EXPECT_EQ(back.time.dayOfYear, INT_MIN);
  EXPECT_EQ(back.time.second, INT_MAX);
}

TEST(CronLatchTest, SmallBuffersAreRefusedNotOverrun) {
  CronLatch latch = CronFreshLatch(CronTimeFromCalendar(2008, 3, 4, 9, 5, 7));
  char text[32];
  memset(text, 'z', sizeof text);
  EXPECT_FALSE(CronFormatLatch(latch, text, 10));
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[10], 'z');
  memset(text, 'z', sizeof text);
  EXPECT_FALSE(CronFormatLatch(latch, text, 0));
  EXPECT_EQ(text[0], 'z');
  EXPECT_FALSE(CronFormatLatch(latch, nullptr, 64));
  // Exactly the room needed: 21 characters and the terminator.
  EXPECT_TRUE(CronFormatLatch(latch, text, 22));
  EXPECT_STREQ(text, "0 5 9 4 3 3 2008 64 7");
  EXPECT_FALSE(CronFormatLatch(latch, text, 21));
}

std::vector<int> Numbers(const CronLatch &l) {
  return {l.mask, l.time.minute, l.time.hour, l.time.day, l.time.month,
          l.time.weekday, l.time.year, l.time.dayOfYear, l.time.second};
}

TEST(CronLatchTest, UnreadableNumbersCountAsZero) {
  using N = std::vector<int>;
  EXPECT_EQ(Numbers(CronParseLatch(nullptr)), N(9, 0));
  EXPECT_EQ(Numbers(CronParseLatch("")), N(9, 0));
  EXPECT_EQ(Numbers(CronParseLatch("1 2 3")), (N{1, 2, 3, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Numbers(CronParseLatch("5 x 7 8 9")), (N{5, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Numbers(CronParseLatch("  -1\t+2\n3 4 5 6 7 8 9 10")), (N{-1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(Numbers(CronParseLatch("1 2-3")), (N{1, 2, -3, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Numbers(CronParseLatch("99999999999 1 2")), N(9, 0));
  EXPECT_EQ(Numbers(CronParseLatch("1 2147483648 3")), (N{1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Numbers(CronParseLatch("- 1")), N(9, 0));
}

TEST(CronLatchTest, OnlyTheFirst127CharactersAreRead) {
  std::string fits = std::string(122, ' ') + "12 34";  // ends at character 127
  EXPECT_EQ(Numbers(CronParseLatch(fits.c_str()))[1], 34);
  std::string cut = std::string(123, ' ') + "12 34";   // the 4 is character 128
  std::vector<int> read = Numbers(CronParseLatch(cut.c_str()));
  EXPECT_EQ(read[0], 12);
  EXPECT_EQ(read[1], 3);
  std::string far = std::string(100000, ' ') + "5";
  EXPECT_EQ(Numbers(CronParseLatch(far.c_str()))[0], 0);
}

const Clock kMonday{2008, 3, 3, 0, 0, 0};

TEST(CronEvaluateTest, DailyAtNoon) {
  Script script("0 12");
  Clock from{2008, 3, 3, 0, 0, 7};
  EXPECT_EQ(script.Run(from, Clock{2008, 3, 6, 0, 0, 0}, 20),
            (Firings{"2008-03-03 12:00:07", "2008-03-04 12:00:07", "2008-03-05 12:00:07"}));
}

TEST(CronEvaluateTest, EveryMinuteInEveryForm) {
  for (const char *spec : {"*", "* *", "* * * * *"}) {
    Script script(spec);
    Firings firings = script.Run(Clock{2008, 3, 3, 23, 30, 0}, Clock{2008, 3, 4, 0, 30, 0}, 20);
    ASSERT_EQ(firings.size(), 60u) << spec;
    EXPECT_EQ(firings.front(), "2008-03-03 23:30:00") << spec;
    EXPECT_EQ(firings[30], "2008-03-04 00:00:00") << spec;
    EXPECT_EQ(firings.back(), "2008-03-04 00:29:00") << spec;
    for (const std::string &f : firings)
      EXPECT_EQ(f.substr(17), "00") << spec << " fired late at " << f;
  }
}

TEST(CronEvaluateTest, StepsFireAsCronFiresThem) {
  Script quarters("*/15 * * * *");
  EXPECT_EQ(quarters.Run(Clock{2008, 3, 3, 9, 50, 0}, Clock{2008, 3, 3, 10, 50, 0}, 20),
            (Firings{"2008-03-03 10:00:00", "2008-03-03 10:15:00", "2008-03-03 10:30:00", "2008-03-03 10:45:00"}));
  Script sixHours("0 */6");
  EXPECT_EQ(sixHours.Run(Clock{2008, 3, 3, 1, 0, 0}, Clock{2008, 3, 4, 1, 0, 0}, 60),
            (Firings{"2008-03-03 06:00:00", "2008-03-03 12:00:00", "2008-03-03 18:00:00", "2008-03-04 00:00:00"}));
  Script everyTenthDay("0 0 */10");
  EXPECT_EQ(everyTenthDay.Run(Clock{2008, 1, 1, 0, 0, 0}, Clock{2008, 2, 2, 0, 0, 0}, 3600),
            (Firings{"2008-01-01 00:00:00", "2008-01-11 00:00:00", "2008-01-21 00:00:00", "2008-01-31 00:00:00",
                     "2008-02-01 00:00:00"}));
}

TEST(CronEvaluateTest, TwoChecksInOneMinuteFireOnce) {
  Script script("* * * * *");
  EXPECT_TRUE(script.Check(Clock{2008, 3, 3, 10, 0, 5}));
  EXPECT_FALSE(script.Check(Clock{2008, 3, 3, 10, 0, 50}));
  EXPECT_TRUE(script.Check(Clock{2008, 3, 3, 10, 1, 0}));
}

TEST(CronEvaluateTest, OnceInEveryNineOClockHour) {
  Script script("_ 9");
  EXPECT_EQ(script.Run(Clock{2008, 3, 3, 8, 30, 0}, Clock{2008, 3, 5, 10, 0, 0}, 60),
            (Firings{"2008-03-03 09:00:00", "2008-03-04 09:00:00", "2008-03-05 09:00:00"}));
}

TEST(CronEvaluateTest, WeekdayMornings) {
  Script script("30 8 * * 2-6");
  EXPECT_EQ(script.Run(kMonday, Clock{2008, 3, 17, 0, 0, 0}, 60),
            (Firings{"2008-03-03 08:30:00", "2008-03-04 08:30:00", "2008-03-05 08:30:00", "2008-03-06 08:30:00",
                     "2008-03-07 08:30:00", "2008-03-10 08:30:00", "2008-03-11 08:30:00", "2008-03-12 08:30:00",
                     "2008-03-13 08:30:00", "2008-03-14 08:30:00"}));
}

TEST(CronEvaluateTest, ListsAndRangesOfMinutes) {
  Script halves("0,30 * * * *");
  Firings firings = halves.Run(kMonday, Clock{2008, 3, 4, 0, 0, 0}, 30);
  ASSERT_EQ(firings.size(), 48u);
  for (size_t i = 0; i < firings.size(); ++i) {
    char hour[24];
    snprintf(hour, sizeof hour, "%02zu", i / 2);
    EXPECT_EQ(firings[i], std::string("2008-03-03 ") + hour + (i % 2 ? ":30:00" : ":00:00"));
  }

  Script range("5-10 * * * *");
  firings = range.Run(Clock{2008, 3, 3, 10, 0, 0}, Clock{2008, 3, 3, 13, 0, 0}, 15);
  ASSERT_EQ(firings.size(), 18u);
  EXPECT_EQ(firings[0], "2008-03-03 10:05:00");
  EXPECT_EQ(firings[5], "2008-03-03 10:10:00");
  EXPECT_EQ(firings[6], "2008-03-03 11:05:00");
  EXPECT_EQ(firings[17], "2008-03-03 12:10:00");
}

TEST(CronEvaluateTest, MidnightOnNewYearsDay) {
  Script script("0 0 1 1");
  EXPECT_EQ(script.Run(Clock{2007, 12, 31, 23, 0, 0}, Clock{2008, 1, 1, 1, 0, 0}, 30),
            (Firings{"2008-01-01 00:00:00"}));
  EXPECT_EQ(script.Run(Clock{2008, 1, 31, 23, 0, 0}, Clock{2008, 2, 1, 1, 0, 0}, 30), Firings{});
}

TEST(CronEvaluateTest, OnceInTheYear) {
  Script script("_ _ _ _ _ 2008");
  EXPECT_EQ(script.Run(Clock{2007, 12, 31, 23, 0, 0}, Clock{2009, 1, 1, 1, 0, 0}, 600),
            (Firings{"2008-01-01 00:00:00"}));
}

TEST(CronEvaluateTest, OnTheHundredthDayOfEachYear) {
  Script script("_ _ _ _ _ _ 100");
  EXPECT_EQ(script.Run(Clock{2008, 1, 1, 0, 30, 0}, Clock{2010, 1, 1, 0, 0, 0}, 3600),
            (Firings{"2008-04-09 00:30:00", "2009-04-10 00:30:00"}));
}

TEST(CronEvaluateTest, EverySecondOnceAtItsFirstCheck) {
  Script script("* * * * * * * *");
  Firings firings = script.Run(Clock{2008, 3, 3, 10, 59, 55}, Clock{2008, 3, 3, 11, 0, 5}, 1, 2);
  ASSERT_EQ(firings.size(), 10u);
  EXPECT_EQ(firings[0], "2008-03-03 10:59:55");
  EXPECT_EQ(firings[5], "2008-03-03 11:00:00");
  EXPECT_EQ(firings[9], "2008-03-03 11:00:04");
}

TEST(CronEvaluateTest, SpecificationsThatNeverFire) {
  for (const char *spec : {"_ _ _", "0 24", "* * * * 0", "59-0", "60", "* * 30 2", "0/5"}) {
    Script script(spec);
    EXPECT_EQ(script.Run(kMonday, Clock{2008, 3, 5, 0, 0, 0}, 60), Firings{}) << spec;
  }
}

TEST(CronEvaluateTest, ResetFiresAtEveryMatchingCheck) {
  Script script("* * * * *");
  Clock t{2008, 3, 3, 10, 0, 5};
  EXPECT_TRUE(script.Check(t, true));
  EXPECT_TRUE(script.Check(t, true));
  Advance(t, 20);
  EXPECT_TRUE(script.Check(t, true));
  EXPECT_FALSE(script.Check(t));
  Script never("0 24");
  EXPECT_FALSE(never.Check(t, true));
}

TEST(CronEvaluateTest, ClockSetBackDoesNotRepeatTheSameUnit) {
  Script hourly("_ 9");
  EXPECT_TRUE(hourly.Check(Clock{2008, 3, 3, 9, 40, 0}));
  EXPECT_FALSE(hourly.Check(Clock{2008, 3, 3, 9, 5, 0}));   // set back within the hour
  EXPECT_FALSE(hourly.Check(Clock{2008, 3, 3, 8, 59, 0}));  // further back
  EXPECT_FALSE(hourly.Check(Clock{2008, 3, 3, 9, 0, 0}));
  EXPECT_TRUE(hourly.Check(Clock{2008, 3, 4, 9, 0, 0}));

  // Back by a whole day: a different day is a different unit.
  Script noon("0 12");
  EXPECT_TRUE(noon.Check(Clock{2008, 3, 4, 12, 0, 10}));
  EXPECT_FALSE(noon.Check(Clock{2008, 3, 4, 12, 0, 2}));
  EXPECT_TRUE(noon.Check(Clock{2008, 3, 3, 12, 0, 30}));
}

TEST(CronEvaluateTest, ClockSetForwardMissesTheUnit) {
  Script noon("0 12");
  EXPECT_FALSE(noon.Check(Clock{2008, 3, 3, 11, 59, 30}));
  EXPECT_FALSE(noon.Check(Clock{2008, 3, 3, 12, 1, 0}));
  EXPECT_TRUE(noon.Check(Clock{2008, 3, 4, 12, 0, 0}));
}

TEST(CronEvaluateTest, FirstCheckFiresEvenLateInTheUnit) {
  Script hourly("_ 9");
  EXPECT_TRUE(hourly.Check(Clock{2008, 3, 3, 9, 59, 59}));
  Script daily("_ _ 3");
  EXPECT_TRUE(daily.Check(Clock{2008, 3, 3, 23, 59, 0}));
  EXPECT_FALSE(daily.Check(Clock{2008, 3, 3, 23, 59, 30}));
}

TEST(CronEvaluateTest, SharedLatchMakesEachMaskResetTheOther) {
  CronTime now = CronTimeFromCalendar(2008, 3, 3, 10, 0, 0);
  CronLatch latch = CronFreshLatch(now);
  bool fired = false;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(CronEvaluate("*", now, latch, &fired));
    EXPECT_TRUE(fired);
    EXPECT_EQ(latch.mask, 0x80);
    ASSERT_TRUE(CronEvaluate("_ *", now, latch, &fired));
    EXPECT_TRUE(fired);
    EXPECT_EQ(latch.mask, 0x40);
  }
  // The same mask compares the components.
  ASSERT_TRUE(CronEvaluate("_ 10", now, latch, &fired));
  EXPECT_FALSE(fired);
}

TEST(CronEvaluateTest, WeekdayUnitIsTheDay) {
  Script tuesdays("_ _ _ _ 3");
  Firings firings = tuesdays.Run(kMonday, Clock{2008, 3, 19, 0, 0, 0}, 1800);
  EXPECT_EQ(firings, (Firings{"2008-03-04 00:00:00", "2008-03-11 00:00:00", "2008-03-18 00:00:00"}));
}

TEST(CronEvaluateTest, NoMatchLeavesTheLatchAlone) {
  CronTime now = CronTimeFromCalendar(2008, 3, 3, 13, 0, 0);
  CronLatch latch;
  latch.mask = 0xC0;
  latch.time = CronTimeFromCalendar(2008, 3, 2, 12, 0, 9);
  CronLatch before = latch;
  bool fired = true;
  ASSERT_TRUE(CronEvaluate("0 12", now, latch, &fired));
  EXPECT_FALSE(fired);
  EXPECT_EQ(Numbers(latch), Numbers(before));
  ASSERT_TRUE(CronEvaluate("_ _ _", now, latch, &fired));
  EXPECT_FALSE(fired);
  EXPECT_EQ(Numbers(latch), Numbers(before));

  ASSERT_TRUE(CronEvaluate("0 13", now, latch, &fired));
  EXPECT_TRUE(fired);
  EXPECT_EQ(Numbers(latch), Numbers(CronLatch{0xC0, now}));
}

TEST(CronEvaluateTest, UnknownComponentsMatchOnlyAStar) {
  CronTime now = CronTimeFromCalendar(2008, 3, 3, 10, 0, 0);
  now.weekday = -1;
  CronLatch latch = CronFreshLatch(now);
  bool fired = false;
  ASSERT_TRUE(CronEvaluate("* * * * 2", now, latch, &fired));
  EXPECT_FALSE(fired);
  ASSERT_TRUE(CronEvaluate("* * * * *", now, latch, &fired));
  EXPECT_TRUE(fired);
  EXPECT_EQ(latch.time.weekday, -1);
}

TEST(CronEvaluateTest, MalformedSpecificationsAreRefused) {
  CronTime now = CronTimeFromCalendar(2008, 3, 3, 10, 0, 0);
  CronLatch latch;
  latch.mask = 0x80;
  latch.time = CronTimeFromCalendar(2008, 3, 3, 9, 0, 0);
  const CronLatch before = latch;
  std::string hundred;
  for (int i = 0; i < 100; ++i)
    hundred += "* ";
  for (const char *spec : {"", " \t ", "* * * * * * * * *", hundred.c_str()}) {
    bool fired = true;
    EXPECT_FALSE(CronEvaluate(spec, now, latch, &fired)) << '"' << spec << '"';
    EXPECT_FALSE(fired) << spec;
    EXPECT_EQ(Numbers(latch), Numbers(before)) << spec;
  }
  bool fired = true;
  EXPECT_FALSE(CronEvaluate(nullptr, now, latch, &fired));
  EXPECT_FALSE(fired);
  EXPECT_TRUE(CronEvaluate("*", now, latch, nullptr));
  EXPECT_EQ(latch.mask, 0x80);
  EXPECT_EQ(latch.time.hour, 10);
}

struct ScheduleCase {
  const char *spec;
  uint32_t jobTime;
  uint32_t daysOfMonth;
  uint8_t daysOfWeek;
};

TEST(CompileCronSpecTest, ConvertsToTimeAndDaySets) {
  const ScheduleCase cases[] = {
      {"30 2 * _ 2-6", 9000000u, 0x7FFFFFFFu, 0x1F},
      {"0 3 * _ *", 10800000u, 0x7FFFFFFFu, 0x7F},
      {"0 3 * _ * _ _ 30", 10830000u, 0x7FFFFFFFu, 0x7F},
      {"0 3 * _ * _", 10800000u, 0x7FFFFFFFu, 0x7F},
      {"15 22 1,15,31 _ _", 80100000u, 0x40004001u, 0x00},
      {"0 0 _ _ 1,7", 0u, 0u, 0x60},
      {"0 0 _ _ 2", 0u, 0u, 0x01},
      {"0 0 10-12 _ 0,8", 0u, 0x00000E00u, 0x00},
      {"59 23 * _ * _ _ 59", 86399000u, 0x7FFFFFFFu, 0x7F},
      {"08 09 * _ *", 32880000u, 0x7FFFFFFFu, 0x7F},
      {"  5 1\t*  _5 *  ", 3900000u, 0x7FFFFFFFu, 0x7F},
      {"0 3 */2 _ *", 10800000u, 0x55555555u, 0x7F},      // odd days, as cron counts from 1
      {"0 3 _ _ 2-6/2", 10800000u, 0u, 0x15},             // Monday, Wednesday, Friday
  };
  for (const ScheduleCase &c : cases) {
    CronSchedule schedule{1, 1, 1};
    bool badCount = true;
    ASSERT_TRUE(CompileCronSpec(c.spec, schedule, &badCount)) << c.spec;
    EXPECT_FALSE(badCount) << c.spec;
    EXPECT_EQ(schedule.JobTime, c.jobTime) << c.spec;
    EXPECT_EQ(schedule.DaysOfMonth, c.daysOfMonth) << c.spec;
    EXPECT_EQ(schedule.DaysOfWeek, c.daysOfWeek) << c.spec;
  }
}

TEST(CompileCronSpecTest, RefusesWhatAJobCannotExpress) {
  for (const char *spec : {
           "0 3 * * *",           // a month is given
           "0 3 * 1 *",
           "0 3 * _ * _ _ _",     // a present second must be a number
           "0 3 * _ * 2008",      // a year is given
           "0 3 * _ * _ 100",     // a day of the year is given
           "* 3 * _ *",           // minute and hour must be numbers
           "*/5 3 * _ *",         // steps of minutes or hours are no job time
           "0 */2 * _ *",
           "0 _ * _ *",
           "0 24 * _ *",          // out of range
           "60 0 * _ *",
           "0 0 * _ * _ _ 60",
           "0 99999999999999999999 * _ *",
           "0,30 3 * _ *",        // one time of day only
           "0-5 3 * _ *",
           "0 3,4 * _ *",
           "0 3 * _ * _ _ 1-2",
           "5x 3 * _ *",
           "0 3 * \"\" *",
           "",
       }) {
    CronSchedule schedule{1, 1, 1};
    bool badCount = true;
    EXPECT_FALSE(CompileCronSpec(spec, schedule, &badCount)) << spec;
    EXPECT_FALSE(badCount) << spec;
    EXPECT_EQ(schedule.JobTime, 0u) << spec;
    EXPECT_EQ(schedule.DaysOfMonth, 0u) << spec;
    EXPECT_EQ(schedule.DaysOfWeek, 0u) << spec;
  }
  CronSchedule schedule;
  EXPECT_FALSE(CompileCronSpec(nullptr, schedule));
}

TEST(CompileCronSpecTest, FieldCountOutsideFiveToEightIsBadFormat) {
  for (const char *spec : {"0 3 * _", "0", " ", "0 3 * _ * _ _ 0 9", "0 3 * _ * _ _ 0 9 9 9"}) {
    CronSchedule schedule;
    bool badCount = false;
    EXPECT_FALSE(CompileCronSpec(spec, schedule, &badCount)) << spec;
    EXPECT_TRUE(badCount) << spec;
  }
}

} // namespace

namespace {

// CronLastDue between two texts; "" when nothing fell due.
std::string LastDue(const char *spec, const char *after, const char *now) {
  CronTime first, last, due;
  if (!CronParseTime(after, &first) || !CronParseTime(now, &last))
    return "bad time";
  if (!CronLastDue(spec, first, last, &due))
    return "";
  char text[24];
  CronFormatTime(due, text, sizeof text);
  return text;
}

} // namespace

// The catch-up of declared jobs: which due time passed between two checks,
// as a schedule ticking every minute (or second) would have met it.
TEST(CronDueTest, LastDueTimeBetweenTwoChecks) {
  EXPECT_EQ("2026-12-09 02:00:00", LastDue("0 2 * * *", "2026-12-06 01:00:00", "2026-12-09 10:00:00"))
      << "three missed nights give the last one alone";
  EXPECT_EQ("", LastDue("0 2 * * *", "2026-12-09 02:00:00", "2026-12-09 23:59:59")) << "already run";
  EXPECT_EQ("", LastDue("_ 2", "2026-12-09 02:00:00", "2026-12-09 02:30:00"))
      << "an hour-level specification fires once in its hour, the latch primed at the first time";
  EXPECT_EQ("2026-12-09 02:00:00", LastDue("_ 2", "2026-12-09 01:59:00", "2026-12-09 02:30:00"));
  EXPECT_EQ("2026-12-09 10:10:00", LastDue("*/5 * * * *", "2026-12-09 10:00:00", "2026-12-09 10:12:30"));
  EXPECT_EQ("2026-12-09 10:01:30", LastDue("_ _ _ _ _ _ _ 30", "2026-12-09 10:00:00", "2026-12-09 10:01:45"))
      << "a second field: checked every second";
  EXPECT_EQ("2027-01-01 00:00:00", LastDue("0 0 1 * *", "2026-12-31 23:00:00", "2027-01-01 00:05:00"));
  EXPECT_EQ("2028-02-29 12:00:00", LastDue("0 12 29 2 *", "2028-02-28 00:00:00", "2028-03-01 00:00:00"));
  EXPECT_EQ("2026-03-02 09:00:00", LastDue("0 9 * * 2", "2026-02-20 00:00:00", "2026-03-03 08:00:00"))
      << "weekday 2 is Monday";
  EXPECT_EQ("", LastDue("0 2 * * *", "2026-12-09 10:00:00", "2026-12-09 09:00:00")) << "backwards";
  EXPECT_EQ("", LastDue("1 2 3 4 5 6 7 8 9", "2026-12-01 00:00:00", "2026-12-09 00:00:00")) << "nine fields";
  EXPECT_EQ("bad time", LastDue("0 2", "2026-02-30 00:00:00", "2026-12-09 00:00:00"));
  EXPECT_EQ("bad time", LastDue("0 2", "2026-12-09 00:00", "2026-12-09 00:00:00"));

  CronTime after, until, next;
  ASSERT_TRUE(CronParseTime("2026-12-09 02:00:00", &after));
  ASSERT_TRUE(CronParseTime("2027-01-09 02:00:00", &until));
  ASSERT_TRUE(CronNextDue("0 2 * * *", after, until, &next)) << "the next night";
  EXPECT_EQ(10, next.day);
  ASSERT_TRUE(CronNextDue("_ _ _ _ _ _ _ 30", after, until, &next)) << "the bound cuts the end, not the start";
  EXPECT_EQ(2, next.hour);
  EXPECT_EQ(30, next.second);
}
