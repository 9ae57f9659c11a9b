// The worker pool and the script host, through the runtime's exports, with
// real worker threads running the platform's VBScript engine. The test plays
// the host: a relay window on the test thread records what workers report.
#include "FakeWorkerWindow.h"
#include "RuntimeFixture.h"

using qmtest::BothHostsTest;
using qmtest::IsDone;
using qmtest::LiveWorkerWindows;
using qmtest::PumpUntil;
using qmtest::RelayEntry;
using qmtest::RelayWindow;
using qmtest::RuntimeTest;
using qmtest::kNewThread;
using qmtest::kPoolRetry;
using qmtest::kShutdown;

namespace {

std::string Narrow(const wchar_t *text) {
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
  std::string out(bytes > 0 ? bytes - 1 : 0, '\0');
  if (bytes > 1)
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], bytes, NULL, NULL);
  return out;
}

TEST_P(BothHostsTest, SynchronousRunReturnsMainsValueAndDestroysTheWorker) {
  Script("echo.vbs", "Function main(arg)\r\n  main = Bracket(arg) & \"!\"\r\nEnd Function\r\n");
  EXPECT_EQ("[hello]!", RunForValue("echo.vbs", "hello"));
  EXPECT_EQ(GetParam() == std::string("ScriptControl") ? "Script Control" : "Active Scripting",
            qmtest::LastLoggedHost("runtime_test.log"))
      << "the worker ran in the chosen host";
  qmtest::PumpFor(50);
  std::vector<RelayEntry> threads = Entries(RelayWindow::Thread());
  ASSERT_EQ(2u, threads.size());
  EXPECT_EQ(1, threads[0].lParam) << "the worker started";
  EXPECT_EQ(0, threads[1].lParam) << "and was destroyed";
  EXPECT_EQ(threads[0].wParam, threads[1].wParam) << "the same thread";
  EXPECT_EQ(0, LiveWorkerWindows());
  EXPECT_TRUE(TextSeen(kNewThread));
  EXPECT_EQ(0u, Count(RelayWindow::Exit())) << "a synchronous run posts no QMR_EXIT";
}

TEST_P(BothHostsTest, ArgumentsReachMainAsOneString) {
  Script("echo.vbs", "Function Main(arg)\r\n  Main = Bracket(arg) & TypeName(arg)\r\nEnd Function\r\n");
  EXPECT_EQ("[abc def]String", RunForValue("echo.vbs", "abc def"));
  EXPECT_EQ("[]String", RunForValue("echo.vbs", ""));
  EXPECT_EQ("[]String", RunForValue("echo.vbs", NULL));
  std::string longest(255, 'b');
  EXPECT_EQ("[" + longest + "]String", RunForValue("echo.vbs", longest.c_str()));
  for (size_t size : {256u, 300u, 5000u}) {
    std::string argument = std::string(size - 1, 'a') + "z";
    EXPECT_EQ("[" + argument + "]String", RunForValue("echo.vbs", argument.c_str()))
        << "an argument longer than an atom holds arrives whole: " << size;
  }
}

TEST_P(BothHostsTest, MainIsFoundInAnyCase) {
  Script("upper.vbs", "Function MAIN(x)\r\n  MAIN = \"upper \" & x\r\nEnd Function\r\n");
  EXPECT_EQ("upper y", RunForValue("upper.vbs", "y"));
  Script("mixed.vbs", "Function mAiN(x)\r\n  mAiN = 42\r\nEnd Function\r\n");
  VARIANT value;
  VariantInit(&value);
  EXPECT_TRUE(IsDone(QMR_RunScript(0, "mixed.vbs", NULL, &value)));
  EXPECT_EQ(VT_I2, V_VT(&value));
  EXPECT_EQ(42, V_I2(&value));
}

TEST_F(RuntimeTest, AsynchronousPooledRunStaysInThePoolAndIsClaimedAgain) {
  Script("quick.vbs", "Sub main(x)\r\nEnd Sub\r\n");
  const DWORD flags = QMR_FLAG_ASYNC | QMR_FLAG_POOLED;
  MurrelContext *context = QMR_RunScript(flags, "quick.vbs", "1", NULL);
  ASSERT_TRUE(context);
  ASSERT_FALSE(IsDone(context));
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 1; }));
  RelayEntry exit = Entries(RelayWindow::Exit())[0];
  EXPECT_EQ(reinterpret_cast<LPARAM>(context), exit.lParam);
  EXPECT_EQ(flags | QMR_FLAG_BUSY, exit.wParam) << "the busy bit is still set when QMR_EXIT is posted";
  ASSERT_TRUE(PumpUntil([&] { return (QMR_GetFlags(context) & QMR_FLAG_BUSY) == 0; }));
  EXPECT_EQ(1, LiveWorkerWindows()) << "the pooled worker stays";
  std::vector<std::string> texts = relay.Texts();
  EXPECT_EQ(3, std::count(texts.begin(), texts.end(), std::string(kPoolRetry)))
      << "three passes found no idle worker";

  // The idle worker is claimed: no new thread, no new QMR_THREAD.
  relay.entries.clear();
  MurrelContext *again = QMR_RunScript(flags, "quick.vbs", "2", NULL);
  EXPECT_EQ(context, again);
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 1; }));
  EXPECT_EQ(0u, Count(RelayWindow::Thread()));
  EXPECT_FALSE(TextSeen(kNewThread));
  EXPECT_FALSE(TextSeen(kPoolRetry));

  // Flushed, it reports QMR_EXIT with the flushed bit and the host ends it.
  relay.entries.clear();
  ASSERT_TRUE(PumpUntil([&] { return (QMR_GetFlags(context) & QMR_FLAG_BUSY) == 0; }));
  EXPECT_TRUE(QMR_FlushPool());
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Thread()) == 1; }));
  ASSERT_EQ(1u, Count(RelayWindow::Exit()));
  EXPECT_TRUE(Entries(RelayWindow::Exit())[0].wParam & QMR_FLAG_FLUSHED);
  EXPECT_EQ(0, Entries(RelayWindow::Thread())[0].lParam);
  EXPECT_EQ(0, LiveWorkerWindows());
}

TEST_P(BothHostsTest, ClaimedWorkerStartsWithAnEmptyEngine) {
  Script("first.vbs", "Option Explicit\r\nConst Limit = 5\r\nDim leftover\r\n"
                      "Function main(x)\r\n  leftover = \"from the first run\"\r\n  main = Limit\r\nEnd Function\r\n");
  Script("second.vbs", "Const Limit = 7\r\nFunction main(x)\r\n  main = Limit & \"|\" & IsEmpty(leftover)\r\nEnd Function\r\n");
  VARIANT value;
  VariantInit(&value);
  MurrelContext *first = QMR_RunScript(QMR_FLAG_POOLED, "first.vbs", NULL, &value);
  ASSERT_TRUE(first);
  VariantClear(&value);
  MurrelContext *second = QMR_RunScript(QMR_FLAG_POOLED, "second.vbs", NULL, &value);
  EXPECT_EQ(first, second) << "the idle worker was claimed";
  ASSERT_EQ(VT_BSTR, V_VT(&value));
  EXPECT_EQ(std::wstring(L"7|True"), std::wstring(V_BSTR(&value)))
      << "a constant may be defined again and no global of the first script is left";
  VariantClear(&value);
  qmtest::PumpFor(50);
  EXPECT_EQ(0u, Count(RelayWindow::Error()));
  for (const std::string &text : relay.Texts())
    EXPECT_NE(0u, text.rfind("Error", 0)) << text;
}

// A claimed worker keeps where its files were found and their texts; a
// change of a file, of the standard library or of what the search would
// find must still reach the very next run.
TEST_F(RuntimeTest, ClaimedWorkerSeesEveryChangeOfItsFiles) {
  // The script lives in a PATH folder; another one comes before it. (The
  // fixture's folder is the Scripts folder, searched before all of them.)
  qmtest::TempDirectory earlier("runtime-earlier"), later("runtime-later");
  qmtest::PathPrefix earlierFirst(earlier.Path() + ";" + later.Path());
  MurrelContext *worker = NULL;
  auto run = [&]() -> std::string {
    VARIANT value;
    VariantInit(&value);
    MurrelContext *context = QMR_RunScript(QMR_FLAG_POOLED, "changing.vbs", "x", &value);
    EXPECT_TRUE(context);
    if (!worker)
      worker = context;
    EXPECT_EQ(worker, context) << "every run claims the one idle worker";
    std::string text = V_VT(&value) == VT_BSTR ? Narrow(V_BSTR(&value)) : std::string("(no text)");
    VariantClear(&value);
    return text;
  };
  auto script = [](const char *word) {
    return std::string("Function main(x)\r\n  main = \"") + word + "\" & Bracket(x)\r\nEnd Function\r\n";
  };
  ASSERT_TRUE(qmtest::WriteTextFile(later / "changing.vbs", script("one")));
  EXPECT_EQ("one[x]", run());
  EXPECT_EQ("one[x]", run());
  ASSERT_TRUE(qmtest::WriteTextFile(later / "changing.vbs", script("two"))); // the same size, a new time stamp
  EXPECT_EQ("two[x]", run());
  ASSERT_TRUE(qmtest::WriteTextFile(later / "changing.vbs", script("three")));
  EXPECT_EQ("three[x]", run());
  Script("StdLib.vbs", "Function Bracket(s)\r\n  Bracket = \"<\" & s & \">\"\r\nEnd Function\r\n");
  EXPECT_EQ("three<x>", run());
  ASSERT_TRUE(qmtest::WriteTextFile(earlier / "changing.vbs", script("earlier")));
  EXPECT_EQ("earlier<x>", run()) << "a file that appears earlier in the search order is found at once";
  ASSERT_TRUE(DeleteFileA((earlier / "changing.vbs").c_str()));
  EXPECT_EQ("three<x>", run()) << "and when it goes, the later one again";
  ASSERT_TRUE(DeleteFileA((later / "changing.vbs").c_str()));
  run();
  EXPECT_TRUE(TextSeen("Unable to locate changing.vbs")) << "a file that is gone is not run from memory";
}

// A script that makes a drop folder the current one must not get every
// later script to run what was planted there: the standard library comes
// from the Scripts folder (or the program's) alone, and a name without a
// folder is looked for in the Scripts folder first - on new workers and on
// a pooled one that remembers where it found its files.
TEST_F(RuntimeTest, TheCurrentFolderNeverSuppliesTheStandardLibraryOrShadowsTheScriptsFolder) {
  qmtest::TempDirectory drop("runtime-drop"), tools("runtime-tools");
  qmtest::PathPrefix toolsOnPath(tools.Path());
  ASSERT_TRUE(qmtest::WriteTextFile(drop / "StdLib.vbs",
                                    "Function Bracket(s)\r\n  Bracket = \"planted\"\r\nEnd Function\r\n"));
  ASSERT_TRUE(qmtest::WriteTextFile(drop / "job.vbs", "Function main(x)\r\n  main = \"drop\"\r\nEnd Function\r\n"));
  Script("job.vbs", "Function main(x)\r\n  main = \"scripts\" & Bracket(x)\r\nEnd Function\r\n");
  char saved[MAX_PATH];
  ASSERT_TRUE(GetCurrentDirectoryA(MAX_PATH, saved));
  ASSERT_TRUE(SetCurrentDirectoryA(drop.Path().c_str()));
  EXPECT_EQ("scripts[x]", RunForValue("job.vbs", "x"));
  for (int i = 0; i < 2; ++i) {
    VARIANT value;
    VariantInit(&value);
    ASSERT_TRUE(QMR_RunScript(QMR_FLAG_POOLED, "job.vbs", "y", &value));
    EXPECT_EQ("scripts[y]", V_VT(&value) == VT_BSTR ? Narrow(V_BSTR(&value)) : std::string("(no text)"))
        << "pooled run " << i;
    VariantClear(&value);
  }

  // Without a standard library in the Scripts folder, neither the current
  // folder's nor one on PATH is loaded.
  ASSERT_TRUE(DeleteFileA((dir / "StdLib.vbs").c_str()));
  ASSERT_TRUE(qmtest::WriteTextFile(tools / "StdLib.vbs",
                                    "Function Bracket(s)\r\n  Bracket = \"path\"\r\nEnd Function\r\n"));
  Script("plain.vbs", "Function main(x)\r\n  main = \"plain\"\r\nEnd Function\r\n");
  relay.entries.clear();
  EXPECT_EQ("plain", RunForValue("plain.vbs", NULL));
  qmtest::PumpFor(50);
  EXPECT_TRUE(TextSeen("Unable to locate StdLib.vbs"));
  SetCurrentDirectoryA(saved);
}

TEST_F(RuntimeTest, FlushedWorkersAreNeverClaimed) {
  Script("quick.vbs", "Sub main(x)\r\nEnd Sub\r\n");
  hostRules = false; // keep the flushed worker alive for a while
  MurrelContext *first = QMR_RunScript(QMR_FLAG_POOLED, "quick.vbs", NULL, NULL);
  ASSERT_TRUE(first);
  EXPECT_TRUE(QMR_FlushPool());
  MurrelContext *second = QMR_RunScript(QMR_FLAG_POOLED, "quick.vbs", NULL, NULL);
  ASSERT_TRUE(second);
  EXPECT_NE(first, second);
  hostRules = true;
  QMR_Message(first, kShutdown, 0, 10000);
  QMR_Destroy(first);
}

TEST_P(BothHostsTest, ScriptWithoutMainReportsAnErrorThenExits) {
  // Without main the file's code is the job; its error is the run's.
  Script("nomain.vbs", "Sub other()\r\nEnd Sub\r\nErr.Raise 1000, \"job\", \"no main here\"\r\n");
  MurrelContext *context = QMR_RunScript(QMR_FLAG_ASYNC, "nomain.vbs", NULL, NULL);
  ASSERT_TRUE(context);
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Thread()) == 2; }));
  EXPECT_TRUE(TextSeen("Error: no main here, ; in line 3"));
  // QMR_ERROR comes before QMR_EXIT, both with the context.
  int errorAt = -1, exitAt = -1;
  for (size_t i = 0; i < relay.entries.size(); ++i) {
    if (relay.entries[i].message == RelayWindow::Error() && errorAt < 0)
      errorAt = static_cast<int>(i);
    if (relay.entries[i].message == RelayWindow::Exit() && exitAt < 0)
      exitAt = static_cast<int>(i);
  }
  ASSERT_GE(errorAt, 0);
  ASSERT_GE(exitAt, 0);
  EXPECT_LT(errorAt, exitAt);
  EXPECT_EQ(reinterpret_cast<LPARAM>(context), relay.entries[errorAt].lParam);
  EXPECT_TRUE(relay.entries[errorAt].wParam & QMR_FLAG_BUSY);
  std::string log = qmtest::ReadTextFile(qmtest::ProgramDirectory() + "runtime_test.log");
  EXPECT_NE(std::string::npos, log.find("Exec error 3: Error: no main here"));
}

TEST_P(BothHostsTest, RuntimeErrorNamesTheFailingLine) {
  std::string text;
  for (int line = 1; line < 12; ++line)
    text += "' line " + std::to_string(line) + "\r\n";
  text += "Function main(x): Err.Raise 1000, \"job\", \"the job failed at 50% done\": End Function\r\n";
  Script("fails.vbs", text);
  EXPECT_TRUE(IsDone(QMR_RunScript(0, "fails.vbs", NULL, NULL)))
      << "a failed synchronous run still ends its worker";
  qmtest::PumpFor(50);
  std::vector<std::string> texts = relay.Texts();
  auto error = std::find_if(texts.begin(), texts.end(),
                            [](const std::string &t) { return t.rfind("Error: ", 0) == 0; });
  ASSERT_NE(texts.end(), error);
  EXPECT_EQ(0u, error->find("Error: the job failed at 50% done, ")) << *error;
  EXPECT_EQ(error->size() - 12, error->rfind("; in line 12")) << *error;
  EXPECT_EQ(1u, Count(RelayWindow::Error()));
}

TEST_P(BothHostsTest, SyntaxErrorIsReportedOnce) {
  Script("broken.vbs", "Function main(x)\r\n  If Then Else\r\nEnd Function\r\n");
  EXPECT_TRUE(IsDone(QMR_RunScript(0, "broken.vbs", NULL, NULL)));
  qmtest::PumpFor(50);
  std::vector<std::string> texts = relay.Texts();
  // The file's code is compiled at the run's start; main never came to be,
  // so the compilation's error is the run's, reported once.
  std::vector<std::string> errors;
  std::copy_if(texts.begin(), texts.end(), std::back_inserter(errors),
               [](const std::string &t) { return t.rfind("Error: ", 0) == 0; });
  ASSERT_EQ(1u, errors.size());
  EXPECT_NE("Error: Unknown VBScript error.", errors[0]) << "the engine's own error is named";
  EXPECT_EQ(1u, Count(RelayWindow::Error()));
}

// The relay lives on the thread that waits for the worker, as in the host:
// the worker's error reports are sent while that thread waits, so they must
// be answered during the wait, not fall back to a post after the send's
// 250 ms limit (which cost every failing run a quarter of a second).
TEST_F(RuntimeTest, ErrorReportsAreAnsweredWhileTheRelayThreadWaits) {
  Script("fails.vbs", "Function main(x)\r\n  Err.Raise 1000, \"job\", \"the job failed\"\r\nEnd Function\r\n");
  Script("broken.vbs", "Function main(x)\r\n  If Then Else\r\nEnd Function\r\n");
  Script("good.vbs", "Function main(x)\r\n  main = x\r\nEnd Function\r\n");
  // One pooled worker, so both failing runs below are claimed runs.
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_POOLED, "good.vbs", NULL, NULL));
  qmtest::PumpFor(50);

  struct Case {
    const char *script;
    size_t reports;   // worker reports of the run
    const char *last; // how the run's own report begins
  } cases[] = {{"fails.vbs", 1, "Error: the job failed, "}, {"broken.vbs", 1, "Error: Microsoft VBScript compilation error"}};
  for (const Case &c : cases) {
    relay.entries.clear();
    DWORD start = GetTickCount();
    ASSERT_TRUE(QMR_RunScript(QMR_FLAG_POOLED, c.script, NULL, NULL)) << c.script;
    DWORD elapsed = GetTickCount() - start;
    // Before any pumping of ours: what arrived came during the wait.
    std::vector<RelayEntry> during = relay.entries;
    qmtest::PumpFor(400); // a post after a failed send would show up here
    std::vector<std::string> errors;
    for (const RelayEntry &entry : relay.entries)
      if (entry.message == RelayWindow::Print() && entry.text.rfind("Error: ", 0) == 0)
        errors.push_back(entry.text);
    ASSERT_EQ(c.reports, errors.size()) << c.script << ": each error report arrives exactly once";
    size_t seen = 0;
    for (const RelayEntry &entry : during)
      if (entry.message == RelayWindow::Print() && entry.text.rfind("Error: ", 0) == 0) {
        EXPECT_TRUE(entry.sent) << c.script << ": \"" << entry.text << "\" came as a send";
        EXPECT_EQ(errors[seen], entry.text) << c.script << ": reports keep their order";
        ++seen;
      }
    EXPECT_EQ(c.reports, seen) << c.script << ": the error reports reached the relay before the run returned ("
                               << elapsed << " ms)";
    EXPECT_EQ(0u, errors.back().find(c.last)) << c.script << ": " << errors.back();
  }
}

// The host's handlers run inside the runtime's waits. One that destroys the
// very worker a run request waits for (as a stop or a worker's exit handled
// there does) must end that wait as failed, not leave it on freed memory:
// the new worker made at once reuses the freed context and its handles, so
// a wait still reading the old context waits on the new worker for good.
TEST_F(RuntimeTest, AWorkerDestroyedInsideTheWaitForItEndsThatWait) {
  Script("fails.vbs", "Function main(x)\r\n  Err.Raise 1000, \"job\", \"the job failed\"\r\nEnd Function\r\n");
  hostRules = false;
  bool destroyed = false;
  MurrelContext *replacement = NULL;
  relay.onMessage = [&](const RelayEntry &entry) {
    if (destroyed || entry.message != RelayWindow::Print() || entry.text.rfind("Error: ", 0) != 0)
      return;
    destroyed = true;
    EXPECT_TRUE(QMR_Destroy(qmtest::FirstWorkerContext()));
    replacement = QMR_Create(0);
  };
  EXPECT_EQ(NULL, QMR_RunScript(0, "fails.vbs", NULL, NULL)) << "the run ended as failed";
  ASSERT_TRUE(destroyed);
  ASSERT_TRUE(replacement);
  EXPECT_TRUE(QMR_Message(replacement, RegisterWindowMessageA(QMR_MSG_STARTUP), 0, 10000))
      << "the new worker answers";
  EXPECT_TRUE(QMR_Message(replacement, RegisterWindowMessageA(QMR_MSG_SHUTDOWN), 0, 10000));
  EXPECT_TRUE(QMR_Destroy(replacement));
}

TEST_F(RuntimeTest, MissingScriptsAreReportedAndTheRunGoesOn) {
  EXPECT_TRUE(IsDone(QMR_RunScript(0, "nosuch.vbs", NULL, NULL)));
  qmtest::PumpFor(50);
  EXPECT_TRUE(TextSeen("Unable to locate nosuch.vbs"));
  EXPECT_TRUE(TextSeen("Error: Unknown VBScript error."));

  // Without StdLib.vbs on the search path the script itself still runs.
  DeleteFileA((dir / "StdLib.vbs").c_str());
  Script("alone.vbs", "Function main(x)\r\n  main = \"ran\"\r\nEnd Function\r\n");
  relay.entries.clear();
  EXPECT_EQ("ran", RunForValue("alone.vbs", NULL));
  qmtest::PumpFor(50);
  EXPECT_TRUE(TextSeen("Unable to locate StdLib.vbs"));

  relay.entries.clear();
  EXPECT_TRUE(IsDone(QMR_RunScript(0, "", NULL, NULL)));
  qmtest::PumpFor(50);
  EXPECT_TRUE(TextSeen("Unable to locate: \"\""));
}

TEST_F(RuntimeTest, ScriptsAreLocatedByPathAndExtensionRules) {
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "sub"));
  Script("sub\\job.vbs", "Function main(x)\r\n  main = \"by path\"\r\nEnd Function\r\n");
  std::string slashed = dir.Path() + "sub/job.vbs";
  EXPECT_EQ("by path", RunForValue(slashed, NULL)) << "forward slashes in the directory";
  // Without an extension only the executable extensions are tried.
  Script("sub\\tool.cmd", "Function main(x)\r\n  main = \"cmd\"\r\nEnd Function\r\n");
  EXPECT_EQ("cmd", RunForValue(dir.Path() + "sub\\tool", NULL));
  relay.entries.clear();
  EXPECT_EQ("", RunForValue(dir.Path() + "sub\\job", NULL));
  qmtest::PumpFor(50);
  EXPECT_TRUE(TextSeen("Unable to locate " + dir.Path() + "sub\\job"));
}

TEST_F(RuntimeTest, QueryStopedLooksAtTheBusyBit) {
  EXPECT_TRUE(QMR_QueryStoped()) << "no workers";
  Script("quick.vbs", "Sub main(x)\r\nEnd Sub\r\n");
  MurrelContext *context = QMR_RunScript(QMR_FLAG_POOLED, "quick.vbs", NULL, NULL);
  ASSERT_TRUE(context);
  EXPECT_TRUE(QMR_QueryStoped()) << "an idle pooled worker";
  DWORD flags = QMR_GetFlags(context);
  QMR_SetFlags(context, flags | QMR_FLAG_BUSY);
  EXPECT_FALSE(QMR_QueryStoped()) << "a worker reserved for a run";
  QMR_SetFlags(context, flags);
  EXPECT_TRUE(QMR_QueryStoped());
}

TEST_F(RuntimeTest, QueryStopedWaitsForARunningScriptToAnswer) {
  // The script marks its start and its end with files, so the probe is made
  // while main surely runs (a probe sent before the worker takes up its run
  // is answered at once, busy).
  Script("slow.vbs", "Sub main(x)\r\n  Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
                     "  fso.CreateTextFile(\"" + dir.Path() + "running\").Close\r\n"
                     "  t = Timer\r\n  Do While Timer - t < 1.5 And Timer >= t\r\n  Loop\r\n"
                     "  fso.CreateTextFile(\"" + dir.Path() + "done\").Close\r\nEnd Sub\r\n");
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_ASYNC | QMR_FLAG_POOLED, "slow.vbs", NULL, NULL));
  ASSERT_TRUE(PumpUntil([&] { return GetFileAttributesA((dir / "running").c_str()) != INVALID_FILE_ATTRIBUTES; }));
  // The running script does not pump its thread's messages, so the probe
  // waits until main returns; by then the worker is idle.
  EXPECT_TRUE(QMR_QueryStoped());
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((dir / "done").c_str()))
      << "the answer came only after main had returned";
  EXPECT_EQ(1, LiveWorkerWindows());
}

TEST_F(RuntimeTest, FlushAndWaitExitEndBusyAndIdleWorkers) {
  Script("quick.vbs", "Sub main(x)\r\nEnd Sub\r\n");
  // Longer than a pool search takes, so the second run needs a new worker.
  Script("slow.vbs",
         "Sub main(x)\r\n  t = Timer\r\n  Do While Timer - t < 4 And Timer >= t\r\n  Loop\r\nEnd Sub\r\n");
  const DWORD flags = QMR_FLAG_ASYNC | QMR_FLAG_POOLED;
  ASSERT_TRUE(QMR_RunScript(flags, "quick.vbs", NULL, NULL));
  ASSERT_TRUE(PumpUntil([] { return QMR_QueryStoped() != FALSE; }));
  ASSERT_TRUE(QMR_RunScript(flags, "slow.vbs", NULL, NULL)); // claims the idle one
  ASSERT_TRUE(QMR_RunScript(flags, "quick.vbs", NULL, NULL)); // a second worker
  EXPECT_EQ(2, LiveWorkerWindows());
  EXPECT_TRUE(QMR_FlushPool());
  EXPECT_TRUE(QMR_WaitExit());
  qmtest::PumpFor(100);
  EXPECT_EQ(0, LiveWorkerWindows());
  int started = 0, ended = 0;
  for (const RelayEntry &e : Entries(RelayWindow::Thread()))
    (e.lParam ? started : ended)++;
  EXPECT_EQ(2, started);
  EXPECT_EQ(2, ended);
}

TEST_F(RuntimeTest, ThirtyTwoWorkersStartAndAllShutDown) {
  Script("work.vbs", "Function main(x)\r\n  main = Bracket(x)\r\nEnd Function\r\n");
  std::vector<MurrelContext *> contexts;
  for (int i = 0; i < 32; ++i) {
    MurrelContext *context = QMR_RunScript(QMR_FLAG_ASYNC, "work.vbs", std::to_string(i).c_str(), NULL);
    ASSERT_TRUE(context) << i;
    contexts.push_back(context);
  }
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Thread()) == 64; }, 120000))
      << Count(RelayWindow::Thread());
  EXPECT_EQ(32u, Count(RelayWindow::Exit()));
  EXPECT_EQ(0u, Count(RelayWindow::Error()));
  EXPECT_EQ(0, LiveWorkerWindows());
}

// How long the waits below last is a figure of the runtime benchmark; here,
// that they end, and how.
TEST_F(RuntimeTest, EndlessScriptNeverHangsItsHost) {
  Script("endless.vbs", "Sub main(x)\r\n  CreateObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" +
                            dir.Path() + "looping\").Close\r\n  Do\r\n  Loop\r\nEnd Sub\r\n");
  hostRules = false;
  MurrelContext *context = QMR_RunScript(QMR_FLAG_ASYNC, "endless.vbs", NULL, NULL);
  ASSERT_TRUE(context);
  ASSERT_TRUE(PumpUntil([&] { return GetFileAttributesA((dir / "looping").c_str()) != INVALID_FILE_ATTRIBUTES; }))
      << "the script entered its loop";

  // A request the busy worker never acknowledges times out, even while
  // another thread keeps sending to the waiting thread: each send is
  // answered, and none restarts the time-out. The sender goes on until the
  // wait is over, or gives up after a minute (a wait that restarted with
  // every send would last until then).
  struct Sender {
    HWND target;
    UINT message;
    HANDLE over;
    volatile LONG gaveUp;
    static DWORD WINAPI Proc(LPVOID param) {
      Sender *self = static_cast<Sender *>(param);
      DWORD begin = GetTickCount();
      do {
        if (GetTickCount() - begin > 60000) {
          InterlockedExchange(&self->gaveUp, 1);
          break;
        }
        DWORD_PTR reply = 0;
        SendMessageTimeoutA(self->target, self->message, 0, 0, SMTO_NORMAL, 60000, &reply);
      } while (WaitForSingleObject(self->over, 20) == WAIT_TIMEOUT);
      return 0;
    }
  } sender = {relay.Handle(), RegisterWindowMessageA("QM_TEST_SEND"), CreateEventA(NULL, TRUE, FALSE, NULL), 0};
  ASSERT_TRUE(sender.over);
  HANDLE senderThread = CreateThread(NULL, 0, Sender::Proc, &sender, 0, NULL);
  ASSERT_TRUE(senderThread);
  // The first send waits in this thread's queue before the wait begins.
  EXPECT_TRUE(qmtest::WaitUntil([] { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }));
  EXPECT_FALSE(QMR_Message(context, RegisterWindowMessageA(QMR_MSG_RESET), 0, 600));
  bool senderWentOn = sender.gaveUp == 0;
  size_t answeredDuringWait = Count(sender.message);
  SetEvent(sender.over);
  EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(senderThread, 0) == WAIT_OBJECT_0; }, 120000));
  CloseHandle(senderThread);
  CloseHandle(sender.over);
  EXPECT_TRUE(senderWentOn) << "the wait ended by its time-out while the sends went on";
  EXPECT_GE(answeredDuringWait, 1u) << "sends to the waiting thread were answered";

  EXPECT_TRUE(QMR_Destroy(context)) << "the time-out path ends the thread";
  EXPECT_TRUE(PumpUntil([] { return LiveWorkerWindows() == 0; }));
  EXPECT_TRUE(QMR_QueryStoped());
  std::string log = qmtest::ReadTextFile(qmtest::ProgramDirectory() + "runtime_test.log");
  EXPECT_NE(std::string::npos, log.find("TIMEOUT during shutdown, calling TerminateThread."));
}

TEST_F(RuntimeTest, BroadcastsReachEveryWorkerWindow) {
  qmtest::FakeWorkerWindow first, second;
  qmtest::FakeWorkerWindow impostor("WORKERS", "WORKER");
  EXPECT_TRUE(QMR_Suspend());
  EXPECT_TRUE(QMR_Resume());
  EXPECT_TRUE(QMR_Stop());
  EXPECT_TRUE(QMR_TimeChange());
  std::vector<UINT> expected = {QMR_CTL_SUSPEND, QMR_CTL_RESUME, QMR_CTL_STOP, QMR_CTL_TIMECHANGE};
  ASSERT_TRUE(PumpUntil([&] { return first.Received().size() == 4 && second.Received().size() == 4; }, 5000));
  EXPECT_EQ(expected, first.Received());
  EXPECT_EQ(expected, second.Received());
  EXPECT_TRUE(impostor.Received().empty()) << "a class without the colon is no worker";
}

TEST_F(RuntimeTest, NullAndUnknownRequestsAreHarmless) {
  EXPECT_EQ(0u, QMR_GetFlags(NULL));
  EXPECT_EQ(0u, QMR_SetFlags(NULL, 5));
  EXPECT_FALSE(QMR_Destroy(NULL));
  EXPECT_FALSE(QMR_Message(NULL, kShutdown, 0, 0));
  VARIANT v;
  EXPECT_FALSE(QMR_GetReturnValue(NULL, &v));

  // Values that are not live contexts (contexts also travel in window
  // messages, which anyone can forge) are refused, never followed.
  char forged[256] = {0};
  MurrelContext *bogus = reinterpret_cast<MurrelContext *>(forged);
  EXPECT_FALSE(QMR_Message(bogus, kShutdown, 0, 1000));
  EXPECT_FALSE(QMR_Destroy(bogus));
  EXPECT_EQ(0u, QMR_GetFlags(bogus));
  EXPECT_EQ(0u, QMR_SetFlags(bogus, 7));
  EXPECT_FALSE(QMR_GetReturnValue(bogus, &v));

  MurrelContext *context = QMR_Create(0);
  ASSERT_TRUE(context);
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Thread()) == 1; })) << "the start notice";
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, static_cast<DWORD>(Entries(RelayWindow::Thread())[0].wParam));
  ASSERT_TRUE(thread);
  EXPECT_EQ(0x30u | QMR_FLAG_POOLED, QMR_SetFlags(context, 0x30 | QMR_FLAG_POOLED));
  EXPECT_EQ(0x30u | QMR_FLAG_POOLED, QMR_GetFlags(context)) << "other bits are kept as they are";
  // A request the worker does not know ends its loop, and its thread, before
  // any destroy; without a wait the sender is told nothing went wrong.
  EXPECT_TRUE(QMR_Message(context, WM_USER + 77, 0, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 30000)) << "the thread ended by itself";
  CloseHandle(thread);
  EXPECT_TRUE(QMR_Destroy(context));
  EXPECT_FALSE(QMR_Destroy(context)) << "a context already destroyed is no longer known";
  EXPECT_EQ(0u, QMR_GetFlags(context));
}

TEST_F(RuntimeTest, WorkerWithoutEngineReportsInsteadOfCrashing) {
  // No host can make an engine when neither language nor the Script Control
  // is registered.
  MurrelContext *result = NULL;
  {
    qmtest::HiddenProgId vbscript("VBScript"), jscript("JScript"), control("MSScriptControl.ScriptControl");
    ASSERT_TRUE(vbscript.WasRegistered() && jscript.WasRegistered() && control.WasRegistered());
    Script("any.vbs", "Function main(x)\r\n  main = 1\r\nEnd Function\r\n");
    result = QMR_RunScript(QMR_FLAG_ASYNC, "any.vbs", NULL, NULL);
  }
  ASSERT_TRUE(result);
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 1; }));
  EXPECT_TRUE(TextSeen("Error: the script engine is not available on this worker."));
  EXPECT_EQ(1u, Count(RelayWindow::Error()));
  std::string log = qmtest::ReadTextFile(qmtest::ProgramDirectory() + "runtime_test.log");
  EXPECT_NE(std::string::npos, log.find("Failed to allocate CScriptObject."));
  // Such a worker has no window: the host ends it through its context.
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Thread()) == 2; }));
}

INSTANTIATE_TEST_SUITE_P(Hosts, BothHostsTest, ::testing::Values("ActiveScript", "ScriptControl"),
                         qmtest::HostNameOf);

// The scripts shipped with the program, run by the real engine.
class ShippedScriptsTest : public RuntimeTest {
protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    // These cases are about scripts without the Core object: make sure its
    // class is not registered in the prefix (its own tests register it).
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Classes\\QuillmothLib.Core");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Classes\\QuillmothLib.Core.1");
    std::string shipped = qmtest::ProgramDirectory() + "Scripts\\";
    ASSERT_TRUE(qmtest::CopyInto(shipped + "StdLib.vbs", dir.Path()));
    ASSERT_TRUE(qmtest::CopyInto(shipped + "AutoRun.vbs", dir.Path()));
    ASSERT_TRUE(qmtest::CopyInto(shipped + "StdLib.js", dir.Path()));
    ASSERT_TRUE(qmtest::CopyInto(shipped + "AutoRun.js", dir.Path()));
  }

  // A path as a JScript string literal.
  static std::string JsText(const std::string &text) {
    std::string out = "\"";
    for (char c : text)
      out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out + "\"";
  }
};

TEST_F(ShippedScriptsTest, JScriptLibraryHasTheSameHelpers) {
  SetEnvironmentVariableA("QM.TEST_VALUE", "from the host");
  Script("probe.js",
         "function main(x) {\r\n"
         "  var d = new Date(2026, 2, 7, 8, 5, 9);\r\n"
         "  var path = " + JsText(dir.Path() + "probe.txt") + ";\r\n"
         "  AppendLine(path, \"one\");\r\n"
         "  AppendLine(path, \"two\");\r\n"
         "  return [FormatIsoDateTime(d), TwoDigits(4), Quote('a \"b\"'), DefaultIfEmpty(\"\", \"fallback\"),\r\n"
         "    DefaultIfEmpty(null, 1), ProcessVariable(\"QM.TEST_VALUE\"), ProcessVariable(\"QM.NOT_SET_ANYWHERE\"),\r\n"
         "    FileExists(path), FolderExists(" + JsText(dir.Path()) + "), ReadAllText(path).replace(/\\r\\n/g, \"/\"),\r\n"
         "    ReadAllText(path + \".missing\"), NewCore() === null, TimerId16(40000), TimerId16(5),\r\n"
         "    QMR_CTL_STOP, WM_TIMER, VAR_ENCRYPTED].join(\"|\");\r\n"
         "}\r\n");
  EXPECT_EQ("2026-03-07 08:05:09|04|\"a \\\"b\\\"\"|fallback|1|from the host||true|true|one/two/||true|-25536|5|1231|275|8",
            RunForValue("probe.js", NULL));
  SetEnvironmentVariableA("QM.TEST_VALUE", NULL);

  SetEnvironmentVariableA("QM.DEFAULT_DIR", dir.Path().c_str());
  EXPECT_EQ("Quillmoth started at 2026-12-08 14:00:00", RunForValue("AutoRun.js", "2026-12-08 14:00:00"));
  EXPECT_EQ("Quillmoth started at 2026-12-08 14:00:00\r\n", qmtest::ReadTextFile(dir / "AutoRun.log"));
  SetEnvironmentVariableA("QM.DEFAULT_DIR", NULL);
  qmtest::PumpFor(50);
  EXPECT_EQ(0u, Count(RelayWindow::Error()));
}

TEST_F(ShippedScriptsTest, StandardLibraryHelpers) {
  SetEnvironmentVariableA("QM.TEST_VALUE", "from the host");
  Script("probe.vbs",
         "Function main(x)\r\n"
         "  Dim d, path\r\n"
         "  d = DateSerial(2026, 3, 7) + TimeSerial(8, 5, 9)\r\n"
         "  path = \"" + dir.Path() + "probe.txt\"\r\n"
         "  AppendLine path, \"one\"\r\n"
         "  AppendLine path, \"two\"\r\n"
         "  main = FormatIsoDateTime(d) & \"|\" & TwoDigits(4) & \"|\" & Quote(\"a \"\"b\"\"\") & \"|\" & _\r\n"
         "    DefaultIfEmpty(\"\", \"fallback\") & \"|\" & DefaultIfEmpty(Null, 1) & \"|\" & _\r\n"
         "    ProcessVariable(\"QM.TEST_VALUE\") & \"|\" & ProcessVariable(\"QM.NOT_SET_ANYWHERE\") & \"|\" & _\r\n"
         "    FileExists(path) & \"|\" & FolderExists(\"" + dir.Path() + "\") & \"|\" & _\r\n"
         "    Replace(ReadAllText(path), vbCrLf, \"/\") & \"|\" & ReadAllText(path & \".missing\") & \"|\" & _\r\n"
         "    (NewCore() Is Nothing)\r\n"
         "End Function\r\n");
  EXPECT_EQ("2026-03-07 08:05:09|04|\"a \\\"b\\\"\"|fallback|1|from the host||True|True|one/two/||True",
            RunForValue("probe.vbs", NULL));
  SetEnvironmentVariableA("QM.TEST_VALUE", NULL);
}

TEST_F(ShippedScriptsTest, AutoRunRecordsItsStartWithoutTheCoreObject) {
  SetEnvironmentVariableA("QM.DEFAULT_DIR", dir.Path().c_str());
  EXPECT_EQ("Quillmoth started at 2026-12-08 14:00:00", RunForValue("AutoRun.vbs", "2026-12-08 14:00:00"));
  EXPECT_EQ("Quillmoth started at 2026-12-08 14:00:00\r\n", qmtest::ReadTextFile(dir / "AutoRun.log"));
  SetEnvironmentVariableA("QM.DEFAULT_DIR", NULL);
  qmtest::PumpFor(50);
  EXPECT_EQ(0u, Count(RelayWindow::Error()));
}

} // namespace
