// The production table of the network job methods: netapi32's scheduler
// calls, looked up at run time, each made under a guard that turns an RPC
// failure the call raises, instead of returning it, into its status.
#include "CoreNetJobs.h"

#include <setjmp.h>
#include <time.h>

namespace {

const DWORD kWineStubException = 0x80000100;

// What the guard takes: an RPC client's failure raised as its status (a
// Win32 error code), as the RPC runtime's own exception filter takes it, and
// Wine's stub exception. Faults such as access violations go on to the
// process's own handling.
bool IsCallFailure(DWORD code) { return (code > 0 && code <= 0xFFFF) || code == kWineStubException; }

// The code the guard took on this thread, 0 while none.
thread_local DWORD t_raised = 0;

} // namespace

// The guard is a frame-based handler on the caller's frame, never a vectored
// one: a handler of the RPC runtime nearer the raise (netapi32's clients
// catch their failures on Windows) sees the exception first and answers its
// status, and what the guard takes is unwound, so every handler below it
// runs its clean-up before the guarded call is left.
#if defined(__x86_64__)

// Called by the system's C handler, named in the frame's scope table.
extern "C" __attribute__((used)) LONG QmSchedulerCallFilter(EXCEPTION_POINTERS *info, void *) {
  if (!IsCallFailure(info->ExceptionRecord->ExceptionCode))
    return EXCEPTION_CONTINUE_SEARCH;
  t_raised = info->ExceptionRecord->ExceptionCode;
  return EXCEPTION_EXECUTE_HANDLER;
}

// One scope from the label before the call to the one after it, whose end
// is also where the unwind resumes. No C++ clean-up in this frame: its
// handler is the scope table's.
__attribute__((noinline)) static NET_API_STATUS CallInFrame(NET_API_STATUS (*call)(void *), void *context) {
  volatile NET_API_STATUS status = ERROR_SUCCESS;
  __asm__ __volatile__(".l_qm_guard_begin:\n\t"
                       ".seh_handler __C_specific_handler, @except\n\t"
                       ".seh_handlerdata\n\t"
                       ".long 1\n\t"
                       ".rva .l_qm_guard_begin, .l_qm_guard_end, QmSchedulerCallFilter, .l_qm_guard_end\n\t"
                       ".text\n" ::: "memory");
  status = call(context);
  __asm__ __volatile__("nop\n.l_qm_guard_end:\n\tnop\n" ::: "memory");
  return status;
}

#elif defined(__i386__)

namespace {

// An exception registration on the stack, linked in at fs:[0].
struct GuardFrame {
  GuardFrame *next;
  void *handler;
  jmp_buf resume;
};

EXCEPTION_DISPOSITION __cdecl GuardFrameHandler(EXCEPTION_RECORD *record, void *frame, CONTEXT *, void *) {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) ||
      !IsCallFailure(record->ExceptionCode))
    return ExceptionContinueSearch;
  t_raised = record->ExceptionCode;
  // The frames below this one run their clean-up and are unlinked first.
  RtlUnwind(frame, nullptr, record, nullptr);
  longjmp(static_cast<GuardFrame *>(frame)->resume, 1);
}

} // namespace

__attribute__((noinline)) static NET_API_STATUS CallInFrame(NET_API_STATUS (*call)(void *), void *context) {
  volatile NET_API_STATUS status = ERROR_SUCCESS;
  GuardFrame frame;
  frame.handler = reinterpret_cast<void *>(GuardFrameHandler);
  frame.next = reinterpret_cast<GuardFrame *>(__readfsdword(0));
  __writefsdword(0, reinterpret_cast<DWORD>(&frame));
  if (setjmp(frame.resume) == 0)
    status = call(context);
  __writefsdword(0, reinterpret_cast<DWORD>(frame.next));
  return status;
}

#else
#error "a frame-based guard is needed for this architecture"
#endif

NET_API_STATUS GuardedSchedulerCall(NET_API_STATUS (*call)(void *), void *context) {
  t_raised = 0;
  NET_API_STATUS status = CallInFrame(call, context);
  DWORD raised = t_raised;
  t_raised = 0;
  if (!raised)
    return status;
  // A stub has no error of its own: it is simply not there.
  return raised == kWineStubException ? ERROR_CALL_NOT_IMPLEMENTED : raised;
}

namespace {

// Runs `call` under the guard; its status, or the code it raised.
template <typename Call> NET_API_STATUS Guarded(Call call) {
  return GuardedSchedulerCall([](void *context) { return (*static_cast<Call *>(context))(); }, &call);
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
