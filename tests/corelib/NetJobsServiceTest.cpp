// The network job methods against Wine's own schedule service, which the
// fixture starts (the bench's wineserver is persistent, so the service lives
// between calls) and stops again: real jobs added, listed, read and deleted
// through the production call table, by the object and by a script that the
// program runs.
#include <gtest/gtest.h>

#include <windows.h>
#include <iostream>
#include <string>
#include <vector>

#include "Core.h"
#include "CoreModule.h"
#include "CoreNetJobs.h"
#include "HandleTable.h"
#include "RelayFixture.h"
#include "ScheduleService.h"
#include "WineTestSupport.h"

namespace {

enum { IDC_OUTPUT = 1003 };

class Text {
public:
  explicit Text(const wchar_t *text) : m_text(text ? SysAllocString(text) : nullptr) {}
  ~Text() { SysFreeString(m_text); }
  operator BSTR() const { return m_text; }
private:
  BSTR m_text;
};

std::string Take(BSTR text) {
  std::string out;
  for (UINT i = 0; text && i < SysStringLen(text); ++i)
    out += static_cast<char>(text[i]);
  SysFreeString(text);
  return out;
}

using qmtest::ScheduleServiceState;
using qmtest::SetScheduleService;
using qmtest::WineDiffers;

// APE_AT_ID_NOT_FOUND of the network scheduler (apperr.h, which MinGW lacks).
const DWORD kAtIdNotFound = 3806;

// Wine's schedule service loads a job from its file whenever it sees the file
// appear or change, and each load takes the next number: a new job is loaded
// again once its file is written, sometimes only after its add answered.
const char kWineRenumbers[] =
    "Wine's schedule service gives a job a new number when it sees the job's file change, also just after "
    "the add answered, so that number may name no job; Windows keeps the number NetScheduleJobAdd answered";
const char kWineListsZeros[] =
    "Wine's schedule service reads only the command back from a job's file and answers JobTime, the day "
    "masks and Flags as 0; Windows answers the job's schedule";
const char kWineKeepsDeleted[] =
    "Wine's schedule service drops a deleted job from its list only when it sees the job's file go, and of "
    "file changes it is told of together it sees only the first, so the job can stay listed without its file "
    "(deleting it again answers that the file is not there); Windows lists no deleted job";

// The notice of a deletion whose job file is not there.
std::string FileGone() { return "[NetScheduleJobDel: " + CoreErrorText(ERROR_FILE_NOT_FOUND) + "]"; }

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// The entry of a live job record, as the scheduler answered it.
AT_ENUM EntryOf(long handle) {
  AT_ENUM entry = {};
  HandleVisit(handle, HT_JOB, [](HandleRecord &record, void *context) {
    *static_cast<AT_ENUM *>(context) = *static_cast<AT_ENUM *>(record.payload);
  }, &entry);
  entry.Command = nullptr;
  return entry;
}

std::string Describe(const AT_ENUM &e) {
  char text[160];
  snprintf(text, sizeof text, "JobTime %lu, DaysOfMonth 0x%lX, DaysOfWeek 0x%X, Flags 0x%X",
           static_cast<unsigned long>(e.JobTime), static_cast<unsigned long>(e.DaysOfMonth), e.DaysOfWeek, e.Flags);
  return text;
}

bool AllZero(const AT_ENUM &e) { return e.JobTime == 0 && e.DaysOfMonth == 0 && e.DaysOfWeek == 0 && e.Flags == 0; }

// Whether the scheduler answered a job's schedule as it was added. Windows
// adds JOB_RUNS_TODAY to the job's own flags while the job's run of today is
// still ahead of the clock, which is read before and after the answer.
bool AnsweredAs(const AT_ENUM &e, DWORD jobTime, DWORD daysOfMonth, UCHAR daysOfWeek, UCHAR flags,
                const SYSTEMTIME &before, const SYSTEMTIME &after) {
  if (e.JobTime != jobTime || e.DaysOfMonth != daysOfMonth || e.DaysOfWeek != daysOfWeek)
    return false;
  for (const SYSTEMTIME *now : {&before, &after}) {
    int mondayFirst = (now->wDayOfWeek + 6) % 7;
    bool today = ((daysOfMonth >> (now->wDay - 1)) & 1) || ((daysOfWeek >> mondayFirst) & 1);
    DWORD clock = ((now->wHour * 60u + now->wMinute) * 60u + now->wSecond) * 1000u + now->wMilliseconds;
    if (e.Flags == (flags | (today && jobTime > clock ? JOB_RUNS_TODAY : 0)))
      return true;
  }
  return false;
}

class NetJobsServiceTest : public ::testing::Test {
protected:
  // Wine's schedule service does not stop on request: it ends with the
  // bench's wineserver. The stop is asked for all the same.
  static void SetUpTestSuite() { ASSERT_TRUE(SetScheduleService(true)) << "Wine's schedule service started"; }
  static void TearDownTestSuite() { SetScheduleService(false); }

  void SetUp() override { ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ScheduleServiceState()); }
  // The jobs of this test go, also when it failed half-way.
  void TearDown() override {
    for (const std::string &command : own)
      DeleteListed(command);
    core->Release();
  }

  // A command of this test's own, so that jobs an earlier test left behind
  // are never taken for this one's; TearDown deletes its jobs.
  std::string Command(const char *name) {
    static int made = 0;
    std::string command = std::string("cmd /c echo qm-") + name + "-" + std::to_string(GetCurrentProcessId()) +
                          "-" + std::to_string(++made);
    own.push_back(command);
    return command;
  }

  // Deletes each job still listed with this command by the number it is
  // listed under now; the answers, "deleted" or the notice.
  std::vector<std::string> DeleteListed(const std::string &command) {
    std::vector<std::string> answers;
    for (long job : ListedWith(command)) {
      long id = static_cast<long>(EntryOf(job).JobId), deleted = 0;
      Free(job);
      relay.entries.clear();
      answers.push_back(core->NetScheduleJobDel(Text(L"."), id, id, &deleted) == S_OK ? "deleted" : Notices());
    }
    return answers;
  }

  long Add(long flags, const wchar_t *server, const wchar_t *spec, const std::string &command) {
    long id = 0;
    Text s(server), c(spec), k(Wide(command).c_str());
    core->NetScheduleJobAdd(flags, s, c, k, &id);
    return id;
  }

  // The job handles of the current list with this command (a copy each).
  std::vector<long> ListedWith(const std::string &command, long *count = nullptr) {
    std::vector<long> found;
    long list = 0, n = 0;
    EXPECT_EQ(S_OK, core->NetScheduleJobEnum(Text(L"."), &list));
    EXPECT_EQ(S_OK, core->NetScheduleJobEnumCount(list, &n));
    for (long i = 1; i <= n; ++i) {
      long job = 0;
      BSTR text = nullptr;
      EXPECT_EQ(S_OK, core->NetScheduleJobEnumGet(list, i, &job));
      core->NetScheduleJobGetInfoCommand(job, &text);
      if (Take(text) == command)
        found.push_back(job);
      else
        Free(job);
    }
    Free(list);
    if (count)
      *count = n;
    return found;
  }

  // The number the scheduler lists the job with this command under; -1
  // when it is not listed once.
  long NumberOf(const std::string &command) {
    std::vector<long> jobs = ListedWith(command);
    long id = jobs.size() == 1 ? static_cast<long>(EntryOf(jobs[0]).JobId) : -1;
    for (long job : jobs)
      Free(job);
    return id;
  }

  long JobCount() {
    long count = 0;
    for (long job : ListedWith(std::string(), &count))
      Free(job);
    return count;
  }

  void Free(long handle) {
    long freed = 0;
    EXPECT_EQ(S_OK, core->FreeHandle(handle, &freed));
  }

  std::string Notices() const {
    std::string all;
    for (const std::string &t : relay.Texts())
      all += "[" + t + "]";
    return all;
  }

  qmtest::RelayWindow relay;
  CCore *core = new CCore(nullptr);
  std::vector<std::string> own;
};

// Before the service is started: Wine's scheduler client then raises an RPC
// exception instead of returning an error, which the call table turns back
// into the error.
class NetJobsWithoutServiceTest : public NetJobsServiceTest {
protected:
  static void SetUpTestSuite() {}
  static void TearDownTestSuite() {}
  void SetUp() override {}
};

TEST_F(NetJobsWithoutServiceTest, CallsFailAndTheProcessGoesOn) {
  if (ScheduleServiceState() == SERVICE_RUNNING)
    GTEST_SKIP() << "the schedule service already runs in this bench session";
  long list = 7;
  Text dot(L"."), command(L"cmd /c echo qm"), nowhere(L"\\\\qm-nowhere");
  EXPECT_EQ(S_FALSE, core->NetScheduleJobEnum(dot, &list)) << "Wine's client raises instead of returning";
  EXPECT_EQ(0, list);
  EXPECT_EQ(-1, Add(0, L".", L"0 3 * _ *", "cmd"));
  ASSERT_EQ(2u, relay.Texts().size()) << Notices();
  EXPECT_EQ(0u, relay.Texts()[0].rfind("NetScheduleJobEnum: ", 0)) << Notices();
  EXPECT_EQ(0u, relay.Texts()[1].rfind("NetScheduleJobAdd: ", 0)) << Notices();

  // A remote computer's clock: NetRemoteTOD, which Wine only stubs.
  long id = 0;
  EXPECT_EQ(S_FALSE, core->NetCreateProcess(0, nowhere, command, &id));
  EXPECT_EQ(-1, id);
  EXPECT_EQ(0u, relay.Texts().back().rfind("NetCreateProcess: ", 0)) << Notices();
  EXPECT_EQ(std::string::npos, relay.Texts().back().find("Error Message not found")) << "a known error: " << Notices();
  std::cout << "Wine answers: " << Notices() << std::endl;
}

TEST_F(NetJobsServiceTest, RealJobsAreAddedListedReadAndDeleted) {
  std::string weekdaysCommand = Command("weekdays"), firstsCommand = Command("firsts");
  long weekdays = Add(0, L".", L"30 2 * _ 2-6", weekdaysCommand);
  long firsts = Add(1, L"", L"0 0 1 _ _", firstsCommand);
  ASSERT_GT(weekdays, 0) << Notices();
  ASSERT_GT(firsts, 0) << Notices();
  EXPECT_NE(weekdays, firsts);

  // Listed: each job once, under its number, with its schedule.
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  long count = 0;
  std::vector<long> a = ListedWith(weekdaysCommand, &count), b = ListedWith(firstsCommand);
  GetLocalTime(&after);
  ASSERT_EQ(1u, a.size());
  ASSERT_EQ(1u, b.size());
  EXPECT_GE(count, 2);
  AT_ENUM listed = EntryOf(a[0]), other = EntryOf(b[0]);
  EXPECT_TRUE(listed.JobId == static_cast<DWORD>(weekdays) ||
              WineDiffers(listed.JobId > static_cast<DWORD>(weekdays), kWineRenumbers))
      << listed.JobId << " listed for " << weekdays;
  EXPECT_TRUE(other.JobId == static_cast<DWORD>(firsts) ||
              WineDiffers(other.JobId > static_cast<DWORD>(firsts), kWineRenumbers))
      << other.JobId << " listed for " << firsts;
  // 02:30 (9000000 ms) on every day of the month and Monday to Friday, not
  // interactive (script flag 0); midnight on the first, interactive.
  EXPECT_TRUE(AnsweredAs(listed, 9000000, 0x7FFFFFFF, 0x1F, JOB_NONINTERACTIVE, before, after) ||
              WineDiffers(AllZero(listed), kWineListsZeros))
      << Describe(listed);
  EXPECT_TRUE(AnsweredAs(other, 0, 0x1, 0, 0, before, after) || WineDiffers(AllZero(other), kWineListsZeros))
      << Describe(other);
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoTime(a[0], &text));
  std::string next = Take(text);
  EXPECT_FALSE(next.empty());
  EXPECT_EQ(std::string::npos, next.find("Invalid")) << next;
  for (long h : a)
    Free(h);
  for (long h : b)
    Free(h);

  // One job read on its own, by the number its add answered.
  Text dot(L".");
  relay.entries.clear();
  long job = 0, value = 0;
  GetLocalTime(&before);
  HRESULT read = core->NetScheduleJobGetInfo(dot, firsts, &job);
  GetLocalTime(&after);
  EXPECT_TRUE(read == S_OK ||
              WineDiffers(Notices() == "[NetScheduleJobGetInfo: " + CoreErrorText(kAtIdNotFound) + "]" &&
                              NumberOf(firstsCommand) > firsts,
                          kWineRenumbers))
      << Notices();
  if (read == S_OK) {
    EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoJobId(job, &value));
    EXPECT_EQ(firsts, value);
    EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoCommand(job, &text));
    EXPECT_EQ(firstsCommand, Take(text));
    AT_ENUM answered = EntryOf(job);
    EXPECT_TRUE(AnsweredAs(answered, 0, 0x1, 0, 0, before, after) || WineDiffers(AllZero(answered), kWineListsZeros))
        << Describe(answered);
    Free(job);
  }

  // A refused specification adds nothing.
  long jobs = JobCount();
  EXPECT_EQ(-1, Add(0, L".", L"0 3 * * *", Command("never")));
  EXPECT_EQ(jobs, JobCount());

  // A range: Windows deletes every job whose number lies in it.
  relay.entries.clear();
  long deleted = 0;
  long low = weekdays < firsts ? weekdays : firsts, high = weekdays < firsts ? firsts : weekdays;
  HRESULT range = core->NetScheduleJobDel(dot, low, high, &deleted);
  EXPECT_EQ(range == S_OK ? kTrue : kFalse, deleted) << "the result matches the answer";
  EXPECT_TRUE(range == S_OK ||
              WineDiffers(Notices() == "[NetScheduleJobDel: " + CoreErrorText(kAtIdNotFound) + "]",
                          "Wine's schedule service deletes a range number by number and stops with "
                          "APE_AT_ID_NOT_FOUND at the first number that names no job, and its numbers skip "
                          "(a job loaded again takes the next one); Windows deletes every job in the range"))
      << Notices();
  // Windows lists neither job any more: anything still listed fails the
  // test unless it is one of Wine's known answers.
  for (const std::string &command : {weekdaysCommand, firstsCommand}) {
    for (const std::string &answer : DeleteListed(command))
      EXPECT_TRUE(WineDiffers(answer == FileGone(), kWineKeepsDeleted) ||
                  WineDiffers(range != S_OK && answer == "deleted", "what Wine's refused range kept is deleted by "
                                                                    "the number it is listed under"))
          << command << " is listed after the range; deleting it: " << answer;
  }

  // A job number that was never given out: a failure with its notice.
  relay.entries.clear();
  EXPECT_EQ(S_FALSE, core->NetScheduleJobGetInfo(dot, high + 1000, &job));
  EXPECT_EQ(0, job);
  ASSERT_FALSE(relay.Texts().empty());
  EXPECT_EQ(0u, relay.Texts().back().rfind("NetScheduleJobGetInfo: ", 0)) << Notices();
}

// --- a script run by the program ---

std::string JobScript(const std::string &command) {
  return "Function main(x)\r\n"
         "  Dim core, id, list, i, h\r\n"
         "  Set core = NewCore()\r\n"
         "  id = core.NetScheduleJobAdd(0, \".\", \"30 2 * _ 2-6\", \"" + command + "\")\r\n"
         "  core.Print \"added \" & id\r\n"
         "  list = core.NetScheduleJobEnum(\".\")\r\n"
         "  For i = 1 To core.NetScheduleJobEnumCount(list)\r\n"
         "    h = core.NetScheduleJobEnumGet(list, i)\r\n"
         "    If core.NetScheduleJobGetInfoJobId(h) = id Then\r\n"
         "      core.Print \"listed \" & core.NetScheduleJobGetInfoCommand(h)\r\n"
         "      core.Print \"next run \" & core.NetScheduleJobGetInfoTime(h)\r\n"
         "    End If\r\n"
         "    core.FreeHandle h\r\n"
         "  Next\r\n"
         "  core.FreeHandle list\r\n"
         "  h = core.NetScheduleJobGetInfo(\".\", id)\r\n"
         "  core.Print \"read \" & core.NetScheduleJobGetInfoCommand(h)\r\n"
         "  core.FreeHandle h\r\n"
         "  core.Print \"deleted \" & core.NetScheduleJobDel(\".\", id, id)\r\n"
         "  list = core.NetScheduleJobEnum(\".\")\r\n"
         "  Dim left : left = 0\r\n"
         "  For i = 1 To core.NetScheduleJobEnumCount(list)\r\n"
         "    h = core.NetScheduleJobEnumGet(list, i)\r\n"
         "    If core.NetScheduleJobGetInfoJobId(h) = id Then left = left + 1\r\n"
         "    core.FreeHandle h\r\n"
         "  Next\r\n"
         "  core.FreeHandle list\r\n"
         "  core.Print \"left \" & left\r\n"
         "End Function\r\n";
}

// The platform's text of the first 02:30 not earlier than `now` (the job's
// days of the month are all days).
std::string NextHalfPastTwo(SYSTEMTIME now) {
  now.wMilliseconds = 0;
  double today = 0;
  SYSTEMTIME midnight = now;
  midnight.wHour = midnight.wMinute = midnight.wSecond = 0;
  SystemTimeToVariantTime(&midnight, &today);
  double at = today + 2.5 / 24;
  double current = 0;
  SystemTimeToVariantTime(&now, &current);
  if (at < current - 0.5 / 86400)
    at += 1;
  BSTR text = nullptr;
  VarBstrFromDate(at, LOCALE_USER_DEFAULT, 0, &text);
  return Take(text);
}

// Today's date, a blank and the time 00:00:00: the next-run text of a job
// without days at midnight.
std::string TodayAtMidnight(SYSTEMTIME now) {
  now.wHour = now.wMinute = now.wSecond = now.wMilliseconds = 0;
  double today = 0;
  SystemTimeToVariantTime(&now, &today);
  BSTR date = nullptr, time = nullptr;
  VarBstrFromDate(today, LOCALE_USER_DEFAULT, 0, &date);
  VarBstrFromDate(0.0, LOCALE_USER_DEFAULT, 0, &time);
  return Take(date) + " " + Take(time);
}

TEST_F(NetJobsServiceTest, AScriptRunByTheProgramAddsReadsAndDeletesAJob) {
  std::string command = Command("script");
  std::string bin = qmtest::ProgramDirectory();
  HMODULE library = LoadLibraryA((bin + "QuillmothLib.dll").c_str());
  ASSERT_EQ(S_OK, qmtest::CallExport(library, "DllRegisterServer"));

  qmtest::TempDirectory dir("netjobs-program");
  ASSERT_TRUE(qmtest::CopyInto(bin + "Quillmoth.exe", dir.Path()));
  ASSERT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\AutoRun.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "Scripts\\jobs.vbs", JobScript(command)));

  SYSTEMTIME before;
  GetLocalTime(&before);
  qmtest::ChildProcess child;
  ASSERT_TRUE(child.Start(dir / "Quillmoth.exe", "-application -load \"" + dir / "Scripts\\jobs.vbs\"", dir.Path()));
  HWND console = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth", 30000);
  ASSERT_TRUE(console);
  auto output = [&] { return qmtest::ControlText(console, IDC_OUTPUT); };
  EXPECT_TRUE(qmtest::WaitUntil([&] { return Contains(output(), "left "); }, 60000)) << output();
  SYSTEMTIME after;
  GetLocalTime(&after);
  std::string text = output();
  std::cout << text << std::endl;

  size_t at = text.find("added ");
  ASSERT_NE(std::string::npos, at);
  long added = atol(text.c_str() + at + 6);
  EXPECT_GT(added, 0) << text;
  // Under Wine the job may have been given a new number meanwhile: the
  // script's calls by the added number then find nothing, and the job is
  // still listed under its new number (TearDown deletes it).
  bool renumbered = NumberOf(command) > added;
  EXPECT_TRUE(Contains(text, "listed " + command + "\r\n") || WineDiffers(renumbered, kWineRenumbers)) << text;
  EXPECT_TRUE(Contains(text, "read " + command + "\r\n") || WineDiffers(renumbered, kWineRenumbers)) << text;
  EXPECT_TRUE(Contains(text, "deleted -1\r\n") || WineDiffers(renumbered, kWineRenumbers)) << text;
  // The job runs at 02:30 on every day of the month: its next run is the
  // first 02:30 to come.
  auto nextRun = [&](std::string (*expected)(SYSTEMTIME)) {
    return Contains(text, "next run " + expected(before) + "\r\n") ||
           Contains(text, "next run " + expected(after) + "\r\n");
  };
  EXPECT_TRUE(nextRun(NextHalfPastTwo) ||
              WineDiffers(nextRun(TodayAtMidnight),
                          "Wine's schedule service lists the job's time and days as 0, so its next run is today "
                          "at midnight; Windows lists 02:30 on every day") ||
              WineDiffers(renumbered && !Contains(text, "next run "), kWineRenumbers))
      << "expected " << NextHalfPastTwo(before) << ": " << text;
  auto fileGoneOnly = [&] {
    for (const std::string &answer : DeleteListed(command))
      if (answer != FileGone())
        return false;
    return true;
  };
  EXPECT_TRUE(Contains(text, "left 0") || WineDiffers(Contains(text, "left 1") && fileGoneOnly(), kWineKeepsDeleted))
      << text;

  PostMessageA(console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
  EXPECT_TRUE(child.WaitExit(60000));
  EXPECT_EQ(S_OK, qmtest::CallExport(library, "DllUnregisterServer"));
  FreeLibrary(library);
}

} // namespace
