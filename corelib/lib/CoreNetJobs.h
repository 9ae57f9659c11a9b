// The network job methods' door to the platform: the scheduler calls of
// netapi32 and the clocks, as one table of entry points that tests replace
// with a scheduler of their own.
#ifndef CORENETJOBS_H
#define CORENETJOBS_H

#include <windows.h>
#include <lm.h>
#include <lmat.h>
#include <stdint.h>

#include "JobSchedule.h"

struct NetJobCalls {
  NET_API_STATUS(WINAPI *JobAdd)(LPCWSTR server, LPBYTE info, LPDWORD jobId);
  NET_API_STATUS(WINAPI *JobDel)(LPCWSTR server, DWORD minJobId, DWORD maxJobId);
  NET_API_STATUS(WINAPI *JobEnum)(LPCWSTR server, LPBYTE *buffer, DWORD preferredLength, LPDWORD entriesRead,
                                  LPDWORD totalEntries, LPDWORD resumeHandle);
  NET_API_STATUS(WINAPI *JobGetInfo)(LPCWSTR server, DWORD jobId, LPBYTE *buffer);
  NET_API_STATUS(WINAPI *BufferFree)(LPVOID buffer);
  NET_API_STATUS(WINAPI *RemoteTOD)(LPCWSTR server, LPBYTE *buffer);
  // This computer's clock in UTC: the server's clock when the server is
  // this computer (the same answer NetRemoteTOD would give).
  void(WINAPI *SystemTimeUtc)(LPSYSTEMTIME now);
  // The local time of the C runtime's clock, for the next-run text; false
  // when it cannot be read.
  bool (*LocalNow)(JobClock &now);
};

// The table in use; tests put their own entries here.
extern NetJobCalls g_netJobCalls;

// The production table: the real netapi32 exports, bound at first use. A
// call that raises an exception instead of returning its error (as Wine's
// scheduler client does while no schedule service answers, and its
// NetRemoteTOD stub always) answers that exception's code as its status.
NetJobCalls SystemNetJobCalls();

// The guard around each of those calls: `call`'s status, or the RPC failure
// it raised (Wine's stub exception as ERROR_CALL_NOT_IMPLEMENTED). Handlers
// nearer the raise, such as the RPC runtime's own, keep the first say, and
// their clean-up runs before the call is left.
NET_API_STATUS GuardedSchedulerCall(NET_API_STATUS (*call)(void *context), void *context);

// A server's wall clock, through g_netJobCalls: this computer's own clock
// and zone for a null server, else NetRemoteTOD's reading and the server's
// offset in it (this computer's zone only where the server gives none).
NET_API_STATUS ServerClockNow(LPCWSTR server, JobClock &clock);

// Releases the payload of an HT_JOB or HT_JOB_LIST record.
void FreeJobPayload(int32_t type, void *payload);

// The list terminator's JobTime.
const DWORD kJobListEnd = 0xFFFFFFFF;

#endif
