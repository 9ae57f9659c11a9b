// The window that watches the installed service instead of running a second
// engine beside it: the service's transcript as it grows, the service's and
// the engine's state, the last run, and Start and Stop of the service.
#ifndef MONITORWINDOW_H
#define MONITORWINDOW_H

#include "framework/Dialog.h"

#include <string>

class CMonitorWindow : public CDialog {
public:
  // why: the first line shown (why this is a monitor and not an engine).
  CMonitorWindow(const char *serviceName, const std::string &why);

protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *reply) override;

private:
  void Refresh();
  void ReadTranscript();
  void ShowText(const std::string &utf8);
  void ControlService(bool start);

  const char *m_serviceName;
  std::string m_why;
  std::string m_transcript;       // the file followed
  unsigned long long m_offset = 0; // bytes of it shown so far
};

#endif
