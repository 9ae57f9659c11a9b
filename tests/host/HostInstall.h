// A copy of the host program in a folder of its own, run as a user would:
// its message boxes are found among the desktop's windows, read and clicked.
#ifndef HOSTINSTALL_H
#define HOSTINSTALL_H

#include <gtest/gtest.h>

#include "WineTestSupport.h"

namespace qmtest {

// An installation of its own: the program and its runtime in a fresh folder.
class HostInstall {
public:
  explicit HostInstall(const char *tag, bool withScripts = true, const char *exeName = "Quillmoth.exe")
      : dir(tag), exe(dir / exeName) {
    std::string bin = qmtest::ProgramDirectory();
    EXPECT_TRUE(CopyFileA((bin + "Quillmoth.exe").c_str(), exe.c_str(), FALSE));
    EXPECT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
    if (withScripts) {
      EXPECT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
    }
  }

  // A service this installation registered goes with it, also when the test
  // failed before its own -uninstall.
  ~HostInstall() {
    RemoveService("Quillmoth");
    RemoveService("Quillmoth Proxy");
  }

  // Runs the program, reads the message box it shows, presses OK and waits
  // for the process to end.
  MessageBoxView Run(const std::string &arguments, DWORD *exitCode = NULL) {
    qmtest::ChildProcess child;
    MessageBoxView view;
    bool started = child.Start(exe, arguments);
    DWORD startError = started ? 0 : GetLastError();
    EXPECT_TRUE(started) << arguments << ": CreateProcess failed with error " << startError;
    EXPECT_TRUE(qmtest::WaitForMessageBox(child.Id(), 30000, &view)) << "no message box for " << arguments;
    if (view.window) {
      EXPECT_TRUE(qmtest::ClickButton(view.window, IDOK));
    }
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(child.WaitExit(30000, &code)) << arguments << ": the process did not end";
    if (exitCode)
      *exitCode = code;
    return view;
  }

  qmtest::TempDirectory dir;
  std::string exe;

private:
  HostInstall(const HostInstall &) = delete;
  HostInstall &operator=(const HostInstall &) = delete;

  // Stops and deletes the service of this name when it runs this
  // installation's program, and takes its event source.
  void RemoveService(const char *name) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                                                  SERVICE_STOP | DELETE)
                                : NULL;
    if (service && ServiceProgram(service).find(exe) != std::string::npos) {
      SERVICE_STATUS status = {};
      if (ControlService(service, SERVICE_CONTROL_STOP, &status))
        qmtest::WaitUntil([&] {
          return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
        });
      DeleteService(service);
      std::string source = std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + name;
      if (qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, source, "EventMessageFile") == exe)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, source.c_str());
    }
    if (service)
      CloseServiceHandle(service);
    if (manager)
      CloseServiceHandle(manager);
  }

  static std::string ServiceProgram(SC_HANDLE service) {
    DWORD needed = 0;
    QueryServiceConfigA(service, NULL, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    QUERY_SERVICE_CONFIGA *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
    if (!needed || !QueryServiceConfigA(service, config, needed, &needed) || !config->lpBinaryPathName)
      return std::string();
    return config->lpBinaryPathName;
  }
};

} // namespace qmtest

#endif
