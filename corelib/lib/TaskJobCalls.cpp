// Network jobs as tasks of Task Scheduler 2.0: each job is a task
// "\Quillmoth\At<n>" registered from a task definition in XML (the one form
// every Task Scheduler takes whole, triggers included), read back from the
// definition it keeps. Answers have the layout of the network job
// scheduler's, in buffers that TaskBufferFree releases.
#include "TaskJobCalls.h"

#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>

#include "TaskJob.h"

const wchar_t kTaskFolderPath[] = L"\\Quillmoth";
// Jobs run commands as SYSTEM or as the interactive user: only SYSTEM and
// Administrators may see or change them, nothing is inherited from the root.
const wchar_t kTaskFolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

namespace {

// Tasks whose numbers were probed one by one: how many missing numbers in a
// row end the search.
const uint32_t kProbeGap = 64;

template <typename T> class Ref {
public:
  Ref() = default;
  Ref(const Ref &) = delete;
  Ref &operator=(const Ref &) = delete;
  ~Ref() { Reset(); }
  void Reset() {
    if (m_p)
      m_p->Release();
    m_p = nullptr;
  }
  T **Out() {
    Reset();
    return &m_p;
  }
  T *operator->() const { return m_p; }
  T *Get() const { return m_p; }
private:
  T *m_p = nullptr;
};

class Text {
public:
  explicit Text(const wchar_t *text) : m_text(SysAllocString(text)) {}
  ~Text() { SysFreeString(m_text); }
  Text(const Text &) = delete;
  Text &operator=(const Text &) = delete;
  operator BSTR() const { return m_text; }
  bool Ok() const { return m_text != nullptr; }
private:
  BSTR m_text;
};

// A failed HRESULT as the status the network job methods report.
NET_API_STATUS StatusOf(HRESULT hr) {
  if (SUCCEEDED(hr))
    return NERR_Success;
  if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
    return HRESULT_CODE(hr);
  return static_cast<NET_API_STATUS>(hr);
}

bool IsMissing(HRESULT hr) {
  return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// COM on this thread for the length of one call: a script's worker already
// has its apartment, which is then used as it is.
class Apartment {
public:
  Apartment() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~Apartment() {
    if (SUCCEEDED(m_hr))
      CoUninitialize();
  }
  Apartment(const Apartment &) = delete;
  Apartment &operator=(const Apartment &) = delete;
  bool Usable() const { return SUCCEEDED(m_hr) || m_hr == RPC_E_CHANGED_MODE; }
private:
  HRESULT m_hr;
};

// A connection to the server's Task Scheduler and our folder in it.
struct Session {
  Apartment apartment;
  Ref<ITaskService> service;
  Ref<ITaskFolder> folder;

  // Opens our folder; with `create`, makes it when it is missing. An
  // answer of "not found" means there is no folder (and so no job).
  HRESULT Open(LPCWSTR server, bool create) {
    if (!apartment.Usable())
      return E_UNEXPECTED;
    HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  reinterpret_cast<void **>(service.Out()));
    if (FAILED(hr))
      return hr;
    VARIANT none, name;
    VariantInit(&none);
    VariantInit(&name);
    if (server) {
      name.vt = VT_BSTR;
      name.bstrVal = SysAllocString(server);
      if (!name.bstrVal)
        return E_OUTOFMEMORY;
    }
    hr = service->Connect(name, none, none, none);
    VariantClear(&name);
    if (FAILED(hr))
      return hr;
    Text path(kTaskFolderPath);
    if (!path.Ok())
      return E_OUTOFMEMORY;
    hr = service->GetFolder(path, folder.Out());
    if (IsMissing(hr) && create) {
      Ref<ITaskFolder> root;
      Text rootPath(L"\\");
      Text access(kTaskFolderAccess);
      if (!access.Ok())
        return E_OUTOFMEMORY;
      VARIANT sddl;
      VariantInit(&sddl);
      sddl.vt = VT_BSTR;
      sddl.bstrVal = access;
      hr = service->GetFolder(rootPath, root.Out());
      if (SUCCEEDED(hr))
        hr = root->CreateFolder(path, sddl, folder.Out());
      if (hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) // made meanwhile by another script
        hr = service->GetFolder(path, folder.Out());
    }
    return hr;
  }
};

// The definition text of task n, or a failure.
HRESULT TaskDefinition(ITaskFolder *folder, uint32_t number, Ref<IRegisteredTask> &task, std::wstring &xml) {
  Text name(TaskName(number).c_str());
  HRESULT hr = folder->GetTask(name, task.Out());
  if (FAILED(hr))
    return hr;
  BSTR text = nullptr;
  hr = task->get_Xml(&text);
  if (SUCCEEDED(hr) && text)
    xml.assign(text, SysStringLen(text));
  SysFreeString(text);
  return hr;
}

// The record of task n as the network job scheduler gives it.
HRESULT ReadJob(LPCWSTR server, ITaskFolder *folder, uint32_t number, TaskJobFields &job, uint8_t &flags) {
  Ref<IRegisteredTask> task;
  std::wstring xml;
  HRESULT hr = TaskDefinition(folder, number, task, xml);
  if (FAILED(hr))
    return hr;
  if (!ReadTaskXml(xml, job))
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  flags = job.flags;
  JobClock now;
  if (g_taskSchedulerCalls.ServerNow(server, now) && RunsToday(job, now))
    flags |= kJobRunsToday;
  LONG result = 0;
  if (SUCCEEDED(g_taskSchedulerCalls.LastTaskResult(task.Get(), &result)) && LastRunFailed(result))
    flags |= kJobExecError;
  return S_OK;
}

std::vector<uint32_t> SortedNumbers(ITaskFolder *folder, HRESULT &hr) {
  std::vector<uint32_t> numbers;
  hr = g_taskSchedulerCalls.ListTaskNumbers(folder, numbers);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

NET_API_STATUS WINAPI TaskJobAdd(LPCWSTR server, LPBYTE buffer, LPDWORD jobId) {
  const AT_INFO *info = reinterpret_cast<const AT_INFO *>(buffer);
  TaskJobFields job;
  job.jobTime = info->JobTime;
  job.daysOfMonth = info->DaysOfMonth & 0x7FFFFFFF;
  job.daysOfWeek = static_cast<uint8_t>(info->DaysOfWeek & 0x7F);
  job.flags = static_cast<uint8_t>(info->Flags & kJobNonInteractive);
  job.command = info->Command ? info->Command : L"";
  // Written into the definition, it would be refused or come back changed.
  if (FirstCharacterXmlCannotHold(job.command) != std::wstring::npos)
    return kTaskCommandUnfit;
  JobClock now;
  if (!g_taskSchedulerCalls.ServerNow(server, now))
    return ERROR_INVALID_TIME;
  // The old scheduler refuses a time of a day or more, which ends the walk
  // of a job placed "now".
  if (!FirstStart(job.jobTime, job.daysOfMonth || job.daysOfWeek, now, job.start))
    return ERROR_INVALID_PARAMETER;
  Session session;
  HRESULT hr = session.Open(server, true);
  if (FAILED(hr))
    return StatusOf(hr);
  std::vector<uint32_t> taken = SortedNumbers(session.folder.Get(), hr);
  if (FAILED(hr))
    return StatusOf(hr);
  Text xml(TaskXml(job).c_str());
  if (!xml.Ok())
    return ERROR_NOT_ENOUGH_MEMORY;
  VARIANT none, user;
  VariantInit(&none);
  VariantInit(&user);
  TASK_LOGON_TYPE logon = TASK_LOGON_INTERACTIVE_TOKEN;
  Text system(L"SYSTEM");
  if (job.flags & kJobNonInteractive) {
    logon = TASK_LOGON_SERVICE_ACCOUNT;
    user.vt = VT_BSTR;
    user.bstrVal = system;
  }
  // Another script may take the lowest number first: the next one is tried.
  for (int attempt = 0; attempt < 16; ++attempt) {
    uint32_t number = LowestFreeNumber(taken);
    Text name(TaskName(number).c_str());
    Ref<IRegisteredTask> task;
    hr = session.folder->RegisterTask(name, xml, TASK_CREATE, user, none, logon, none, task.Out());
    if (SUCCEEDED(hr)) {
      *jobId = number;
      return NERR_Success;
    }
    if (hr != HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) && hr != HRESULT_FROM_WIN32(ERROR_FILE_EXISTS))
      break;
    taken.push_back(number);
  }
  return StatusOf(hr);
}

NET_API_STATUS WINAPI TaskJobDel(LPCWSTR server, DWORD minJobId, DWORD maxJobId) {
  Session session;
  HRESULT hr = session.Open(server, false);
  if (IsMissing(hr))
    return NERR_JobNotFound;
  if (FAILED(hr))
    return StatusOf(hr);
  std::vector<uint32_t> numbers = SortedNumbers(session.folder.Get(), hr);
  if (FAILED(hr))
    return StatusOf(hr);
  bool deleted = false;
  for (uint32_t number : numbers) {
    if (number < minJobId || number > maxJobId)
      continue;
    Text name(TaskName(number).c_str());
    hr = session.folder->DeleteTask(name, 0);
    if (FAILED(hr) && !IsMissing(hr))
      return StatusOf(hr);
    deleted = deleted || SUCCEEDED(hr);
  }
  return deleted ? NERR_Success : NERR_JobNotFound;
}

NET_API_STATUS WINAPI TaskJobGetInfo(LPCWSTR server, DWORD jobId, LPBYTE *buffer) {
  *buffer = nullptr;
  if (jobId == 0 || jobId > 0x7FFFFFFF)
    return NERR_JobNotFound;
  Session session;
  HRESULT hr = session.Open(server, false);
  TaskJobFields job;
  uint8_t flags = 0;
  if (SUCCEEDED(hr))
    hr = ReadJob(server, session.folder.Get(), jobId, job, flags);
  if (IsMissing(hr))
    return NERR_JobNotFound;
  if (FAILED(hr))
    return StatusOf(hr);
  size_t chars = job.command.size() + 1;
  AT_INFO *info = static_cast<AT_INFO *>(calloc(1, sizeof(AT_INFO) + chars * sizeof(wchar_t)));
  if (!info)
    return ERROR_NOT_ENOUGH_MEMORY;
  info->JobTime = job.jobTime;
  info->DaysOfMonth = job.daysOfMonth;
  info->DaysOfWeek = job.daysOfWeek;
  info->Flags = flags;
  info->Command = reinterpret_cast<LPWSTR>(info + 1);
  memcpy(info->Command, job.command.c_str(), chars * sizeof(wchar_t));
  *buffer = reinterpret_cast<LPBYTE>(info);
  return NERR_Success;
}

NET_API_STATUS WINAPI TaskJobEnum(LPCWSTR server, LPBYTE *buffer, DWORD, LPDWORD entriesRead, LPDWORD totalEntries,
                                  LPDWORD resumeHandle) {
  *buffer = nullptr;
  *entriesRead = *totalEntries = 0;
  if (resumeHandle)
    *resumeHandle = 0;
  Session session;
  HRESULT hr = session.Open(server, false);
  if (IsMissing(hr)) // no folder yet: no jobs
    return NERR_Success;
  if (FAILED(hr))
    return StatusOf(hr);
  std::vector<uint32_t> numbers = SortedNumbers(session.folder.Get(), hr);
  if (FAILED(hr))
    return StatusOf(hr);
  struct Read {
    DWORD id;
    TaskJobFields job;
    uint8_t flags;
  };
  std::vector<Read> jobs;
  size_t chars = 0;
  for (uint32_t number : numbers) {
    Read read = {number, TaskJobFields(), 0};
    // A task deleted meanwhile, or one that is not a job, is not listed.
    if (SUCCEEDED(ReadJob(server, session.folder.Get(), number, read.job, read.flags))) {
      chars += read.job.command.size() + 1;
      jobs.push_back(read);
    }
  }
  if (jobs.empty())
    return NERR_Success;
  AT_ENUM *entries = static_cast<AT_ENUM *>(calloc(1, jobs.size() * sizeof(AT_ENUM) + chars * sizeof(wchar_t)));
  if (!entries)
    return ERROR_NOT_ENOUGH_MEMORY;
  wchar_t *text = reinterpret_cast<wchar_t *>(entries + jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    entries[i].JobId = jobs[i].id;
    entries[i].JobTime = jobs[i].job.jobTime;
    entries[i].DaysOfMonth = jobs[i].job.daysOfMonth;
    entries[i].DaysOfWeek = jobs[i].job.daysOfWeek;
    entries[i].Flags = jobs[i].flags;
    entries[i].Command = text;
    memcpy(text, jobs[i].job.command.c_str(), (jobs[i].job.command.size() + 1) * sizeof(wchar_t));
    text += jobs[i].job.command.size() + 1;
  }
  *buffer = reinterpret_cast<LPBYTE>(entries);
  *entriesRead = *totalEntries = static_cast<DWORD>(jobs.size());
  return NERR_Success;
}

NET_API_STATUS WINAPI TaskBufferFree(LPVOID buffer) {
  free(buffer);
  return NERR_Success;
}

// The task collection where the scheduler counts it; else (Wine answers
// "not implemented" for the count) the numbers asked for one by one.
HRESULT SystemListTaskNumbers(ITaskFolder *folder, std::vector<uint32_t> &numbers) {
  numbers.clear();
  Ref<IRegisteredTaskCollection> tasks;
  HRESULT hr = folder->GetTasks(TASK_ENUM_HIDDEN, tasks.Out());
  LONG count = 0;
  if (SUCCEEDED(hr))
    hr = tasks->get_Count(&count);
  if (SUCCEEDED(hr)) {
    for (LONG i = 1; i <= count; ++i) {
      VARIANT index;
      VariantInit(&index);
      index.vt = VT_I4;
      index.lVal = i;
      Ref<IRegisteredTask> task;
      BSTR name = nullptr;
      uint32_t number;
      if (SUCCEEDED(tasks->get_Item(index, task.Out())) && SUCCEEDED(task->get_Name(&name)) && name &&
          ParseTaskNumber(std::wstring(name, SysStringLen(name)), number))
        numbers.push_back(number);
      SysFreeString(name);
    }
    return S_OK;
  }
  if (hr != E_NOTIMPL)
    return hr;
  uint32_t missing = 0;
  for (uint32_t number = 1; missing < kProbeGap && number <= 0x7FFFFFFF; ++number) {
    Text name(TaskName(number).c_str());
    Ref<IRegisteredTask> task;
    hr = folder->GetTask(name, task.Out());
    if (SUCCEEDED(hr)) {
      numbers.push_back(number);
      missing = 0;
    } else if (IsMissing(hr)) {
      ++missing;
    } else {
      return hr;
    }
  }
  return S_OK;
}

HRESULT SystemLastTaskResult(IRegisteredTask *task, LONG *result) {
  *result = 0;
  HRESULT hr = task->get_LastTaskResult(result);
  if (hr == E_NOTIMPL) { // the scheduler keeps no result: nothing failed
    *result = 0;
    return S_OK;
  }
  return hr;
}

bool SystemServerNow(LPCWSTR server, JobClock &now) { return ServerClockNow(server, now) == NERR_Success; }

} // namespace

TaskSchedulerCalls SystemTaskSchedulerCalls() {
  TaskSchedulerCalls calls;
  calls.ListTaskNumbers = SystemListTaskNumbers;
  calls.LastTaskResult = SystemLastTaskResult;
  calls.ServerNow = SystemServerNow;
  return calls;
}

TaskSchedulerCalls g_taskSchedulerCalls = SystemTaskSchedulerCalls();

NetJobCalls TaskNetJobCalls() {
  NetJobCalls calls = SystemNetJobCalls();
  calls.JobAdd = TaskJobAdd;
  calls.JobDel = TaskJobDel;
  calls.JobEnum = TaskJobEnum;
  calls.JobGetInfo = TaskJobGetInfo;
  calls.BufferFree = TaskBufferFree;
  return calls;
}

NetJobCalls g_taskJobCalls = TaskNetJobCalls();
