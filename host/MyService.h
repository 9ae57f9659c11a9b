// The host's service: runs the console on the service thread and turns the
// control manager's stop request into the console's shutdown request.
#ifndef MYSERVICE_H
#define MYSERVICE_H

#include "NTService.h"

// User control code that saves the current value under the Status key.
#define SERVICE_CONTROL_SAVE_STATUS 129

class CMyService : public CNTService {
public:
  explicit CMyService(const char *serviceName) : CNTService(serviceName) {}

  void Run() override;
  BOOL OnInit() override;
  // Stop, shutdown and pre-shutdown: the console's shutdown request. One
  // that comes before the console window exists is held and delivered as
  // soon as the window is there.
  void OnStop() override;
  BOOL OnUserControl(DWORD code) override;

  void SaveStatus();

  DWORD m_startValue = 0;
  DWORD m_currentValue = 0;

private:
  // Posts the shutdown request to the console once, whichever of the stop
  // and the new window comes last.
  void DeliverStop(HWND window);

  volatile LONG m_stopRequested = 0;
  volatile LONG m_stopDelivered = 0;
};

#endif
