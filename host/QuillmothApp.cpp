#include "QuillmothApp.h"
#include "HistoryCommands.h"
#include "ModulePath.h"
#include "MonitorWindow.h"
#include "MyService.h"
#include "QuillmothDlg.h"
#include "QuillmothRun.h"
#include "RuntimeEvents.h"
#include "SystemErrorText.h"

#include <stdio.h>
#include <memory>

CQuillmothApp theApp;
CVariableManager g_variables;
DWORD g_versionMS = 0xDEADBEEF;
DWORD g_versionLS = 0xDEADBEEF;

const char kApplicationTitle[] = "Quillmoth";
const char kServiceName[] = "Quillmoth";
const char kProxyServiceName[] = "Quillmoth Proxy";

namespace {

const char kWhere[] = "CQuillmothApp::InitSystemInfo";

bool IsDirectory(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ModuleFileName() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  return (length > 0 && length < sizeof path) ? std::string(path, length) : std::string();
}

int ShowMessage(const std::string &text, UINT style = MB_OK) {
  return MessageBoxA(NULL, text.c_str(), kApplicationTitle, style);
}

} // namespace

BOOL WINAPI ConsoleCtrlHandler(DWORD event) {
  switch (event) {
  case CTRL_C_EVENT:
  case CTRL_BREAK_EVENT:
  case CTRL_CLOSE_EVENT:
  case CTRL_LOGOFF_EVENT:
  case CTRL_SHUTDOWN_EVENT:
    return TRUE;
  default:
    return FALSE;
  }
}

CQuillmothApp::CQuillmothApp()
    : m_platform(PLATFORM_UNKNOWN), m_serviceName(kServiceName), m_mainWindow(NULL),
      m_programPath(ModuleFileName()) {}

void CQuillmothApp::SwitchToProxy() {
  m_cmdInfo.m_proxy = true;
  m_serviceName = kProxyServiceName;
}

void CQuillmothApp::Diagnostic(int line, const std::string &text) {
  m_pendingDiagnostics.emplace_back(line, text);
}

void CQuillmothApp::FlushDiagnostics() {
  for (const auto &entry : m_pendingDiagnostics)
    QMR_DebugMessage(entry.first, kWhere, "%s", entry.second.c_str());
  m_pendingDiagnostics.clear();
}

void CQuillmothApp::InitSystemInfo() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version))
    m_platform = version.dwPlatformId == VER_PLATFORM_WIN32_NT ? PLATFORM_NT : PLATFORM_OTHER;

  g_variables.InitVariableStore("Brenlow Software", "Quillmoth", "QM.ENVIRONMENT",
                                "QM.LAST_ERROR");

  ModulePath program(m_programPath.c_str());
  g_variables.SetVariable(NULL, "QM.ROOT_DIR", program.Directory().c_str(), VAR_MODE_STORED);

  ModulePath scripts(m_programPath.c_str());
  scripts.AppendDirectory("Scripts");
  bool found = false;
  if (IsDirectory(scripts.Directory())) {
    g_variables.SetVariable(NULL, "QM.DEFAULT_DIR", scripts.Directory().c_str(), VAR_MODE_STORED);
    found = true;
  } else {
    char *stored = g_variables.GetVariable(NULL, "QM.DEFAULT_DIR", VAR_MODE_STORED);
    if (stored && IsDirectory(stored)) {
      std::string notFound = scripts.Directory();
      scripts = ModulePath();
      scripts.SetPath(stored);
      found = !scripts.Path().empty();
      if (!found)
        Diagnostic(305, "Can't find Scripts directory from: " + notFound);
    } else {
      Diagnostic(305, "Can't find Scripts directory from: " + scripts.Directory());
    }
    CVariableManager::FreeText(stored);
  }
  if (found)
    ExtendSearchPath(scripts.Directory());

  char user[128];
  DWORD userLength = sizeof user;
  if (!GetUserNameA(user, &userLength))
    user[0] = '\0';
  g_variables.SetVariable(NULL, "QM.ACCOUNT", user, VAR_MODE_PROCESS);

  // The runtime reads these from the process environment: stored values
  // become process values.
  for (const char *name : {"QM.HISTORY_DAYS", "QM.TRANSCRIPT_KB", "QM.DATA_DIR"}) {
    char *stored = g_variables.GetVariable(NULL, name, VAR_MODE_STORED);
    if (stored && *stored)
      g_variables.SetVariable(NULL, name, stored, VAR_MODE_PROCESS);
    CVariableManager::FreeText(stored);
  }

  g_variables.SetVariable(NULL, "QM.TCHANGE_THRESHOLD", "1024", VAR_MODE_STORED);
  g_variables.SetVariable(NULL, "QM.POOL_SIZE", "16", VAR_MODE_STORED);

  ReadVersion();
}

// PATH := parent\Scripts\;parent\Sample Scripts\;parent\Diag\;old PATH.
void CQuillmothApp::ExtendSearchPath(const std::string &scriptsDirectory) {
  ModulePath parent(scriptsDirectory.c_str());
  parent.UpOneLevel();
  std::string directories;
  for (const char *name : {"Scripts", "Sample Scripts", "Diag"}) {
    ModulePath sibling = parent;
    sibling.AppendDirectory(name);
    if (!directories.empty())
      directories += ';';
    directories += sibling.Directory();
  }
  // The store reads the whole value, however long.
  char *current = g_variables.GetVariable(NULL, "PATH", VAR_MODE_PROCESS);
  std::string path = directories + ";" + (current ? current : "");
  CVariableManager::FreeText(current);
  // A PATH longer than the environment holds is left as it was, never cut.
  if (g_variables.SetVariable(NULL, "PATH", path.c_str(), VAR_MODE_PROCESS) != 0)
    Diagnostic(__LINE__, "Can't extend PATH: the search path would be " +
                             std::to_string(path.size()) + " characters long");
}

void CQuillmothApp::ReadVersion() {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(m_programPath.c_str(), &ignored);
  std::vector<BYTE> data(size ? size : 1);
  VS_FIXEDFILEINFO *info = NULL;
  UINT infoSize = 0;
  if (size && GetFileVersionInfoA(m_programPath.c_str(), 0, size, data.data()) &&
      VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&info), &infoSize) && info &&
      infoSize >= sizeof *info) {
    g_versionMS = info->dwProductVersionMS;
    g_versionLS = info->dwProductVersionLS;
    return;
  }
  // Held like the other start-up lines and written once the command line is
  // read (see FlushDiagnostics).
  Diagnostic(438, "Can't get version information for " + m_programPath);
}

void CQuillmothApp::ParseCommandLine(const char *commandLine) {
  ::ParseCommandLine(commandLine, m_cmdInfo);
}

std::string CQuillmothApp::HelpText() {
  char head[64];
  snprintf(head, sizeof head, "Quillmoth Version %d.%d\n", VersionMajor(), VersionMinor());
  return std::string(head) +
         "-application\t\tforce service to run as application\n"
         "-help\t\tthis screen\n"
         "-hide\t\thide the Quillmoth UI on launch\n"
         "-install\t\tinstall Quillmoth as a service (NT/W2K only)\n"
         "-load filename\tload a Quillmoth script\n"
         "-uninstall\t\tuninstall Quillmoth as a service (NT/W2K only)\n"
         "-version\t\tdisplay version information\n"
         "-force\t\twith -application: run a second engine beside the installed service\n"
         "-monitor\t\twatch the installed service: its transcript, state and last run\n"
         "-status\t\tshow the service, the engine and the last runs\n"
         "-history [count] [filter]\tshow the latest runs (20), of scripts or programs whose name holds filter\n"
         "-jobs\t\tshow the declared jobs: schedule, next due time, last result\n"
         "-run-job name, -disable-job name, -enable-job name\tact on a job at the schedule's next tick\n"
         "-account\t\tUser account. Used with -install (NT/W2K only)\n"
         "-password\t\tAccount Password. Used with -install (NT/W2K only)\n";
}

std::string CQuillmothApp::OneShotMessage(CMyService &service) {
  const char *name = m_serviceName;
  char text[1024];
  if (m_cmdInfo.m_version) {
    snprintf(text, sizeof text, "%s Version %d.%d\nThe service is %s installed\n", name,
             VersionMajor(), VersionMinor(), service.IsInstalled() ? "currently" : "not");
  } else if (m_cmdInfo.m_install) {
    CNTService::InstallNotes notes;
    if (service.IsInstalled()) {
      snprintf(text, sizeof text, "%s is already registered as system service\n", name);
    } else if (service.Install(m_cmdInfo.m_accountValue.c_str(), m_cmdInfo.m_passwordValue.c_str(),
                               m_cmdInfo.m_proxy, m_cmdInfo.m_proxy ? "-proxy" : "", &notes)) {
      // The service exists: what else was not done is said, not called a
      // failed registration.
      std::string message = std::string(name) + " is now registered as a system service\n";
      if (notes.recoveryError)
        message += "Its recovery actions (restart after a failure) could not be set:\n" +
                   SystemErrorText(notes.recoveryError, LANG_USER_DEFAULT) + "\n";
      if (notes.eventSourceError)
        message += "Its event log source could not be registered, so its events have no text:\n" +
                   SystemErrorText(notes.eventSourceError, LANG_USER_DEFAULT) + "\n";
      return message;
    } else {
      snprintf(text, sizeof text, "%s failed to register as service.\n%s\n", name,
               SystemErrorText(GetLastError(), LANG_USER_DEFAULT).c_str());
    }
  } else if (m_cmdInfo.m_uninstall) {
    if (!service.IsInstalled())
      snprintf(text, sizeof text, "%s is not registered as a system service\n", name);
    else if (service.Uninstall())
      snprintf(text, sizeof text, "%s is no longer registered as a system service.\n", name);
    else
      snprintf(text, sizeof text, "Could not unregister %s as a system service\n%s\n", name,
               SystemErrorText(GetLastError(), LANG_USER_DEFAULT).c_str());
  } else {
    return std::string();
  }
  return text;
}

int CQuillmothApp::InitInstance(const char *commandLine) {
  SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
  InitSystemInfo();
  ParseCommandLine(commandLine);

  bool notNT = m_platform != PLATFORM_NT;
  if (m_cmdInfo.m_help || m_cmdInfo.m_unknownOption ||
      (notNT && (m_cmdInfo.m_install || m_cmdInfo.m_uninstall))) {
    FlushDiagnostics();
    ShowMessage(HelpText());
    return 0;
  }

  m_serviceName = m_cmdInfo.m_proxy ? kProxyServiceName : kServiceName;
  std::unique_ptr<CMyService> service(new CMyService(m_serviceName));
  FlushDiagnostics();

  if (m_cmdInfo.m_status)
    return ShowStatus(kServiceName);
  if (m_cmdInfo.m_history)
    return ShowHistory(m_cmdInfo.m_historyCount, m_cmdInfo.m_historyFilter);
  if (m_cmdInfo.m_jobs)
    return ShowJobs();
  if (!m_cmdInfo.m_jobRequest.empty())
    return RequestJob(m_cmdInfo.m_jobRequest.c_str(), m_cmdInfo.m_jobName);

  std::string oneShot = OneShotMessage(*service);
  if (!oneShot.empty()) {
    ShowMessage(oneShot);
    return 0;
  }

  MSG msg;
  PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);

  // Never a second engine beside the installed service by accident: it
  // would run every job again. The Start menu's entry (-application) opens
  // the monitor then; -force runs a second engine on purpose.
  bool serviceInstalled = m_platform == PLATFORM_NT && service->IsInstalled();
  if (m_cmdInfo.m_monitor || (serviceInstalled && m_cmdInfo.m_application && !m_cmdInfo.m_force)) {
    std::string why = serviceInstalled
                          ? "The Quillmoth service is installed and runs the schedules; this window watches it. "
                            "A second engine would run every job again: to start one on purpose, run "
                            "Quillmoth.exe -application -force."
                          : "The Quillmoth service is not installed: there is nothing to watch. Run "
                            "Quillmoth.exe -application to run the schedules here.";
    return RunMonitor(why);
  }

  int exitCode = 0;
  if (m_platform == PLATFORM_NT && service->IsInstalled() && !m_cmdInfo.m_application) {
    g_variables.SetVariable(NULL, "QM.IS_SERVICE", "1", VAR_MODE_PROCESS);
    if (!service->StartDispatcher())
      ShowMessage("You cannot run Quillmoth from the commandline once installed as a service "
                  "without the \"-application\" switch.",
                  MB_OK | MB_ICONERROR);
  } else {
    exitCode = RunAsApplication();
  }
  return exitCode;
}

int CQuillmothApp::RunAsApplication() {
  // Only a start that runs the engine begins a new diagnostic log (the
  // service's in its ServiceMain); the previous one is kept beside it.
  QMR_StartLog();
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  g_variables.SetVariable(NULL, "QM.IS_SERVICE", "0", VAR_MODE_PROCESS);
  INT_PTR result = RunConsole();
  CoUninitialize();
  return static_cast<int>(result);
}

int CQuillmothApp::RunMonitor(const std::string &why) {
  CMonitorWindow monitor(m_serviceName, why);
  if (!monitor.Create(NULL, GetModuleHandleA(NULL)))
    return 1;
  m_mainWindow = monitor.Handle();
  ShowWindow(m_mainWindow, SW_SHOW);
  INT_PTR result = monitor.RunModalLoop();
  monitor.DestroyWindow();
  m_mainWindow = NULL;
  return static_cast<int>(result);
}

INT_PTR CQuillmothApp::RunConsole(const std::function<void(HWND)> &onWindow) {
  InstallRuntimeEventSink();
  ConsoleOptions options;
  options.hide = m_cmdInfo.m_hide;
  if (m_cmdInfo.m_load)
    options.loadFile = m_cmdInfo.m_loadFile;
  CQuillmothDlg console(options);
  if (!console.Create(NULL, GetModuleHandleA(NULL))) {
    QMR_DebugMessage(__LINE__, "CQuillmothApp::RunConsole", "Can't create the console window (error %lu)",
                     GetLastError());
    return -1;
  }
  // A full barrier: a stop marked before this reads the window, or the
  // caller's onWindow sees the mark.
  InterlockedExchangePointer(reinterpret_cast<PVOID volatile *>(&m_mainWindow), console.Handle());
  ShowWindow(m_mainWindow, options.hide ? SW_HIDE : SW_SHOW);
  if (onWindow)
    onWindow(m_mainWindow);
  INT_PTR result = console.RunModalLoop();
  console.DestroyWindow();
  m_mainWindow = NULL;
  return result;
}
