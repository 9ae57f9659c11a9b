// The installed Quillmoth.exe under Wine's own service control manager:
// installed from a folder with a blank in its name, started, sent controls,
// stopped and removed. Wine's event log accepts reports but keeps nothing,
// so which event was reported when is read from the wrapper's trace lines in
// the diagnostic log; the event texts are read from the program's message
// table, found the way an event viewer finds it.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <ctype.h>
#include <functional>
#include <string>
#include <vector>

#include "HostInstall.h"
#include "WineTestSupport.h"

using qmtest::HostInstall;
using qmtest::ReadRegistryText;
using qmtest::ServiceRemoval;
using qmtest::ServiceState;
using qmtest::SystemText;
using qmtest::WaitUntil;

namespace {

enum { IDC_OUTPUT = 1003 };

const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
const char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

const char *const kEventTexts[] = {
    "The %1 service was installed.\r\n",
    "The %1 service was removed.\r\n",
    "The %1 service could not be removed.\r\n",
    "The control handler could not be installed.\r\n",
    "The initialization process failed.\r\n",
    "The service was started.\r\n",
    "The service received an unsupported request.\r\n",
    "Debug: %1\r\n",
    "The service was stopped.\r\n",
    "Every schedule stopped: the script %1 failed with this error: %2 The service goes on running but starts "
    "nothing until it is started again.\r\n",
    "The script %1 failed: %2\r\n",
    "The run history cannot be written in %1: %2 Runs go on without their records.\r\n",
    "The console transcript cannot be written in %1: %2\r\n",
};

// AutoRun.vbs of the service: says it started, waits for the stop request,
// and leaves a file behind when the request reached it.
const char kAutoRun[] =
    "Function main(x)\r\n"
    "  Dim core, h, running\r\n"
    "  Set core = NewCore()\r\n"
    "  core.Print \"service script started\"\r\n"
    "  running = True\r\n"
    "  Do While running\r\n"
    "    h = core.GetMessage(0, 0)\r\n"
    "    Select Case core.GetMessageId(h)\r\n"
    "      Case QMR_CTL_STOP, QMR_CTL_QUIT\r\n"
    "        running = False\r\n"
    "      Case Else\r\n"
    "        core.DispatchMessage h\r\n"
    "    End Select\r\n"
    "    core.FreeHandle h\r\n"
    "  Loop\r\n"
    "  AppendLine ProcessVariable(\"QM.DEFAULT_DIR\") & \"stopped.txt\", \"stopped\"\r\n"
    "End Function\r\n";

// The messages of the trace lines in the log, in order ("[name](thread=..)
// (line=..): " cut off), only those that begin with one of the prefixes.
std::vector<std::string> TraceMessages(const std::string &log,
                                       std::initializer_list<const char *> prefixes) {
  std::vector<std::string> messages;
  size_t start = 0;
  for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = log.substr(start, end - start);
    size_t mark = line.find("): ");
    if (line.rfind("[Quillmoth](thread=", 0) != 0 || mark == std::string::npos)
      continue;
    std::string message = line.substr(mark + 3);
    for (const char *prefix : prefixes)
      if (message.rfind(prefix, 0) == 0) {
        messages.push_back(message);
        break;
      }
  }
  return messages;
}

std::string Joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += line + "\n";
  return text;
}

std::string ServiceBinaryPath(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfigA(service, NULL, 0, &needed);
  std::vector<BYTE> buffer(needed ? needed : 1);
  QUERY_SERVICE_CONFIGA *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
  if (!QueryServiceConfigA(service, config, needed, &needed) || !config->lpBinaryPathName)
    return "(unreadable)";
  return config->lpBinaryPathName;
}

DWORD RegistryNumber(const std::string &key, const char *value, bool *found) {
  *found = false;
  HKEY handle;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return 0;
  DWORD number = 0, size = sizeof number, type = 0;
  *found = RegQueryValueExA(handle, value, NULL, &type, reinterpret_cast<BYTE *>(&number), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
  RegCloseKey(handle);
  return number;
}

// The texts of the message table of the module an event source names.
TEST(ServiceEvents, TheEventSourceNamesAMessageFileWithEveryText) {
  HostInstall install("event source");
  ServiceRemoval removal("Quillmoth");
  ASSERT_EQ("Quillmoth is now registered as a system service\n", install.Run("-install").text);
  std::string key = std::string(kEventSourceKey) + "Quillmoth";
  DWORD type = 0;
  std::string file = ReadRegistryText(HKEY_LOCAL_MACHINE, key, "EventMessageFile", NULL, &type);
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  EXPECT_EQ(install.exe, file) << "a file name, not a command line: no quotes";
  bool found = false;
  EXPECT_EQ(7u, RegistryNumber(key, "TypesSupported", &found));
  EXPECT_TRUE(found);

  char expanded[MAX_PATH];
  ASSERT_GT(ExpandEnvironmentStringsA(file.c_str(), expanded, sizeof expanded), 0u);
  HMODULE module = LoadLibraryExA(expanded, NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module) << expanded;
  for (DWORD id = 100; id <= 112; ++id) {
    char text[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  module, id, 0, text, sizeof text, NULL);
    EXPECT_EQ(kEventTexts[id - 100], std::string(text, length)) << "message " << id;
  }
  for (DWORD id : {99u, 113u, 0x40000000u + 100u}) {
    char text[256];
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 module, id, 0, text, sizeof text, NULL))
        << "no message " << id;
  }
  // The insertion text as the event log puts it in.
  DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>("Quillmoth")};
  char text[256] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                                101, 0, text, sizeof text, reinterpret_cast<va_list *>(inserts));
  EXPECT_EQ("The Quillmoth service was removed.\r\n", std::string(text, length));
  FreeLibrary(module);

  // One-shot commands add to the log and never empty it.
  std::string log = qmtest::ReadTextFile(install.dir / "Quillmoth.log");
  EXPECT_EQ("CNTService::LogEvent(type=4, id=100)\n",
            Joined(TraceMessages(log, {"CNTService::LogEvent("})))
      << "installed: " << log;
  EXPECT_EQ("Quillmoth is no longer registered as a system service.\n", install.Run("-uninstall").text);
  std::string after = qmtest::ReadTextFile(install.dir / "Quillmoth.log");
  EXPECT_EQ(0u, after.rfind(log, 0)) << "the log kept what it had";
  EXPECT_EQ("CNTService::LogEvent(type=4, id=100)\nCNTService::LogEvent(type=4, id=101)\n",
            Joined(TraceMessages(after, {"CNTService::LogEvent("})))
      << "removed: " << after;
}

// Install, start, the controls an administrator sends, stop and removal,
// with the events each reports, in the order the control manager sees them.
TEST(ServiceEvents, ControlsReachTheServiceThroughTheControlManager) {
  qmtest::RegisteredCoreLibrary library;
  ASSERT_EQ(S_OK, library.Registration());
  HostInstall install("Program Files svc");
  ServiceRemoval removal("Quillmoth");
  std::string bin = qmtest::ProgramDirectory();
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", install.dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::WriteTextFile(install.dir / "Scripts\\AutoRun.vbs", kAutoRun));
  std::string stoppedMark = install.dir / "Scripts\\stopped.txt";

  ASSERT_EQ("Quillmoth is now registered as a system service\n", install.Run("-install").text);
  std::string serviceKey = std::string(kServicesKey) + "Quillmoth";
  {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, (serviceKey + "\\Parameters").c_str(),
                                             0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL));
    DWORD start = 42;
    RegSetValueExA(key, "Start", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&start), sizeof start);
    RegCloseKey(key);
  }

  qmtest::ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  qmtest::ServiceHandle service(OpenServiceA(manager, "Quillmoth", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  EXPECT_EQ("\"" + install.exe + "\"", ServiceBinaryPath(service))
      << "the control manager holds the quoted path, so a blank can't split it";

  ASSERT_TRUE(StartServiceA(service, 0, NULL)) << GetLastError();
  EXPECT_TRUE(WaitUntil([&] { return ServiceState(service) == SERVICE_RUNNING; }));
  DWORD processId = 0;
  ServiceState(service, &processId);
  HWND console = qmtest::WaitForWindow(processId, "#32770", "Quillmoth", 30000);
  ASSERT_TRUE(console);
  EXPECT_TRUE(WaitUntil([&] {
    return qmtest::ControlText(console, IDC_OUTPUT).find("service script started") != std::string::npos;
  })) << "AutoRun.vbs runs in the service: " << qmtest::ControlText(console, IDC_OUTPUT);

  // 129 saves the current value, which starts as the Parameters value.
  SERVICE_STATUS status = {};
  EXPECT_TRUE(ControlService(service, 129, &status)) << GetLastError();
  bool found = false;
  EXPECT_TRUE(WaitUntil([&] {
    return RegistryNumber(serviceKey + "\\Status", "Current", &found) == 42 && found;
  })) << "Status\\Current holds the Parameters value Start";
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);

  // Any other user code is an unsupported request (event 106).
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (serviceKey + "\\Status").c_str());
  EXPECT_TRUE(ControlService(service, 130, &status)) << GetLastError();
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
  // Pause is not among the accepted controls: the control manager refuses it.
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_PAUSE, &status));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(service));
  RegistryNumber(serviceKey + "\\Status", "Current", &found);
  EXPECT_FALSE(found) << "130 writes nothing";

  // The service's log from a point on: the service's start began it anew,
  // and one-shot commands add to it.
  size_t from = 0;
  auto traces = [&] {
    std::vector<std::string> seen = TraceMessages(
        qmtest::ReadTextFile(install.dir / "Quillmoth.log").substr(from),
        {"CNTService::LogEvent(", "CNTService::Handler(", "Saving 'Current'", "Updating status",
         "CMyService::OnInit() Start="});
    // Running is reported with whatever error start-up left behind; only
    // the stopped report's exit code counts.
    for (std::string &line : seen)
      if (line.rfind("Updating status (4, ", 0) == 0)
        line = "Updating status (4, *)";
    return Joined(seen);
  };
  EXPECT_EQ("Updating status (2, 0)\n"
            "CMyService::OnInit() Start=42\n"
            "CNTService::LogEvent(type=4, id=105)\n"
            "Updating status (4, *)\n"
            "CNTService::Handler(129)\n"
            "Saving 'Current' as 42\n"
            "CNTService::Handler(130)\n"
            "CNTService::LogEvent(type=1, id=106)\n"
            "CNTService::Handler(4)\n",
            traces());

  // The Start menu's entry (-application) beside the running service opens
  // the monitor: it shows what the service printed and starts no second
  // engine (AutoRun's first line is not printed again).
  {
    char common[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_COMMON_APPDATA, NULL, SHGFP_TYPE_CURRENT, common)));
    std::string transcript = std::string(common) + "\\Quillmoth\\Console.log";
    auto starts = [&] {
      std::string text = qmtest::ReadTextFile(transcript);
      size_t count = 0;
      for (size_t at = text.find(" service script started"); at != std::string::npos;
           at = text.find(" service script started", at + 1))
        ++count;
      return count;
    };
    ASSERT_TRUE(WaitUntil([&] { return starts() > 0; })) << "the service's print is in its transcript";
    size_t before = starts();
    qmtest::ChildProcess entry;
    ASSERT_TRUE(entry.Start(install.exe, "-application"));
    HWND monitor = qmtest::WaitForWindow(entry.Id(), "#32770", "Quillmoth service monitor", 30000);
    ASSERT_TRUE(monitor);
    const int kOutput = 1003, kStatus = 1028;
    EXPECT_TRUE(WaitUntil([&] {
      return qmtest::ControlText(monitor, kOutput).find("service script started") != std::string::npos;
    })) << qmtest::ControlText(monitor, kOutput);
    EXPECT_NE(std::string::npos, qmtest::ControlText(monitor, kOutput).find("Quillmoth.exe -application -force"));
    EXPECT_TRUE(WaitUntil([&] {
      return qmtest::ControlText(monitor, kStatus).rfind("Service installed, running; engine running as service", 0) == 0;
    })) << qmtest::ControlText(monitor, kStatus);
    PostMessageA(monitor, WM_CLOSE, 0, 0);
    EXPECT_TRUE(entry.WaitExit(30000));
    EXPECT_EQ(before, starts()) << "no second engine ran AutoRun";
  }

  // Removed while it runs: the control manager marks it for deletion, and a
  // second removal fails with event 102.
  EXPECT_EQ("Quillmoth is no longer registered as a system service.\n", install.Run("-uninstall").text);
  from = qmtest::ReadTextFile(install.dir / "Quillmoth.log").size();
  EXPECT_EQ("Could not unregister Quillmoth as a system service\n" +
                SystemText(ERROR_SERVICE_MARKED_FOR_DELETE) + "\n",
            install.Run("-uninstall").text);
  EXPECT_EQ("CNTService::LogEvent(type=1, id=102)\n", traces()) << "could not be removed";

  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(WaitUntil([&] { return ServiceState(service) == SERVICE_STOPPED; }, 60000))
      << "the stop sequence ends the service";
  EXPECT_EQ("stopped\r\n", qmtest::ReadTextFile(stoppedMark)) << "the script saw the stop request";
  EXPECT_EQ("CNTService::LogEvent(type=1, id=102)\n"
            "CNTService::Handler(1)\n"
            "Updating status (3, 0)\n"
            "CNTService::LogEvent(type=4, id=108)\n"
            "Updating status (1, 0)\n",
            traces());

  service.Close();
  manager.Close();
  EXPECT_EQ("Quillmoth is not registered as a system service\n", install.Run("-uninstall").text)
      << "the marked service went when it stopped";
}

} // namespace
