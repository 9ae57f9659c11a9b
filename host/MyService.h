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
  void OnStop() override;
  void OnShutdown() override;
  BOOL OnUserControl(DWORD code) override;

  void SaveStatus();

  DWORD m_startValue = 0;
  DWORD m_currentValue = 0;
};

// The application's main window (the console while it exists), or null with
// a diagnostic line.
HWND GetMainWindow();

#endif
