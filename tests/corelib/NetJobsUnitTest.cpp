// The network job methods against a scheduler of the test's own, put in the
// call table in place of netapi32: a scheduler with a clock that moves on a
// second with every job added, which says a job runs today only while its
// time is still ahead and refuses job times of a day or more. Wine's own
// schedule service cannot show these answers (its jobs never report "runs
// today", and NetRemoteTOD is a stub there); NetJobsServiceTest drives the
// real one.
#include <gtest/gtest.h>

#include <windows.h>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Core.h"
#include "CoreModule.h"
#include "CoreNetJobs.h"
#include "HandleTable.h"
#include "RelayFixture.h"
#include "WineTestSupport.h"

namespace {

class Text {
public:
  explicit Text(const wchar_t *text) : m_text(text ? SysAllocString(text) : nullptr) {}
  ~Text() { SysFreeString(m_text); }
  operator BSTR() const { return m_text; }
private:
  BSTR m_text;
};

std::string Narrow(const wchar_t *text, size_t length) {
  std::string out;
  for (size_t i = 0; text && i < length; ++i)
    out += static_cast<char>(text[i]);
  return out;
}
std::string Narrow(const std::wstring &text) { return Narrow(text.data(), text.size()); }

// Takes and frees an out string.
std::string Take(BSTR text) {
  std::string out = text ? Narrow(text, SysStringLen(text)) : "(null)";
  SysFreeString(text);
  return out;
}

std::string LogText() { return qmtest::ReadTextFile(qmtest::ProgramDirectory() + "netjobs_unit_test.log"); }

struct FakeJob {
  AT_INFO info;
  std::wstring command;
};

struct FakeScheduler {
  std::map<DWORD, FakeJob> jobs;
  DWORD nextId = 1;
  DWORD clockMs = 0; // the server's time of day
  SYSTEMTIME utc = {};    // this computer's clock
  SYSTEMTIME todUtc = {}; // the server's, which keeps its own zone
  std::vector<std::string> calls;
  NET_API_STATUS failAdd = 0, failDel = 0, failGet = 0, failEnum = 0, failTod = 0;
  DWORD enumShortBy = 0;
  std::set<void *> buffers;
  bool localNowWorks = true;
  JobClock localNow = {2026, 12, 8, 9, 0, 0};
};
FakeScheduler *g_fake = nullptr;

std::string ServerName(LPCWSTR server) { return server ? Narrow(std::wstring(server)) : "(local)"; }

LPBYTE Keep(void *buffer) {
  g_fake->buffers.insert(buffer);
  return static_cast<LPBYTE>(buffer);
}

const DWORD kDay = 86400000;
// The server's offset, minutes west of UTC: UTC+10, far from this computer.
const LONG kServerZone = -600;

NET_API_STATUS WINAPI FakeAdd(LPCWSTR server, LPBYTE buffer, LPDWORD jobId) {
  const AT_INFO *info = reinterpret_cast<const AT_INFO *>(buffer);
  g_fake->calls.push_back("add " + ServerName(server) + " " + std::to_string(info->JobTime));
  if (g_fake->failAdd)
    return g_fake->failAdd;
  if (info->JobTime >= kDay)
    return ERROR_INVALID_PARAMETER;
  FakeJob job{*info, info->Command};
  bool oneTime = info->DaysOfMonth == 0 && info->DaysOfWeek == 0;
  if (oneTime && info->JobTime > g_fake->clockMs)
    job.info.Flags |= JOB_RUNS_TODAY;
  g_fake->clockMs += 1000;
  *jobId = g_fake->nextId++;
  g_fake->jobs[*jobId] = job;
  return NERR_Success;
}

NET_API_STATUS WINAPI FakeDel(LPCWSTR server, DWORD minJobId, DWORD maxJobId) {
  g_fake->calls.push_back("del " + ServerName(server) + " " + std::to_string(minJobId) + "-" + std::to_string(maxJobId));
  if (g_fake->failDel)
    return g_fake->failDel;
  bool any = false;
  for (auto it = g_fake->jobs.begin(); it != g_fake->jobs.end();) {
    if (it->first >= minJobId && it->first <= maxJobId) {
      it = g_fake->jobs.erase(it);
      any = true;
    } else {
      ++it;
    }
  }
  return any ? NERR_Success : 3806; // NERR_JobNotFound
}

NET_API_STATUS WINAPI FakeGetInfo(LPCWSTR server, DWORD jobId, LPBYTE *buffer) {
  g_fake->calls.push_back("get " + ServerName(server) + " " + std::to_string(jobId));
  if (g_fake->failGet)
    return g_fake->failGet;
  auto found = g_fake->jobs.find(jobId);
  if (found == g_fake->jobs.end())
    return 3806;
  const FakeJob &job = found->second;
  size_t size = sizeof(AT_INFO) + (job.command.size() + 1) * sizeof(wchar_t);
  AT_INFO *info = static_cast<AT_INFO *>(malloc(size));
  *info = job.info;
  info->Command = reinterpret_cast<LPWSTR>(info + 1);
  wcscpy(info->Command, job.command.c_str());
  *buffer = Keep(info);
  return NERR_Success;
}

NET_API_STATUS WINAPI FakeEnum(LPCWSTR server, LPBYTE *buffer, DWORD preferred, LPDWORD read, LPDWORD total,
                               LPDWORD resume) {
  g_fake->calls.push_back("enum " + ServerName(server));
  EXPECT_EQ(MAX_PREFERRED_LENGTH, preferred);
  EXPECT_EQ(0u, *resume);
  std::vector<AT_ENUM> entries;
  for (auto &item : g_fake->jobs) {
    AT_ENUM e = {item.first, item.second.info.JobTime, item.second.info.DaysOfMonth, item.second.info.DaysOfWeek,
                 item.second.info.Flags, const_cast<LPWSTR>(item.second.command.c_str())};
    entries.push_back(e);
  }
  *total = static_cast<DWORD>(entries.size());
  *read = *total - g_fake->enumShortBy;
  AT_ENUM *out = static_cast<AT_ENUM *>(malloc(sizeof(AT_ENUM) * (*read + 1)));
  size_t i = 0;
  for (; i < *read; ++i) {
    out[i] = entries[i];
    out[i].Command = _wcsdup(entries[i].Command); // leaked on purpose: the fake's own heap
  }
  *buffer = Keep(out);
  *resume = g_fake->enumShortBy ? 7 : 0;
  return g_fake->failEnum;
}

NET_API_STATUS WINAPI FakeFree(LPVOID buffer) {
  if (!g_fake->buffers.erase(buffer)) {
    g_fake->calls.push_back("free of an unknown buffer");
    return ERROR_INVALID_PARAMETER;
  }
  free(buffer);
  return NERR_Success;
}

NET_API_STATUS WINAPI FakeTod(LPCWSTR server, LPBYTE *buffer) {
  g_fake->calls.push_back("tod " + ServerName(server));
  if (g_fake->failTod)
    return g_fake->failTod;
  TIME_OF_DAY_INFO *tod = static_cast<TIME_OF_DAY_INFO *>(calloc(1, sizeof(TIME_OF_DAY_INFO)));
  tod->tod_year = g_fake->todUtc.wYear;
  tod->tod_month = g_fake->todUtc.wMonth;
  tod->tod_day = g_fake->todUtc.wDay;
  tod->tod_hours = g_fake->todUtc.wHour;
  tod->tod_mins = g_fake->todUtc.wMinute;
  tod->tod_secs = g_fake->todUtc.wSecond;
  tod->tod_hunds = 99;
  tod->tod_timezone = kServerZone;
  *buffer = Keep(tod);
  return NERR_Success;
}

void WINAPI FakeUtc(LPSYSTEMTIME now) {
  g_fake->calls.push_back("system clock");
  *now = g_fake->utc;
}

bool FakeLocalNow(JobClock &now) {
  now = g_fake->localNow;
  return g_fake->localNowWorks;
}

std::string SystemText(DWORD code) { return CoreErrorText(code); }

class NetJobsUnitTest : public ::testing::Test {
protected:
  void SetUp() override {
    g_fake = &fake;
    saved = g_netJobCalls;
    g_netJobCalls = NetJobCalls{FakeAdd, FakeDel, FakeEnum, FakeGetInfo, FakeFree, FakeTod, FakeUtc, FakeLocalNow};
    handlesBefore = HandleLiveCount();
  }
  void TearDown() override {
    g_netJobCalls = saved;
    EXPECT_TRUE(fake.buffers.empty()) << "every scheduler buffer is released";
    for (const std::string &call : fake.calls)
      EXPECT_NE("free of an unknown buffer", call);
    EXPECT_EQ(handlesBefore, HandleLiveCount()) << "the test freed what it was given";
    g_fake = nullptr;
    core->Release();
  }

  // The server's wall clock at this time; this computer's clock shows the
  // same time in its own zone (for the server ".").
  void SetServerClock(int hour, int minute, int second) {
    SYSTEMTIME local = {};
    local.wYear = 2026;
    local.wMonth = 12;
    local.wDay = 8;
    local.wHour = static_cast<WORD>(hour);
    local.wMinute = static_cast<WORD>(minute);
    local.wSecond = static_cast<WORD>(second);
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &fake.utc));
    ULARGE_INTEGER at;
    FILETIME asFileTime;
    ASSERT_TRUE(SystemTimeToFileTime(&local, &asFileTime));
    at.LowPart = asFileTime.dwLowDateTime;
    at.HighPart = asFileTime.dwHighDateTime;
    at.QuadPart += kServerZone * 60 * 10000000LL;
    asFileTime.dwLowDateTime = at.LowPart;
    asFileTime.dwHighDateTime = at.HighPart;
    ASSERT_TRUE(FileTimeToSystemTime(&asFileTime, &fake.todUtc));
    fake.clockMs = static_cast<DWORD>((hour * 3600 + minute * 60 + second) * 1000);
  }

  long Add(long flags, const wchar_t *server, const wchar_t *spec, const wchar_t *command = L"cmd /c job",
           HRESULT expected = S_OK) {
    long id = 99;
    Text s(server), c(spec), k(command);
    EXPECT_EQ(expected, core->NetScheduleJobAdd(flags, s, c, k, &id)) << Narrow(spec ? spec : L"");
    return id;
  }

  long Free(long handle) {
    long freed = 0;
    core->FreeHandle(handle, &freed);
    return freed;
  }

  std::string Notices() const {
    std::string all;
    for (const std::string &t : relay.Texts())
      all += "[" + t + "]";
    return all;
  }
  bool Noticed(const std::string &text) const { return Notices().find("[" + text + "]") != std::string::npos; }

  FakeScheduler fake;
  NetJobCalls saved;
  long handlesBefore = 0;
  qmtest::RelayWindow relay;
  CCore *core = new CCore(nullptr);
};

TEST_F(NetJobsUnitTest, NetCreateProcessWalksFifteenSecondStepsUntilAJobRunsToday) {
  SetServerClock(10, 15, 7);
  long id = 0;
  Text remote(L"\\\\far"), command(L"cmd /c now");
  EXPECT_EQ(S_OK, core->NetCreateProcess(0, remote, command, &id));
  std::vector<std::string> walk = {"tod \\\\far",      "add \\\\far 36907000", "get \\\\far 1",
                                   "del \\\\far 1-1", "add \\\\far 36922000", "get \\\\far 2"};
  EXPECT_EQ(walk, fake.calls) << "10:15:07 would only run tomorrow, so 10:15:22 is placed and kept";
  EXPECT_EQ(2, id);
  ASSERT_EQ(1u, fake.jobs.size());
  EXPECT_EQ(JOB_NONINTERACTIVE | JOB_RUNS_TODAY, fake.jobs[2].info.Flags);
  EXPECT_EQ(0u, fake.jobs[2].info.DaysOfMonth | fake.jobs[2].info.DaysOfWeek);
  EXPECT_EQ(L"cmd /c now", fake.jobs[2].command);

  // This computer: its own clock instead of NetRemoteTOD; interactive on bit 0.
  fake.calls.clear();
  SetServerClock(10, 15, 7);
  Text dot(L".");
  EXPECT_EQ(S_OK, core->NetCreateProcess(1, dot, command, &id));
  EXPECT_EQ("system clock", fake.calls.front());
  EXPECT_EQ("add (local) 36907000", fake.calls[1]);
  EXPECT_EQ(4, id);
  EXPECT_EQ(JOB_RUNS_TODAY, fake.jobs[4].info.Flags);

  // The AsUser form warns that the account is not used, then does the same.
  fake.calls.clear();
  SetServerClock(10, 15, 7);
  Text user(L"admin"), password(L"secret"), empty(L"");
  EXPECT_EQ(S_OK, core->NetCreateProcessAsUser(0, user, empty, password, command, &id));
  EXPECT_EQ(6, id);
  EXPECT_TRUE(Noticed("Warning: QM_NetCreateProcessAsUser: User and password info ignored.")) << Notices();
  EXPECT_NE(std::string::npos, LogText().find("[QM_NetCreateProcessAsUser]"));
  EXPECT_NE(std::string::npos, LogText().find("User and password info ignored."));
  EXPECT_EQ(3u, fake.jobs.size());
}

TEST_F(NetJobsUnitTest, NetCreateProcessFailuresLeaveOnlyWhatCouldNotBeTakenBack) {
  // Close to midnight the next step is a day or more: the scheduler refuses.
  SetServerClock(23, 59, 50);
  long id = 0;
  Text remote(L"\\\\far"), command(L"cmd /c late");
  EXPECT_EQ(S_FALSE, core->NetCreateProcess(0, remote, command, &id));
  EXPECT_EQ(-1, id);
  EXPECT_TRUE(fake.jobs.empty()) << "the job that would run tomorrow was deleted";
  EXPECT_EQ("add \\\\far 86405000", fake.calls.back());
  EXPECT_TRUE(Noticed("NetCreateProcess: " + SystemText(ERROR_INVALID_PARAMETER))) << Notices();

  // A deletion that fails ends the walk; that job stays and is named.
  fake.calls.clear();
  SetServerClock(10, 15, 7);
  fake.failDel = ERROR_ACCESS_DENIED;
  EXPECT_EQ(S_FALSE, core->NetCreateProcess(0, remote, command, &id));
  EXPECT_EQ(-1, id);
  ASSERT_EQ(1u, fake.jobs.size());
  DWORD stuck = fake.jobs.begin()->first;
  EXPECT_NE(std::string::npos, LogText().find("Error while deleting job: " + std::to_string(stuck)));
  EXPECT_NE(std::string::npos, LogText().find("[QM_NetScheduleJobAdd]"));
  EXPECT_TRUE(Noticed("NetCreateProcess: " + SystemText(ERROR_ACCESS_DENIED))) << Notices();
  fake.failDel = 0;
  fake.jobs.clear();

  // A job that cannot be read back is taken back before -1 is answered: a
  // retry must not run the command twice.
  fake.failGet = RPC_S_SERVER_UNAVAILABLE;
  EXPECT_EQ(S_FALSE, core->NetCreateProcess(0, remote, command, &id));
  EXPECT_TRUE(fake.jobs.empty());
  EXPECT_EQ("del \\\\far 3-3", fake.calls.back());
  EXPECT_TRUE(Noticed("NetCreateProcess: " + SystemText(RPC_S_SERVER_UNAVAILABLE)));
  fake.failGet = 0;

  // No clock, no job.
  fake.calls.clear();
  fake.failTod = ERROR_BAD_NETPATH;
  Text user(L"u");
  EXPECT_EQ(S_FALSE, core->NetCreateProcessAsUser(0, user, remote, nullptr, command, &id));
  EXPECT_EQ(-1, id);
  EXPECT_EQ(std::vector<std::string>{"tod \\\\far"}, fake.calls);
  EXPECT_TRUE(Noticed("NetCreateProcessAsUser: " + SystemText(ERROR_BAD_NETPATH))) << Notices();

  // An empty command line is refused before anything is asked.
  fake.calls.clear();
  Text empty(L"");
  EXPECT_EQ(S_FALSE, core->NetCreateProcess(0, remote, empty, &id));
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(NetJobsUnitTest, NetScheduleJobAddCompilesTheSpecificationAndNamesTheServer) {
  EXPECT_EQ(1, Add(0, L".", L"30 2 * _ 2-6"));
  EXPECT_EQ(9000000u, fake.jobs[1].info.JobTime);
  EXPECT_EQ(0x7FFFFFFFu, fake.jobs[1].info.DaysOfMonth);
  EXPECT_EQ(0x1F, fake.jobs[1].info.DaysOfWeek);
  EXPECT_EQ(JOB_NONINTERACTIVE, fake.jobs[1].info.Flags) << "non-interactive, one-time";
  EXPECT_EQ(L"cmd /c job", fake.jobs[1].command);
  EXPECT_EQ(2, Add(1, L"", L"0 0 _ _ 1 _ _ 30"));
  EXPECT_EQ(0, fake.jobs[2].info.Flags) << "bit 0: interactive";
  EXPECT_EQ(30000u, fake.jobs[2].info.JobTime);
  EXPECT_EQ(0x40, fake.jobs[2].info.DaysOfWeek) << "Sunday";
  EXPECT_EQ(3, Add(2, nullptr, L"0 3 * _ *"));
  EXPECT_EQ(JOB_NONINTERACTIVE, fake.jobs[3].info.Flags) << "no other bit is read";
  EXPECT_EQ(4, Add(0, L"\\\\far", L"0 3 1,15 _ _"));
  std::vector<std::string> servers = {"add (local) 9000000", "add (local) 30000", "add (local) 10800000",
                                      "add \\\\far 10800000"};
  EXPECT_EQ(servers, fake.calls);

  // Refused specifications never reach the scheduler.
  fake.calls.clear();
  relay.entries.clear();
  for (const wchar_t *spec : {L"0 3 * * *", L"0 3 * _ * 2026", L"0 3 * _ * _ 100", L"0,30 3 * _ *", L"x 3 * _ *"})
    EXPECT_EQ(-1, Add(0, L".", spec, L"cmd", S_FALSE));
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(5u, relay.Texts().size());
  EXPECT_TRUE(Noticed("NetScheduleJobAdd: " + SystemText(ERROR_INVALID_PARAMETER))) << Notices();
  EXPECT_EQ(-1, Add(0, L".", L"0 3 * _ * _ _ 0 9", L"cmd", S_FALSE));
  EXPECT_NE(std::string::npos, LogText().find("[CompileCronSpec]"));
  EXPECT_NE(std::string::npos, LogText().find("Bad Cron format: (0 3 * _ * _ _ 0 9)"));

  // Missing texts are refused at once, without a notice.
  relay.entries.clear();
  EXPECT_EQ(-1, Add(0, L".", L"", L"cmd", S_FALSE));
  EXPECT_EQ(-1, Add(0, L".", L"0 3 * _ *", L"", S_FALSE));
  EXPECT_EQ(-1, Add(0, L".", nullptr, L"cmd", S_FALSE));
  EXPECT_TRUE(relay.Texts().empty()) << Notices();

  // The scheduler's refusal is the notice.
  fake.failAdd = ERROR_ACCESS_DENIED;
  EXPECT_EQ(-1, Add(0, L".", L"0 3 * _ *", L"cmd", S_FALSE));
  EXPECT_TRUE(Noticed("NetScheduleJobAdd: " + SystemText(ERROR_ACCESS_DENIED)));
  fake.failAdd = 0;

  // The AsUser form: a warning only when an account is given.
  relay.entries.clear();
  long id = 0;
  Text server(L"."), spec(L"0 4 * _ *"), command(L"cmd"), user(L"u");
  EXPECT_EQ(S_OK, core->NetScheduleJobAddAsUser(1, nullptr, server, nullptr, spec, command, &id));
  EXPECT_TRUE(relay.Texts().empty()) << Notices();
  EXPECT_EQ(S_OK, core->NetScheduleJobAddAsUser(1, user, server, nullptr, spec, command, &id));
  EXPECT_TRUE(Noticed("Warning: QM_NetScheduleJobAddAsUser: User and password info ignored.")) << Notices();
  EXPECT_EQ(0, fake.jobs[static_cast<DWORD>(id)].info.Flags);
  fake.failAdd = ERROR_ACCESS_DENIED;
  EXPECT_EQ(S_FALSE, core->NetScheduleJobAddAsUser(1, user, server, nullptr, spec, command, &id));
  EXPECT_TRUE(Noticed("NetScheduleJobAddAsUser: " + SystemText(ERROR_ACCESS_DENIED))) << Notices();
}

TEST_F(NetJobsUnitTest, ListsEntriesCopiesAndAccessorsKeepToTheirKindOfHandle) {
  Add(0, L".", L"0 1 * _ *", L"first");
  Add(1, L".", L"0 2 * _ *", L"second");
  Add(0, L".", L"0 3 * _ *", L"third");
  fake.jobs[2].info.Flags |= JOB_EXEC_ERROR;

  long list = 0, count = 0;
  Text dot(L".");
  ASSERT_EQ(S_OK, core->NetScheduleJobEnum(dot, &list));
  ASSERT_EQ(HT_JOB_LIST, HandleTypeOf(list));
  EXPECT_EQ(S_OK, core->NetScheduleJobEnumCount(list, &count));
  EXPECT_EQ(3, count);

  relay.entries.clear();
  for (long bad : {0L, -1L, 4L}) {
    long job = 99;
    EXPECT_EQ(S_FALSE, core->NetScheduleJobEnumGet(list, bad, &job));
    EXPECT_EQ(0, job);
    EXPECT_TRUE(Noticed("CCore::NetScheduleJobEnumGet: Bad job index " + std::to_string(bad))) << Notices();
    EXPECT_NE(std::string::npos, LogText().find("Bad job index " + std::to_string(bad)));
  }
  long last = 0, second = 0;
  ASSERT_EQ(S_OK, core->NetScheduleJobEnumGet(list, 3, &last));
  ASSERT_EQ(S_OK, core->NetScheduleJobEnumGet(list, 2, &second));
  EXPECT_EQ(kTrue, Free(list)) << "the list goes; its copies stay";
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoCommand(last, &text));
  EXPECT_EQ("third", Take(text));
  long value = 0;
  core->NetScheduleJobGetInfoJobId(last, &value);
  EXPECT_EQ(3, value);
  core->NetScheduleJobGetInfoError(second, &value);
  EXPECT_EQ(kTrue, value);
  core->NetScheduleJobGetInfoError(last, &value);
  EXPECT_EQ(kFalse, value);

  // A list handle is no job, a job handle no list, and 0 is neither.
  ASSERT_EQ(S_OK, core->NetScheduleJobEnum(dot, &list));
  relay.entries.clear();
  for (long wrong : {list, 0L}) {
    value = 77;
    EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoJobId(wrong, &value));
    EXPECT_EQ(-1, value);
    value = 77;
    EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoError(wrong, &value));
    EXPECT_EQ(77, value) << "no result written";
    text = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_FALSE, core->NetScheduleJobGetInfoCommand(wrong, &text));
    EXPECT_EQ(nullptr, text) << "an out string is never left undefined";
    text = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoTime(wrong, &text));
    EXPECT_EQ(nullptr, text);
  }
  for (long wrong : {last, 0L}) {
    value = 77;
    EXPECT_EQ(S_FALSE, core->NetScheduleJobEnumCount(wrong, &value));
    EXPECT_EQ(77, value);
    EXPECT_EQ(S_FALSE, core->NetScheduleJobEnumGet(wrong, 1, &value));
    EXPECT_EQ(0, value);
  }
  EXPECT_TRUE(relay.Texts().empty()) << "no notices for a handle of the wrong kind: " << Notices();
  EXPECT_EQ(kTrue, Free(list));
  EXPECT_EQ(kTrue, Free(last));
  EXPECT_EQ(kTrue, Free(second));

  // Reading one job: the id as asked, the rest from the scheduler.
  long job = 0;
  ASSERT_EQ(S_OK, core->NetScheduleJobGetInfo(dot, 2, &job));
  EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoCommand(job, &text));
  EXPECT_EQ("second", Take(text));
  EXPECT_EQ(kTrue, Free(job));
  EXPECT_EQ(S_FALSE, core->NetScheduleJobGetInfo(dot, 42, &job));
  EXPECT_EQ(0, job);
  EXPECT_TRUE(Noticed("NetScheduleJobGetInfo: " + SystemText(3806))) << Notices();

  // Deleting a range, bounds included.
  long deleted = 0;
  EXPECT_EQ(S_OK, core->NetScheduleJobDel(dot, 1, 2, &deleted));
  EXPECT_EQ(kTrue, deleted);
  EXPECT_EQ("del (local) 1-2", fake.calls.back());
  EXPECT_EQ(1u, fake.jobs.size());
  EXPECT_EQ(S_FALSE, core->NetScheduleJobDel(dot, 1, 2, &deleted));
  EXPECT_EQ(kFalse, deleted);
  EXPECT_TRUE(Noticed("NetScheduleJobDel: " + SystemText(3806))) << Notices();
}

TEST_F(NetJobsUnitTest, EnumShortfallEmptyListsAndFailures) {
  Text dot(L".");
  long list = 0, count = 9;
  ASSERT_EQ(S_OK, core->NetScheduleJobEnum(dot, &list));
  EXPECT_EQ(S_OK, core->NetScheduleJobEnumCount(list, &count));
  EXPECT_EQ(0, count) << "no jobs is a list of none";
  long job = 5;
  EXPECT_EQ(S_FALSE, core->NetScheduleJobEnumGet(list, 1, &job));
  EXPECT_EQ(kTrue, Free(list));

  for (int i = 0; i < 5; ++i)
    Add(0, L".", L"0 1 * _ *", L"job");
  fake.enumShortBy = 2;
  relay.entries.clear();
  ASSERT_EQ(S_OK, core->NetScheduleJobEnum(dot, &list));
  EXPECT_EQ(S_OK, core->NetScheduleJobEnumCount(list, &count));
  EXPECT_EQ(3, count) << "the entries read make the list";
  EXPECT_TRUE(Noticed("Warning: 2 jobs skipped")) << Notices();
  EXPECT_NE(std::string::npos, LogText().find("EntriesRead(3) != TotalEntries(5): ResumeHandle(7)"));
  EXPECT_NE(std::string::npos, LogText().find("[CCore::NetScheduleJobEnum]"));
  EXPECT_EQ(kTrue, Free(list));

  fake.failEnum = ERROR_MORE_DATA;
  EXPECT_EQ(S_FALSE, core->NetScheduleJobEnum(dot, &list));
  EXPECT_EQ(0, list);
  EXPECT_TRUE(Noticed("NetScheduleJobEnum: " + SystemText(ERROR_MORE_DATA))) << "and the buffer was released";
}

// The platform's text of a local date and time.
std::wstring PlatformText(int year, int month, int day, int hour, int minute, bool dateOnly = false) {
  SYSTEMTIME t = {};
  t.wYear = static_cast<WORD>(year);
  t.wMonth = static_cast<WORD>(month);
  t.wDay = static_cast<WORD>(day);
  t.wHour = static_cast<WORD>(hour);
  t.wMinute = static_cast<WORD>(minute);
  double value = 0;
  EXPECT_TRUE(SystemTimeToVariantTime(&t, &value));
  if (dateOnly)
    value = static_cast<double>(static_cast<long long>(value));
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, VarBstrFromDate(value, LOCALE_USER_DEFAULT, 0, &text));
  std::wstring out(text, SysStringLen(text));
  SysFreeString(text);
  return out;
}

std::wstring TimeText(double dayFraction) {
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, VarBstrFromDate(dayFraction, LOCALE_USER_DEFAULT, 0, &text));
  std::wstring out(text, SysStringLen(text));
  SysFreeString(text);
  return out;
}

TEST_F(NetJobsUnitTest, NextRunTextAgainstAPinnedClock) {
  fake.localNow = {2026, 12, 8, 9, 0, 0}; // Tuesday 09:00
  auto nextRun = [&](const wchar_t *spec) {
    Add(0, L".", spec);
    long list = 0, job = 0;
    Text dot(L".");
    core->NetScheduleJobEnum(dot, &list);
    long count = 0;
    core->NetScheduleJobEnumCount(list, &count);
    core->NetScheduleJobEnumGet(list, count, &job);
    BSTR text = nullptr;
    EXPECT_EQ(S_OK, core->NetScheduleJobGetInfoTime(job, &text));
    std::wstring out = text ? std::wstring(text, SysStringLen(text)) : L"(null)";
    SysFreeString(text);
    Free(job);
    Free(list);
    return Narrow(out);
  };
  EXPECT_EQ(Narrow(PlatformText(2026, 12, 9, 2, 30)), nextRun(L"30 2 * _ 2-6")) << "tomorrow, a Wednesday";
  EXPECT_EQ(Narrow(PlatformText(2026, 12, 8, 0, 0, true) + L" " + TimeText(7 / 24.0)), nextRun(L"0 7 _ _ _"))
      << "no days: today, although 07:00 has passed";
  EXPECT_EQ(Narrow(PlatformText(2027, 1, 1, 0, 0, true) + L" " + TimeText(0)), nextRun(L"0 0 1 _ _"))
      << "the next first of the month, midnight written out";
  EXPECT_NE(std::string::npos, nextRun(L"0 0 1 _ _").find(' '));

  fake.localNowWorks = false;
  EXPECT_EQ("Invalid DateTime", nextRun(L"30 2 * _ 2-6"));
}

#if defined(__x86_64__)
// Stand-ins for the RPC runtime below the guard: a clean-up (termination
// handler) that the guard's unwind must run, and a handler of its own that
// takes the failure first and answers its status.
thread_local int t_cleanups = 0;
extern "C" __attribute__((used)) void QmTestCleanup(BOOLEAN, void *) { ++t_cleanups; }
extern "C" __attribute__((used)) LONG QmTestOwnFilter(EXCEPTION_POINTERS *, void *) {
  return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) NET_API_STATUS RaiseUnderCleanup(void *) {
  __asm__ __volatile__(".l_qm_test_cleanup_begin:\n\t"
                       ".seh_handler __C_specific_handler, @except, @unwind\n\t"
                       ".seh_handlerdata\n\t.long 1\n\t"
                       ".rva .l_qm_test_cleanup_begin, .l_qm_test_cleanup_end, QmTestCleanup\n\t.long 0\n\t.text\n" ::
                           : "memory");
  RaiseException(RPC_S_SERVER_UNAVAILABLE, 0, 0, nullptr);
  __asm__ __volatile__("nop\n.l_qm_test_cleanup_end:\n\tnop\n" ::: "memory");
  return ERROR_SUCCESS;
}

__attribute__((noinline)) NET_API_STATUS RaiseUnderOwnHandler(void *) {
  volatile NET_API_STATUS status = RPC_S_CALL_FAILED; // what its own handler answers
  __asm__ __volatile__(".l_qm_test_own_begin:\n\t"
                       ".seh_handler __C_specific_handler, @except\n\t"
                       ".seh_handlerdata\n\t.long 1\n\t"
                       ".rva .l_qm_test_own_begin, .l_qm_test_own_end, QmTestOwnFilter, .l_qm_test_own_end\n\t"
                       ".text\n" ::: "memory");
  RaiseException(RPC_S_SERVER_UNAVAILABLE, 0, 0, nullptr);
  status = ERROR_SUCCESS;
  __asm__ __volatile__("nop\n.l_qm_test_own_end:\n\tnop\n" ::: "memory");
  return status;
}

// The guard around the scheduler calls takes a raised RPC failure only where
// nothing nearer the raise does, and unwinds through the clean-up below it.
TEST(SchedulerCallGuardTest, LeavesTheRpcRuntimeItsHandlersAndItsCleanUp) {
  t_cleanups = 0;
  EXPECT_EQ(static_cast<NET_API_STATUS>(RPC_S_SERVER_UNAVAILABLE), GuardedSchedulerCall(RaiseUnderCleanup, nullptr));
  EXPECT_EQ(1, t_cleanups) << "the clean-up below the guard ran before the call was left";
  EXPECT_EQ(static_cast<NET_API_STATUS>(RPC_S_CALL_FAILED), GuardedSchedulerCall(RaiseUnderOwnHandler, nullptr))
      << "the handler nearer the raise answered first";
  EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_CALL_NOT_IMPLEMENTED), GuardedSchedulerCall([](void *) -> NET_API_STATUS {
              RaiseException(0x80000100, 0, 0, nullptr); // Wine's stub exception
              return ERROR_SUCCESS;
            }, nullptr));
  EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED),
            GuardedSchedulerCall([](void *) -> NET_API_STATUS { return ERROR_ACCESS_DENIED; }, nullptr));

  // The real call through the production table: this computer's clock.
  NetJobCalls system = SystemNetJobCalls();
  LPBYTE tod = nullptr;
  NET_API_STATUS status = system.RemoteTOD(L"\\\\127.0.0.1", &tod);
  EXPECT_TRUE((status == NERR_Success && tod) ||
              qmtest::WineDiffers(status == ERROR_CALL_NOT_IMPLEMENTED && !tod,
                                  "Wine's NetRemoteTOD is a stub that raises, which the guard answers as not "
                                  "implemented; Windows answers the time of day"))
      << status;
  if (tod)
    system.BufferFree(tod);
}
#endif

} // namespace
