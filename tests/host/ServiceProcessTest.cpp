// The installed service starts programs: its AutoRun.vbs, run by the
// service under the real control manager, starts the helper program with
// CreateProcess and prints the exit code on the service's console; a
// program that does not exist answers -1 with the failure notice and the
// script goes on.
#include <gtest/gtest.h>

#include "WineTestSupport.h"

namespace {

enum { IDC_OUTPUT = 1003 };

using qmtest::ServiceState;
using qmtest::SystemText;

// Runs the program once with its switch and presses OK on the box it shows.
std::string RunOnce(const std::string &exe, const std::string &arguments) {
  qmtest::ChildProcess child;
  qmtest::MessageBoxView view;
  EXPECT_TRUE(child.Start(exe, arguments));
  EXPECT_TRUE(qmtest::WaitForMessageBox(child.Id(), 30000, &view)) << arguments;
  if (view.window)
    qmtest::ClickButton(view.window, IDOK);
  EXPECT_TRUE(child.WaitExit(30000));
  return view.text;
}

TEST(ServiceStartsPrograms, AutoRunPrintsTheHelpersExitCodeAndGoesOnAfterAMissingProgram) {
  std::string bin = qmtest::ProgramDirectory();
  qmtest::RegisteredCoreLibrary library;
  ASSERT_EQ(S_OK, library.Registration());

  qmtest::TempDirectory dir("service-procs");
  qmtest::ServiceRemoval removal("Quillmoth");
  std::string exe = dir / "Quillmoth.exe";
  ASSERT_TRUE(qmtest::CopyInto(bin + "Quillmoth.exe", dir.Path()));
  ASSERT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", dir / "Scripts\\"));
  std::string missing = dir / "missing.exe";
  ASSERT_TRUE(qmtest::WriteTextFile(
      dir / "Scripts\\AutoRun.vbs",
      "Function main(x)\r\n"
      "  Dim core, rc\r\n"
      "  Set core = CreateObject(\"QuillmothLib.Core\")\r\n"
      "  rc = core.CreateProcess(0, \"\"\"" + bin + "qmchild.exe\"\" exit 42\")\r\n"
      "  core.Print \"helper exit code \" & rc\r\n"
      "  rc = core.CreateProcess(0, \"" + missing + " now\")\r\n"
      "  core.Print \"missing program \" & rc\r\n"
      "  core.Print \"script went on\"\r\n"
      "End Function\r\n"));

  ASSERT_EQ("Quillmoth is now registered as a system service\n", RunOnce(exe, "-install"));
  qmtest::ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  qmtest::ServiceHandle service(OpenServiceA(manager, "Quillmoth", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  ASSERT_TRUE(StartServiceA(service, 0, NULL)) << GetLastError();
  EXPECT_TRUE(qmtest::WaitUntil([&] { return ServiceState(service) == SERVICE_RUNNING; }));
  DWORD processId = 0;
  ServiceState(service, &processId);
  HWND console = qmtest::WaitForWindow(processId, "#32770", "Quillmoth", 30000);
  ASSERT_TRUE(console) << "the service runs its console";

  auto output = [&] { return qmtest::ControlText(console, IDC_OUTPUT); };
  EXPECT_TRUE(qmtest::WaitUntil([&] { return output().find("script went on") != std::string::npos; }, 60000))
      << output();
  std::string text = output();
  size_t exitLine = text.find("helper exit code 42\r\n");
  size_t notice = text.find("CreateProcess: " + SystemText(ERROR_FILE_NOT_FOUND) + "\r\n");
  size_t failed = text.find("missing program -1\r\n");
  EXPECT_NE(std::string::npos, exitLine) << text;
  EXPECT_NE(std::string::npos, notice) << text;
  EXPECT_NE(std::string::npos, failed) << text;
  EXPECT_TRUE(exitLine < notice && notice < failed) << "in the order the script ran: " << text;

  SERVICE_STATUS status;
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(qmtest::WaitUntil([&] { return ServiceState(service) == SERVICE_STOPPED; }, 60000));
  service.Close();
  manager.Close();
  EXPECT_EQ("Quillmoth is no longer registered as a system service.\n", RunOnce(exe, "-uninstall"));
  EXPECT_EQ(S_OK, library.Unregister());
}

} // namespace
