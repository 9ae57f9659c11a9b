// The control manager and event log calls of the service wrapper, in one
// table so that tests can stand in for what Wine only pretends to do (its
// event log keeps nothing, its control manager drops recovery actions) and
// for failures no real control manager gives.
#ifndef SERVICEPLATFORM_H
#define SERVICEPLATFORM_H

#include <windows.h>

struct ServicePlatform {
  HANDLE(WINAPI *RegisterEventSource)(LPCSTR server, LPCSTR source);
  BOOL(WINAPI *ReportEvent)(HANDLE source, WORD type, WORD category, DWORD id, PSID user,
                            WORD textCount, DWORD dataSize, LPCSTR *texts, LPVOID data);
  BOOL(WINAPI *DeregisterEventSource)(HANDLE source);
  SERVICE_STATUS_HANDLE(WINAPI *RegisterServiceCtrlHandlerEx)(LPCSTR name,
                                                              LPHANDLER_FUNCTION_EX handler,
                                                              LPVOID context);
  BOOL(WINAPI *SetServiceStatus)(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);
  // The event source key of Install (Wine lets an administrator write any
  // key, whatever its access list says).
  LONG(WINAPI *RegCreateKeyEx)(HKEY root, LPCSTR name, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                               PHKEY key, LPDWORD disposition);
  // The recovery actions of Install.
  BOOL(WINAPI *ChangeServiceConfig2)(SC_HANDLE service, DWORD level, LPVOID info);
};

// The real calls; a test may replace entries and must put them back.
extern ServicePlatform g_servicePlatform;
extern const ServicePlatform kSystemServicePlatform;

#endif
