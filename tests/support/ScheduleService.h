// Wine's schedule service (the network job scheduler), started and stopped
// by the tests that need it through the service control manager of the
// bench's prefix. The bench's wineserver is persistent, so the service lives
// between calls; Wine's does not stop on request and ends with the server.
#ifndef SCHEDULESERVICE_H
#define SCHEDULESERVICE_H

#include <windows.h>

namespace qmtest {

// The schedule service's state (SERVICE_RUNNING...), or 0 when it cannot be
// asked.
DWORD ScheduleServiceState();
// Starts or stops the schedule service and waits until it got there.
bool SetScheduleService(bool running);

} // namespace qmtest

#endif
