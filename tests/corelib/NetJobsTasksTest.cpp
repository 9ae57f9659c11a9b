// The network job methods over Wine's real Task Scheduler, with the old
// scheduler's calls answering "not supported" through the call table (as on
// Windows 8 and later), or passed by with QM.NETJOBS = "tasks": jobs become
// tasks "\Quillmoth\At<n>", seen here through Task Scheduler itself, and a
// script run by the program sees the jobs of this one. Wine registers, lists
// and deletes task definitions but runs none, keeps neither triggers nor
// actions of a definition, and cannot count a folder's tasks or give a
// last result: what shows the "last run failed" flag is not tested here.
#include <gtest/gtest.h>

#include <windows.h>
#include <taskschd.h>
#include <algorithm>
#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#include "Core.h"
#include "CoreModule.h"
#include "CoreNetJobs.h"
#include "HandleTable.h"
#include "RelayFixture.h"
#include "ScheduleService.h"
#include "TaskJobCalls.h"
#include "WineTestSupport.h"

namespace {

enum { IDC_OUTPUT = 1003 };

using qmtest::Text;

std::string Take(BSTR text) {
  std::string out;
  for (UINT i = 0; text && i < SysStringLen(text); ++i)
    out += static_cast<char>(text[i]);
  SysFreeString(text);
  return out;
}

// Task Scheduler as an administrator sees it, independent of our code.
class Console {
public:
  Console() {
    VARIANT none;
    VariantInit(&none);
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                   reinterpret_cast<void **>(&m_service))) &&
        FAILED(m_service->Connect(none, none, none, none))) {
      m_service->Release();
      m_service = nullptr;
    }
  }
  ~Console() {
    if (m_service)
      m_service->Release();
  }
  bool Ready() const { return m_service != nullptr; }

  bool Exists(const std::wstring &path) {
    IRegisteredTask *task = nullptr;
    ITaskFolder *root = Folder(L"\\");
    HRESULT hr = root ? root->GetTask(Text(path.c_str()), &task) : E_FAIL;
    if (task)
      task->Release();
    if (root)
      root->Release();
    return SUCCEEDED(hr);
  }

  // A task of someone else's, with a definition of its own.
  bool Register(const std::wstring &folderPath, const std::wstring &name) {
    VARIANT none;
    VariantInit(&none);
    ITaskFolder *root = Folder(L"\\"), *folder = Folder(folderPath.c_str());
    if (!folder && root)
      root->CreateFolder(Text(folderPath.c_str()), none, &folder);
    IRegisteredTask *task = nullptr;
    HRESULT hr = folder ? folder->RegisterTask(Text(name.c_str()), Text(kForeignXml), TASK_CREATE_OR_UPDATE, none,
                                               none, TASK_LOGON_INTERACTIVE_TOKEN, none, &task)
                        : E_FAIL;
    if (task)
      task->Release();
    if (folder)
      folder->Release();
    if (root)
      root->Release();
    return SUCCEEDED(hr);
  }

  // The definition the scheduler keeps of a task; empty when it has none.
  std::wstring Definition(const std::wstring &path) {
    IRegisteredTask *task = nullptr;
    ITaskFolder *root = Folder(L"\\");
    BSTR xml = nullptr;
    if (root && SUCCEEDED(root->GetTask(Text(path.c_str()), &task)))
      task->get_Xml(&xml);
    std::wstring text = xml ? std::wstring(xml, SysStringLen(xml)) : std::wstring();
    SysFreeString(xml);
    if (task)
      task->Release();
    if (root)
      root->Release();
    return text;
  }

  void Delete(const std::wstring &folderPath, const std::wstring &name) {
    ITaskFolder *folder = Folder(folderPath.c_str());
    if (folder) {
      folder->DeleteTask(Text(name.c_str()), 0);
      folder->Release();
    }
  }

  // Removes an empty folder; true when it is gone.
  bool DeleteFolder(const wchar_t *name) {
    ITaskFolder *root = Folder(L"\\");
    HRESULT hr = root ? root->DeleteFolder(Text(name), 0) : E_FAIL;
    if (root)
      root->Release();
    return SUCCEEDED(hr) || hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }

  // The folder's access list as SDDL, or the failure.
  HRESULT FolderAccess(const wchar_t *path, std::wstring &sddl) {
    ITaskFolder *folder = Folder(path);
    BSTR text = nullptr;
    HRESULT hr = folder ? folder->GetSecurityDescriptor(DACL_SECURITY_INFORMATION, &text) : E_FAIL;
    sddl = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    if (folder)
      folder->Release();
    return hr;
  }

private:
  static constexpr const wchar_t *kForeignXml =
      L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><Task version=\"1.2\" "
      L"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"><RegistrationInfo><Description>not a "
      L"job</Description></RegistrationInfo><Triggers/><Settings><Enabled>true</Enabled></Settings><Actions><Exec>"
      L"<Command>notepad.exe</Command></Exec></Actions></Task>";

  ITaskFolder *Folder(const wchar_t *path) {
    ITaskFolder *folder = nullptr;
    if (m_service)
      m_service->GetFolder(Text(path), &folder);
    return folder;
  }

  ITaskService *m_service = nullptr;
};

std::wstring OurTask(long id) { return L"\\Quillmoth\\At" + std::to_wstring(id); }

// The old scheduler as Windows 8 and later answer it: "not supported",
// after keeping what it was asked to add.
std::vector<AT_INFO> g_submitted;
NET_API_STATUS WINAPI RefuseAdd(LPCWSTR, LPBYTE info, LPDWORD) {
  g_submitted.push_back(*reinterpret_cast<AT_INFO *>(info));
  return ERROR_NOT_SUPPORTED;
}
NET_API_STATUS WINAPI RefuseDel(LPCWSTR, DWORD, DWORD) { return ERROR_NOT_SUPPORTED; }
NET_API_STATUS WINAPI RefuseEnum(LPCWSTR, LPBYTE *, DWORD, LPDWORD, LPDWORD, LPDWORD) { return ERROR_NOT_SUPPORTED; }
NET_API_STATUS WINAPI RefuseGetInfo(LPCWSTR, DWORD, LPBYTE *) { return ERROR_NOT_SUPPORTED; }

class NetJobsTasksTest : public ::testing::Test {
protected:
  // The apartment is made before the first fixture's Console asks for
  // Task Scheduler, and stays for the test program's life.
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(qmtest::SetScheduleService(true)) << "Wine's schedule service started";
  }

  void SetUp() override {
    saved = g_netJobCalls;
    g_netJobCalls.JobAdd = RefuseAdd;
    g_netJobCalls.JobDel = RefuseDel;
    g_netJobCalls.JobEnum = RefuseEnum;
    g_netJobCalls.JobGetInfo = RefuseGetInfo;
    g_submitted.clear();
    ASSERT_TRUE(console.Ready());
    long done = 0;
    core->NetScheduleJobDel(Text(L"."), 1, 0x7FFFFFFF, &done); // what an earlier run left
    relay.entries.clear();
  }
  void TearDown() override {
    g_netJobCalls = saved;
    SetEnvironmentVariableA("QM.NETJOBS", nullptr);
    core->Release();
  }

  long Add(long flags, const wchar_t *spec, const wchar_t *command) {
    long id = 0;
    core->NetScheduleJobAdd(flags, Text(L"."), Text(spec), Text(command), &id);
    return id;
  }

  AT_ENUM Entry(long handle, std::string *command = nullptr) {
    AT_ENUM entry = {};
    HandleVisit(handle, HT_JOB, [](HandleRecord &record, void *context) {
      *static_cast<AT_ENUM *>(context) = *static_cast<AT_ENUM *>(record.payload);
    }, &entry);
    entry.Command = nullptr;
    BSTR text = nullptr;
    if (command && core->NetScheduleJobGetInfoCommand(handle, &text) == S_OK)
      *command = Take(text);
    return entry;
  }

  // The listed jobs: id, fields and command of each.
  std::vector<std::pair<AT_ENUM, std::string>> List() {
    std::vector<std::pair<AT_ENUM, std::string>> jobs;
    long list = 0, count = -1;
    EXPECT_EQ(S_OK, core->NetScheduleJobEnum(Text(L""), &list)) << Notices();
    EXPECT_EQ(S_OK, core->NetScheduleJobEnumCount(list, &count));
    for (long i = 1; i <= count; ++i) {
      long job = 0;
      EXPECT_EQ(S_OK, core->NetScheduleJobEnumGet(list, i, &job));
      std::string command;
      AT_ENUM entry = Entry(job, &command);
      jobs.push_back({entry, command});
      Free(job);
    }
    Free(list);
    return jobs;
  }

  void Free(long handle) {
    long freed = 0;
    core->FreeHandle(handle, &freed);
  }

  std::string Notices() const {
    std::string all;
    for (const std::string &t : relay.Texts())
      all += "[" + t + "]";
    return all;
  }

  NetJobCalls saved;
  Console console;
  qmtest::RelayWindow relay;
  CCore *core = new CCore(nullptr);
};

TEST_F(NetJobsTasksTest, JobsBecomeTasksThatAreListedReadAndDeleted) {
  long weekdays = Add(0, L"30 2 * _ 2-6", L"cmd /c echo qm-weekdays");
  long firsts = Add(1, L"0 0 1 _ _", L"\"C:\\Program Files\\qm tool.exe\" -x \"a b\"");
  ASSERT_EQ(1, weekdays) << Notices();
  ASSERT_EQ(2, firsts) << "the lowest free number: " << Notices();
  ASSERT_EQ(2u, g_submitted.size()) << "the old scheduler was asked first";
  EXPECT_TRUE(console.Exists(OurTask(weekdays)));
  EXPECT_TRUE(console.Exists(OurTask(firsts)));
  EXPECT_TRUE(relay.Texts().empty()) << Notices();

  auto jobs = List();
  ASSERT_EQ(2u, jobs.size());
  for (size_t i = 0; i < 2; ++i) {
    const AT_ENUM &e = jobs[i].first;
    const AT_INFO &sent = g_submitted[i];
    EXPECT_EQ(static_cast<DWORD>(i == 0 ? weekdays : firsts), e.JobId);
    EXPECT_EQ(sent.JobTime, e.JobTime);
    EXPECT_EQ(sent.DaysOfMonth, e.DaysOfMonth);
    EXPECT_EQ(sent.DaysOfWeek, e.DaysOfWeek);
    EXPECT_EQ(sent.Flags & kJobNonInteractive, e.Flags & kJobNonInteractive);
    EXPECT_EQ(0, e.Flags & kJobExecError);
  }
  EXPECT_EQ("cmd /c echo qm-weekdays", jobs[0].second);
  EXPECT_EQ("\"C:\\Program Files\\qm tool.exe\" -x \"a b\"", jobs[1].second);

  long job = 0, value = 0;
  ASSERT_EQ(S_OK, core->NetScheduleJobGetInfo(Text(L"."), firsts, &job)) << Notices();
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoJobId(job, &value));
  EXPECT_EQ(firsts, value);
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoTime(job, &text));
  std::string next = Take(text);
  EXPECT_EQ(std::string::npos, next.find("Invalid")) << next;
  EXPECT_NE(std::string::npos, next.find(' ')) << "the date of the next first, then midnight: " << next;
  Free(job);

  // A refused specification or a time of a day and more adds no task.
  EXPECT_EQ(-1, Add(0, L"0 3 * * *", L"cmd /c never"));
  EXPECT_FALSE(console.Exists(OurTask(3)));

  // Deleting the first frees its number for the next job.
  long deleted = 0;
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(Text(L"."), weekdays, weekdays, &deleted)) << Notices();
  EXPECT_EQ(kTrue, deleted);
  EXPECT_FALSE(console.Exists(OurTask(weekdays)));
  EXPECT_TRUE(console.Exists(OurTask(firsts)));
  EXPECT_EQ(weekdays, Add(0, L"15 4 _ _ 7", L"cmd /c echo again"));
  EXPECT_EQ(2u, List().size());

  // Missing jobs are failures with the method's notice.
  relay.entries.clear();
  EXPECT_EQ(S_FALSE, core->NetScheduleJobGetInfo(Text(L"."), 77, &job));
  EXPECT_EQ(0, job);
  EXPECT_EQ(S_FALSE, core->NetScheduleJobDel(Text(L"."), 50, 60, &deleted));
  EXPECT_EQ(kFalse, deleted);
  ASSERT_EQ(2u, relay.Texts().size()) << Notices();
  EXPECT_EQ(0u, relay.Texts()[0].rfind("NetScheduleJobGetInfo: ", 0)) << Notices();
  EXPECT_EQ(0u, relay.Texts()[1].rfind("NetScheduleJobDel: ", 0)) << Notices();
}

TEST_F(NetJobsTasksTest, DeletingRangesLeavesOtherTasksAlone) {
  // The other tasks go again also when a check fails.
  struct OtherTasks {
    Console &console;
    ~OtherTasks() {
      console.Delete(L"\\Quillmoth", L"Keep");
      console.Delete(L"\\", L"At1");
      console.Delete(L"\\QmOther", L"At2");
    }
  } others{console};
  ASSERT_TRUE(console.Register(L"\\Quillmoth", L"Keep"));
  ASSERT_TRUE(console.Register(L"\\", L"At1"));
  ASSERT_TRUE(console.Register(L"\\QmOther", L"At2"));
  long a = Add(0, L"0 1 _ _ 2", L"cmd /c echo a");
  long b = Add(0, L"0 1 _ _ 3", L"cmd /c echo b");
  long c = Add(0, L"0 1 _ _ 4", L"cmd /c echo c");
  ASSERT_EQ(1, a) << Notices();
  ASSERT_EQ(3, c);
  long deleted = 0;
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(Text(L"."), 2, 0x7FFFFFFF, &deleted)) << Notices();
  EXPECT_TRUE(console.Exists(OurTask(a)));
  EXPECT_FALSE(console.Exists(OurTask(b)));
  EXPECT_FALSE(console.Exists(OurTask(c)));
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(Text(L"."), 0, 0x7FFFFFFF, &deleted)) << Notices();
  EXPECT_FALSE(console.Exists(OurTask(a)));
  EXPECT_TRUE(console.Exists(L"\\Quillmoth\\Keep")) << "not one of our numbered tasks";
  EXPECT_TRUE(console.Exists(L"\\At1")) << "outside our folder";
  EXPECT_TRUE(console.Exists(L"\\QmOther\\At2")) << "outside our folder";
  EXPECT_TRUE(List().empty());
}

// The computer's clock, held still for the test: the job is placed and
// listed at the same moment, so its second has not passed when listed.
const SYSTEMTIME kStillUtc = {2026, 12, 3, 9, 12, 0, 7, 0};
void WINAPI StillClock(LPSYSTEMTIME now) { *now = kStillUtc; }

TEST_F(NetJobsTasksTest, AJobPlacedNowIsATaskThatRunsToday) {
  g_netJobCalls.SystemTimeUtc = StillClock;
  SYSTEMTIME utc = kStillUtc, local = {};
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
  long id = 0;
  ASSERT_EQ(S_OK, core->NetCreateProcess(0, Text(L"."), Text(L"cmd /c echo now"), &id)) << Notices();
  ASSERT_GT(id, 0);
  auto jobs = List();
  ASSERT_EQ(1u, jobs.size()) << "the walk leaves only the job it kept";
  EXPECT_EQ(static_cast<DWORD>(id), jobs[0].first.JobId);
  EXPECT_EQ((local.wHour * 3600u + local.wMinute * 60u + local.wSecond) * 1000u, jobs[0].first.JobTime)
      << "the clock's own second, which has not passed yet";
  EXPECT_EQ(kJobRunsToday, jobs[0].first.Flags & kJobRunsToday) << "the task runs today";
  EXPECT_EQ(0, jobs[0].first.DaysOfMonth | jobs[0].first.DaysOfWeek);
  // Run once, the task goes: its trigger ends and an expired task is
  // deleted at once.
  std::wstring definition = console.Definition(OurTask(id));
  // Wine writes the definition anew from what it keeps: no trigger, and
  // its own settings (IgnoreNew for our Parallel, no deletion).
  bool wineRewrote = definition.find(L"<Triggers/>") != std::wstring::npos;
  const char *wineKeeps = "Wine keeps neither the trigger's end nor DeleteExpiredTaskAfter of a definition";
  EXPECT_TRUE(definition.find(L"<DeleteExpiredTaskAfter>PT0S</DeleteExpiredTaskAfter>") != std::wstring::npos ||
              qmtest::WineDiffers(wineRewrote, wineKeeps));
  EXPECT_TRUE(definition.find(L"<EndBoundary>") != std::wstring::npos || qmtest::WineDiffers(wineRewrote, wineKeeps));
  long deleted = 0;
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(Text(L"."), id, id, &deleted));
}

TEST_F(NetJobsTasksTest, OurFolderIsMadeForSystemAndAdministratorsOnly) {
  ASSERT_TRUE(console.DeleteFolder(L"Quillmoth")) << "the jobs of earlier tests are gone, so is the folder";
  long id = Add(0, L"0 3 * _ *", L"cmd /c echo folder");
  ASSERT_GT(id, 0) << Notices();
  std::wstring sddl;
  HRESULT hr = console.FolderAccess(L"\\Quillmoth", sddl);
  if (SUCCEEDED(hr)) {
    EXPECT_NE(std::wstring::npos, sddl.find(L"D:P")) << "nothing inherited";
    EXPECT_NE(std::wstring::npos, sddl.find(L"(A;OICI;FA;;;SY)"));
    EXPECT_NE(std::wstring::npos, sddl.find(L"(A;OICI;FA;;;BA)"));
    EXPECT_EQ(2, std::count(sddl.begin(), sddl.end(), L'(')) << "no other entry";
  } else {
    EXPECT_TRUE(qmtest::WineDiffers(hr == E_NOTIMPL, "Wine's task folders keep no access list to read back"))
        << std::hex << hr;
  }
  long deleted = 0;
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(Text(L"."), id, id, &deleted));
}

TEST_F(NetJobsTasksTest, MarkupInACommandComesBackExactlyAndAControlCharacterIsRefusedWithANotice) {
  // What a definition must escape, an entity's own text, and a tab that
  // parts the program from its arguments (XML holds a tab; it is no markup).
  const wchar_t kMarkup[] = L"cmd\t/c echo a&b <c> ]]> &lt;d&gt; \"e\"";
  long id = Add(0, L"0 6 _ _ 3", kMarkup);
  ASSERT_GT(id, 0) << Notices();
  std::string given(kMarkup, kMarkup + wcslen(kMarkup));
  // The definition stays well-formed however the scheduler writes it back.
  std::wstring definition = console.Definition(OurTask(id));
  EXPECT_NE(std::wstring::npos, definition.find(L"Quillmoth network job:"));
  EXPECT_EQ(std::wstring::npos, definition.find(L"<c>"));
  EXPECT_EQ(std::wstring::npos, definition.find(L"]]>"));
  long job = 0;
  ASSERT_EQ(S_OK, core->NetScheduleJobGetInfo(Text(L"."), id, &job)) << Notices();
  std::string command;
  Entry(job, &command);
  Free(job);
  EXPECT_EQ(given, command) << "read back through the task's definition";
  auto jobs = List();
  ASSERT_EQ(1u, jobs.size());
  EXPECT_EQ(given, jobs[0].second);

  // XML 1.0 holds no other character below a blank, not even as a
  // reference: such a command would reach the scheduler mangled or not at
  // all. Both ways of adding a job refuse it, saying why.
  relay.entries.clear();
  EXPECT_EQ(-1, Add(0, L"0 6 _ _ 3", L"cmd /c echo \x01 bell"));
  long now = 0;
  EXPECT_EQ(S_FALSE, core->NetCreateProcess(0, Text(L"."), Text(L"cmd /c echo \x1B[0m"), &now));
  EXPECT_EQ(-1, now);
  ASSERT_EQ(2u, relay.Texts().size()) << Notices();
  EXPECT_EQ("NetScheduleJobAdd: The command holds the character U+0001 at position 13, which a Task Scheduler "
            "task cannot hold. No job was added.",
            relay.Texts()[0]);
  EXPECT_EQ("NetCreateProcess: The command holds the character U+001B at position 13, which a Task Scheduler "
            "task cannot hold. No job was added.",
            relay.Texts()[1]);
  EXPECT_FALSE(console.Exists(OurTask(id + 1)));
  EXPECT_EQ(1u, List().size());
  long deleted = 0;
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(Text(L"."), id, id, &deleted));
}

// What Wine cannot show (a last result, and a clock of the server's own)
// goes through the task calls' table: the tasks themselves stay Wine's.
JobClock g_serverNow;
LONG g_lastResult = 0;
bool FakeServerNow(LPCWSTR, JobClock &now) {
  now = g_serverNow;
  return true;
}
HRESULT FakeLastResult(IRegisteredTask *, LONG *result) {
  *result = g_lastResult;
  return S_OK;
}

TEST_F(NetJobsTasksTest, RunsTodayAndLastRunFailedComeFromTheTaskAndTheServerClock) {
  TaskSchedulerCalls real = g_taskSchedulerCalls;
  g_taskSchedulerCalls.ServerNow = FakeServerNow;
  g_taskSchedulerCalls.LastTaskResult = FakeLastResult;
  g_serverNow = JobClock{2026, 12, 9, 2, 0, 0}; // a Wednesday
  long daily = Add(0, L"30 2 * _ *", L"cmd /c echo daily");
  long thursdays = Add(0, L"30 2 _ _ 5", L"cmd /c echo thursdays");
  long once = Add(0, L"30 1 _ _ _", L"cmd /c echo once"); // 01:30 has passed: tomorrow
  ASSERT_GT(once, 0) << Notices();
  struct Case {
    long id;
    uint8_t today; // at 02:00 and at 03:00
    uint8_t later;
  } cases[] = {{daily, kJobRunsToday, 0}, {thursdays, 0, 0}, {once, 0, 0}};
  for (LONG result : {0L, 0x41303L, 1L}) {
    g_lastResult = result;
    for (int hour : {2, 3}) {
      g_serverNow.hour = hour;
      for (const Case &c : cases) {
        long job = 0, failed = 7;
        ASSERT_EQ(S_OK, core->NetScheduleJobGetInfo(Text(L"."), c.id, &job)) << Notices();
        EXPECT_EQ(hour == 2 ? c.today : c.later, Entry(job).Flags & kJobRunsToday) << c.id << " at " << hour;
        EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoError(job, &failed));
        EXPECT_EQ(result == 1 ? kTrue : kFalse, failed) << "last result " << result;
        Free(job);
      }
    }
  }
  // The one-time job starts the next day, which is a Thursday at 01:30.
  g_serverNow = JobClock{2026, 12, 10, 0, 0, 0};
  long job = 0;
  ASSERT_EQ(S_OK, core->NetScheduleJobGetInfo(Text(L"."), once, &job));
  EXPECT_EQ(kJobRunsToday, Entry(job).Flags & kJobRunsToday);
  Free(job);
  g_taskSchedulerCalls = real;
  long deleted = 0;
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(Text(L"."), 1, 3, &deleted));
}

// --- the variable, and a script run by the program ---

const char kSecondScript[] =
    "Function main(x)\r\n"
    "  Dim core, id, list, i, h\r\n"
    "  Set core = NewCore()\r\n"
    "  list = core.NetScheduleJobEnum(\".\")\r\n"
    "  For i = 1 To core.NetScheduleJobEnumCount(list)\r\n"
    "    h = core.NetScheduleJobEnumGet(list, i)\r\n"
    "    core.Print \"sees \" & core.NetScheduleJobGetInfoJobId(h) & \" \" & core.NetScheduleJobGetInfoCommand(h)\r\n"
    "    core.FreeHandle h\r\n"
    "  Next\r\n"
    "  core.FreeHandle list\r\n"
    "  id = core.NetScheduleJobAdd(1, \"\", \"45 6 * _ _\", \"cmd /c echo from the script\")\r\n"
    "  core.Print \"added \" & id\r\n"
    "  core.Print \"deleted \" & core.NetScheduleJobDel(\".\", 1, 1)\r\n"
    "  core.Print \"done\"\r\n"
    "End Function\r\n";

TEST_F(NetJobsTasksTest, TheVariableChoosesTasksAndAScriptSeesTheJobsOfAnother) {
  // The old scheduler answers here (Wine's schedule service runs): only the
  // variable sends the jobs to Task Scheduler.
  g_netJobCalls = saved;
  ASSERT_TRUE(SetEnvironmentVariableA("QM.NETJOBS", "Tasks"));
  long first = Add(0, L"0 5 _ _ 1", L"cmd /c echo from the test");
  ASSERT_EQ(1, first) << Notices();
  EXPECT_TRUE(console.Exists(OurTask(first)));

  std::string bin = qmtest::ProgramDirectory();
  qmtest::RegisteredCoreLibrary library;
  ASSERT_EQ(S_OK, library.Registration());
  qmtest::TempDirectory dir("netjobs-tasks");
  ASSERT_TRUE(qmtest::CopyInto(bin + "Quillmoth.exe", dir.Path()));
  ASSERT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\AutoRun.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "Scripts\\second.vbs", kSecondScript));

  qmtest::ChildProcess child; // inherits QM.NETJOBS
  ASSERT_TRUE(child.Start(dir / "Quillmoth.exe", "-application -load \"" + dir / "Scripts\\second.vbs\"", dir.Path()));
  HWND window = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth", 30000);
  ASSERT_TRUE(window);
  auto output = [&] { return qmtest::ControlText(window, IDC_OUTPUT); };
  EXPECT_TRUE(qmtest::WaitUntil([&] { return output().find("done") != std::string::npos; }, 60000)) << output();
  std::string text = output();
  std::cout << text << std::endl;
  EXPECT_NE(std::string::npos, text.find("sees 1 cmd /c echo from the test\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("added 2\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("deleted -1\r\n")) << text;
  EXPECT_FALSE(console.Exists(OurTask(first))) << "the script deleted the test's job";
  EXPECT_TRUE(console.Exists(OurTask(2)));
  std::string command;
  long job = 0;
  ASSERT_EQ(S_OK, core->NetScheduleJobGetInfo(Text(L"."), 2, &job)) << Notices();
  AT_ENUM entry = Entry(job, &command);
  Free(job);
  EXPECT_EQ("cmd /c echo from the script", command);
  EXPECT_EQ(0, entry.Flags & kJobNonInteractive) << "interactive, as the script asked";

  PostMessageA(window, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
  EXPECT_TRUE(child.WaitExit(60000));
  EXPECT_EQ(S_OK, library.Unregister());
  long deleted = 0;
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(Text(L"."), 2, 2, &deleted));
}

} // namespace
