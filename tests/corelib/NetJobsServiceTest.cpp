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

class NetJobsServiceTest : public ::testing::Test {
protected:
  // Wine's schedule service does not stop on request: it ends with the
  // bench's wineserver. The stop is asked for all the same.
  static void SetUpTestSuite() { ASSERT_TRUE(SetScheduleService(true)) << "Wine's schedule service started"; }
  static void TearDownTestSuite() { SetScheduleService(false); }

  void SetUp() override { ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ScheduleServiceState()); }
  void TearDown() override { core->Release(); }

  long Add(long flags, const wchar_t *server, const wchar_t *spec, const wchar_t *command) {
    long id = 0;
    Text s(server), c(spec), k(command);
    core->NetScheduleJobAdd(flags, s, c, k, &id);
    return id;
  }

  // The job handles of the current list with this id (a copy each).
  std::vector<long> Listed(long id, long *count = nullptr) {
    std::vector<long> found;
    long list = 0, n = 0;
    Text dot(L".");
    EXPECT_EQ(S_OK, core->NetScheduleJobEnum(dot, &list));
    EXPECT_EQ(S_OK, core->NetScheduleJobEnumCount(list, &n));
    for (long i = 1; i <= n; ++i) {
      long job = 0, jobId = 0;
      EXPECT_EQ(S_OK, core->NetScheduleJobEnumGet(list, i, &job));
      core->NetScheduleJobGetInfoJobId(job, &jobId);
      if (jobId == id)
        found.push_back(job);
      else
        Free(job);
    }
    Free(list);
    if (count)
      *count = n;
    return found;
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
  EXPECT_EQ(-1, Add(0, L".", L"0 3 * _ *", L"cmd"));
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
  long weekdays = Add(0, L".", L"30 2 * _ 2-6", L"cmd /c echo qm-weekdays");
  long firsts = Add(1, L"", L"0 0 1 _ _", L"cmd /c echo qm-firsts");
  ASSERT_GT(weekdays, 0) << Notices();
  ASSERT_GT(firsts, 0) << Notices();
  EXPECT_NE(weekdays, firsts);

  long count = 0;
  std::vector<long> a = Listed(weekdays, &count), b = Listed(firsts);
  ASSERT_EQ(1u, a.size());
  ASSERT_EQ(1u, b.size());
  EXPECT_GE(count, 2);
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoCommand(a[0], &text));
  EXPECT_EQ("cmd /c echo qm-weekdays", Take(text));
  // Wine keeps the command but lists JobTime, the day masks and Flags as 0
  // (Windows answers 9000000, 0x7FFFFFFF, 0x1F and 0x10 here): recorded,
  // not asserted.
  AT_ENUM listed = EntryOf(a[0]), other = EntryOf(b[0]);
  std::cout << "Wine lists: " << Describe(listed) << "; " << Describe(other) << std::endl;
  EXPECT_EQ(static_cast<DWORD>(weekdays), listed.JobId);
  EXPECT_EQ(static_cast<DWORD>(firsts), other.JobId);
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoTime(a[0], &text));
  std::string next = Take(text);
  EXPECT_FALSE(next.empty());
  EXPECT_EQ(std::string::npos, next.find("Invalid")) << next;
  for (long h : a)
    Free(h);
  for (long h : b)
    Free(h);

  // One job read on its own.
  long job = 0, value = 0;
  Text dot(L".");
  ASSERT_EQ(S_OK, core->NetScheduleJobGetInfo(dot, firsts, &job)) << Notices();
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoJobId(job, &value));
  EXPECT_EQ(firsts, value);
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoCommand(job, &text));
  EXPECT_EQ("cmd /c echo qm-firsts", Take(text));
  std::cout << "Wine's GetInfo answers: " << Describe(EntryOf(job)) << std::endl;
  Free(job);

  // A refused specification adds nothing.
  long before = 0;
  Listed(-1, &before);
  EXPECT_EQ(-1, Add(0, L".", L"0 3 * * *", L"cmd /c never"));
  long after = 0;
  Listed(-1, &after);
  EXPECT_EQ(before, after);

  // A range. Windows deletes both jobs; Wine has been seen to delete the
  // first and answer NERR_JobNotFound, and also to delete both and then
  // still list one of them without its file (its service reloads a job when
  // it sees the job's file appear, and may do so after the deletion). So
  // this records what Wine does; what Wine still lists is deleted one by
  // one, where Wine may answer that the job's file is gone.
  long deleted = 0;
  long low = weekdays < firsts ? weekdays : firsts, high = weekdays < firsts ? firsts : weekdays;
  HRESULT range = core->NetScheduleJobDel(dot, low, high, &deleted);
  std::cout << "Wine deletes " << low << "-" << high << ": " << (range == S_OK ? "done" : Notices()) << std::endl;
  EXPECT_EQ(range == S_OK ? kTrue : kFalse, deleted) << "the result matches the answer";
  for (long id : {weekdays, firsts}) {
    std::vector<long> left = Listed(id);
    for (long h : left)
      Free(h);
    if (!left.empty()) {
      relay.entries.clear();
      HRESULT one = core->NetScheduleJobDel(dot, id, id, &deleted);
      std::cout << "Wine still lists " << id << "; deleting it: " << (one == S_OK ? "done" : Notices()) << std::endl;
      EXPECT_EQ(one == S_OK ? kTrue : kFalse, deleted);
    }
  }
  // A job number that was never given out: a failure with its notice.
  relay.entries.clear();
  EXPECT_EQ(S_FALSE, core->NetScheduleJobGetInfo(dot, high + 1000, &job));
  EXPECT_EQ(0, job);
  ASSERT_FALSE(relay.Texts().empty());
  EXPECT_EQ(0u, relay.Texts().back().rfind("NetScheduleJobGetInfo: ", 0)) << Notices();
}

// --- a script run by the program ---

const char kJobScript[] =
    "Function main(x)\r\n"
    "  Dim core, id, list, i, h\r\n"
    "  Set core = NewCore()\r\n"
    "  id = core.NetScheduleJobAdd(0, \".\", \"30 2 * _ 2-6\", \"cmd /c echo quillmoth job\")\r\n"
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
  // What this scheduler lists for the script's job decides its next run:
  // Windows lists 02:30 on every day, Wine a job time of 0 without days.
  long probe = Add(0, L".", L"30 2 * _ 2-6", L"cmd /c echo probe");
  ASSERT_GT(probe, 0) << Notices();
  std::vector<long> probes = Listed(probe);
  ASSERT_EQ(1u, probes.size());
  AT_ENUM listed = EntryOf(probes[0]);
  Free(probes[0]);
  long deleted = 0;
  Text dot(L".");
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(dot, probe, probe, &deleted));
  bool wineAnswer = listed.JobTime == 0 && listed.DaysOfMonth == 0 && listed.DaysOfWeek == 0;
  auto expectedNextRun = [&](const SYSTEMTIME &now) {
    return wineAnswer ? TodayAtMidnight(now) : NextHalfPastTwo(now);
  };

  std::string bin = qmtest::ProgramDirectory();
  HMODULE library = LoadLibraryA((bin + "QuillmothLib.dll").c_str());
  ASSERT_EQ(S_OK, qmtest::CallExport(library, "DllRegisterServer"));

  qmtest::TempDirectory dir("netjobs-program");
  ASSERT_TRUE(qmtest::CopyInto(bin + "Quillmoth.exe", dir.Path()));
  ASSERT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\AutoRun.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "Scripts\\jobs.vbs", kJobScript));

  SYSTEMTIME before;
  GetLocalTime(&before);
  qmtest::ChildProcess child;
  ASSERT_TRUE(child.Start(dir / "Quillmoth.exe", "-application -load \"" + dir / "Scripts\\jobs.vbs\"", dir.Path()));
  HWND console = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth", 30000);
  ASSERT_TRUE(console);
  auto output = [&] { return qmtest::ControlText(console, IDC_OUTPUT); };
  EXPECT_TRUE(qmtest::WaitUntil([&] { return output().find("left ") != std::string::npos; }, 60000)) << output();
  SYSTEMTIME after;
  GetLocalTime(&after);
  std::string text = output();
  std::cout << text << std::endl;

  size_t added = text.find("added ");
  ASSERT_NE(std::string::npos, added);
  EXPECT_GT(atol(text.c_str() + added + 6), 0) << text;
  EXPECT_NE(std::string::npos, text.find("listed cmd /c echo quillmoth job\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("read cmd /c echo quillmoth job\r\n")) << text;
  bool nextRun = text.find("next run " + expectedNextRun(before) + "\r\n") != std::string::npos ||
                 text.find("next run " + expectedNextRun(after) + "\r\n") != std::string::npos;
  EXPECT_TRUE(nextRun) << "expected " << expectedNextRun(before) << ": " << text;
  EXPECT_NE(std::string::npos, text.find("deleted -1\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("left 0")) << text;

  PostMessageA(console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
  EXPECT_TRUE(child.WaitExit(60000));
  EXPECT_EQ(S_OK, qmtest::CallExport(library, "DllUnregisterServer"));
  FreeLibrary(library);
}

} // namespace
