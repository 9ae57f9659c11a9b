// The application object: start-up, command line, system variables and the
// choice between service and application.
#ifndef QUILLMOTHAPP_H
#define QUILLMOTHAPP_H

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "MyCommandLineInfo.h"
#include "VariableManager.h"

class CMyService;

// The host's one variable store.
extern CVariableManager g_variables;

// Product version of the executable: high and low words of its two halves.
// 0xDEADBEEF until the version resource has been read.
extern DWORD g_versionMS;
extern DWORD g_versionLS;
inline WORD VersionMajor() { return HIWORD(g_versionMS); }
inline WORD VersionMinor() { return LOWORD(g_versionMS); }

// Platform ids as start-up records them.
enum { PLATFORM_UNKNOWN = 0, PLATFORM_NT = 1, PLATFORM_OTHER = 2 };

extern const char kApplicationTitle[];
extern const char kServiceName[];
extern const char kProxyServiceName[];

class CQuillmothApp {
public:
  CQuillmothApp();

  // The whole start-up; returns the process's exit code.
  int InitInstance(const char *commandLine);

  void InitSystemInfo();
  void ParseCommandLine(const char *commandLine);

  // The help text (with the version) shown by -help and unknown switches.
  static std::string HelpText();
  // The message of the first one-shot action that applies, or empty.
  std::string OneShotMessage(CMyService &service);

  const char *ServiceName() const { return m_serviceName; }
  void SwitchToProxy();
  // Read by the service's control handler on another thread.
  HWND MainWindow() const { return m_mainWindow; }
  // Creates the console, shows it (unless -hide) and runs it until it is
  // asked to shut down; on the calling thread, COM already initialised.
  // onWindow is called once the window is the main window, before its loop.
  INT_PTR RunConsole(const std::function<void(HWND)> &onWindow = nullptr);

  // The executable whose directory start-up works from (its own path unless
  // set otherwise, as tests do).
  void SetProgramPath(const std::string &path) { m_programPath = path; }
  const std::string &ProgramPath() const { return m_programPath; }

  // Start-up's diagnostic lines not yet written (line, text).
  const std::vector<std::pair<int, std::string>> &PendingDiagnostics() const {
    return m_pendingDiagnostics;
  }

  CMyCommandLineInfo m_cmdInfo;
  DWORD m_platform;

private:
  void ExtendSearchPath(const std::string &scriptsDirectory);
  void ReadVersion();
  int RunAsApplication();
  // Watches the installed service (the monitor window); why is its first line.
  int RunMonitor(const std::string &why);
  // Diagnostic lines of start-up, held until the service object has begun
  // the new log so that they are not erased with the old one.
  void Diagnostic(int line, const std::string &text);
  void FlushDiagnostics();

  const char *m_serviceName;
  HWND volatile m_mainWindow;
  std::string m_programPath;
  std::vector<std::pair<int, std::string>> m_pendingDiagnostics;
};

extern CQuillmothApp theApp;

// Answers that the host handled the console events that would end it.
BOOL WINAPI ConsoleCtrlHandler(DWORD event);

#endif
