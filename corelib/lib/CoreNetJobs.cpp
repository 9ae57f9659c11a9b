// The network job methods: jobs of the platform's schedule service on this
// or another computer, added from cron specifications, listed, read, deleted,
// and placed a few seconds ahead of a computer's clock to start a command now.
#include "Core.h"
#include "CoreNetJobs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <string>

#include "CoreModule.h"
#include "CoreText.h"
#include "CronSchedule.h"
#include "HandleTable.h"
#include "QuillmothRun.h"
#include "TaskJob.h"
#include "TaskJobCalls.h"

namespace {

// QM.NETJOBS = "tasks" keeps the jobs as Task Scheduler tasks without asking
// the network job scheduler first.
bool TasksChosen() {
  char value[16];
  DWORD length = GetEnvironmentVariableA("QM.NETJOBS", value, sizeof value);
  return length > 0 && length < sizeof value && _stricmp(value, "tasks") == 0;
}

// Makes `call` with the scheduler that serves: the network job scheduler,
// or Task Scheduler where that one answers "not supported" (as it does
// since Windows 8 unless an administrator enables it again). The answer's
// buffer belongs to the table handed to `call`.
template <typename Call> NET_API_STATUS OnScheduler(Call call) {
  if (!TasksChosen()) {
    NET_API_STATUS status = call(g_netJobCalls);
    if (status != ERROR_NOT_SUPPORTED)
      return status;
  }
  return call(g_taskJobCalls);
}

// An answer's buffer, given back to the table that gave it out: when the
// next attempt starts, and at the end.
class SchedulerBuffer {
public:
  SchedulerBuffer() = default;
  SchedulerBuffer(const SchedulerBuffer &) = delete;
  SchedulerBuffer &operator=(const SchedulerBuffer &) = delete;
  ~SchedulerBuffer() { Reset(nullptr); }

  // Where an attempt with these calls puts its answer.
  LPBYTE *For(const NetJobCalls &calls) {
    Reset(&calls);
    return &m_buffer;
  }
  LPBYTE Get() const { return m_buffer; }

private:
  void Reset(const NetJobCalls *calls) {
    if (m_buffer)
      m_calls->BufferFree(m_buffer);
    m_buffer = nullptr;
    m_calls = calls;
  }

  LPBYTE m_buffer = nullptr;
  const NetJobCalls *m_calls = nullptr;
};

const char kInvalidDateTime[] = "Invalid DateTime";

// 8-bit text as the wide text the scheduler takes; false when it cannot be
// converted.
bool Widen(const char *text, std::wstring &wide) {
  wide.clear();
  if (!text[0])
    return true;
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0)
    return false;
  wide.resize(static_cast<size_t>(length));
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length) != length)
    return false;
  wide.resize(static_cast<size_t>(length - 1));
  return true;
}

// The server argument: "." and the empty (or missing) text are this
// computer, for which no name is passed.
struct ServerArg {
  TextArg<kTextBuffer> text;
  std::wstring wide;
  bool local = true;
  bool Take(const char *method, BSTR server) {
    if (!text.TakeQuietly(method, "the server name", server, kOptionalText) || !Widen(text.text, wide))
      return false;
    local = IsLocalServer(text.text);
    return true;
  }
  LPCWSTR Name() const { return local ? nullptr : wide.c_str(); }
};

struct CommandArg {
  TextArg<kTextBuffer> text;
  std::wstring wide;
  bool Take(const char *method, BSTR command) {
    return text.TakeQuietly(method, "the command line", command, kRequiredText) && Widen(text.text, wide);
  }
};

void WarnUserIgnored(const char *label, BSTR user, BSTR password) {
  if (!user && !password)
    return;
  QMR_NotifyMessage(0, "Warning: %s: User and password info ignored.", label);
  QMR_DebugMessage(__LINE__, label, "%s", "User and password info ignored.");
}

// Copies an entry with a heap copy of its command; false when memory runs out.
bool CopyEntry(const AT_ENUM &from, AT_ENUM &to) {
  to = from;
  to.Command = nullptr;
  if (from.Command && !(to.Command = _wcsdup(from.Command)))
    return false;
  return true;
}

// A heap copy of an entry that owns its command; null when memory runs out.
AT_ENUM *NewEntry(const AT_ENUM &from) {
  AT_ENUM *entry = static_cast<AT_ENUM *>(calloc(1, sizeof(AT_ENUM)));
  if (entry && !CopyEntry(from, *entry)) {
    free(entry);
    entry = nullptr;
  }
  return entry;
}

void FreeEntry(AT_ENUM *entry) {
  if (entry) {
    free(entry->Command);
    free(entry);
  }
}

// A new HT_JOB handle for a copy of `from`, or 0 when memory runs out.
long IssueJob(const AT_ENUM &from) {
  AT_ENUM *entry = NewEntry(from);
  long handle = entry ? HandleIssue(HT_JOB, entry) : 0;
  if (!handle)
    FreeEntry(entry);
  return handle;
}

// The list: copies of `entries` and the terminator; null when memory runs out.
AT_ENUM *NewList(const AT_ENUM *entries, DWORD count) {
  AT_ENUM *list = static_cast<AT_ENUM *>(calloc(static_cast<size_t>(count) + 1, sizeof(AT_ENUM)));
  if (!list)
    return nullptr;
  for (DWORD i = 0; i < count; ++i) {
    if (!CopyEntry(entries[i], list[i])) {
      list[i].JobTime = kJobListEnd;
      FreeJobPayload(HT_JOB_LIST, list);
      return nullptr;
    }
  }
  list[count].JobTime = kJobListEnd;
  return list;
}

DWORD ListCount(const AT_ENUM *list) {
  DWORD count = 0;
  while (list[count].JobTime != kJobListEnd)
    ++count;
  return count;
}

// Reads the fields of a live HT_JOB handle; the command, when asked for,
// as a copy (the entry's own pointer is not handed out).
bool ReadJob(long handle, AT_ENUM &entry, std::wstring *command = nullptr) {
  struct Read {
    AT_ENUM *entry;
    std::wstring *command;
  } read = {&entry, command};
  return HandleVisit(handle, HT_JOB, [](HandleRecord &record, void *context) {
    Read *r = static_cast<Read *>(context);
    const AT_ENUM *job = static_cast<const AT_ENUM *>(record.payload);
    *r->entry = *job;
    r->entry->Command = nullptr;
    if (r->command && job->Command)
      r->command->assign(job->Command);
  }, &read);
}

// The number of entries of a live HT_JOB_LIST handle.
bool CountList(long handle, DWORD &count) {
  return HandleVisit(handle, HT_JOB_LIST, [](HandleRecord &record, void *context) {
    *static_cast<DWORD *>(context) = ListCount(static_cast<const AT_ENUM *>(record.payload));
  }, &count);
}

// The notice of a job that was not added: the system's text of `status`,
// or which character of the command no task can hold.
void NotifyAddFailure(const char *method, NET_API_STATUS status, const std::wstring &command) {
  size_t at = FirstCharacterXmlCannotHold(command);
  if (status != kTaskCommandUnfit || at == std::wstring::npos) {
    CoreNotifyFailure(method, status);
    return;
  }
  char text[160];
  snprintf(text, sizeof text,
           "The command holds the character U+%04X at position %u, which a Task Scheduler task cannot hold. "
           "No job was added.",
           static_cast<unsigned>(command[at]), static_cast<unsigned>(at + 1));
  CoreNotifyText(method, text);
}

// Adds one job; the notices name `method`.
HRESULT AddJob(const char *method, long flags, BSTR server, BSTR cron_spec, BSTR commandline, long *pVal) {
  *pVal = -1;
  ServerArg name;
  TextArg<kTextBuffer> spec;
  CommandArg command;
  if (!name.Take(method, server) || !spec.Convert(cron_spec, kRequiredText) || !command.Take(method, commandline))
    return S_FALSE;

  CronSchedule schedule;
  bool badFieldCount = false;
  if (!CompileCronSpec(spec.text, schedule, &badFieldCount)) {
    if (badFieldCount)
      QMR_DebugMessage(__LINE__, "CompileCronSpec", "Bad Cron format: (%s)", spec.text);
    CoreNotifyFailure(method, ERROR_INVALID_PARAMETER);
    return S_FALSE;
  }
  AT_INFO info = {};
  info.JobTime = schedule.JobTime;
  info.DaysOfMonth = schedule.DaysOfMonth;
  info.DaysOfWeek = schedule.DaysOfWeek;
  info.Flags = JobFlagsFor(flags);
  info.Command = &command.wide[0];
  DWORD jobId = 0;
  NET_API_STATUS status = OnScheduler(
      [&](const NetJobCalls &calls) { return calls.JobAdd(name.Name(), reinterpret_cast<LPBYTE>(&info), &jobId); });
  if (status != NERR_Success) {
    NotifyAddFailure(method, status, command.wide);
    return S_FALSE;
  }
  *pVal = static_cast<long>(jobId);
  return S_OK;
}

// The server's wall clock.
NET_API_STATUS ServerClock(const ServerArg &server, JobClock &clock) {
  return ServerClockNow(server.local ? nullptr : server.Name(), clock);
}

// Places a one-time job at the first 15-second step ahead of the server's
// clock that the server still runs today.
HRESULT StartNow(const char *method, long flags, BSTR server, BSTR commandline, long *pVal) {
  *pVal = -1;
  ServerArg name;
  CommandArg command;
  if (!name.Take(method, server) || !command.Take(method, commandline))
    return S_FALSE;

  JobClock clock;
  NET_API_STATUS status = ServerClock(name, clock);
  if (status != NERR_Success) {
    CoreNotifyFailure(method, status);
    return S_FALSE;
  }
  uint32_t base = JobTimeOfDay(clock);
  const NetJobCalls *calls = TasksChosen() ? &g_taskJobCalls : &g_netJobCalls;
  for (uint32_t step = 0; step < kJobMaxSteps; ++step) {
    uint64_t jobTime = JobStepTime(base, step);
    if (jobTime > 0xFFFFFFFEu) // past what a job time can hold
      break;
    AT_INFO info = {};
    info.JobTime = static_cast<DWORD>(jobTime);
    info.Flags = JobFlagsFor(flags);
    info.Command = &command.wide[0];
    DWORD jobId = 0;
    status = calls->JobAdd(name.Name(), reinterpret_cast<LPBYTE>(&info), &jobId);
    if (status == ERROR_NOT_SUPPORTED && calls == &g_netJobCalls) {
      calls = &g_taskJobCalls; // the same step again, as a task
      status = calls->JobAdd(name.Name(), reinterpret_cast<LPBYTE>(&info), &jobId);
    }
    if (status != NERR_Success)
      break;
    bool runsToday = false;
    NET_API_STATUS readStatus;
    {
      SchedulerBuffer buffer;
      readStatus = calls->JobGetInfo(name.Name(), jobId, buffer.For(*calls));
      if (readStatus == NERR_Success)
        runsToday = (reinterpret_cast<const AT_INFO *>(buffer.Get())->Flags & kJobRunsToday) != 0;
    }
    if (runsToday) {
      *pVal = static_cast<long>(jobId);
      return S_OK;
    }
    // Its time has passed on the server (it would run tomorrow), or it could
    // not be read back: exactly this job goes, so that the caller's -1 never
    // leaves a job behind for a retry to run a second time.
    status = calls->JobDel(name.Name(), jobId, jobId);
    if (status != NERR_Success) {
      QMR_DebugMessage(__LINE__, "QM_NetScheduleJobAdd", "Error while deleting job: %u", static_cast<unsigned>(jobId));
      break;
    }
    if (readStatus != NERR_Success) {
      status = readStatus;
      break;
    }
  }
  NotifyAddFailure(method, status != NERR_Success ? status : ERROR_TIMEOUT, command.wide);
  return S_FALSE;
}

// The platform's text of a date value, or null.
BSTR DateText(double value) {
  BSTR text = nullptr;
  if (FAILED(VarBstrFromDate(value, LOCALE_USER_DEFAULT, 0, &text)))
    return nullptr;
  return text;
}

// "<date of day> <time of seconds>", or null.
BSTR DateThenTime(long long day, uint32_t seconds) {
  BSTR date = DateText(static_cast<double>(day));
  BSTR time = DateText(seconds / 86400.0);
  BSTR text = nullptr;
  if (date && time) {
    std::wstring joined = std::wstring(date, SysStringLen(date)) + L" " + std::wstring(time, SysStringLen(time));
    text = SysAllocStringLen(joined.data(), static_cast<UINT>(joined.size()));
  }
  SysFreeString(date);
  SysFreeString(time);
  return text;
}

BSTR NextRunText(const AT_ENUM &job) {
  JobClock now;
  NextRun run;
  BSTR text = nullptr;
  if (g_netJobCalls.LocalNow(now) && FindNextRun(job.JobTime, job.DaysOfMonth, job.DaysOfWeek, now, run)) {
    if (run.form == NextRunForm::kFull)
      text = DateText(static_cast<double>(run.day) + run.seconds / 86400.0);
    else
      text = DateThenTime(run.day, run.seconds);
  }
  return text ? text : NewAutomationText(kInvalidDateTime);
}

} // namespace

NET_API_STATUS ServerClockNow(LPCWSTR server, JobClock &clock) {
  SYSTEMTIME utc = {};
  long serverZone = -1; // minutes west of UTC; -1: the server gave none
  if (!server) {
    g_netJobCalls.SystemTimeUtc(&utc);
  } else {
    SchedulerBuffer buffer;
    NET_API_STATUS status = g_netJobCalls.RemoteTOD(server, buffer.For(g_netJobCalls));
    if (status != NERR_Success || !buffer.Get())
      return status != NERR_Success ? status : ERROR_INVALID_DATA;
    const TIME_OF_DAY_INFO *tod = reinterpret_cast<const TIME_OF_DAY_INFO *>(buffer.Get());
    utc.wYear = static_cast<WORD>(tod->tod_year);
    utc.wMonth = static_cast<WORD>(tod->tod_month);
    utc.wDay = static_cast<WORD>(tod->tod_day);
    utc.wHour = static_cast<WORD>(tod->tod_hours);
    utc.wMinute = static_cast<WORD>(tod->tod_mins);
    utc.wSecond = static_cast<WORD>(tod->tod_secs);
    serverZone = tod->tod_timezone;
  }
  // A server's job times are its own wall clock: across zones, its offset
  // applies, not this computer's.
  JobClock asUtc = {utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond};
  if (server && ServerWallClock(asUtc, serverZone, clock))
    return NERR_Success;
  if (server && serverZone != -1)
    return ERROR_INVALID_DATA; // a reading or an offset that no clock shows
  // This computer, or a server that keeps no zone: this computer's zone.
  utc.wMilliseconds = 0; // whole seconds: the steps are 15 seconds apart
  SYSTEMTIME local;
  // The weekday is worked out anew, so a server's answer is checked as a date.
  FILETIME asFileTime;
  utc.wDayOfWeek = 0;
  if (!SystemTimeToFileTime(&utc, &asFileTime) || !FileTimeToSystemTime(&asFileTime, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    return GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER;
  clock = JobClock{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
  return NERR_Success;
}

void FreeJobPayload(int32_t type, void *payload) {
  AT_ENUM *entries = static_cast<AT_ENUM *>(payload);
  if (!entries)
    return;
  if (type == HT_JOB_LIST) {
    for (AT_ENUM *entry = entries; entry->JobTime != kJobListEnd; ++entry)
      free(entry->Command);
    free(entries);
  } else {
    FreeEntry(entries);
  }
}

HRESULT CCore::NetScheduleJobAdd(long flags, BSTR server, BSTR cron_spec, BSTR commandline, long *pVal) {
  return CoreGuarded("NetScheduleJobAdd", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    return AddJob("NetScheduleJobAdd", flags, server, cron_spec, commandline, pVal);
  });
}

HRESULT CCore::NetScheduleJobAddAsUser(long flags, BSTR user, BSTR server, BSTR password, BSTR cron_spec,
                                       BSTR commandline, long *pVal) {
  return CoreGuarded("NetScheduleJobAddAsUser", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    WarnUserIgnored("QM_NetScheduleJobAddAsUser", user, password);
    return AddJob("NetScheduleJobAddAsUser", flags, server, cron_spec, commandline, pVal);
  });
}

HRESULT CCore::NetCreateProcess(long flags, BSTR server, BSTR commandline, long *pVal) {
  return CoreGuarded("NetCreateProcess", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    return StartNow("NetCreateProcess", flags, server, commandline, pVal);
  });
}

HRESULT CCore::NetCreateProcessAsUser(long flags, BSTR user, BSTR server, BSTR password, BSTR commandline,
                                      long *pVal) {
  return CoreGuarded("NetCreateProcessAsUser", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    WarnUserIgnored("QM_NetCreateProcessAsUser", user, password);
    return StartNow("NetCreateProcessAsUser", flags, server, commandline, pVal);
  });
}

HRESULT CCore::NetScheduleJobDel(BSTR server, long MinJobId, long MaxJobId, long *pVal) {
  return CoreGuarded("NetScheduleJobDel", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = kFalse;
    ServerArg name;
    if (!name.Take("NetScheduleJobDel", server))
      return S_FALSE;
    NET_API_STATUS status = OnScheduler([&](const NetJobCalls &calls) {
      return calls.JobDel(name.Name(), static_cast<DWORD>(MinJobId), static_cast<DWORD>(MaxJobId));
    });
    if (status != NERR_Success) {
      CoreNotifyFailure("NetScheduleJobDel", status);
      return S_FALSE;
    }
    *pVal = kTrue;
    return S_OK;
  });
}

HRESULT CCore::NetScheduleJobGetInfo(BSTR server, long JobId, long *hObject) {
  return CoreGuarded("NetScheduleJobGetInfo", [&]() -> HRESULT {
    if (!hObject)
      return E_POINTER;
    *hObject = 0;
    ServerArg name;
    if (!name.Take("NetScheduleJobGetInfo", server))
      return S_FALSE;
    SchedulerBuffer buffer;
    NET_API_STATUS status = OnScheduler([&](const NetJobCalls &calls) {
      return calls.JobGetInfo(name.Name(), static_cast<DWORD>(JobId), buffer.For(calls));
    });
    if (status == NERR_Success) {
      const AT_INFO *info = reinterpret_cast<const AT_INFO *>(buffer.Get());
      AT_ENUM entry = {};
      entry.JobId = static_cast<DWORD>(JobId);
      entry.JobTime = info->JobTime;
      entry.DaysOfMonth = info->DaysOfMonth;
      entry.DaysOfWeek = info->DaysOfWeek;
      entry.Flags = info->Flags;
      entry.Command = info->Command;
      *hObject = IssueJob(entry);
      if (!*hObject)
        status = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (status != NERR_Success) {
      CoreNotifyFailure("NetScheduleJobGetInfo", status);
      return S_FALSE;
    }
    return S_OK;
  });
}

HRESULT CCore::NetScheduleJobEnum(BSTR server, long *hObject) {
  return CoreGuarded("NetScheduleJobEnum", [&]() -> HRESULT {
    if (!hObject)
      return E_POINTER;
    *hObject = 0;
    ServerArg name;
    if (!name.Take("NetScheduleJobEnum", server))
      return S_FALSE;
    SchedulerBuffer buffer;
    DWORD read = 0, total = 0, resume = 0;
    NET_API_STATUS status = OnScheduler([&](const NetJobCalls &calls) {
      read = total = resume = 0;
      return calls.JobEnum(name.Name(), buffer.For(calls), MAX_PREFERRED_LENGTH, &read, &total, &resume);
    });
    if ((status == NERR_Success || status == ERROR_MORE_DATA) && read != total) {
      CORE_DEBUG("NetScheduleJobEnum", "EntriesRead(%u) != TotalEntries(%u): ResumeHandle(%u)",
                 static_cast<unsigned>(read), static_cast<unsigned>(total), static_cast<unsigned>(resume));
      QMR_NotifyMessage(0, "Warning: %u jobs skipped", static_cast<unsigned>(total - read));
    }
    if (status == NERR_Success) {
      AT_ENUM *list = NewList(reinterpret_cast<const AT_ENUM *>(buffer.Get()), buffer.Get() ? read : 0);
      *hObject = list ? HandleIssue(HT_JOB_LIST, list) : 0;
      if (!*hObject) {
        FreeJobPayload(HT_JOB_LIST, list);
        status = ERROR_NOT_ENOUGH_MEMORY;
      }
    }
    if (status != NERR_Success) {
      CoreNotifyFailure("NetScheduleJobEnum", status);
      return S_FALSE;
    }
    return S_OK;
  });
}

HRESULT CCore::NetScheduleJobEnumCount(long hObject, long *pVal) {
  return CoreGuarded("NetScheduleJobEnumCount", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    DWORD count = 0;
    if (!CountList(hObject, count))
      return S_FALSE;
    *pVal = static_cast<long>(count);
    return S_OK;
  });
}

HRESULT CCore::NetScheduleJobEnumGet(long hObject, long Index, long *hJob) {
  return CoreGuarded("NetScheduleJobEnumGet", [&]() -> HRESULT {
    if (!hJob)
      return E_POINTER;
    *hJob = 0;
    DWORD count = 0;
    if (!CountList(hObject, count))
      return S_FALSE;
    if (Index < 1 || static_cast<DWORD>(Index) > count) {
      CORE_DEBUG("NetScheduleJobEnumGet", "Bad job index %d", static_cast<int>(Index));
      QMR_NotifyMessage(0, "CCore::NetScheduleJobEnumGet: Bad job index %d", static_cast<int>(Index));
      return S_FALSE;
    }
    struct Copy {
      DWORD index;
      AT_ENUM *entry;
    } copy = {static_cast<DWORD>(Index - 1), nullptr};
    // The copy is made while the list is held, so a list freed by another
    // thread meanwhile is never read; it gets its handle after the visit,
    // which holds the handle table's lock.
    bool live = HandleVisit(hObject, HT_JOB_LIST, [](HandleRecord &record, void *context) {
      Copy *c = static_cast<Copy *>(context);
      const AT_ENUM *list = static_cast<const AT_ENUM *>(record.payload);
      if (c->index < ListCount(list))
        c->entry = NewEntry(list[c->index]);
    }, &copy);
    AT_ENUM *entry = copy.entry;
    if (!live || !entry)
      return S_FALSE;
    *hJob = HandleIssue(HT_JOB, entry);
    if (!*hJob) {
      FreeEntry(entry);
      return S_FALSE;
    }
    return S_OK;
  });
}

HRESULT CCore::NetScheduleJobGetInfoJobId(long hObject, long *pVal) {
  return CoreGuarded("NetScheduleJobGetInfoJobId", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    AT_ENUM job;
    *pVal = ReadJob(hObject, job) ? static_cast<long>(job.JobId) : -1;
    return S_OK;
  });
}

HRESULT CCore::NetScheduleJobGetInfoError(long hObject, long *pVal) {
  return CoreGuarded("NetScheduleJobGetInfoError", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    AT_ENUM job;
    if (ReadJob(hObject, job))
      *pVal = (job.Flags & kJobExecError) ? kTrue : kFalse;
    return S_OK;
  });
}

HRESULT CCore::NetScheduleJobGetInfoCommand(long hObject, BSTR *pVal) {
  return CoreGuarded("NetScheduleJobGetInfoCommand", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    // An out string is always set, also when there is no job to read: a
    // caller frees what it gets back.
    *pVal = nullptr;
    AT_ENUM job;
    std::wstring command;
    if (!ReadJob(hObject, job, &command))
      return S_FALSE;
    *pVal = SysAllocStringLen(command.data(), static_cast<UINT>(command.size()));
    return *pVal ? S_OK : S_FALSE;
  });
}

HRESULT CCore::NetScheduleJobGetInfoTime(long hObject, BSTR *pVal) {
  return CoreGuarded("NetScheduleJobGetInfoTime", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = nullptr;
    AT_ENUM job;
    if (ReadJob(hObject, job))
      *pVal = NextRunText(job);
    return S_OK;
  });
}
