#include "ScheduleService.h"

#include "WineTestSupport.h"

namespace qmtest {

DWORD ScheduleServiceState() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, "Schedule", SERVICE_QUERY_STATUS) : nullptr;
  DWORD state = service ? ServiceState(service) : 0;
  if (service)
    CloseServiceHandle(service);
  if (manager)
    CloseServiceHandle(manager);
  return state;
}

bool SetScheduleService(bool running) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager)
    return false;
  SC_HANDLE service = OpenServiceA(manager, "Schedule", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
  bool done = false;
  if (service) {
    DWORD wanted = running ? SERVICE_RUNNING : SERVICE_STOPPED;
    if (ServiceState(service) != wanted) {
      SERVICE_STATUS status;
      if (running)
        StartServiceA(service, 0, nullptr);
      else
        ControlService(service, SERVICE_CONTROL_STOP, &status);
    }
    done = WaitUntil([&] { return ServiceState(service) == wanted; }, 20000);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return done;
}

} // namespace qmtest
