// What a job's fields mean without the platform: the next run of a job, the
// flags of a new job, the server argument and the steps of a job placed now.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "JobSchedule.h"

namespace {

struct Day {
  int year, month, day;
};

long long DayNumber(int year, int month, int day) {
  long long number = -1;
  EXPECT_TRUE(JobDayNumber(year, month, day, number)) << year << "-" << month << "-" << day;
  return number;
}

// The next run as calendar values, for readable expectations.
struct RunAt {
  NextRunForm form;
  Day date;
  uint32_t seconds;
};

RunAt Next(uint32_t jobTime, uint32_t daysOfMonth, uint8_t daysOfWeek, JobClock now) {
  NextRun run;
  EXPECT_TRUE(FindNextRun(jobTime, daysOfMonth, daysOfWeek, now, run));
  RunAt r;
  r.form = run.form;
  r.seconds = run.seconds;
  JobCalendarDate(run.day, r.date.year, r.date.month, r.date.day);
  return r;
}

void ExpectRun(const RunAt &run, NextRunForm form, Day date, int hour, int minute, const char *why) {
  EXPECT_EQ(static_cast<int>(form), static_cast<int>(run.form)) << why;
  EXPECT_EQ(date.year, run.date.year) << why;
  EXPECT_EQ(date.month, run.date.month) << why;
  EXPECT_EQ(date.day, run.date.day) << why;
  EXPECT_EQ(static_cast<uint32_t>(hour * 3600 + minute * 60), run.seconds) << why;
}

const uint32_t kAllDays = 0x7FFFFFFF;
uint32_t At(int hour, int minute) { return static_cast<uint32_t>((hour * 3600 + minute * 60) * 1000); }
uint32_t OnDays(std::initializer_list<int> days) {
  uint32_t mask = 0;
  for (int d : days)
    mask |= 1u << (d - 1);
  return mask;
}

const JobClock kTuesdayNine = {2026, 12, 8, 9, 0, 0}; // Tuesday

TEST(JobNextRunTest, WeekdaysAndDaysOfTheMonth) {
  // "30 2 * _ 2-6": Monday to Friday (and every day of the month) at 02:30.
  ExpectRun(Next(At(2, 30), kAllDays, 0x1F, kTuesdayNine), NextRunForm::kFull, {2026, 12, 9}, 2, 30,
            "past today's run: the next one is tomorrow, from either mask");
  ExpectRun(Next(At(2, 30), 0, 0x1F, kTuesdayNine), NextRunForm::kFull, {2026, 12, 9}, 2, 30,
            "weekdays only: Wednesday, not next Tuesday");
  ExpectRun(Next(At(2, 30), 0, 0x1F, {2026, 12, 8, 1, 0, 0}), NextRunForm::kFull, {2026, 12, 8}, 2, 30,
            "before today's run: today");
  ExpectRun(Next(At(9, 0), 0, 0x02, kTuesdayNine), NextRunForm::kFull, {2026, 12, 8}, 9, 0,
            "a run at this very second is not earlier than now");
  ExpectRun(Next(At(8, 0), 0, 0x02, kTuesdayNine), NextRunForm::kFull, {2026, 12, 15}, 8, 0,
            "today only, but passed: next week");
  ExpectRun(Next(At(10, 0), 0, 0x40, kTuesdayNine), NextRunForm::kFull, {2026, 12, 13}, 10, 0, "Sunday is the last bit");
  ExpectRun(Next(At(10, 0), 0, 0x01, {2026, 12, 13, 11, 0, 0}), NextRunForm::kFull, {2026, 12, 14}, 10, 0,
            "Monday after a Sunday");

  ExpectRun(Next(At(12, 0), OnDays({20}), 0x10, kTuesdayNine), NextRunForm::kFull, {2026, 12, 11}, 12, 0,
            "both masks: Friday the 11th comes before the 20th");
  ExpectRun(Next(At(12, 0), OnDays({9}), 0x10, kTuesdayNine), NextRunForm::kFull, {2026, 12, 9}, 12, 0,
            "both masks: the 9th comes before Friday");
  ExpectRun(Next(At(12, 0), OnDays({1, 31}), 0, {2026, 11, 15, 9, 0, 0}), NextRunForm::kFull, {2026, 12, 1}, 12, 0,
            "the earliest day of the mask wins, not the first bit after today");
  ExpectRun(Next(At(12, 0), OnDays({31}), 0, {2027, 2, 10, 9, 0, 0}), NextRunForm::kFull, {2027, 3, 31}, 12, 0,
            "a month without the day is skipped");
  ExpectRun(Next(At(12, 0), OnDays({29}), 0, {2027, 2, 1, 9, 0, 0}), NextRunForm::kFull, {2027, 3, 29}, 12, 0,
            "no 29 February in 2027");
  ExpectRun(Next(At(12, 0), OnDays({29}), 0, {2028, 2, 1, 9, 0, 0}), NextRunForm::kFull, {2028, 2, 29}, 12, 0,
            "2028 is a leap year");
  ExpectRun(Next(At(22, 0), OnDays({1}), 0, {2026, 12, 31, 23, 0, 0}), NextRunForm::kFull, {2027, 1, 1}, 22, 0,
            "across the year");
  ExpectRun(Next(At(8, 0), OnDays({8}), 0, kTuesdayNine), NextRunForm::kFull, {2027, 1, 8}, 8, 0,
            "today's day, passed: next month");
}

TEST(JobNextRunTest, MidnightAndJobsWithoutDays) {
  ExpectRun(Next(0, OnDays({1}), 0, kTuesdayNine), NextRunForm::kDateThenTime, {2027, 1, 1}, 0, 0,
            "a run at midnight has its time written out");
  ExpectRun(Next(0, 0, 0x20, kTuesdayNine), NextRunForm::kDateThenTime, {2026, 12, 12}, 0, 0, "Saturday at midnight");
  ExpectRun(Next(0, OnDays({12}), 0x20, kTuesdayNine), NextRunForm::kDateThenTime, {2026, 12, 12}, 0, 0,
            "both masks at midnight: written out as well");
  ExpectRun(Next(At(7, 0), 0, 0, kTuesdayNine), NextRunForm::kTodayThenTime, {2026, 12, 8}, 7, 0,
            "no day bits: today, also when 07:00 has passed");
  ExpectRun(Next(At(7, 0), 0x80000000u, 0x80, kTuesdayNine), NextRunForm::kTodayThenTime, {2026, 12, 8}, 7, 0,
            "bits beyond the 31 days and 7 weekdays are no days");
  RunAt late = Next(90000000u, 0, 0, kTuesdayNine); // 25 hours
  EXPECT_EQ(90000u, late.seconds) << "a job time past a day is kept whole for the time text";
  RunAt spill = Next(90000000u, 0, 0x02, kTuesdayNine);
  ExpectRun(spill, NextRunForm::kFull, {2026, 12, 9}, 1, 0, "a job time past a day lands on the next day");
}

TEST(JobNextRunTest, RefusesAClockThatIsNoDate) {
  NextRun run;
  for (JobClock bad : {JobClock{2026, 13, 1, 0, 0, 0}, JobClock{2027, 2, 29, 0, 0, 0}, JobClock{2026, 12, 8, 24, 0, 0},
                       JobClock{2026, 12, 8, 9, 60, 0}, JobClock{0, 1, 1, 0, 0, 0}, JobClock{2026, 12, 0, 0, 0, 0}})
    EXPECT_FALSE(FindNextRun(0, kAllDays, 0x7F, bad, run)) << bad.year << "-" << bad.month << "-" << bad.day;
}

TEST(JobDayNumberTest, CountsDaysOfTheAutomationDate) {
  EXPECT_EQ(0, DayNumber(1899, 12, 30));
  EXPECT_EQ(2, DayNumber(1900, 1, 1));
  EXPECT_EQ(36526, DayNumber(2000, 1, 1));
  EXPECT_EQ(-1, DayNumber(1899, 12, 29));
  long long previous = DayNumber(1600, 1, 1);
  for (long long n = previous + 1; n < DayNumber(2400, 12, 31); n += 13) {
    int y, m, d;
    JobCalendarDate(n, y, m, d);
    ASSERT_EQ(n, DayNumber(y, m, d)) << y << "-" << m << "-" << d;
  }
  long long number;
  EXPECT_FALSE(JobDayNumber(2026, 2, 29, number));
  EXPECT_FALSE(JobDayNumber(2026, 4, 31, number));
  EXPECT_FALSE(JobDayNumber(2026, 0, 1, number));
}

TEST(JobFieldsTest, FlagsServerAndSteps) {
  EXPECT_EQ(kJobNonInteractive, JobFlagsFor(0));
  EXPECT_EQ(0, JobFlagsFor(1)) << "bit 0 asks for an interactive job";
  EXPECT_EQ(kJobNonInteractive, JobFlagsFor(2)) << "no other bit is read";
  EXPECT_EQ(0, JobFlagsFor(-1));

  EXPECT_TRUE(IsLocalServer(nullptr));
  EXPECT_TRUE(IsLocalServer(""));
  EXPECT_TRUE(IsLocalServer("."));
  EXPECT_FALSE(IsLocalServer(".."));
  EXPECT_FALSE(IsLocalServer(" ."));
  EXPECT_FALSE(IsLocalServer("\\\\far"));

  uint32_t base = JobTimeOfDay({2026, 12, 8, 10, 15, 7});
  EXPECT_EQ(36907000u, base);
  EXPECT_EQ(36922000u, JobStepTime(base, 1));
  EXPECT_EQ(0xFFFFFFFFull + 15000ull * (kJobMaxSteps - 1), JobStepTime(0xFFFFFFFFu, kJobMaxSteps - 1))
      << "the last step does not wrap around";
}

// A server's wall clock comes from its own offset (minutes west of UTC),
// across a day's and a year's end both ways.
TEST(JobFieldsTest, ServerWallClockUsesTheServersOwnOffset) {
  auto wall = [](JobClock utc, long west) {
    JobClock c = {0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(ServerWallClock(utc, west, c)) << west;
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
    return std::string(text);
  };
  EXPECT_EQ("2026-12-08 15:45:07", wall({2026, 12, 8, 10, 15, 7}, -330)) << "UTC+5:30";
  EXPECT_EQ("2026-12-07 21:15:07", wall({2026, 12, 8, 2, 15, 7}, 300)) << "UTC-5, the day before";
  EXPECT_EQ("2027-01-01 13:59:59", wall({2026, 12, 31, 23, 59, 59}, -840)) << "UTC+14, into the new year";
  EXPECT_EQ("2024-02-29 23:00:00", wall({2024, 3, 1, 11, 0, 0}, 720)) << "UTC-12, back to a leap day";
  EXPECT_EQ("2026-12-08 10:15:07", wall({2026, 12, 8, 10, 15, 7}, 0));
  JobClock c;
  EXPECT_FALSE(ServerWallClock({2026, 12, 8, 10, 15, 7}, -1, c)) << "the answer's undefined zone";
  EXPECT_FALSE(ServerWallClock({2026, 12, 8, 10, 15, 7}, 12345, c));
  EXPECT_FALSE(ServerWallClock({2026, 2, 30, 10, 15, 7}, 0, c));
}

} // namespace
