// The production table of the network job methods: netapi32's scheduler
// calls, looked up at run time, each made under a guard that turns an
// exception raised by the call into its status.
#include "CoreNetJobs.h"

#include <setjmp.h>
#include <time.h>

namespace {

// Where a guarded call on this thread resumes when the platform raises.
struct CallGuard {
  jmp_buf resume;
  DWORD code;
};
thread_local CallGuard *t_guard = nullptr;

const DWORD kWineStubException = 0x80000100;

// An RPC client reports a failed call by raising its status (a Win32 error
// code) where it has no handler of its own; Wine's unimplemented entry
// points raise their stub exception. Nothing else is taken: faults such as
// access violations go on to the process's own handling.
bool IsCallFailure(DWORD code) { return (code > 0 && code <= 0xFFFF) || code == kWineStubException; }

LONG CALLBACK GuardHandler(EXCEPTION_POINTERS *info) {
  CallGuard *guard = t_guard;
  if (!guard || !IsCallFailure(info->ExceptionRecord->ExceptionCode))
    return EXCEPTION_CONTINUE_SEARCH;
  t_guard = nullptr;
  guard->code = info->ExceptionRecord->ExceptionCode;
  longjmp(guard->resume, 1);
}

// Runs `call` under the guard; its status, or the code it raised.
template <typename Call> NET_API_STATUS Guarded(Call call) {
  CallGuard guard;
  guard.code = 0;
  PVOID handler = AddVectoredExceptionHandler(1, GuardHandler);
  if (!handler)
    return GetLastError() ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
  volatile NET_API_STATUS status = ERROR_SUCCESS;
  if (setjmp(guard.resume) == 0) {
    t_guard = &guard;
    status = call();
  } else {
    // A stub has no error of its own: it is simply not there.
    status = guard.code == kWineStubException ? ERROR_CALL_NOT_IMPLEMENTED : guard.code;
  }
  t_guard = nullptr;
  RemoveVectoredExceptionHandler(handler);
  return status;
}

// The export of netapi32, or null. The library stays loaded for the life of
// the process once it was needed.
FARPROC NetApi(const char *name) {
  static HMODULE module = LoadLibraryA("netapi32.dll");
  return module ? GetProcAddress(module, name) : nullptr;
}

template <typename Fn> Fn Export(const char *name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(NetApi(name)));
}

typedef NET_API_STATUS(WINAPI *JobAddFn)(LPCWSTR, LPBYTE, LPDWORD);
typedef NET_API_STATUS(WINAPI *JobDelFn)(LPCWSTR, DWORD, DWORD);
typedef NET_API_STATUS(WINAPI *JobEnumFn)(LPCWSTR, LPBYTE *, DWORD, LPDWORD, LPDWORD, LPDWORD);
typedef NET_API_STATUS(WINAPI *JobGetInfoFn)(LPCWSTR, DWORD, LPBYTE *);
typedef NET_API_STATUS(WINAPI *BufferFreeFn)(LPVOID);
typedef NET_API_STATUS(WINAPI *RemoteTODFn)(LPCWSTR, LPBYTE *);

NET_API_STATUS WINAPI SystemJobAdd(LPCWSTR server, LPBYTE info, LPDWORD jobId) {
  JobAddFn fn = Export<JobAddFn>("NetScheduleJobAdd");
  return fn ? Guarded([&] { return fn(server, info, jobId); }) : ERROR_PROC_NOT_FOUND;
}

NET_API_STATUS WINAPI SystemJobDel(LPCWSTR server, DWORD minJobId, DWORD maxJobId) {
  JobDelFn fn = Export<JobDelFn>("NetScheduleJobDel");
  return fn ? Guarded([&] { return fn(server, minJobId, maxJobId); }) : ERROR_PROC_NOT_FOUND;
}

NET_API_STATUS WINAPI SystemJobEnum(LPCWSTR server, LPBYTE *buffer, DWORD preferredLength, LPDWORD entriesRead,
                                    LPDWORD totalEntries, LPDWORD resumeHandle) {
  JobEnumFn fn = Export<JobEnumFn>("NetScheduleJobEnum");
  return fn ? Guarded([&] { return fn(server, buffer, preferredLength, entriesRead, totalEntries, resumeHandle); })
            : ERROR_PROC_NOT_FOUND;
}

NET_API_STATUS WINAPI SystemJobGetInfo(LPCWSTR server, DWORD jobId, LPBYTE *buffer) {
  JobGetInfoFn fn = Export<JobGetInfoFn>("NetScheduleJobGetInfo");
  return fn ? Guarded([&] { return fn(server, jobId, buffer); }) : ERROR_PROC_NOT_FOUND;
}

NET_API_STATUS WINAPI SystemBufferFree(LPVOID buffer) {
  BufferFreeFn fn = Export<BufferFreeFn>("NetApiBufferFree");
  return fn ? fn(buffer) : ERROR_PROC_NOT_FOUND;
}

NET_API_STATUS WINAPI SystemRemoteTOD(LPCWSTR server, LPBYTE *buffer) {
  RemoteTODFn fn = Export<RemoteTODFn>("NetRemoteTOD");
  return fn ? Guarded([&] { return fn(server, buffer); }) : ERROR_PROC_NOT_FOUND;
}

bool RuntimeLocalNow(JobClock &now) {
  time_t seconds = time(nullptr);
  struct tm local;
  if (seconds == static_cast<time_t>(-1) || localtime_s(&local, &seconds) != 0)
    return false;
  now = JobClock{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
  return true;
}

} // namespace

NetJobCalls SystemNetJobCalls() {
  NetJobCalls calls;
  calls.JobAdd = SystemJobAdd;
  calls.JobDel = SystemJobDel;
  calls.JobEnum = SystemJobEnum;
  calls.JobGetInfo = SystemJobGetInfo;
  calls.BufferFree = SystemBufferFree;
  calls.RemoteTOD = SystemRemoteTOD;
  calls.SystemTimeUtc = GetSystemTime;
  calls.LocalNow = RuntimeLocalNow;
  return calls;
}

NetJobCalls g_netJobCalls = SystemNetJobCalls();
