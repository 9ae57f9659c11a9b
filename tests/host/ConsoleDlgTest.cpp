// The console window in this process, with the real runtime and a clock the
// test sets: the engine's reactions to what workers report, clock changes,
// the stop sequence and the output box.
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

#include "ConsoleShell.h"
#include "FakeNotificationArea.h"
#include "FakeWorkerWindow.h"
#include "QuillmothApp.h"
#include "QuillmothDlg.h"
#include "QuillmothRun.h"
#include "WineTestSupport.h"

using qmtest::FakeNotificationArea;
using qmtest::FakeWorkerWindow;

using qmtest::PumpUntil;

namespace {

DATE g_fakeNow = 0;
DATE FakeClock() { return g_fakeNow; }
const DATE kSecond = 1.0 / 86400.0;

class ConsoleTest : public ::testing::Test {
protected:
  ConsoleTest() : dir("console"), path(dir.Path()) {}

  void SetUp() override {
    g_variables.InitVariableStore("Brenlow Software", "Quillmoth", "QM.ENVIRONMENT", "QM.LAST_ERROR");
    SetEnvironmentVariableA("QM.IS_SERVICE", "0");
    SetEnvironmentVariableA("QM.POOL_SIZE", "16");
    SetEnvironmentVariableA("QM.TCHANGE_THRESHOLD", "1024");
    // This process has no standard output for the console's lines.
    savedOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, NULL);
    ASSERT_TRUE(qmtest::CopyInto(qmtest::ProgramDirectory() + "Scripts\\StdLib.vbs", dir.Path()));
    Script("AutoRun.vbs", "Sub main(startedAt)\r\nEnd Sub\r\n");
    g_fakeNow = 46000.5; // a fixed local time
  }

  void TearDown() override {
    if (console) {
      if (console->Handle())
        SendMessageA(console->Handle(), g_hostMsg.shutdown, 0, 0);
      Pump(100);
      delete console;
    }
    SetEnvironmentVariableA("QM.IS_SERVICE", NULL);
    SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);
  }

  void Script(const std::string &name, const std::string &text) {
    ASSERT_TRUE(qmtest::WriteTextFile(dir / name, text));
  }

  void Open() {
    console = new CQuillmothDlg(ConsoleOptions(), FakeClock);
    ASSERT_TRUE(console->Create(NULL, GetModuleHandleA(NULL)));
    ShowWindow(Window(), SW_SHOW);
  }

  // Opens the console and lets it run until "Ready." (AutoRun started).
  void OpenAndStart() {
    Open();
    ASSERT_TRUE(PumpUntil([&] { return Output().find("Ready.") != std::string::npos; }));
    ASSERT_TRUE(PumpUntil([&] { return console->LiveWorkers() == 1; })) << "AutoRun's worker";
  }

  HWND Window() const { return console->Handle(); }
  std::string Output() const { return qmtest::ControlText(Window(), IDC_OUTPUT); }
  std::string LastLine() const {
    std::string text = Output();
    if (text.size() >= 2)
      text.resize(text.size() - 2);
    return text.substr(text.rfind("\r\n") == std::string::npos ? 0 : text.rfind("\r\n") + 2);
  }
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageA(Window(), message, wParam, lParam);
  }
  void Pump(DWORD milliseconds) { qmtest::PumpFor(milliseconds); }
  // One heartbeat now: the reference time becomes the clock's reading.
  void Heartbeat() { Send(WM_TIMER, TIMER_HEARTBEAT); }

  qmtest::TempDirectory dir;
  qmtest::ScriptsFolder path;
  HANDLE savedOutput = NULL;
  CQuillmothDlg *console = NULL;
};

std::string ZoneText() {
  TIME_ZONE_INFORMATION zone;
  switch (GetTimeZoneInformation(&zone)) {
  case TIME_ZONE_ID_UNKNOWN:
    return "System time changed";
  case TIME_ZONE_ID_STANDARD:
    return "System time changed (Standard time)";
  case TIME_ZONE_ID_DAYLIGHT:
    return "System time changed (Daylight saving time)";
  }
  return "";
}

TEST_F(ConsoleTest, ClockChangesSynchronizeOnlyPastTheThreshold) {
  FakeWorkerWindow worker;
  OpenAndStart();
  struct Case {
    const char *threshold;
    double shift; // seconds
    bool synchronize;
  } cases[] = {{"1024", 1024, false}, {"1024", -1024, false}, {"1024", 1025, true},
               {"1024", -1025, true}, {"1024", 3600, true},   {"-1", 86400 * 365.0, false},
               {"0", 1, true},        {NULL, 1, true},        {"0", 0, false}};
  size_t told = 0;
  const char key[] = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";
  bool stored = false;
  std::string storedThreshold = qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, key, "QM.TCHANGE_THRESHOLD", &stored);
  for (const Case &c : cases) {
    SetEnvironmentVariableA("QM.TCHANGE_THRESHOLD", c.threshold);
    if (!c.threshold) // missing from the store as well
      qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, key, "QM.TCHANGE_THRESHOLD");
    Heartbeat();
    g_fakeNow += c.shift * kSecond;
    Send(WM_TIMECHANGE);
    std::string expected = ZoneText() + (c.synchronize ? " - Synchronizing" : "");
    EXPECT_EQ(expected, LastLine()) << "threshold " << (c.threshold ? c.threshold : "missing")
                                    << ", shift " << c.shift;
    if (c.synchronize)
      ++told;
    worker.WaitIdle(); // the broadcast, if any, was posted before the send returned
    EXPECT_EQ(told, worker.Received().size()) << "shift " << c.shift;
  }
  for (UINT message : worker.Received())
    EXPECT_EQ(static_cast<UINT>(QMR_CTL_TIMECHANGE), message);
  SetEnvironmentVariableA("QM.TCHANGE_THRESHOLD", "1024");
  if (stored)
    qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, key, "QM.TCHANGE_THRESHOLD", storedThreshold);
}

TEST_F(ConsoleTest, TrayIconFollowsTheEngineState) {
  FakeNotificationArea tray;
  ASSERT_TRUE(tray.Exists());
  OpenAndStart();
  EXPECT_TRUE(console->TrayPresent());
  ASSERT_FALSE(tray.tips.empty());
  EXPECT_EQ("Quillmoth - nothing to do", tray.tips[0]) << "the icon is added idle";
  // Running: a tray tick makes the icon say so.
  ASSERT_TRUE(PumpUntil([&] { return tray.tips.back() == "Quillmoth - running"; }));
  Send(WM_COMMAND, MAKEWPARAM(IDC_SUSPEND, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(Window(), IDC_SUSPEND)));
  // How soon it does is a figure of the runtime benchmark (console rows).
  EXPECT_TRUE(PumpUntil([&] { return tray.tips.back() == "Quillmoth - stopped"; }))
      << "a tray tick shows the suspended engine as stopped";
  Send(WM_COMMAND, MAKEWPARAM(IDC_SUSPEND, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(Window(), IDC_SUSPEND)));
  EXPECT_TRUE(PumpUntil([&] { return tray.tips.back() == "Quillmoth - running"; }));
  size_t seen = tray.tips.size();
  // Two more tray ticks, handled before the sends return.
  Send(WM_TIMER, TIMER_TRAY);
  Send(WM_TIMER, TIMER_TRAY);
  EXPECT_EQ(seen, tray.tips.size()) << "an unchanged state sends nothing";
}

TEST_F(ConsoleTest, ExitsKeepPooledWorkersAndDisposeOfTheRest) {
  OpenAndStart();
  UINT startup = RegisterWindowMessageA(QMR_MSG_STARTUP);
  for (WPARAM flags : {WPARAM(3), WPARAM(1), WPARAM(0), WPARAM(11)}) {
    MurrelContext *worker = QMR_Create(static_cast<DWORD>(flags));
    ASSERT_TRUE(worker);
    ASSERT_TRUE(QMR_Message(worker, startup, 0, 10000));
    ASSERT_TRUE(PumpUntil([&] { return console->LiveWorkers() == 2; }));
    // The console disposes of a worker before the send returns; the end
    // notice that the disposal posts is then in the queue.
    EXPECT_EQ(static_cast<LRESULT>(QMR_DONE), Send(g_hostMsg.qmrExit, flags, reinterpret_cast<LPARAM>(worker)));
    qmtest::PumpPending();
    if (flags == 3) {
      EXPECT_EQ(2, console->LiveWorkers()) << "an asynchronous pooled worker returns to the pool";
      EXPECT_TRUE(QMR_Message(worker, g_hostMsg.qmrShutdown, 0, 10000)) << "the pooled worker is still there";
      EXPECT_TRUE(QMR_Destroy(worker));
    }
    EXPECT_TRUE(PumpUntil([&] { return console->LiveWorkers() == 1; })) << "flags " << flags;
  }
  EXPECT_EQ("1", qmtest::ControlText(Window(), IDC_COUNT));
}

TEST_F(ConsoleTest, ShutdownWithAutoRunStillQueuedMakesNoRuntimeCall) {
  FakeWorkerWindow worker;
  Open();
  // Run the console one message at a time until its start-up has queued
  // WM_AUTORUN, and stop there.
  MSG msg;
  DWORD start = GetTickCount();
  while (!PeekMessageA(&msg, Window(), g_hostMsg.autoRun, g_hostMsg.autoRun, PM_NOREMOVE)) {
    ASSERT_LT(GetTickCount() - start, 30000u);
    if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } else {
      MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
  }
  Send(g_hostMsg.qmrThread, 1234, 1); // a worker the console believes alive
  EXPECT_EQ(0, Send(g_hostMsg.shutdown, 0));
  worker.WaitIdle(); // a broadcast would have been posted before the send returned
  EXPECT_TRUE(worker.Received().empty()) << "no stop broadcast was made";
  EXPECT_EQ(1, console->LiveWorkers()) << "AutoRun.vbs was never started";
  EXPECT_NE(std::string::npos, Output().find("Quillmoth service asked to stop."));
  EXPECT_TRUE(console->EngineStateBits() & STATE_STOPPED);
}

TEST_F(ConsoleTest, WithoutPoolingTheEndOfTheLastScriptStopsTheEngine) {
  SetEnvironmentVariableA("QM.POOL_SIZE", "0");
  Open();
  ASSERT_TRUE(PumpUntil([&] { return Output().find("There are no more outstanding jobs.") != std::string::npos; }))
      << Output();
  EXPECT_EQ(0, console->LiveWorkers());
  EXPECT_TRUE(console->EngineStateBits() & STATE_STOPPED);
  EXPECT_EQ("X", qmtest::ControlText(Window(), IDC_INDICATOR));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Window(), IDC_STOP)));
}

TEST_F(ConsoleTest, SuspendedEngineKeepsItsHeartbeatStill) {
  FakeWorkerWindow worker;
  OpenAndStart();
  Send(WM_COMMAND, MAKEWPARAM(IDC_SUSPEND, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(Window(), IDC_SUSPEND)));
  EXPECT_EQ("Resume", qmtest::ControlText(Window(), IDC_SUSPEND));
  ASSERT_TRUE(PumpUntil([&] { return !worker.Received().empty(); }, 5000));
  EXPECT_EQ(static_cast<UINT>(QMR_CTL_SUSPEND), worker.Received()[0]);
  Send(g_hostMsg.qmrThread, 99, 0); // the count drops to 0
  std::string indicator = qmtest::ControlText(Window(), IDC_INDICATOR);
  Heartbeat();
  Heartbeat();
  EXPECT_EQ(indicator, qmtest::ControlText(Window(), IDC_INDICATOR));
  EXPECT_EQ(std::string::npos, Output().find("There are no more outstanding jobs."));
  EXPECT_TRUE(console->EngineStateBits() & STATE_SUSPENDED);
  Send(g_hostMsg.qmrThread, 99, 1);
}

TEST_F(ConsoleTest, PrintsAreShownUnchangedAndLostAtomsShowNothing) {
  OpenAndStart();
  ATOM atom = GlobalAddAtomA("copied 100% of %s files %n");
  EXPECT_EQ(static_cast<LRESULT>(QMR_DONE), Send(g_hostMsg.qmrPrint, atom, 0));
  EXPECT_EQ("copied 100% of %s files %n", LastLine());
  EXPECT_EQ(0, GlobalFindAtomA("copied 100% of %s files %n")) << "the console deletes the atom";
  std::string before = Output();
  EXPECT_EQ(static_cast<LRESULT>(QMR_DONE), Send(g_hostMsg.qmrPrint, atom, 0)) << "a gone atom";
  EXPECT_EQ(static_cast<LRESULT>(QMR_DONE), Send(g_hostMsg.qmrPrint, GlobalAddAtomA("traced"), 6));
  EXPECT_EQ(before, Output()) << "nothing shown for a lost atom or a categorized line";
}

TEST_F(ConsoleTest, FullOutputBoxDropsItsOldestQuarter) {
  Open();
  HWND box = GetDlgItem(Window(), IDC_OUTPUT);
  size_t limit = static_cast<size_t>(SendMessageA(box, EM_GETLIMITTEXT, 0, 0));
  ASSERT_GT(limit, 1000u);
  int n = 0;
  std::string line;
  // Fill the box up to just below its limit with numbered lines.
  while (static_cast<size_t>(GetWindowTextLengthA(box)) + 200 < limit) {
    char text[128];
    snprintf(text, sizeof text, "line %05d %s", n++, std::string(80, '.').c_str());
    console->ConsoleLine(text);
  }
  LRESULT linesBefore = SendMessageA(box, EM_GETLINECOUNT, 0, 0);
  std::string big(150, 'z');
  console->ConsoleLine("newest " + big);
  console->ConsoleLine("newer still " + big);
  std::string text = Output();
  EXPECT_LT(text.size(), limit);
  EXPECT_EQ(std::string::npos, text.find("line 00000 ")) << "the oldest lines went";
  EXPECT_EQ(std::string::npos, text.find("Initializing..."));
  char newestFill[32];
  snprintf(newestFill, sizeof newestFill, "line %05d ", n - 1);
  EXPECT_NE(std::string::npos, text.find(newestFill));
  EXPECT_EQ("newer still " + big, LastLine());
  LRESULT linesAfter = SendMessageA(box, EM_GETLINECOUNT, 0, 0);
  // The box counts wrapped lines: a quarter of them went, two long ones came.
  EXPECT_LE(linesAfter, linesBefore - linesBefore / 4 + 10);
  // A line past 1,023 characters is cut there.
  console->ConsoleLine(std::string(3000, 'q'));
  EXPECT_EQ(std::string(1023, 'q'), LastLine());
}

TEST_F(ConsoleTest, ServiceConsoleCannotBeClosed) {
  SetEnvironmentVariableA("QM.IS_SERVICE", "1");
  Open();
  HMENU menu = GetSystemMenu(Window(), FALSE);
  EXPECT_EQ(-1, GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND)) << "no Close item";
  EXPECT_EQ(-1, GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND));
  EXPECT_NE(-1, GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND));
  Send(WM_SYSCOMMAND, SC_CLOSE);
  EXPECT_EQ(std::string::npos, Output().find("asked to stop")) << "Alt+F4 only beeps";
  ASSERT_TRUE(PumpUntil([&] { return Output().find("Ready.") != std::string::npos; }));
  EXPECT_NE(std::string::npos, qmtest::ControlText(Window(), IDC_STATUS).find(" as a SERVICE"));
}

// What the console asked the shell to open, instead of a browser.
std::vector<std::string> g_opened;
HINSTANCE WINAPI RecordOpen(HWND, LPCSTR verb, LPCSTR file, LPCSTR, LPCSTR, INT show) {
  g_opened.push_back(std::string(verb ? verb : "(default)") + " " + (file ? file : "") + " " +
                     std::to_string(show));
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

TEST_F(ConsoleTest, HelpOpensTheGuideBesideTheProgramElseTheWebAddress) {
  // The build assembles the guide beside its programs, as the package
  // installs it beside Quillmoth.exe.
  std::string guide = qmtest::ProgramDirectory() + "Guide\\index.html";
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(guide.c_str())) << guide;
  OpenAndStart();
  g_opened.clear();
  g_consoleShell.ShellExecute = RecordOpen;
  SendMessageA(GetDlgItem(Window(), IDC_HELPBUTTON), BM_CLICK, 0, 0);
  g_consoleShell = kSystemConsoleShell;
  EXPECT_EQ(std::vector<std::string>{"(default) " + guide + " 1"}, g_opened);

  // Where the guide is not installed (or the folder is unknown), the web
  // address as before.
  EXPECT_EQ(kHelpAddress, HelpTarget(dir.Path()));
  EXPECT_EQ(kHelpAddress, HelpTarget(""));
  ASSERT_TRUE(CreateDirectoryA((dir / "Guide").c_str(), NULL));
  ASSERT_TRUE(CreateDirectoryA((dir / "Guide\\index.html").c_str(), NULL));
  EXPECT_EQ(kHelpAddress, HelpTarget(dir.Path())) << "a folder is no guide";
}

// How much later "Ready." comes after a stale probe is a figure of the
// runtime benchmark (console rows); here, that the wait began again.
TEST_F(ConsoleTest, StaleStartUpProbeRestartsTheSettlingWait) {
  std::string log = qmtest::ProgramDirectory() + "host_console_test.log";
  const std::string reset = "An initialization reset was required.\r\n";
  DeleteFileA(log.c_str());
  Open();
  // Queued behind the start-up request, so the settling wait meets it first.
  PostMessageA(Window(), WM_NULL, 0, GetTickCount() - 5000);
  ASSERT_TRUE(PumpUntil([&] { return Output().find("Ready.") != std::string::npos; }));
  EXPECT_NE(std::string::npos, qmtest::ReadTextFile(log).find(reset)) << "the stale probe restarted the wait";
}

} // namespace
