#include "MyService.h"
#include "QuillmothApp.h"

#include <objbase.h>
#include <stdio.h>

namespace {

std::string ServiceKey(const char *name, const char *subkey) {
  return std::string("SYSTEM\\CurrentControlSet\\Services\\") + name + "\\" + subkey;
}

} // namespace

BOOL CMyService::OnInit() {
  Trace(__LINE__, "CMyService::OnInit()");
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
  Trace(__LINE__, "CMyService::OnInit() Start=%lu", m_startValue);
  return TRUE;
}

// The console and the whole engine live on the service thread.
void CMyService::Run() {
  Trace(__LINE__, "CMyService::Run()");
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  theApp.RunConsole([this](HWND window) {
    if (m_stopRequested)
      DeliverStop(window);
  });
  CoUninitialize();
  Trace(__LINE__, "CMyService::Run() done");
}

void CMyService::OnStop() {
  Trace(__LINE__, "CMyService::OnStop()");
  // Marked first: a window that appears after the look below finds the mark.
  InterlockedExchange(&m_stopRequested, 1);
  HWND window = theApp.MainWindow();
  if (window)
    DeliverStop(window);
  else
    Trace(__LINE__, "CMyService::OnStop(): no console window yet, the stop is held for it");
}

void CMyService::DeliverStop(HWND window) {
  if (InterlockedExchange(&m_stopDelivered, 1) != 0)
    return;
  Trace(__LINE__, "CMyService::DeliverStop()");
  if (!PostMessageA(window, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0))
    TraceLastError(__LINE__, "CMyService::DeliverStop() PostMessage");
}

BOOL CMyService::OnUserControl(DWORD code) {
  Trace(__LINE__, "CMyService::OnUserControl(%lu)", code);
  if (code != SERVICE_CONTROL_SAVE_STATUS)
    return FALSE;
  SaveStatus();
  return TRUE;
}

void CMyService::SaveStatus() {
  Trace(__LINE__, "Saving current status");
  std::string keyName = ServiceKey(m_serviceName, "Status");
  Trace(__LINE__, "Creating key: %s", keyName.c_str());
  HKEY key = NULL;
  LONG created = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, NULL, 0, KEY_SET_VALUE,
                                 NULL, &key, NULL);
  if (created != ERROR_SUCCESS) {
    Trace(__LINE__, "Failed to create Status key (%ld)", created);
    return;
  }
  DWORD value = m_currentValue;
  Trace(__LINE__, "Saving 'Current' as %ld", static_cast<long>(value));
  LONG saved = RegSetValueExA(key, "Current", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                              sizeof value);
  if (saved != ERROR_SUCCESS)
    Trace(__LINE__, "CMyService::SaveStatus() 'Current' not written (%ld)", saved);
  RegCloseKey(key);
}
