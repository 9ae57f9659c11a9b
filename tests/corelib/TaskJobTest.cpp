// A network job as a Task Scheduler task without the platform: the job's
// fields into a task definition and back for every kind of day mask, the
// definition a scheduler gives back without triggers, task numbers, the
// command's program word, "runs today" and the last result.
#include <gtest/gtest.h>

#include <string>

#include "TaskJob.h"

namespace {

const JobClock kNow = {2026, 12, 9, 10, 15, 7}; // a Wednesday

TaskJobFields Job(uint32_t jobTime, uint32_t daysOfMonth, uint8_t daysOfWeek, uint8_t flags, const wchar_t *command) {
  TaskJobFields job;
  job.jobTime = jobTime;
  job.daysOfMonth = daysOfMonth;
  job.daysOfWeek = daysOfWeek;
  job.flags = flags;
  job.command = command;
  EXPECT_TRUE(FirstStart(jobTime, daysOfMonth || daysOfWeek, kNow, job.start));
  return job;
}

size_t Count(const std::wstring &text, const std::wstring &part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

// Drops the description, as a scheduler that keeps only triggers would not;
// and, the other way round, drops the triggers, action and principal, as
// Wine's does.
std::wstring Without(std::wstring xml, const std::wstring &open, const std::wstring &close) {
  size_t a = xml.find(open), b = xml.find(close);
  if (a != std::wstring::npos && b != std::wstring::npos)
    xml.erase(a, b + close.size() - a);
  return xml;
}

std::wstring OnlyTriggers(const std::wstring &xml) { return Without(xml, L"<Description>", L"</Description>"); }

std::wstring OnlyRecord(const std::wstring &xml) {
  std::wstring out = Without(xml, L"<Triggers>", L"</Triggers>");
  out = Without(out, L"<Principals>", L"</Principals>");
  return Without(out, L"<Exec>", L"</Exec>");
}

struct MaskCase {
  const char *name;
  uint32_t jobTime, daysOfMonth;
  uint8_t daysOfWeek;
  const wchar_t *trigger; // the trigger element the definition must hold
  size_t triggers;
};

TEST(TaskJobMapping, EveryDayMaskGoesIntoTriggersAndComesBack) {
  const MaskCase cases[] = {
      {"no days, later today", 11 * 3600000u, 0, 0, L"<TimeTrigger>", 1},
      {"no days, midnight", 0, 0, 0, L"<TimeTrigger>", 1},
      {"no days, 23:59:59", 86399000u, 0, 0, L"<TimeTrigger>", 1},
      {"one day of month", 0, 1u << 14, 0, L"<ScheduleByMonth>", 1},
      {"day 31 at 23:59:59", 86399000u, 1u << 30, 0, L"<ScheduleByMonth>", 1},
      {"several weekdays", 9000000u, 0, 0x15, L"<ScheduleByWeek>", 1},
      {"all weekdays", 9000000u, 0, 0x7F, L"<ScheduleByWeek>", 1},
      {"both masks", 3723000u, 0x40000001u, 0x41, L"<CalendarTrigger>", 2},
      {"every day of month", 60000u, 0x7FFFFFFF, 0, L"<ScheduleByMonth>", 1},
  };
  for (const MaskCase &c : cases) {
    for (uint8_t flags : {uint8_t(0), kJobNonInteractive}) {
      TaskJobFields job = Job(c.jobTime, c.daysOfMonth, c.daysOfWeek, flags, L"cmd /c echo \"a & b\" <x>");
      std::wstring xml = TaskXml(job);
      EXPECT_EQ(c.triggers, Count(xml, c.trigger)) << c.name;
      EXPECT_EQ(std::wstring::npos, xml.find(L"\"a & b\"")) << "escaped: " << c.name;
      for (const std::wstring &form : {OnlyTriggers(xml), OnlyRecord(xml), xml}) {
        TaskJobFields back;
        ASSERT_TRUE(ReadTaskXml(form, back)) << c.name;
        EXPECT_EQ(c.jobTime, back.jobTime) << c.name;
        EXPECT_EQ(c.daysOfMonth, back.daysOfMonth) << c.name;
        EXPECT_EQ(c.daysOfWeek, back.daysOfWeek) << c.name;
        EXPECT_EQ(flags, back.flags) << c.name;
        EXPECT_EQ(job.command, back.command) << c.name;
        EXPECT_EQ(job.start.day, back.start.day) << c.name;
      }
    }
  }
}

TEST(TaskJobMapping, MarkupInTheCommandComesBackExactly) {
  // What a definition must escape, an entity's own text, and a tab that
  // parts the program from its arguments.
  const std::wstring command = L"cmd\t/c echo a&b <c> ]]> &lt;d&gt; &#65; \"e\" 'f'";
  TaskJobFields job = Job(0, 0, 0x04, 0, command.c_str());
  std::wstring xml = TaskXml(job);
  EXPECT_EQ(std::wstring::npos, xml.find(L"]]>")) << "no character data may hold it";
  EXPECT_EQ(std::wstring::npos, xml.find(L"<c>"));
  // Windows keeps the whole definition, Wine only the description.
  for (const std::wstring &form : {xml, OnlyRecord(xml)}) {
    TaskJobFields back;
    ASSERT_TRUE(ReadTaskXml(form, back));
    EXPECT_EQ(command, back.command);
  }
  // An action changed in Task Scheduler since is what runs: it wins.
  std::wstring edited = xml;
  size_t at = edited.find(L"<Command>cmd</Command>");
  ASSERT_NE(std::wstring::npos, at);
  edited.replace(at, 22, L"<Command>pwsh</Command>");
  TaskJobFields back;
  ASSERT_TRUE(ReadTaskXml(edited, back));
  EXPECT_EQ(L"pwsh /c echo a&b <c> ]]> &lt;d&gt; &#65; \"e\" 'f'", back.command);

  // A record of an older version holds the command as it was given.
  ASSERT_TRUE(ReadTaskXml(L"<Description>Quillmoth network job: JobTime=5 DaysOfMonth=0x0 DaysOfWeek=0x1 Flags=0x0 "
                          L"Command=echo 100%25 &amp; more</Description>",
                          back));
  EXPECT_EQ(L"echo 100%25 & more", back.command);

  // What XML 1.0 cannot carry at all, which no definition may be made of.
  EXPECT_EQ(std::wstring::npos, FirstCharacterXmlCannotHold(command + L"\n\r\x7F\xD7FF\xE000\xFFFD\xD83D\xDE00"));
  for (const wchar_t *unfit : {L"\x01", L"\x08", L"\x0B", L"\x1F", L"\xFFFE", L"\xFFFF", L"\xD83D", L"\xDE00"})
    EXPECT_EQ(4u, FirstCharacterXmlCannotHold(std::wstring(L"echo") + unfit + L"x")) << static_cast<unsigned>(unfit[0]);
}

TEST(TaskJobMapping, WeekdaysAndDaysAreNamedAsTaskSchedulerNamesThem) {
  // AT weekdays begin with Monday (bit 0) and end with Sunday (bit 6).
  std::wstring xml = TaskXml(Job(0, (1u << 0) | (1u << 30), 0x41, 0, L"x"));
  EXPECT_NE(std::wstring::npos, xml.find(L"<DaysOfWeek><Monday /><Sunday /></DaysOfWeek>"));
  EXPECT_NE(std::wstring::npos, xml.find(L"<DaysOfMonth><Day>1</Day><Day>31</Day></DaysOfMonth>"));
  EXPECT_EQ(12u, Count(xml.substr(xml.find(L"<Months>")), L" />"));
  EXPECT_NE(std::wstring::npos, xml.find(L"<StartBoundary>2026-12-09T00:00:00</StartBoundary>"));
  EXPECT_NE(std::wstring::npos, xml.find(L"<LogonType>InteractiveToken</LogonType>"));
  EXPECT_NE(std::wstring::npos, TaskXml(Job(0, 0, 1, kJobNonInteractive, L"x")).find(L"<UserId>S-1-5-18</UserId>"));
  // A daily trigger, which we never write, reads as every weekday.
  std::wstring daily = L"<Task><Triggers><CalendarTrigger><StartBoundary>2026-01-02T07:00:00+01:00</StartBoundary>"
                       L"<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger></Triggers>"
                       L"<Actions><Exec><Command>C:\\Program Files\\x.exe</Command></Exec></Actions></Task>";
  TaskJobFields back;
  ASSERT_TRUE(ReadTaskXml(daily, back));
  EXPECT_EQ(7u * 3600000u, back.jobTime);
  EXPECT_EQ(0x7F, back.daysOfWeek);
  EXPECT_EQ(L"\"C:\\Program Files\\x.exe\"", back.command);
  EXPECT_EQ(kJobNonInteractive, back.flags) << "no principal given: the scheduler's own account";
}

TEST(TaskJobMapping, NoDaysRunsAtTheNextOccurrenceOfTheTime) {
  JobClock start;
  ASSERT_TRUE(FirstStart(10 * 3600000u + 15 * 60000u + 7000u, false, kNow, start)) << "this very second";
  EXPECT_EQ(9, start.day);
  ASSERT_TRUE(FirstStart(10 * 3600000u + 15 * 60000u + 6000u, false, kNow, start));
  EXPECT_EQ(10, start.day) << "a second ago: tomorrow";
  ASSERT_TRUE(FirstStart(0, false, JobClock{2026, 12, 31, 23, 59, 59}, start));
  EXPECT_EQ(2027, start.year);
  EXPECT_EQ(1, start.month);
  EXPECT_EQ(1, start.day);
  ASSERT_TRUE(FirstStart(86399000u, false, JobClock{2024, 2, 28, 23, 59, 59}, start));
  EXPECT_EQ(28, start.day);
  ASSERT_TRUE(FirstStart(0, true, kNow, start));
  EXPECT_EQ(9, start.day) << "days: the trigger starts today";
  EXPECT_FALSE(FirstStart(86400000u, false, kNow, start)) << "a day or more is no time of day";
  EXPECT_FALSE(FirstStart(0, false, JobClock{2026, 2, 29, 0, 0, 0}, start));
}

// A job without days goes once it has run: its trigger ends (here across
// the year's end) and the expired task is deleted at once. A job with days
// never expires.
TEST(TaskJobMapping, AJobWithoutDaysExpiresAndIsDeleted) {
  TaskJobFields once = Job(0, 0, 0, 0, L"cmd /c once");
  once.start = JobClock{2026, 12, 31, 23, 58, 0};
  std::wstring xml = TaskXml(once);
  EXPECT_NE(std::wstring::npos, xml.find(L"<StartBoundary>2026-12-31T23:58:00</StartBoundary>\r\n      "
                                         L"<EndBoundary>2027-01-01T00:03:00</EndBoundary>"))
      << "ends a few minutes after its start";
  EXPECT_EQ(1u, Count(xml, L"<DeleteExpiredTaskAfter>PT0S</DeleteExpiredTaskAfter>"));
  TaskJobFields back;
  ASSERT_TRUE(ReadTaskXml(xml, back));
  EXPECT_EQ(31, back.start.day) << "the start, not the end, is the job's";
  std::wstring weekly = TaskXml(Job(0, 0, 0x7F, 0, L"cmd /c weekly"));
  EXPECT_EQ(0u, Count(weekly, L"EndBoundary") + Count(weekly, L"DeleteExpiredTaskAfter"));
}

TEST(TaskJobMapping, RunsTodayFollowsTheTriggerAndTheServerClock) {
  const uint32_t later = 11 * 3600000u, earlier = 9 * 3600000u;
  EXPECT_TRUE(RunsToday(Job(later, 0, 0, 0, L"x"), kNow));
  EXPECT_FALSE(RunsToday(Job(earlier, 0, 0, 0, L"x"), kNow)) << "starts tomorrow";
  EXPECT_TRUE(RunsToday(Job(later, 0, 1u << 2, 0, L"x"), kNow)) << "Wednesday";
  EXPECT_FALSE(RunsToday(Job(later, 0, 1u << 3, 0, L"x"), kNow)) << "Thursday";
  EXPECT_TRUE(RunsToday(Job(later, 1u << 8, 0, 0, L"x"), kNow)) << "the 9th";
  EXPECT_FALSE(RunsToday(Job(later, 1u << 9, 1u << 3, 0, L"x"), kNow));
  EXPECT_TRUE(RunsToday(Job(later, 1u << 9, 1u << 2, 0, L"x"), kNow)) << "either mask";
  EXPECT_FALSE(RunsToday(Job(earlier, 0x7FFFFFFF, 0x7F, 0, L"x"), kNow)) << "time passed";
  EXPECT_TRUE(RunsToday(Job(86399000u, 0, 0x7F, 0, L"x"), JobClock{2026, 12, 9, 23, 59, 59}));
}

TEST(TaskJobMapping, TaskNumbersAndLastResults) {
  uint32_t n = 0;
  EXPECT_TRUE(ParseTaskNumber(L"At1", n));
  EXPECT_EQ(1u, n);
  EXPECT_TRUE(ParseTaskNumber(L"At2147483647", n));
  EXPECT_EQ(2147483647u, n);
  for (const wchar_t *other : {L"At", L"At0", L"At01", L"at1", L"At1x", L"At-1", L"At2147483648", L"Keep", L"At99999999999"})
    EXPECT_FALSE(ParseTaskNumber(other, n)) << "not ours";
  EXPECT_EQ(L"At42", TaskName(42));
  EXPECT_EQ(1u, LowestFreeNumber({}));
  EXPECT_EQ(3u, LowestFreeNumber({2, 1, 4}));
  EXPECT_EQ(1u, LowestFreeNumber({2, 3, 7000}));
  EXPECT_EQ(4u, LowestFreeNumber({3, 2, 1, 1}));

  EXPECT_FALSE(LastRunFailed(0));
  EXPECT_FALSE(LastRunFailed(0x41303)) << "has not run yet";
  EXPECT_FALSE(LastRunFailed(0x41301)) << "running";
  EXPECT_TRUE(LastRunFailed(1)) << "exit code 1";
  EXPECT_TRUE(LastRunFailed(static_cast<long>(0x80070002)));
}

TEST(TaskJobMapping, CommandLinesSplitIntoProgramAndArguments) {
  struct {
    const wchar_t *line, *program, *arguments, *joined;
  } cases[] = {
      {L"cmd /c echo qm", L"cmd", L"/c echo qm", L"cmd /c echo qm"},
      {L"  notepad.exe", L"notepad.exe", L"", L"notepad.exe"},
      {L"\"C:\\Program Files\\x.exe\" -a \"b c\"", L"C:\\Program Files\\x.exe", L"-a \"b c\"",
       L"\"C:\\Program Files\\x.exe\" -a \"b c\""},
      {L"\"C:\\unclosed quote", L"C:\\unclosed quote", L"", L"\"C:\\unclosed quote\""},
      {L"a\t\tb  c ", L"a", L"b  c ", L"a b  c "},
      {L",, notepad.exe,/a", L"notepad.exe", L"/a", L"notepad.exe /a"}, // commas part words as for CreateProcess
      {L"", L"", L"", L"\"\""},
  };
  for (const auto &c : cases) {
    std::wstring program, arguments;
    SplitCommandLine(c.line, program, arguments);
    EXPECT_EQ(c.program, program);
    EXPECT_EQ(c.arguments, arguments);
    EXPECT_EQ(c.joined, JoinCommandLine(program, arguments));
  }
}

TEST(TaskJobMapping, DefinitionsThatAreNoJobAreRefused) {
  TaskJobFields job;
  EXPECT_FALSE(ReadTaskXml(L"", job));
  EXPECT_FALSE(ReadTaskXml(L"<Task><Triggers/><Actions><Exec/></Actions></Task>", job));
  EXPECT_FALSE(ReadTaskXml(L"<Task><Triggers><TimeTrigger><StartBoundary>2026-02-30T00:00:00</StartBoundary>"
                           L"</TimeTrigger></Triggers></Task>",
                           job));
  // A record with a time of a day or more, or cut short, is no job.
  EXPECT_FALSE(ReadTaskXml(L"<Description>Quillmoth network job: JobTime=86400000 DaysOfMonth=0x0 DaysOfWeek=0x0 "
                           L"Flags=0x0 Command=x</Description>",
                           job));
  EXPECT_FALSE(ReadTaskXml(L"<Description>Quillmoth network job: JobTime=5 Command=x</Description>", job));
  EXPECT_FALSE(ReadTaskXml(L"<Task><Description>Quillmoth network job: JobTime=5", job));
  EXPECT_FALSE(ReadTaskXml(L"<Triggers><TimeTrigger><StartBoundary>2026-01-01T01:00:00</StartBoundary>", job));
}

} // namespace
