// The real Quillmoth.exe under Wine, driven as a user would: its message
// boxes are found among the desktop's windows, read, and clicked.
#include <gtest/gtest.h>

#include "HostInstall.h"
#include "WineTestSupport.h"

using qmtest::ChildProcess;
using qmtest::HostInstall;
using qmtest::MessageBoxView;
using qmtest::ReadRegistryText;
using qmtest::ServiceRemoval;
using qmtest::ServiceState;

namespace {

const char kSectionKey[] = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";
const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\";

const std::string kHelpText =
    "Quillmoth Version 1.0\n"
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

TEST(HostProcess, HelpTextForHelpSwitchesAndUnknownOnes) {
  HostInstall install("help");
  for (const char *arguments : {"-help", "/?", "-H", "-foo"}) {
    DWORD code = 1;
    MessageBoxView box = install.Run(arguments, &code);
    EXPECT_EQ("Quillmoth", box.title) << arguments;
    EXPECT_EQ(kHelpText, box.text) << arguments;
    EXPECT_EQ(std::vector<std::string>{"OK"}, box.buttons) << arguments;
    EXPECT_EQ(0u, code) << arguments;
  }
}

TEST(HostProcess, StartPublishesTheSystemVariablesInTheRegistry) {
  HostInstall install("vars");
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.POOL_SIZE", "0");
  MessageBoxView box = install.Run("-version");
  EXPECT_EQ("Quillmoth Version 1.0\nThe service is not installed\n", box.text);

  EXPECT_EQ(install.dir.Path(), ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.ROOT_DIR"));
  EXPECT_EQ(install.dir / "Scripts\\",
            ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.DEFAULT_DIR"));
  EXPECT_EQ("16", ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.POOL_SIZE"));
  EXPECT_EQ("1024", ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.TCHANGE_THRESHOLD"));
  bool found = true;
  ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.IS_SERVICE", &found);
  EXPECT_FALSE(found) << "QM.IS_SERVICE is a process variable";
}

TEST(HostProcess, MissingScriptsDirectoryIsLoggedAfterTheEarlierLines) {
  HostInstall install("noscripts", false);
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.DEFAULT_DIR",
                            install.dir / "Nowhere\\");
  std::string log = install.dir / "Quillmoth.log";
  ASSERT_TRUE(qmtest::WriteTextFile(log, "line of an earlier run\r\n"));
  install.Run("-version");
  std::string text = qmtest::ReadTextFile(log);
  EXPECT_EQ(0u, text.rfind("line of an earlier run\r\n", 0))
      << "a start that runs no engine (-version) adds to the log and never empties it";
  EXPECT_NE(std::string::npos,
            text.find("[CQuillmothApp::InitSystemInfo](thread="))
      << text;
  EXPECT_NE(std::string::npos,
            text.find(")(line=305): Can't find Scripts directory from: " + install.dir / "Scripts\\\r\n"))
      << text;
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSectionKey, "QM.DEFAULT_DIR");
}

TEST(HostProcess, UnreadableVersionIsLogged) {
  // The same program built without its version resource.
  HostInstall install("noversion");
  ASSERT_TRUE(CopyFileA((qmtest::ProgramDirectory() + "quillmoth_noversion.exe").c_str(),
                        install.exe.c_str(), FALSE));
  DWORD ignored = 0;
  ASSERT_EQ(0u, GetFileVersionInfoSizeA(install.exe.c_str(), &ignored)) << "the copy has no version";
  std::string log = install.dir / "Quillmoth.log";
  EXPECT_EQ("Quillmoth Version 57005.48879\nThe service is not installed\n", install.Run("-version").text);
  std::string text = qmtest::ReadTextFile(log);
  EXPECT_NE(std::string::npos, text.find("[CQuillmothApp::InitSystemInfo](thread=")) << text;
  EXPECT_NE(std::string::npos,
            text.find(")(line=438): Can't get version information for " + install.exe + "\r\n"))
      << text;
}

TEST(HostProcess, InstallRunAndUninstallTheService) {
  HostInstall install("service");
  ServiceRemoval removal("Quillmoth");
  std::string key = std::string(kServiceKey) + "Quillmoth";

  EXPECT_EQ("Quillmoth is now registered as a system service\n", install.Run("-install").text);
  EXPECT_EQ("\"" + install.exe + "\"", ReadRegistryText(HKEY_LOCAL_MACHINE, key, "ImagePath"))
      << "the program path is quoted";
  HKEY service;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &service));
  DWORD value = 0, size = sizeof value;
  RegQueryValueExA(service, "Start", NULL, NULL, reinterpret_cast<BYTE *>(&value), &size);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), value);
  size = sizeof value;
  RegQueryValueExA(service, "Type", NULL, NULL, reinterpret_cast<BYTE *>(&value), &size);
  EXPECT_EQ(0x110u, value) << "interactive own-process service without an account";
  RegCloseKey(service);
  std::string eventKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillmoth";
  EXPECT_EQ(install.exe, ReadRegistryText(HKEY_LOCAL_MACHINE, eventKey, "EventMessageFile"));

  EXPECT_EQ("Quillmoth is already registered as system service\n", install.Run("-install").text);
  EXPECT_EQ("Quillmoth Version 1.0\nThe service is currently installed\n",
            install.Run("-version").text);

  // Installed, started from a command line and without -application: the
  // dispatcher refuses and the host explains.
  MessageBoxView refused = install.Run("");
  EXPECT_EQ("You cannot run Quillmoth from the commandline once installed as a service without "
            "the \"-application\" switch.",
            refused.text);
  EXPECT_TRUE(refused.hasIcon) << "shown with the error icon";

  // With -application beside the installed service: the monitor, not a
  // second engine; with -application -force the engine all the same.
  {
    ChildProcess child;
    ASSERT_TRUE(child.Start(install.exe, "-application"));
    HWND monitor = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth service monitor", 30000);
    ASSERT_TRUE(monitor) << "the monitor appears";
    // The window can be found a moment before its initialisation fills it.
    EXPECT_TRUE(qmtest::WaitUntil(
        [&] { return qmtest::ControlText(monitor, 1003).find("-application -force") != std::string::npos; }))
        << qmtest::ControlText(monitor, 1003);
    PostMessageA(monitor, WM_CLOSE, 0, 0);
    EXPECT_TRUE(child.WaitExit(30000));
  }
  {
    ChildProcess child;
    ASSERT_TRUE(child.Start(install.exe, "-application -force"));
    HWND console = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth", 30000);
    ASSERT_TRUE(console) << "the console window appears";
    PostMessageA(console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
    DWORD code = 1;
    EXPECT_TRUE(child.WaitExit(30000, &code));
    EXPECT_EQ(0u, code);
  }

  EXPECT_EQ("Quillmoth is no longer registered as a system service.\n",
            install.Run("-uninstall").text);
  EXPECT_EQ("Quillmoth is not registered as a system service\n", install.Run("-uninstall").text);
  EXPECT_EQ("Quillmoth Version 1.0\nThe service is not installed\n", install.Run("-version").text);
}

bool WaitForState(SC_HANDLE service, DWORD state, DWORD milliseconds) {
  return qmtest::WaitUntil([&] { return ServiceState(service) == state; }, milliseconds);
}

TEST(HostProcess, ServiceRunsItsConsoleAndStopsOnRequest) {
  HostInstall install("service-run");
  ServiceRemoval removal("Quillmoth");
  ASSERT_TRUE(qmtest::WriteTextFile(install.dir / "Scripts\\AutoRun.vbs", "Sub main(x)\r\nEnd Sub\r\n"));
  ASSERT_EQ("Quillmoth is now registered as a system service\n", install.Run("-install").text);
  qmtest::ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  qmtest::ServiceHandle service(OpenServiceA(manager, "Quillmoth", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);

  ASSERT_TRUE(StartServiceA(service, 0, NULL)) << GetLastError();
  EXPECT_TRUE(WaitForState(service, SERVICE_RUNNING, 30000));
  DWORD processId = 0;
  ServiceState(service, &processId);
  HWND console = qmtest::WaitForWindow(processId, "#32770", "Quillmoth", 30000);
  ASSERT_TRUE(console) << "the service runs its console on the service thread";
  EXPECT_TRUE(qmtest::WaitUntil([&] { return qmtest::ControlText(console, 1003).find("Ready.") != std::string::npos; }))
      << "the service's console got ready: " << qmtest::ControlText(console, 1003);
  EXPECT_NE(std::string::npos, qmtest::ControlText(console, 1028).find(" as a SERVICE"));
  HMENU menu = GetSystemMenu(console, FALSE);
  EXPECT_EQ(-1, GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND)) << "a service console has no Close";

  SERVICE_STATUS status;
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitForState(service, SERVICE_STOPPED, 60000)) << "the stop request ends the service";
  service.Close();
  manager.Close();
  EXPECT_EQ("Quillmoth is no longer registered as a system service.\n", install.Run("-uninstall").text);
}

// The proxy service is registered with -proxy in its command line: started
// by the control manager it knows itself by its own name, runs its console
// and stops on request.
TEST(HostProcess, ProxyServiceIsRegisteredForStartOnDemandAndRuns) {
  HostInstall install("proxy");
  ServiceRemoval removal("Quillmoth Proxy");
  ASSERT_TRUE(qmtest::WriteTextFile(install.dir / "Scripts\\AutoRun.vbs", "Sub main(x)\r\nEnd Sub\r\n"));
  EXPECT_EQ("Quillmoth Proxy is now registered as a system service\n",
            install.Run("-install -proxy").text);
  std::string key = std::string(kServiceKey) + "Quillmoth Proxy";
  EXPECT_EQ("\"" + install.exe + "\" -proxy", ReadRegistryText(HKEY_LOCAL_MACHINE, key, "ImagePath"));
  HKEY serviceKey;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &serviceKey));
  DWORD value = 0, size = sizeof value;
  RegQueryValueExA(serviceKey, "Start", NULL, NULL, reinterpret_cast<BYTE *>(&value), &size);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), value);
  RegCloseKey(serviceKey);
  EXPECT_EQ("Quillmoth Version 1.0\nThe service is not installed\n", install.Run("-version").text)
      << "the plain service name is a different service";

  {
    qmtest::ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);
    qmtest::ServiceHandle service(OpenServiceA(manager, "Quillmoth Proxy", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service);
    ASSERT_TRUE(StartServiceA(service, 0, NULL)) << GetLastError();
    EXPECT_TRUE(WaitForState(service, SERVICE_RUNNING, 30000)) << "the proxy started as a service";
    DWORD processId = 0;
    ServiceState(service, &processId);
    HWND console = qmtest::WaitForWindow(processId, "#32770", "Quillmoth", 30000);
    EXPECT_TRUE(console) << "the proxy runs its console";
    if (console) {
      EXPECT_TRUE(qmtest::WaitUntil(
          [&] { return qmtest::ControlText(console, 1028).find(" as a SERVICE") != std::string::npos; }))
          << qmtest::ControlText(console, 1028);
    }
    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(WaitForState(service, SERVICE_STOPPED, 60000)) << "the stop request ends the proxy";
  }
  EXPECT_EQ("Quillmoth Proxy is no longer registered as a system service.\n",
            install.Run("-uninstall -proxy").text);
}

// Wine's choice of the Windows version a program is told it runs on, in the
// prefix's AppDefaults key, for as long as the object lives.
class WineVersionFor {
public:
  WineVersionFor(const std::string &program, const std::string &version)
      : m_key("Software\\Wine\\AppDefaults\\" + program) {
    HKEY wine = NULL;
    // Where no Wine key was there before (Windows), none is left behind.
    m_madeWineKey = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, KEY_READ, &wine) != ERROR_SUCCESS;
    if (wine)
      RegCloseKey(wine);
    qmtest::WriteRegistryText(HKEY_CURRENT_USER, m_key, "Version", version);
  }
  ~WineVersionFor() { RegDeleteTreeA(HKEY_CURRENT_USER, m_madeWineKey ? "Software\\Wine" : m_key.c_str()); }

private:
  WineVersionFor(const WineVersionFor &) = delete;
  WineVersionFor &operator=(const WineVersionFor &) = delete;
  std::string m_key;
  bool m_madeWineKey;
};

// -install is for NT only: elsewhere the host shows its help and installs
// nothing. Wine tells this copy of the host it runs on Windows 98; Windows
// reads no such key, so there the host sees NT and installs the service
// (which HostInstall removes again).
TEST(HostProcess, InstallFollowsThePlatformTheProgramIsTold) {
  HostInstall install("win98", true, "QuillmothW98.exe");
  MessageBoxView box;
  {
    WineVersionFor win98("QuillmothW98.exe", "win98");
    box = install.Run("-install");
  }
  bool found = true;
  std::string program =
      ReadRegistryText(HKEY_LOCAL_MACHINE, std::string(kServiceKey) + "Quillmoth", "ImagePath", &found);
  const std::string installed = "Quillmoth is now registered as a system service\n";
  EXPECT_TRUE((box.text == installed && program == "\"" + install.exe + "\"") ||
              qmtest::WineDiffers(box.text == kHelpText && !found,
                                  "Wine reports Windows 98 to a program whose AppDefaults Version is win98, so the "
                                  "host shows its help and installs nothing; Windows reads no such key and reports "
                                  "NT, so the host installs"))
      << box.text << "service program: " << program;
}

} // namespace
