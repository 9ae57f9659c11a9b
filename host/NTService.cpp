#include "NTService.h"
#include "ModulePath.h"
#include "QuillmothApp.h"
#include "QuillmothRun.h"
#include "ServicePlatform.h"
#include "SystemErrorText.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

CNTService *CNTService::s_instance = NULL;
const DWORD CNTService::kRecoveryDelays[3] = {60000, 60000, 300000};

namespace {

const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
const char kEventLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// Closes a service handle without disturbing the thread's last error, which
// callers report to the operator.
void CloseKeepingError(SC_HANDLE handle) {
  DWORD error = GetLastError();
  CloseServiceHandle(handle);
  SetLastError(error);
}

// Pre-shutdown is offered from Vista on; an older control manager refuses a
// status that names a control it does not know.
DWORD AcceptedControls() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  DWORD controls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  if (GetVersionExA(&version) && version.dwMajorVersion >= 6)
    controls |= SERVICE_ACCEPT_PRESHUTDOWN;
  return controls;
}

} // namespace

CNTService::CNTService(const char *serviceName)
    : m_statusHandle(NULL), m_running(0), m_eventSource(NULL), m_stopping(0), m_stopDone(NULL),
      m_progressThread(NULL) {
  InitializeCriticalSection(&m_statusLock);
  m_serviceName[0] = '\0';
  SetName(serviceName);
  m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  m_status.dwCurrentState = SERVICE_STOPPED;
  m_status.dwControlsAccepted = AcceptedControls();
  m_status.dwWin32ExitCode = 0;
  m_status.dwServiceSpecificExitCode = 0;
  m_status.dwCheckPoint = 0;
  m_status.dwWaitHint = 0;
  s_instance = this;

  Trace(__LINE__, "CNTService::CNTService()");
}

CNTService::~CNTService() {
  Trace(__LINE__, "CNTService::~CNTService()");
  EndStopProgress();
  if (m_stopDone)
    CloseHandle(m_stopDone);
  if (m_eventSource)
    g_servicePlatform.DeregisterEventSource(m_eventSource);
  if (s_instance == this)
    s_instance = NULL;
  DeleteCriticalSection(&m_statusLock);
}

void CNTService::SetName(const char *name) {
  snprintf(m_serviceName, sizeof m_serviceName, "%s", name ? name : "");
}

void CNTService::Trace(int line, const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  QMR_DebugMessage(line, m_serviceName, "%s", text);
}

void CNTService::TraceLastError(int line, const char *what) {
  DWORD error = GetLastError();
  Trace(line, "%s: %s(last error=%lu)", what, SystemErrorText(error, LANG_USER_DEFAULT).c_str(),
        error);
  SetLastError(error);
}

void CNTService::Run() {
  Trace(__LINE__, "Sleeping...");
  while (m_running == 1)
    Sleep(5000);
}
BOOL CNTService::OnInit() { return TRUE; }
void CNTService::OnStop() {}
void CNTService::OnInterrogate() {}
void CNTService::OnPause() {}
void CNTService::OnContinue() {}
BOOL CNTService::OnUserControl(DWORD) { return FALSE; }

BOOL CNTService::IsInstalled() {
  Trace(__LINE__, "CNTService::IsInstalled()");
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  if (!manager)
    return FALSE;
  BOOL installed = FALSE;
  SC_HANDLE service = OpenServiceA(manager, m_serviceName, SERVICE_QUERY_CONFIG);
  if (service) {
    installed = TRUE;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return installed;
}

BOOL CNTService::Install(const char *account, const char *password, bool demandStart,
                         const char *arguments, InstallNotes *notes) {
  Trace(__LINE__, "CNTService::Install()");
  InstallNotes ignored;
  if (!notes)
    notes = &ignored;
  *notes = InstallNotes();
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    TraceLastError(__LINE__, "CNTService::Install() OpenSCManager");
    return FALSE;
  }

  char program[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, program, sizeof program);
  if (length == 0 || length >= sizeof program) {
    CloseKeepingError(manager);
    return FALSE;
  }
  // Quoted, so that a path with blanks ("C:\Program Files\...") can't be
  // read as a shorter program ("C:\Program.exe") followed by arguments.
  char command[MAX_PATH + 64];
  bool hasArguments = arguments && *arguments;
  int written = snprintf(command, sizeof command, "\"%s\"%s%s", program, hasArguments ? " " : "",
                         hasArguments ? arguments : "");
  if (written < 0 || static_cast<size_t>(written) >= sizeof command) {
    CloseServiceHandle(manager);
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  bool hasAccount = account && *account;
  DWORD type = hasAccount ? SERVICE_WIN32_OWN_PROCESS
                          : SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
  SC_HANDLE service = CreateServiceA(
      manager, m_serviceName, m_serviceName, SERVICE_ALL_ACCESS, type,
      demandStart ? SERVICE_DEMAND_START : SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command, NULL,
      NULL, NULL, hasAccount ? account : NULL, (password && *password) ? password : NULL);
  if (!service) {
    TraceLastError(__LINE__, "CNTService::Install() CreateService");
    CloseKeepingError(manager);
    return FALSE;
  }

  SC_ACTION actions[3];
  for (int i = 0; i < 3; ++i) {
    actions[i].Type = SC_ACTION_RESTART;
    actions[i].Delay = kRecoveryDelays[i];
  }
  SERVICE_FAILURE_ACTIONSA recovery = {kRecoveryResetSeconds, NULL, NULL, 3, actions};
  if (!g_servicePlatform.ChangeServiceConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &recovery)) {
    notes->recoveryError = GetLastError();
    TraceLastError(__LINE__, "CNTService::Install() recovery actions");
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);

  char keyName[sizeof kEventLogKey + sizeof m_serviceName];
  snprintf(keyName, sizeof keyName, "%s%s", kEventLogKey, m_serviceName);
  HKEY key = NULL;
  LONG created =
      g_servicePlatform.RegCreateKeyEx(HKEY_LOCAL_MACHINE, keyName, 0, NULL, 0, KEY_SET_VALUE, NULL,
                                       &key, NULL);
  if (created != ERROR_SUCCESS) {
    // The service exists; only its events have no source to be read by.
    notes->eventSourceError = static_cast<DWORD>(created);
    SetLastError(notes->eventSourceError);
    TraceLastError(__LINE__, "CNTService::Install() event source key");
    return TRUE;
  }
  RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(program),
                 static_cast<DWORD>(strlen(program) + 1));
  DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&types),
                 sizeof types);
  RegCloseKey(key);

  LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_INSTALLED, m_serviceName);
  return TRUE;
}

BOOL CNTService::Uninstall() {
  Trace(__LINE__, "CNTService::Uninstall()");
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    TraceLastError(__LINE__, "CNTService::Uninstall() OpenSCManager");
    return FALSE;
  }
  SC_HANDLE service = OpenServiceA(manager, m_serviceName, DELETE);
  if (!service) {
    TraceLastError(__LINE__, "CNTService::Uninstall() OpenService");
    CloseKeepingError(manager);
    return FALSE;
  }
  BOOL removed = DeleteService(service);
  DWORD error = GetLastError();
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (removed)
    LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_REMOVED, m_serviceName);
  else {
    SetLastError(error);
    TraceLastError(__LINE__, "CNTService::Uninstall() DeleteService");
    LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_NOTREMOVED, m_serviceName);
  }
  SetLastError(error);
  return removed;
}

void CNTService::LogEvent(WORD type, DWORD id, const char *text1, const char *text2,
                          const char *text3) {
  // Reporting never changes the error a caller is about to show.
  DWORD error = GetLastError();
  Trace(__LINE__, "CNTService::LogEvent(type=%u, id=%lu)", type, id);
  // Workers report failures too: the first source made is the one kept.
  if (!m_eventSource) {
    HANDLE source = g_servicePlatform.RegisterEventSource(NULL, m_serviceName);
    if (source && InterlockedCompareExchangePointer(&m_eventSource, source, NULL) != NULL)
      g_servicePlatform.DeregisterEventSource(source);
  }
  if (!m_eventSource) {
    TraceLastError(__LINE__, "CNTService::LogEvent() RegisterEventSource");
  } else {
    const char *texts[3];
    WORD count = 0;
    for (const char *text : {text1, text2, text3})
      if (text)
        texts[count++] = text;
    if (!g_servicePlatform.ReportEvent(m_eventSource, type, 0, id, NULL, count, 0,
                                       count ? texts : NULL, NULL))
      TraceLastError(__LINE__, "CNTService::LogEvent() ReportEvent");
  }
  SetLastError(error);
}

BOOL CNTService::SetStatus(DWORD state) {
  Trace(__LINE__, "Updating status (%lu, %lu)", state, m_status.dwWin32ExitCode);
  EnterCriticalSection(&m_statusLock);
  m_status.dwCurrentState = state;
  if (state != SERVICE_STOP_PENDING && state != SERVICE_START_PENDING) {
    m_status.dwCheckPoint = 0;
    m_status.dwWaitHint = 0;
  }
  BOOL reported = ReportStatus();
  LeaveCriticalSection(&m_statusLock);
  return reported;
}

BOOL CNTService::ReportStatus() {
  EnterCriticalSection(&m_statusLock);
  SERVICE_STATUS status = m_status;
  BOOL reported = m_statusHandle && g_servicePlatform.SetServiceStatus(m_statusHandle, &status);
  LeaveCriticalSection(&m_statusLock);
  return reported;
}

void CNTService::BeginStop() {
  if (InterlockedExchange(&m_stopping, 1) != 0) {
    Trace(__LINE__, "CNTService::BeginStop(): a stop is already under way");
    return;
  }
  EnterCriticalSection(&m_statusLock);
  m_status.dwCheckPoint = 1;
  m_status.dwWaitHint = kStopWaitHint;
  SetStatus(SERVICE_STOP_PENDING);
  LeaveCriticalSection(&m_statusLock);
  // Without the progress thread the stop still runs, only unannounced.
  if (m_stopDone && !m_progressThread) {
    m_progressThread = CreateThread(NULL, 0, StopProgress, this, 0, NULL);
    if (!m_progressThread)
      TraceLastError(__LINE__, "CNTService::BeginStop() progress thread");
  }
  OnStop();
  m_running = 0;
  LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_STOPPED);
}

DWORD WINAPI CNTService::StopProgress(LPVOID self) {
  CNTService *service = static_cast<CNTService *>(self);
  DWORD started = GetTickCount();
  while (WaitForSingleObject(service->m_stopDone, kStopProgressInterval) == WAIT_TIMEOUT) {
    if (GetTickCount() - started >= kStopProgressLimit) {
      service->Trace(__LINE__, "The stop has not ended after %lu ms: no more progress reported",
                     kStopProgressLimit);
      break;
    }
    EnterCriticalSection(&service->m_statusLock);
    if (service->m_status.dwCurrentState == SERVICE_STOP_PENDING) {
      ++service->m_status.dwCheckPoint;
      service->ReportStatus();
    }
    LeaveCriticalSection(&service->m_statusLock);
  }
  return 0;
}

void CNTService::EndStopProgress() {
  if (m_stopDone)
    SetEvent(m_stopDone);
  if (m_progressThread) {
    WaitForSingleObject(m_progressThread, INFINITE);
    CloseHandle(m_progressThread);
    m_progressThread = NULL;
  }
}

BOOL CNTService::StartDispatcher() {
  char entryName[] = "dummy";
  SERVICE_TABLE_ENTRYA table[] = {{entryName, ServiceMain}, {NULL, NULL}};
  Trace(__LINE__, "Calling StartServiceCtrlDispatcher()");
  BOOL started = StartServiceCtrlDispatcherA(table);
  if (!started) {
    Trace(__LINE__, "StartServiceCtrlDispatcher() Failed");
    TraceLastError(__LINE__, "StartServiceCtrlDispatcher()");
  } else {
    Trace(__LINE__, "Returned from StartServiceCtrlDispatcher()");
  }
  return started;
}

BOOL CNTService::Initialize() {
  Trace(__LINE__, "CNTService::Initialize()");
  SetStatus(SERVICE_START_PENDING);
  BOOL ok = OnInit();
  m_status.dwWin32ExitCode = GetLastError();
  if (!ok) {
    LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_FAILEDINIT);
    SetStatus(SERVICE_STOPPED);
    return FALSE;
  }
  LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_STARTED);
  // A stop that came during start-up stays reported as under way.
  if (!m_stopping)
    SetStatus(SERVICE_RUNNING);
  return TRUE;
}

// Nothing thrown may reach the control manager's thread: the service is then
// reported stopped with an error instead of taking the process down.
void WINAPI CNTService::ServiceMain(DWORD argc, LPSTR *argv) {
  try {
    RunServiceMain(argc, argv);
  } catch (...) {
    CNTService *service = s_instance;
    if (!service)
      return;
    service->Trace(__LINE__, "CNTService::ServiceMain() failed: out of memory");
    service->m_status.dwWin32ExitCode = ERROR_NOT_ENOUGH_MEMORY;
    service->SetStatus(SERVICE_STOPPED);
  }
}

DWORD WINAPI CNTService::HandlerEx(DWORD code, DWORD, LPVOID, LPVOID) {
  try {
    return HandleControl(code);
  } catch (...) {
    if (s_instance)
      s_instance->Trace(__LINE__, "CNTService::Handler(%lu) failed: out of memory", code);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

void CNTService::RunServiceMain(DWORD argc, LPSTR *argv) {
  CNTService *service = s_instance;
  if (!service)
    return;
  // The service is starting its engine: a new diagnostic log begins.
  QMR_StartLog();
  service->Trace(__LINE__, "CNTService::ServiceMain(%lu)", argc);
  if (argc >= 2 && argv[1] && strcmp(argv[1], "-proxy") == 0) {
    theApp.SwitchToProxy();
    service->SetName(theApp.ServiceName());
  }
  service->m_status.dwCurrentState = SERVICE_START_PENDING;
  if (!service->m_stopDone)
    service->m_stopDone = CreateEventA(NULL, TRUE, FALSE, NULL);
  service->m_statusHandle =
      g_servicePlatform.RegisterServiceCtrlHandlerEx(service->m_serviceName, HandlerEx, NULL);
  if (!service->m_statusHandle) {
    service->TraceLastError(__LINE__, "CNTService::ServiceMain() RegisterServiceCtrlHandlerEx");
    service->LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_CTRLHANDLERNOTINSTALLED);
    return;
  }
  if (service->Initialize() && !service->m_stopping) {
    service->m_running = 1;
    service->m_status.dwWin32ExitCode = 0;
    service->Run();
  }
  service->EndStopProgress();
  service->SetStatus(SERVICE_STOPPED);
  service->Trace(__LINE__, "CNTService::ServiceMain() done");
}

DWORD CNTService::HandleControl(DWORD code) {
  CNTService *service = s_instance;
  if (!service)
    return ERROR_CALL_NOT_IMPLEMENTED;
  service->Trace(__LINE__, "CNTService::Handler(%lu)", code);
  DWORD answer = NO_ERROR;
  switch (code) {
  case SERVICE_CONTROL_STOP:
  case SERVICE_CONTROL_SHUTDOWN:
  case SERVICE_CONTROL_PRESHUTDOWN:
    // A running script gets its stop request at shutdown as at a stop.
    service->BeginStop();
    break;
  case SERVICE_CONTROL_PAUSE:
    service->OnPause();
    break;
  case SERVICE_CONTROL_CONTINUE:
    service->OnContinue();
    break;
  case SERVICE_CONTROL_INTERROGATE:
    service->OnInterrogate();
    break;
  default:
    if (code < 128 || !service->OnUserControl(code)) {
      service->LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_BADREQUEST);
      answer = ERROR_CALL_NOT_IMPLEMENTED;
    }
    break;
  }
  // The answer to every control, unless the service has meanwhile stopped.
  EnterCriticalSection(&service->m_statusLock);
  if (service->m_status.dwCurrentState != SERVICE_STOPPED)
    service->ReportStatus();
  LeaveCriticalSection(&service->m_statusLock);
  return answer;
}
