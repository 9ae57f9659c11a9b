#include "MyService.h"
#include "QuillmothApp.h"
#include "QuillmothRun.h"

#include <objbase.h>
#include <stdio.h>

namespace {

std::string ServiceKey(const char *name, const char *subkey) {
  return std::string("SYSTEM\\CurrentControlSet\\Services\\") + name + "\\" + subkey;
}

} // namespace

HWND GetMainWindow() {
  HWND window = theApp.MainWindow();
  if (!window)
    QMR_DebugMessage(299, "GetMainWindow", "Unable to locate main window");
  return window;
}

BOOL CMyService::OnInit() {
  m_startValue = 0;
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServiceKey(m_serviceName, "Parameters").c_str(), 0,
                    KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExA(key, "Start", NULL, &type, reinterpret_cast<BYTE *>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
      m_startValue = value;
    RegCloseKey(key);
  }
  m_currentValue = m_startValue;
  return TRUE;
}

// The console and the whole engine live on the service thread.
void CMyService::Run() {
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  theApp.RunConsole();
  CoUninitialize();
}

void CMyService::OnStop() { OnShutdown(); }

void CMyService::OnShutdown() {
  HWND window = GetMainWindow();
  if (window)
    PostMessageA(window, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
}

BOOL CMyService::OnUserControl(DWORD code) {
  if (code != SERVICE_CONTROL_SAVE_STATUS)
    return FALSE;
  SaveStatus();
  return TRUE;
}

void CMyService::SaveStatus() {
  HKEY key = NULL;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ServiceKey(m_serviceName, "Status").c_str(), 0, NULL, 0,
                      KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
    return;
  DWORD value = m_currentValue;
  RegSetValueExA(key, "Current", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
  RegCloseKey(key);
}
