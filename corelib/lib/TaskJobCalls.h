// The second scheduler behind the network job methods' table: jobs kept as
// tasks of Task Scheduler 2.0 in a folder of our own, for the Windows
// versions whose network job scheduler answers "not supported".
#ifndef TASKJOBCALLS_H
#define TASKJOBCALLS_H

#include <windows.h>
#include <taskschd.h>
#include <stdint.h>
#include <vector>

#include "CoreNetJobs.h"

// The folder of our tasks, and the access it is created with (SDDL).
extern const wchar_t kTaskFolderPath[];
extern const wchar_t kTaskFolderAccess[];

// The calls where a Task Scheduler may answer "not implemented" (Wine's
// does for the task collection and the last result): tests replace them.
struct TaskSchedulerCalls {
  // The numbers of the "At<n>" tasks in the folder.
  HRESULT (*ListTaskNumbers)(ITaskFolder *folder, std::vector<uint32_t> &numbers);
  // The task's last result; 0 when the scheduler keeps none.
  HRESULT (*LastTaskResult)(IRegisteredTask *task, LONG *result);
  // The server's clock in this computer's local time.
  bool (*ServerNow)(LPCWSTR server, JobClock &now);
};
extern TaskSchedulerCalls g_taskSchedulerCalls;
TaskSchedulerCalls SystemTaskSchedulerCalls();

// TaskJobAdd's answer for a command that holds a character no task
// definition can (see FirstCharacterXmlCannotHold); bit 29 marks a code of
// our own.
const NET_API_STATUS kTaskCommandUnfit = 0x20000001;

// The network job table carried out with tasks: JobAdd, JobDel, JobEnum,
// JobGetInfo and BufferFree; the clocks are the production ones.
NetJobCalls TaskNetJobCalls();
extern NetJobCalls g_taskJobCalls;

#endif
