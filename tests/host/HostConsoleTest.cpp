// Quillmoth.exe as a desktop application under Wine, driven from outside as
// an automation client would: its console window is found by its title, its
// controls are read with WM_GETTEXT and clicked with BM_CLICK, and it is
// asked to stop with the registered message "WM_SHUTDOWN".
#include <gtest/gtest.h>
#include <functional>

#include "WineTestSupport.h"

using qmtest::ChildProcess;
using qmtest::ControlText;

using qmtest::WaitUntil;

namespace {

enum {
  IDC_SUSPEND = 1000,
  IDC_STOP = 1001,
  IDC_HIDE = 1002,
  IDC_OUTPUT = 1003,
  IDC_INDICATOR = 1004,
  IDC_ABOUT = 1005,
  IDC_LOAD = 1012,
  IDC_ARGUMENTS = 1013,
  IDC_STATUS = 1028,
  IDC_COUNT = 1081
};


std::string ComputerName() {
  char name[1024];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? name : "";
}

// A program folder of its own: Quillmoth.exe, its runtime and a Scripts
// folder with the test's own AutoRun.vbs (and whatever else it writes).
class ConsoleApp {
public:
  explicit ConsoleApp(const char *tag) : dir(tag), exe(dir / "Quillmoth.exe") {
    std::string bin = qmtest::ProgramDirectory();
    EXPECT_TRUE(qmtest::CopyInto(bin + "Quillmoth.exe", dir.Path()));
    EXPECT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
    EXPECT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
    EXPECT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", dir / "Scripts\\"));
  }
  ~ConsoleApp() {
    if (console && IsWindow(console))
      Shutdown();
  }

  void Script(const std::string &name, const std::string &text) {
    ASSERT_TRUE(qmtest::WriteTextFile(dir / "Scripts\\" + name, text));
  }

  // Starts the program and waits until its console says "Ready.".
  void Start(const std::string &arguments = "-application", bool captureOutput = false) {
    ASSERT_TRUE(child.Start(exe, arguments, dir.Path(), captureOutput));
    console = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth", 30000);
    ASSERT_TRUE(console) << "the console window appears";
    ASSERT_TRUE(WaitForOutput("Ready.\r\n")) << Output();
  }

  std::string Output() const { return ControlText(console, IDC_OUTPUT); }
  bool WaitForOutput(const std::string &text, DWORD milliseconds = 30000) const {
    return WaitUntil([&] { return Output().find(text) != std::string::npos; }, milliseconds);
  }
  std::string Text(int id) const { return ControlText(console, id); }
  bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(console, id)) != FALSE; }
  void Click(int id) const { SendMessageA(GetDlgItem(console, id), BM_CLICK, 0, 0); }
  // Presses a button that opens a modal dialog (so without waiting for the
  // click to return) and answers the dialog once it is up.
  // A dialog is shown only once its initialisation has filled its controls:
  // the window alone can be found a moment earlier.
  HWND OpenDialog(int button, const char *title) const {
    PostMessageA(GetDlgItem(console, button), BM_CLICK, 0, 0);
    HWND dialog = qmtest::WaitForWindow(child.Id(), "#32770", title, 30000);
    if (dialog && !WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, 30000))
      return NULL;
    return dialog;
  }

  // Asks the console to stop as the service control manager would, and
  // waits for the process to end.
  DWORD Shutdown(WPARAM result = 0) {
    PostMessageA(console, RegisterWindowMessageA("WM_SHUTDOWN"), result, 0);
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(child.WaitExit(60000, &code)) << "the process ends after a shutdown request";
    console = NULL;
    return code;
  }

  qmtest::TempDirectory dir;
  std::string exe;
  ChildProcess child;
  HWND console = NULL;
};

const char kIdleScript[] = "Sub main(startedAt)\r\nEnd Sub\r\n";

TEST(HostConsole, StartsRunsAutoRunAndStopsOnRequest) {
  ConsoleApp app("console-life");
  app.Script("AutoRun.vbs", kIdleScript);
  app.Start();
  EXPECT_EQ(0u, app.Output().find("Initializing...\r\nReady.\r\n")) << app.Output();
  EXPECT_EQ("Running locally on " + ComputerName() + " as an APPLICATION", app.Text(IDC_STATUS));
  // AutoRun.vbs ran on a pooled worker, which stays: one worker.
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_COUNT) == "1"; })) << app.Text(IDC_COUNT);
  EXPECT_TRUE(app.Enabled(IDC_SUSPEND));
  EXPECT_TRUE(app.Enabled(IDC_STOP));
  EXPECT_EQ("Suspend", app.Text(IDC_SUSPEND));
  // The heartbeat flips the indicator while running.
  std::string first = app.Text(IDC_INDICATOR);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_INDICATOR) != first; }, 5000));

  app.Click(IDC_SUSPEND);
  EXPECT_EQ("Resume", app.Text(IDC_SUSPEND));
  std::string held = app.Text(IDC_INDICATOR);
  Sleep(2200);
  EXPECT_EQ(held, app.Text(IDC_INDICATOR)) << "the indicator rests while suspended";
  app.Click(IDC_SUSPEND);
  EXPECT_EQ("Suspend", app.Text(IDC_SUSPEND));

  app.Click(IDC_STOP);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_COUNT) == "0"; })) << "the pool was flushed";
  EXPECT_FALSE(app.Enabled(IDC_SUSPEND));
  EXPECT_FALSE(app.Enabled(IDC_STOP));
  EXPECT_EQ("X", app.Text(IDC_INDICATOR));

  HWND console = app.console;
  EXPECT_EQ(7u, app.Shutdown(7)) << "the modal loop's result is the program's exit code";
  EXPECT_FALSE(IsWindow(console));
}

TEST(HostConsole, ScriptErrorStopsTheEngineAndShowsItsTextUnchanged) {
  ConsoleApp app("console-error");
  app.Script("AutoRun.vbs",
             "Sub main(startedAt)\r\n  Err.Raise 1000, \"job\", \"nightly copy 50% %s %n done\"\r\nEnd Sub\r\n");
  app.Start();
  EXPECT_TRUE(app.WaitForOutput("Error: nightly copy 50% %s %n done, ")) << app.Output();
  EXPECT_TRUE(WaitUntil([&] { return !app.Enabled(IDC_STOP); })) << "the engine stopped";
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_COUNT) == "0"; }));
  EXPECT_EQ(0u, app.Shutdown());
}

TEST(HostConsole, ScriptThatNeverYieldsDoesNotHangTheStop) {
  ConsoleApp app("console-endless");
  app.Script("AutoRun.vbs", "Sub main(startedAt)\r\n  Do\r\n  Loop\r\nEnd Sub\r\n");
  app.Start("-application", true);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_COUNT) == "1"; }));
  // The worker never answers: every pool operation gives up on it after its
  // probes, and the program still ends.
  PostMessageA(app.console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
  DWORD code = 1;
  EXPECT_TRUE(app.child.WaitExit(180000, &code)) << "the program ended";
  EXPECT_EQ(0u, code);
  app.console = NULL;
  std::string output = app.child.ReadOutput();
  size_t asked = output.find("Quillmoth service asked to stop.\r\n");
  EXPECT_NE(std::string::npos, asked) << output;
  EXPECT_NE(std::string::npos, output.find("Thread not responding for ", asked == std::string::npos ? 0 : asked))
      << "the stop gave up on the silent worker: " << output;
}

TEST(HostConsole, ForgedWorkerReportsDoNotHarmTheConsole) {
  ConsoleApp app("console-forged");
  app.Script("AutoRun.vbs", kIdleScript);
  app.Start();
  // Any program on the desktop can send the relay window a QMR_EXIT whose
  // context is made up; the host must not follow it.
  HWND relay = NULL;
  char name[32];
  snprintf(name, sizeof name, "%lX:Relay", app.child.Id());
  ASSERT_TRUE(WaitUntil([&] { return (relay = FindWindowA("STATIC", name)) != NULL; }));
  UINT exitMessage = RegisterWindowMessageA("QMR_EXIT");
  DWORD_PTR reply = 0;
  EXPECT_TRUE(SendMessageTimeoutA(relay, exitMessage, 1, 0x12345678, SMTO_ABORTIFHUNG, 30000, &reply));
  EXPECT_EQ(0xDEADBEEFu, static_cast<DWORD>(reply));
  EXPECT_TRUE(app.WaitForOutput("Failed to destroy the script environment\r\nFailed to destroy the thread\r\n"))
      << app.Output();
  EXPECT_TRUE(IsWindow(app.console));
  EXPECT_EQ(0u, app.Shutdown());
}

TEST(HostConsole, LoadSwitchRunsAScriptBesideAutoRun) {
  ConsoleApp app("console-load");
  app.Script("AutoRun.vbs", kIdleScript);
  app.Script("extra.vbs", "Sub main(x)\r\n  Err.Raise 1001, \"extra\", \"extra script ran with \" & Len(x) & \" characters\"\r\nEnd Sub\r\n");
  app.Start("-application -load \"" + app.dir / "Scripts\\extra.vbs\"");
  EXPECT_TRUE(app.WaitForOutput("Error: extra script ran with ")) << app.Output();
  EXPECT_EQ(0u, app.Shutdown());
}

TEST(HostConsole, HideSwitchKeepsTheConsoleHidden) {
  ConsoleApp app("console-hide");
  app.Script("AutoRun.vbs", kIdleScript);
  app.Start("-application -hide");
  EXPECT_FALSE(IsWindowVisible(app.console));
  EXPECT_EQ(0u, app.Shutdown());
}

TEST(HostConsole, ConsoleLinesGoToStandardOutputToo) {
  ConsoleApp app("console-stdout");
  app.Script("AutoRun.vbs", kIdleScript);
  app.Start("-application", true);
  EXPECT_TRUE(IsWindowVisible(app.console));
  app.Shutdown();
  std::string output = app.child.ReadOutput();
  EXPECT_NE(std::string::npos, output.find("Initializing...\r\nReady.\r\n")) << output;
  EXPECT_NE(std::string::npos, output.find("Quillmoth service asked to stop.\r\n")) << output;
}

TEST(HostConsole, HideButtonHidesAndCloseEndsTheApplication) {
  ConsoleApp app("console-close");
  app.Script("AutoRun.vbs", kIdleScript);
  app.Start();
  EXPECT_TRUE(IsWindowVisible(app.console));
  app.Click(IDC_HIDE);
  EXPECT_FALSE(IsWindowVisible(app.console));
  // The tray menu's Show and Hide commands.
  SendMessageA(app.console, WM_COMMAND, 32771, 0);
  EXPECT_TRUE(IsWindowVisible(app.console)) << "Show";
  SendMessageA(app.console, WM_COMMAND, 32772, 0);
  EXPECT_FALSE(IsWindowVisible(app.console)) << "Hide";
  // The system menu's Close in application mode is a shutdown request.
  PostMessageA(app.console, WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD code = 1;
  EXPECT_TRUE(app.child.WaitExit(60000, &code));
  EXPECT_EQ(0u, code);
  app.console = NULL;
}

TEST(HostConsole, AboutBoxShowsTheVersion) {
  ConsoleApp app("console-about");
  app.Script("AutoRun.vbs", kIdleScript);
  app.Start();
  HWND about = app.OpenDialog(IDC_ABOUT, "About Quillmoth");
  ASSERT_TRUE(about);
  EXPECT_EQ("Quillmoth Version 1.0", ControlText(about, 1040));
  EXPECT_EQ("Close", ControlText(about, IDOK));
  PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
  EXPECT_EQ(0u, app.Shutdown());
}

TEST(HostConsole, ShutdownIsNotHeldUpByAnOpenDialog) {
  ConsoleApp app("console-open-dialog");
  app.Script("AutoRun.vbs", kIdleScript);
  app.Start();
  HWND about = app.OpenDialog(IDC_ABOUT, "About Quillmoth");
  ASSERT_TRUE(about);
  PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
  ASSERT_TRUE(app.OpenDialog(IDC_LOAD, "Open"));
  // The open-file dialog is still up when the service control manager asks
  // the console to stop.
  EXPECT_EQ(0u, app.Shutdown());
}

TEST(HostConsole, LoadButtonRunsTheChosenScriptAndRemembersItsFolder) {
  ConsoleApp app("console-loadbutton");
  app.Script("AutoRun.vbs", kIdleScript);
  ASSERT_TRUE(qmtest::MakeDirectory(app.dir / "Jobs"));
  ASSERT_TRUE(qmtest::WriteTextFile(app.dir / "Jobs\\chosen.vbs",
                                    "Sub main(x)\r\n  Err.Raise 1002, \"chosen\", \"the chosen script ran with \" & x\r\nEnd Sub\r\n"));
  app.Start();
  HWND open = app.OpenDialog(IDC_LOAD, "Open");
  ASSERT_TRUE(open) << "the open-file dialog appears";
  std::string file = app.dir / "Jobs\\chosen.vbs";
  HWND name = GetDlgItem(open, 1148); // the file name box of the explorer-style dialog
  if (!name)
    name = GetDlgItem(open, 1152);
  ASSERT_TRUE(name);
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()));
  PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(open, IDOK)));
  // Then its argument text, which the script gets as main's argument (or
  // as WScript.Arguments).
  HWND arguments = qmtest::WaitForWindow(app.child.Id(), "#32770", "Arguments", 30000);
  ASSERT_TRUE(arguments) << "the arguments box appears";
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(arguments) != FALSE; }));
  SendMessageA(GetDlgItem(arguments, IDC_ARGUMENTS), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("/to:x \"a b\""));
  PostMessageA(arguments, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(arguments, IDOK)));
  EXPECT_TRUE(app.WaitForOutput("Error: the chosen script ran with /to:x \"a b\", ")) << app.Output();
  const char key[] = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";
  EXPECT_EQ(app.dir / "Jobs\\", qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, key, "QM.DEFAULT_DIR"));
  EXPECT_EQ("1", qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, key, "QM.FILTER_INDEX"));
  EXPECT_EQ(0u, app.Shutdown());
}

} // namespace
