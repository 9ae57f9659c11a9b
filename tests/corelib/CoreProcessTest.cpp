// Starting programs through the Core object's methods, called directly:
// real processes of the small helper program (qmchild.exe) under Wine for
// CreateProcess, ShellExecute and Run; the logon and desktop security calls,
// which Wine only pretends to perform, through a replaced call table that
// records their arguments and order and starts the real helper in place of
// the logged-on user's process.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <algorithm>
#include <string>
#include <vector>

#include "Core.h"
#include "CoreModule.h"
#include "CoreProcess.h"
#include "HandleTable.h"
#include "RelayFixture.h"
#include "WineTestSupport.h"

namespace {

using qmtest::SystemText;
using qmtest::Text;

std::string Quoted(const std::string &path) { return "\"" + path + "\""; }

std::string Forward(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class ProcessTest : public ::testing::Test {
protected:
  ProcessTest() : dir("procs"), child(qmtest::ProgramDirectory() + "qmchild.exe") {}
  void TearDown() override { core->Release(); }

  // pVal of CreateProcess, with its status.
  long Create(long flags, const std::string &line, HRESULT *status = nullptr) {
    long value = 12345;
    HRESULT hr = core->CreateProcess(flags, Text(line), &value);
    if (status)
      *status = hr;
    else
      EXPECT_EQ(value == -1 ? S_FALSE : S_OK, hr) << line;
    return value;
  }

  long Shell(long flags, const std::string &verb, const std::string &file, const std::string &params) {
    long value = 12345;
    HRESULT hr = core->ShellExecute(flags, Text(verb), Text(file), Text(params), &value);
    EXPECT_EQ(value == -1 ? S_FALSE : S_OK, hr) << file;
    return value;
  }

  std::vector<std::string> Notices() const { return relay.Texts(); }

  qmtest::RelayWindow relay;
  qmtest::TempDirectory dir;
  std::string child;
  CCore *core = new CCore(nullptr);
};

TEST_F(ProcessTest, CreateProcessReadsExitCodesShowStatesAndConsoles) {
  EXPECT_EQ(7, Create(0, Quoted(child) + " exit 7"));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "with space"));
  ASSERT_TRUE(qmtest::CopyInto(child, dir / "with space\\"));
  EXPECT_EQ(9, Create(0, Quoted(dir / "with space\\qmchild.exe") + ", exit 9"))
      << "quotes, and a comma that ends the program's word; the line itself reaches the program unchanged";
  EXPECT_EQ(-2, Create(0, Quoted(child) + " exit -2")) << "the exit code as a signed number";

  EXPECT_EQ(100, Create(0, child + " show")) << "no show state unless asked";
  EXPECT_EQ(SW_HIDE, Create(CP_HIDE, child + " show"));
  EXPECT_EQ(SW_MINIMIZE, Create(CP_MINIMIZE, child + " show"));
  EXPECT_EQ(SW_MINIMIZE, Create(CP_HIDE | CP_MINIMIZE, child + " show"));

  EXPECT_EQ(1, Create(0, child + " console")) << "a new console";
  EXPECT_EQ(0, Create(CP_DETACHED, child + " console")) << "detached: no console";
  EXPECT_TRUE(Notices().empty());
}

TEST_F(ProcessTest, NoWaitAnswersAtOnceAndWaitIdleWaitsForInput) {
  std::string late = dir / "late.txt";
  EXPECT_EQ(0, Create(CP_NOWAIT, child + " idle " + Quoted(late) + " 4000"));
  EXPECT_FALSE(Exists(late)) << "the call did not wait for the process";
  EXPECT_TRUE(qmtest::WaitUntil([&] { return Exists(late); })) << "the process runs on by itself";

  std::string idle = dir / "idle.txt";
  std::string windowed = qmtest::ProgramDirectory() + "qmchildw.exe";
  EXPECT_EQ(0, Create(CP_NOWAIT | CP_WAITIDLE, Quoted(windowed) + " idle " + Quoted(idle) + " 1500"));
  EXPECT_TRUE(Exists(idle)) << "the call waited until the process waited for input";

  EXPECT_EQ(0, Create(CP_NOWAIT, child + " exit 3")) << "no exit code without waiting";
  qmtest::PumpFor(3000); // let the idle helpers end before their folder goes
}

TEST_F(ProcessTest, ExecutableSearchOrderWithRealFiles) {
  for (const char *extension : {".com", ".exe"})
    ASSERT_TRUE(CopyFileA(child.c_str(), (dir / (std::string("qmsearch") + extension)).c_str(), FALSE));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "qmsearch.bat", "@exit 3\r\n"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "qmsearch.cmd", "@exit 4\r\n"));
  std::string word = Forward(dir / "qmsearch");

  EXPECT_EQ(1, Create(0, word + " whoami")) << ".com first";
  {
    qmtest::PathPrefix path(dir.Path());
    EXPECT_EQ(1, Create(0, "qmsearch whoami")) << "through PATH, .com first";
    EXPECT_EQ(2, Create(0, "qmsearch.exe whoami")) << "through PATH with an extension";
  }
  EXPECT_EQ(2, Create(0, word + ".exe whoami")) << "with an extension";
  ASSERT_TRUE(qmtest::DeleteFileAndWait(dir / "qmsearch.com"));
  EXPECT_EQ(2, Create(0, word + " whoami")) << "then .exe";
  ASSERT_TRUE(qmtest::DeleteFileAndWait(dir / "qmsearch.exe"));
  EXPECT_EQ(3, Create(0, word)) << "then .bat";
  {
    qmtest::PathPrefix path(dir.Path());
    EXPECT_EQ(3, Create(0, "qmsearch")) << "through PATH, .bat before .cmd";
  }
  ASSERT_TRUE(qmtest::DeleteFileAndWait(dir / "qmsearch.bat"));
  EXPECT_EQ(4, Create(0, word)) << "then .cmd";

  // Folder by folder: a .com planted in a later PATH folder never wins over
  // the .exe in an earlier one.
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "first"));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "drop"));
  ASSERT_TRUE(CopyFileA(child.c_str(), (dir / "first\\qmsearch2.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(child.c_str(), (dir / "drop\\qmsearch2.com").c_str(), FALSE));
  {
    qmtest::PathPrefix path(dir / "first" + ";" + dir / "drop");
    EXPECT_EQ(2, Create(0, "qmsearch2 whoami")) << "the .exe of the first folder";
  }
  {
    qmtest::PathPrefix path(dir / "drop" + ";" + dir / "first");
    EXPECT_EQ(1, Create(0, "qmsearch2 whoami")) << "the .com of the first folder";
  }
  EXPECT_TRUE(Notices().empty());
}

TEST_F(ProcessTest, BadCommandLinesFailWithTheNoticeAndChangeNothingElse) {
  HRESULT status = S_OK;
  EXPECT_EQ(-1, Create(0, " ,, \t , ", &status)) << "no word";
  EXPECT_EQ(S_FALSE, status);
  ASSERT_EQ(1u, Notices().size());
  EXPECT_EQ("CreateProcess: The command line names no program", Notices().back());

  EXPECT_EQ(-1, Create(0, "\"\" \"\"", &status)) << "only empty quotes";
  EXPECT_EQ("CreateProcess: The command line names no program", Notices().back());
  EXPECT_EQ(-1, Create(0, Forward(dir / "missing.exe") + " x", &status));
  EXPECT_EQ("CreateProcess: " + SystemText(ERROR_FILE_NOT_FOUND), Notices().back());
  EXPECT_EQ(-1, Create(0, "qm-no-such-program", &status));
  EXPECT_EQ("CreateProcess: " + SystemText(ERROR_FILE_NOT_FOUND), Notices().back());

  // Texts that cannot be taken are refused with -1 and a notice naming the
  // argument (an unset variable must not look like success).
  long value = 77;
  EXPECT_EQ(S_FALSE, core->CreateProcess(0, Text(""), &value));
  EXPECT_EQ(-1, value);
  EXPECT_EQ("CreateProcess: The command line is empty", Notices().back());
  value = 77;
  EXPECT_EQ(S_FALSE, core->CreateProcess(0, nullptr, &value));
  EXPECT_EQ(-1, value);
  EXPECT_EQ("CreateProcess: The command line is empty", Notices().back());
  value = 77;
  EXPECT_EQ(S_FALSE, core->CreateProcess(0, Text(L"qmchild \x4E00"), &value)) << "not in the ANSI code page";
  EXPECT_EQ(-1, value);
  EXPECT_EQ("CreateProcess: The command line holds a character the system's code page cannot represent",
            Notices().back());
  EXPECT_EQ(E_POINTER, core->CreateProcess(0, Text("x"), nullptr));

  // A first word of 260 characters or more is left to the system, which
  // reads the program from the command line itself; one character less is
  // searched as usual. Both name the helper through a long relative path.
  std::string directory = qmtest::ProgramDirectory();
  char saved[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryA(directory.c_str()));
  std::string tail = "qmchild.exe";
  std::string longWord, searched;
  for (int i = 0; i < 145; ++i)
    longWord += ".\\";
  for (int i = 0; i < 124; ++i)
    searched += ".\\";
  ASSERT_EQ(301u, longWord.size() + tail.size());
  ASSERT_EQ(259u, searched.size() + tail.size());
  EXPECT_EQ(7, Create(0, longWord + tail + " exit 7")) << "a 301-character word";
  EXPECT_EQ(8, Create(0, searched + tail + " exit 8")) << "a 259-character word";
  SetCurrentDirectoryA(saved);

  // A command line that does not fit is refused whole: cut, its last
  // arguments would be lost and the rest acted on.
  std::string marker = dir / "cut.txt";
  std::string fits = Quoted(child) + " idle " + Quoted(marker) + " 0 ";
  fits += std::string(1023 - fits.size(), 'x');
  EXPECT_EQ(0, Create(0, fits)) << "1023 characters fit";
  EXPECT_TRUE(qmtest::DeleteFileAndWait(marker));
  EXPECT_EQ(-1, Create(0, fits + "y", &status)) << "1024 do not";
  EXPECT_EQ(S_FALSE, status);
  EXPECT_FALSE(Exists(marker)) << "nothing was started";
  EXPECT_EQ("CreateProcess: The command line is too long (1024 characters, at most 1023)", Notices().back());
  EXPECT_EQ(-1, Create(0, std::string(3000, 'w'), &status));
  EXPECT_EQ("CreateProcess: The command line is too long (3000 characters, at most 1023)", Notices().back());
}

TEST_F(ProcessTest, ShellExecuteWaitsForProgramsAndBatchFiles) {
  EXPECT_EQ(5, Shell(0, "", child, "exit 5")) << "the default verb";
  EXPECT_EQ(6, Shell(0, "open", child, "exit 6"));
  EXPECT_EQ(SW_SHOWNORMAL, Shell(0, "", child, "show"));
  EXPECT_EQ(SW_HIDE, Shell(CP_HIDE | CP_MINIMIZE, "", child, "show")) << "hidden wins";
  EXPECT_EQ(SW_MINIMIZE, Shell(CP_MINIMIZE, "", child, "show"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "six.bat", "@exit 6\r\n"));
  EXPECT_EQ(6, Shell(0, "", dir / "six.bat", ""));
  EXPECT_EQ(0, Shell(CP_NOWAIT, "", child, "exit 8"));
  EXPECT_TRUE(Notices().empty());

  EXPECT_EQ(-1, Shell(0, "", dir / "missing.exe", ""));
  ASSERT_EQ(1u, Notices().size());
  EXPECT_EQ(0u, Notices().back().rfind("ShellExecute: ", 0));
  EXPECT_GT(Notices().back().size(), strlen("ShellExecute: "));

  long value = 77;
  EXPECT_EQ(S_FALSE, core->ShellExecute(0, nullptr, Text(""), nullptr, &value));
  EXPECT_EQ(-1, value);
  EXPECT_EQ("ShellExecute: The file is empty", Notices().back());
  value = 77;
  EXPECT_EQ(S_FALSE, core->ShellExecute(0, nullptr, Text(child), Text(std::string(1024, 'p')), &value));
  EXPECT_EQ(-1, value);
  EXPECT_EQ("ShellExecute: The parameter text is too long (1024 characters, at most 1023)", Notices().back());
  EXPECT_EQ(3u, Notices().size());
}

// Run starts a script on a worker of the runtime: pooled whenever the
// installation keeps a pool (QM.POOL_SIZE read as a decimal number).
class RunTest : public ProcessTest {
protected:
  RunTest() : path(dir.Path()) {}
  void SetUp() override {
    ASSERT_TRUE(QMR_Own());
    ASSERT_TRUE(qmtest::CopyInto(qmtest::ProgramDirectory() + "Scripts\\StdLib.vbs", dir.Path()));
    ASSERT_TRUE(qmtest::WriteTextFile(dir / "echo.vbs", "Function main(arg)\r\n  main = \"got \" & arg\r\nEnd Function\r\n"));
    relay.onMessage = [](const qmtest::RelayEntry &entry) { qmtest::RelayWindow::DisposeLikeTheHost(entry); };
    SetEnvironmentVariableA("QM.POOL_SIZE", NULL);
  }
  void TearDown() override {
    SetEnvironmentVariableA("QM.POOL_SIZE", NULL);
    qmtest::StopAllWorkers();
    ProcessTest::TearDown();
  }

  // main's value, and whether the worker stayed (pooled) after the run.
  std::string RunEcho(long flags, bool *stayed) {
    relay.entries.clear();
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = core->Run(flags, Text("echo.vbs"), Text("hi"), &value);
    EXPECT_EQ(S_OK, hr);
    std::string text = "(none)";
    if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
      text.clear();
      for (UINT i = 0; i < SysStringLen(V_BSTR(&value)); ++i)
        text += static_cast<char>(V_BSTR(&value)[i]);
    }
    VariantClear(&value);
    // Every run here starts a worker of its own: its start notice names the
    // thread. Run shuts an unpooled worker down and destroys it before it
    // returns, so its end notice is already queued; a pooled one is still
    // there, its window with it, and known to the runtime as pooled.
    DWORD worker = 0;
    EXPECT_TRUE(qmtest::PumpUntil([&] { return (worker = Notice(1)) != 0; }, 30000)) << "no worker started";
    char className[32];
    snprintf(className, sizeof className, "WORKER:%lX", worker);
    HWND window = worker ? FindWindowA(className, "WORKER") : NULL;
    MurrelContext *context = window ? reinterpret_cast<MurrelContext *>(GetWindowLongPtrA(window, 0)) : nullptr;
    *stayed = window && (QMR_GetFlags(context) & QMR_FLAG_POOLED);
    if (!*stayed) {
      EXPECT_TRUE(qmtest::PumpUntil([&] { return Notice(0) == worker; }, 30000)) << "the worker did not end";
    }
    return text;
  }

  // The thread named by the first QMR_THREAD notice that reports a start
  // (1) or an end (0); 0 when none came.
  DWORD Notice(LPARAM started) const {
    for (const qmtest::RelayEntry &entry : relay.entries)
      if (entry.message == qmtest::RelayWindow::Thread() && entry.lParam == started)
        return static_cast<DWORD>(entry.wParam);
    return 0;
  }

  qmtest::ScriptsFolder path;
};

TEST_F(RunTest, PoolSizeDecidesWhetherTheWorkerIsPooled) {
  // Read in mode 2: the environment, else the persistent store.
  const char key[] = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";
  bool stored = false;
  std::string saved = qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, key, "QM.POOL_SIZE", &stored);
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, key, "QM.POOL_SIZE", "7");
  bool stayed = false;
  EXPECT_EQ("got hi", RunEcho(0, &stayed));
  EXPECT_TRUE(stayed) << "the stored pool size when the environment has none";
  qmtest::StopAllWorkers();
  ASSERT_TRUE(QMR_Own());
  if (stored)
    qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, key, "QM.POOL_SIZE", saved);
  else
    qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, key, "QM.POOL_SIZE");

  SetEnvironmentVariableA("QM.POOL_SIZE", "0");
  EXPECT_EQ("got hi", RunEcho(0, &stayed));
  EXPECT_FALSE(stayed);
  SetEnvironmentVariableA("QM.POOL_SIZE", "  -0x10");
  EXPECT_EQ("got hi", RunEcho(0, &stayed)) << "reading stops at the x: -0";
  EXPECT_FALSE(stayed);
  SetEnvironmentVariableA("QM.POOL_SIZE", " +3 workers");
  EXPECT_EQ("got hi", RunEcho(0, &stayed));
  EXPECT_TRUE(stayed) << "pooled whatever the flags say";

  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(S_FALSE, core->Run(0, Text(""), Text("x"), &value)) << "no script";
  EXPECT_EQ(S_FALSE, core->Run(0, nullptr, nullptr, &value));
}

TEST_F(RunTest, LongArgumentsReachMainWholeOrAreRefused) {
  // Past 255 characters an argument no longer fits an atom; it still
  // reaches main whole, on a new worker and on a pooled one.
  for (const char *pool : {"0", "3"}) {
    SetEnvironmentVariableA("QM.POOL_SIZE", pool);
    for (size_t size : {255u, 256u, 1023u}) {
      std::string argument(size, 'a');
      argument.back() = 'z';
      VARIANT value;
      VariantInit(&value);
      ASSERT_EQ(S_OK, core->Run(0, Text("echo.vbs"), Text(argument), &value)) << size;
      ASSERT_EQ(VT_BSTR, V_VT(&value));
      std::string text;
      for (UINT i = 0; i < SysStringLen(V_BSTR(&value)); ++i)
        text += static_cast<char>(V_BSTR(&value)[i]);
      VariantClear(&value);
      EXPECT_EQ("got " + argument, text) << size << " characters, pool " << pool;
    }
  }
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(S_FALSE, core->Run(0, Text("echo.vbs"), Text(std::string(1024, 'a')), &value));
  EXPECT_EQ(VT_EMPTY, V_VT(&value)) << "not run with a cut argument";
  EXPECT_EQ("Run: The argument is too long (1024 characters, at most 1023)", Notices().back());
}

// Stand-in for the engine's interrupt: asks the real engine first (what it
// answered is kept), then ends the script the way a working interrupt would,
// by the process variable the test scripts poll.
HRESULT g_realInterrupt = S_FALSE;
int g_interrupts = 0;
HRESULT QMR_API InterruptForTest(MurrelContext *context) {
  ++g_interrupts;
  g_realInterrupt = QMR_InterruptRun(context);
  SetEnvironmentVariableA("QMTEST.END", "1");
  return g_realInterrupt;
}

bool Gone(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!process)
    return true;
  bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

TEST_F(RunTest, TimeLimitsEndAHungProgramTreeAndScriptsThatRunOn) {
  long previous = -1;
  ASSERT_EQ(S_OK, core->SetTimeLimit(2, &previous));
  EXPECT_EQ(0, previous);
  auto outcome = [&] {
    BSTR text = nullptr;
    EXPECT_EQ(S_OK, core->LastOutcome(&text));
    std::string result = qmtest::Narrow(text);
    SysFreeString(text);
    return result;
  };

  // A hung program that started a grandchild: both are gone at the limit.
  std::string idFile = dir / "grandchild.txt";
  EXPECT_EQ(static_cast<long>(kTimedOutExitCode), Create(0, Quoted(child) + " hang " + Quoted(idFile)));
  EXPECT_EQ("timed out", outcome());
  DWORD grandchild = static_cast<DWORD>(strtoul(qmtest::ReadTextFile(idFile).c_str(), nullptr, 10));
  ASSERT_NE(0u, grandchild) << "the helper started its grandchild";
  EXPECT_TRUE(qmtest::WaitUntil([&] { return Gone(grandchild); })) << "the grandchild ended with its parent's job";
  EXPECT_EQ(4, Create(0, child + " exit 4")) << "a program within its limit keeps its exit code";
  EXPECT_EQ("exit code 4", outcome());

  // A script that reads its messages ends at the stop request; one that
  // never looks is interrupted a grace later.
  qmtest::RegisteredCoreLibrary library; // the scripts' NewCore
  ASSERT_EQ(S_OK, library.Registration());
  QMR_RunInterrupt engines = QMR_SetRunInterrupt(InterruptForTest);
  SetEnvironmentVariableA("QMTEST.END", NULL);
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "ticks.vbs", "Function main(arg)\r\n  Dim core, s\r\n"
                                    "  Set core = NewCore()\r\n  core.SetTimer 100\r\n"
                                    "  Do While NextTick(core, s)\r\n  Loop\r\n  main = \"stopped\"\r\nEnd Function\r\n"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "spin.vbs", "Function main(arg)\r\n  Dim core\r\n  Set core = NewCore()\r\n"
                                    "  Do While core.GetEnvironmentVariable(1, \"QMTEST.END\") = \"\"\r\n  Loop\r\n"
                                    "  main = \"spun\"\r\nEnd Function\r\n"));
  ASSERT_EQ(S_OK, core->SetTimeLimit(1, &previous));
  EXPECT_EQ(2, previous);
  for (const char *script : {"ticks.vbs", "spin.vbs"}) {
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(S_OK, core->Run(0, Text(script), Text(""), &value)) << script;
    VariantClear(&value);
    EXPECT_EQ("timed out", outcome()) << script;
  }
  QMR_SetRunInterrupt(engines);
  EXPECT_EQ(1, g_interrupts) << "only the script that ignored the stop request";
  EXPECT_TRUE(g_realInterrupt == S_OK ||
              qmtest::WineDiffers(g_realInterrupt == E_NOTIMPL, "Wine's InterruptScriptThread is a stub"));
  ASSERT_EQ(S_OK, core->SetTimeLimit(0, &previous));
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(S_OK, core->Run(0, Text("spin.vbs"), Text(""), &value)) << "QMTEST.END is still set";
  EXPECT_EQ("returned", outcome()) << "no limit";
  VariantClear(&value);
  EXPECT_EQ(S_FALSE, core->SetTimeLimit(-1, &previous));
  SetEnvironmentVariableA("QMTEST.END", NULL);
}

// The job table of StdLib, driven through its replaceable clock
// (QM.JOB_CLOCK) by a schedule script that Run starts afresh for every
// "start" of the program: what the jobs keep lives on in stored variables.
class JobTableTest : public RunTest {
protected:
  void SetUp() override {
    RunTest::SetUp();
    ASSERT_EQ(S_OK, library.Registration());
    // count.vbs: notes its argument; answers False while QMTEST.FAIL counts
    // down. slow.vbs: moves the clock on by six minutes the first
    // QMTEST.SLOW times, as a run that long would.
    ASSERT_TRUE(qmtest::WriteTextFile(dir / "count.vbs",
        "Function main(arg)\r\n  Dim core, fail\r\n  Set core = NewCore()\r\n"
        "  core.SetEnvironmentVariable VAR_PROCESS, \"QMTEST.RUNS\", core.GetEnvironmentVariable(VAR_PROCESS, \"QMTEST.RUNS\") & arg & \";\"\r\n"
        "  fail = core.GetEnvironmentVariable(VAR_PROCESS, \"QMTEST.FAIL\")\r\n"
        "  main = (fail = \"\" Or fail = \"0\")\r\n"
        "  If Not main Then core.SetEnvironmentVariable VAR_PROCESS, \"QMTEST.FAIL\", CStr(CLng(fail) - 1)\r\n"
        "End Function\r\n"));
    ASSERT_TRUE(qmtest::WriteTextFile(dir / "slow.vbs",
        "Function main(arg)\r\n  Dim core, slow\r\n  Set core = NewCore()\r\n"
        "  core.SetEnvironmentVariable VAR_PROCESS, \"QMTEST.RUNS\", core.GetEnvironmentVariable(VAR_PROCESS, \"QMTEST.RUNS\") & \"slow \" & arg & \";\"\r\n"
        "  slow = core.GetEnvironmentVariable(VAR_PROCESS, \"QMTEST.SLOW\")\r\n"
        "  If slow <> \"\" And slow <> \"0\" Then\r\n"
        "    core.SetEnvironmentVariable VAR_PROCESS, \"QMTEST.SLOW\", CStr(CLng(slow) - 1)\r\n"
        "    core.SetEnvironmentVariable VAR_PROCESS, \"QM.JOB_CLOCK\", FormatIsoDateTime(DateAdd(\"n\", 6, JobTime(JobClock(core))))\r\n"
        "  End If\r\n  main = True\r\nEnd Function\r\n"));
    // The schedule: "<job line>|<clock>|<clock>...": declares the job, then
    // one pass of the table at each clock reading.
    ASSERT_TRUE(qmtest::WriteTextFile(dir / "schedule.vbs",
        "Function main(arg)\r\n  Dim core, parts, job, i\r\n  Set core = NewCore()\r\n"
        "  parts = Split(arg, \"|\")\r\n  job = Split(parts(0), \",\")\r\n"
        "  AddJob core, job(0), job(1), job(2), job(3)\r\n"
        "  For i = 1 To UBound(parts)\r\n"
        "    core.SetEnvironmentVariable VAR_PROCESS, \"QM.JOB_CLOCK\", parts(i)\r\n"
        "    RunDueJobs core\r\n  Next\r\n"
        "  main = core.GetEnvironmentVariable(VAR_PROCESS, \"QMTEST.RUNS\")\r\n"
        "  core.SetEnvironmentVariable VAR_PROCESS, \"QMTEST.RUNS\", \"\"\r\nEnd Function\r\n"));
    ASSERT_TRUE(qmtest::CopyInto(qmtest::ProgramDirectory() + "Scripts\\StdLib.js", dir.Path()));
    ASSERT_TRUE(qmtest::WriteTextFile(dir / "schedule.js",
        "function main(arg) {\r\n  var core = NewCore(), parts = arg.split(\"|\"), job = parts[0].split(\",\");\r\n"
        "  AddJob(core, job[0], job[1], job[2], job[3]);\r\n"
        "  for (var i = 1; i < parts.length; ++i) {\r\n"
        "    core.SetEnvironmentVariable(VAR_PROCESS, \"QM.JOB_CLOCK\", parts[i]);\r\n"
        "    RunDueJobs(core);\r\n  }\r\n"
        "  var runs = core.GetEnvironmentVariable(VAR_PROCESS, \"QMTEST.RUNS\");\r\n"
        "  core.SetEnvironmentVariable(VAR_PROCESS, \"QMTEST.RUNS\", \"\");\r\n  return runs;\r\n}\r\n"));
    for (const char *name : {"QM.JOB_CLOCK", "QMTEST.RUNS", "QMTEST.FAIL", "QMTEST.SLOW"})
      SetEnvironmentVariableA(name, NULL);
    for (const char *job : {"nightly", "nightlyjs", "nocatch", "skipper", "queuer", "flaky", "flakyjs", "hung"})
      for (const char *part : {".DUE", ".LAST", ".SPEC", ".DISABLED", ".RUN"}) {
        std::string name = std::string("QM.JOB.") + job + part;
        SetEnvironmentVariableA(name.c_str(), NULL);
        qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kStore, name);
      }
  }

  // One start of the schedule: what the jobs' actions noted.
  // The JScript twin of the table runs a job whose name ends in "js".
  std::string Start(const std::string &job, const std::string &clocks) {
    VARIANT value;
    VariantInit(&value);
    bool js = job.find("js,") != std::string::npos;
    EXPECT_EQ(S_OK, core->Run(0, Text(js ? "schedule.js" : "schedule.vbs"), Text(job + "|" + clocks), &value));
    std::string text = V_VT(&value) == VT_BSTR ? qmtest::Narrow(V_BSTR(&value)) : "(no text)";
    VariantClear(&value);
    return text;
  }

  std::string Stored(const std::string &name) { return qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kStore, name); }

  static constexpr const char *kStore = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";
  qmtest::RegisteredCoreLibrary library;
};

TEST_F(JobTableTest, CatchUpOnceAfterDownTimeAndNeverTwiceForOneDueTime) {
  for (std::string name : {"nightly", "nightlyjs"}) {
    const std::string nightly = name + ",0 2 * * *,count.vbs nightly,catchup=1";
    EXPECT_EQ("nightly;", Start(nightly, "2026-12-05 01:59:30|2026-12-05 02:00:10|2026-12-05 02:00:50")) << name;
    EXPECT_EQ("2026-12-05 02:00:00", Stored("QM.JOB." + name + ".DUE"));
    EXPECT_EQ("", Start(nightly, "2026-12-05 02:00:40")) << "a restart within the due minute runs nothing again";
    EXPECT_EQ("nightly;", Start(nightly, "2026-12-08 09:00:00|2026-12-08 09:00:01"))
        << "three nights missed: one run at the start";
    EXPECT_EQ("2026-12-08 02:00:00", Stored("QM.JOB." + name + ".DUE"));
  }
  const std::string nocatch = "nocatch,0 2 * * *,count.vbs nocatch,";

  EXPECT_EQ("nocatch;", Start(nocatch, "2026-12-05 02:00:10"));
  EXPECT_EQ("", Start(nocatch, "2026-12-08 09:00:00")) << "catchup=0: the missed night is said, not run";
  EXPECT_EQ("2026-12-08 02:00:00", Stored("QM.JOB.nocatch.DUE")) << "and counted as dealt with";
}

TEST_F(JobTableTest, OverlapSkipsOrQueuesAndFailuresAndTimeOutsAreTriedAgain) {
  SetEnvironmentVariableA("QMTEST.SLOW", "1");
  EXPECT_EQ("slow 2026-12-09 10:00:00;", Start("skipper,*/5 * * * *,slow.vbs,overlap=skip",
                                                "2026-12-09 09:59:00|2026-12-09 10:00:00|2026-12-09 10:06:30"))
      << "the 10:05 run fell while the 10:00 run went on";
  EXPECT_EQ("2026-12-09 10:05:00", Stored("QM.JOB.skipper.DUE"));
  std::string folder(MAX_PATH, '\0');
  ASSERT_TRUE(QMR_GetDataFolder(&folder[0], MAX_PATH, TRUE));
  folder.resize(strlen(folder.c_str()));
  SYSTEMTIME today;
  GetLocalTime(&today);
  char day[32];
  snprintf(day, sizeof day, "History\\%04u-%02u-%02u.csv", today.wYear, today.wMonth, today.wDay);
  std::string history = qmtest::ReadTextFile(folder + day);
  EXPECT_NE(std::string::npos, history.find("skipped: still running")) << history;

  SetEnvironmentVariableA("QMTEST.SLOW", "1");
  EXPECT_EQ("slow 2026-12-09 10:00:00;slow 2026-12-09 10:05:00;",
            Start("queuer,*/5 * * * *,slow.vbs,overlap=queue", "2026-12-09 09:59:00|2026-12-09 10:00:00"))
      << "one queued run right after";

  for (std::string name : {"flaky", "flakyjs"}) {
    SetEnvironmentVariableA("QMTEST.FAIL", "5");
    EXPECT_EQ("flaky;flaky;flaky;", Start(name + ",0 3 * * *,count.vbs flaky,retries=2; retrydelay=300",
                                          "2026-12-09 02:59:00|2026-12-09 03:00:10|2026-12-09 03:04:00|"
                                          "2026-12-09 03:05:20|2026-12-09 03:10:00|2026-12-09 03:10:30|"
                                          "2026-12-09 03:30:00"))
        << "the run and two tries, each after its delay: " << name;
    char left[8] = "";
    GetEnvironmentVariableA("QMTEST.FAIL", left, sizeof left);
    EXPECT_STREQ("2", left) << "three failed runs, no fourth";
    EXPECT_NE(std::string::npos, Stored("QM.JOB." + name + ".LAST").find("returned failure"));
  }

  // A hung program past the job's limit: ended, recorded, tried again.
  std::string hang = "\"" + child + "\" hang " + (dir / "grandchild.txt");
  EXPECT_EQ("", Start("hung,0 4 * * *," + hang + ",timeout=1; retries=1; retrydelay=60",
                      "2026-12-09 03:59:00|2026-12-09 04:00:05|2026-12-09 04:01:10"));
  EXPECT_NE(std::string::npos, Stored("QM.JOB.hung.LAST").find("2026-12-09 04:01:10 timed out"))
      << "the retry ran and timed out too: " << Stored("QM.JOB.hung.LAST");
}

// The platform's security calls replaced: every call is written to a log,
// tokens and window stations are tags, and the process is the real helper.
struct Recorder {
  std::vector<std::string> log;
  DWORD logonError = 0;        // LogonUser fails with this when set
  DWORD desktopError = 0;      // OpenDesktop fails with this
  DWORD asUserError = 0;       // CreateProcessAsUser fails with this
  DWORD secondaryError = 0;    // the secondary logon fails with this
  bool logonSid = true;        // the token's groups hold a logon identifier
  std::vector<BYTE> security[2]; // station, desktop: self-relative descriptors
  std::string lastDesktop;
  DWORD lastShowFlags = 0;
  WORD lastShow = 0;
  int closedProcessHandles = 0;
  bool freshLogons = false;    // every logon gets a new logon identifier
  DWORD logonRid = 4242;       // the last logon's: S-1-5-5-0-<logonRid>
  bool localSystem = false;    // this process runs as LocalSystem
  bool eventProcesses = false; // programs are events: set (ended) unless keepRunning
  bool keepRunning = false;
  HANDLE running = NULL;       // the test's handle of the last program kept running
};
Recorder g_rec;

// The log, shared by the starts on two threads; a null line counts a closed
// process handle instead.
CRITICAL_SECTION *LogLock() {
  static CRITICAL_SECTION lock;
  static bool made = (InitializeCriticalSection(&lock), true);
  (void)made;
  return &lock;
}
void Log(const std::string *line) {
  EnterCriticalSection(LogLock());
  if (line)
    g_rec.log.push_back(*line);
  else
    ++g_rec.closedProcessHandles;
  LeaveCriticalSection(LogLock());
}
void Log(const std::string &line) { Log(&line); }

// A second interactive start, begun on another thread while the first has
// the process switched to the interactive window station (inside
// OpenDesktop): whether it got to the window station before the first was
// done with it.
struct TurnProbe {
  bool armed = false;
  CCore *core = nullptr;
  DWORD firstThread = 0;
  HANDLE reached = NULL; // set when the second start opens the window station
  HANDLE thread = NULL;
  bool overlapped = false;
};
TurnProbe g_probe;

DWORD WINAPI SecondStart(void *) {
  long value = 0;
  g_probe.core->CreateProcessAsUser(CP_INTERACTIVE | CP_NOWAIT, qmtest::Text("bob"), qmtest::Text(""),
                                    qmtest::Text("pw"), qmtest::Text("\"" + qmtest::ProgramDirectory() + "qmchild.exe\""),
                                    &value);
  return static_cast<DWORD>(value);
}

HANDLE const kToken = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7001));
HWINSTA const kStation = reinterpret_cast<HWINSTA>(static_cast<INT_PTR>(0x7002));
HWINSTA const kSaved = reinterpret_cast<HWINSTA>(static_cast<INT_PTR>(0x7003));
HDESK const kDesktop = reinterpret_cast<HDESK>(static_cast<INT_PTR>(0x7004));
HANDLE const kSelfToken = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7005));
HANDLE const kStartedToken = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7006)); // the secondary logon's process
const DWORD kStartedRid = 4343;

std::string Name(const void *handle) {
  if (handle == kToken)
    return "token";
  if (handle == kStation)
    return "winsta0";
  if (handle == kSaved)
    return "saved";
  if (handle == kDesktop)
    return "default";
  char text[32];
  snprintf(text, sizeof text, "%p", handle);
  return text;
}

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(value));
  return text;
}

std::string Or(const char *text) { return text ? text : "(null)"; }
std::string Or(const wchar_t *text) {
  if (!text)
    return "(null)";
  std::string out;
  for (; *text; ++text)
    out += static_cast<char>(*text);
  return out;
}

BOOL WINAPI FakeLogon(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD provider, PHANDLE token) {
  Log("LogonUser " + Or(user) + " " + Or(domain) + " " + Or(password) + " " + std::to_string(type) +
                      " " + std::to_string(provider));
  if (g_rec.logonError) {
    SetLastError(g_rec.logonError);
    return FALSE;
  }
  *token = kToken;
  if (g_rec.freshLogons)
    ++g_rec.logonRid;
  return TRUE;
}
BOOL WINAPI FakeImpersonate(HANDLE token) {
  Log("Impersonate " + Name(token));
  return TRUE;
}
BOOL WINAPI FakeRevert() {
  Log("RevertToSelf");
  return TRUE;
}

// The logon's token: Everyone and the logon identifier S-1-5-5-0-<logonRid>;
// the secondary logon's process: S-1-5-5-0-4343; this process: LocalSystem
// when the test says so.
BOOL WINAPI FakeTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data, DWORD size, PDWORD needed) {
  if (token == kSelfToken && kind == TokenUser && g_rec.localSystem) {
    DWORD length = SECURITY_MAX_SID_SIZE;
    TOKEN_USER *user = static_cast<TOKEN_USER *>(data);
    user->User.Sid = user + 1;
    user->User.Attributes = 0;
    return size >= sizeof(TOKEN_USER) + length && CreateWellKnownSid(WinLocalSystemSid, NULL, user + 1, &length);
  }
  if ((token != kToken && token != kStartedToken) || kind != TokenGroups) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  static SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY, nt = SECURITY_NT_AUTHORITY;
  static BYTE everyone[SECURITY_MAX_SID_SIZE], logon[SECURITY_MAX_SID_SIZE];
  InitializeSid(everyone, &world, 1);
  *GetSidSubAuthority(everyone, 0) = SECURITY_WORLD_RID;
  InitializeSid(logon, &nt, 3);
  *GetSidSubAuthority(logon, 0) = SECURITY_LOGON_IDS_RID;
  *GetSidSubAuthority(logon, 1) = 0;
  *GetSidSubAuthority(logon, 2) = token == kStartedToken ? kStartedRid : g_rec.logonRid;
  DWORD want = sizeof(TOKEN_GROUPS) + sizeof(SID_AND_ATTRIBUTES);
  *needed = want;
  if (size < want) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  TOKEN_GROUPS *groups = static_cast<TOKEN_GROUPS *>(data);
  groups->GroupCount = 2;
  groups->Groups[0].Sid = everyone;
  groups->Groups[0].Attributes = SE_GROUP_ENABLED | SE_GROUP_MANDATORY;
  groups->Groups[1].Sid = logon;
  groups->Groups[1].Attributes = SE_GROUP_ENABLED | (g_rec.logonSid ? SE_GROUP_LOGON_ID : 0);
  return TRUE;
}

void NoteStartup(const char *desktop, DWORD flags, WORD show) {
  g_rec.lastDesktop = Or(desktop);
  g_rec.lastShowFlags = flags;
  g_rec.lastShow = show;
}

BOOL WINAPI FakeAsUser(HANDLE token, LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                       LPSECURITY_ATTRIBUTES, BOOL inherit, DWORD flags, LPVOID environment, LPCSTR directory,
                       LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  Log("CreateProcessAsUser " + Name(token) + " inherit=" + std::to_string(inherit) +
                      " flags=" + Hex(flags) + " desktop=" + Or(startup->lpDesktop));
  NoteStartup(startup->lpDesktop, startup->dwFlags, startup->wShowWindow);
  if (g_rec.asUserError) {
    SetLastError(g_rec.asUserError);
    return FALSE;
  }
  if (environment || directory) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (g_rec.eventProcesses) { // an event for a program: set once it "ended"
    info->hProcess = CreateEventA(NULL, TRUE, !g_rec.keepRunning, NULL);
    info->hThread = NULL;
    if (g_rec.keepRunning)
      DuplicateHandle(GetCurrentProcess(), info->hProcess, GetCurrentProcess(), &g_rec.running, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    return info->hProcess != NULL;
  }
  STARTUPINFOA own = *startup;
  own.lpDesktop = NULL;
  return CreateProcessA(application, commandLine, NULL, NULL, inherit, flags, NULL, NULL, &own, info);
}

BOOL WINAPI FakeSecondary(LPCWSTR user, LPCWSTR domain, LPCWSTR password, DWORD logonFlags, LPCWSTR application,
                          LPWSTR commandLine, DWORD creationFlags, LPVOID environment, LPCWSTR directory,
                          LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
  Log("CreateProcessWithLogonW " + Or(user) + " " + Or(domain) + " " + Or(password) +
                      " logon=" + std::to_string(logonFlags) + " flags=" + Hex(creationFlags) +
                      " desktop=" + Or(startup->lpDesktop));
  NoteStartup(Or(startup->lpDesktop).c_str(), startup->dwFlags, startup->wShowWindow);
  if (g_rec.secondaryError) {
    SetLastError(g_rec.secondaryError);
    return FALSE;
  }
  if (environment || directory) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  STARTUPINFOW own = *startup;
  own.lpDesktop = NULL;
  return CreateProcessW(application, commandLine, NULL, NULL, FALSE, creationFlags, NULL, NULL, &own, info);
}

HWINSTA WINAPI FakeGetStation() { return kSaved; }
HWINSTA WINAPI FakeOpenStation(LPCSTR name, BOOL inherit, ACCESS_MASK access) {
  if (g_probe.reached && GetCurrentThreadId() != g_probe.firstThread)
    SetEvent(g_probe.reached);
  Log("OpenWindowStation " + Or(name) + " " + std::to_string(inherit) + " " + Hex(access));
  return kStation;
}
BOOL WINAPI FakeSetStation(HWINSTA station) {
  Log("SetProcessWindowStation " + Name(station));
  return TRUE;
}
BOOL WINAPI FakeCloseStation(HWINSTA station) {
  Log("CloseWindowStation " + Name(station));
  return TRUE;
}
HDESK WINAPI FakeOpenDesktop(LPCSTR name, DWORD flags, BOOL inherit, ACCESS_MASK access) {
  if (g_probe.armed) {
    g_probe.armed = false;
    g_probe.thread = CreateThread(NULL, 0, SecondStart, NULL, 0, NULL);
    // Bounded: the second start gets there at once unless it must wait.
    g_probe.overlapped = WaitForSingleObject(g_probe.reached, 2000) == WAIT_OBJECT_0;
  }
  Log("OpenDesktop " + Or(name) + " " + std::to_string(flags) + " " + std::to_string(inherit) + " " +
                      Hex(access));
  if (g_rec.desktopError) {
    SetLastError(g_rec.desktopError);
    return NULL;
  }
  return kDesktop;
}
BOOL WINAPI FakeCloseDesktop(HDESK desktop) {
  Log("CloseDesktop " + Name(desktop));
  return TRUE;
}

std::vector<BYTE> *SecurityOf(HANDLE object) {
  if (object == kStation)
    return &g_rec.security[0];
  if (object == kDesktop)
    return &g_rec.security[1];
  return nullptr;
}

BOOL WINAPI FakeGetSecurity(HANDLE object, PSECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor, DWORD size,
                            LPDWORD needed) {
  std::vector<BYTE> *stored = SecurityOf(object);
  if (!stored || *what != DACL_SECURITY_INFORMATION) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *needed = static_cast<DWORD>(stored->size());
  if (size < stored->size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(descriptor, stored->data(), stored->size());
  return TRUE;
}

BOOL WINAPI FakeSetSecurity(HANDLE object, PSECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor) {
  Log("SetUserObjectSecurity " + Name(object));
  std::vector<BYTE> *stored = SecurityOf(object);
  if (!stored || *what != DACL_SECURITY_INFORMATION)
    return FALSE;
  DWORD size = 0;
  MakeSelfRelativeSD(descriptor, NULL, &size);
  stored->assign(size, 0);
  return MakeSelfRelativeSD(descriptor, stored->data(), &size);
}

BOOL WINAPI FakeOpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
  *token = process == GetCurrentProcess() ? kSelfToken : kStartedToken;
  if (*token == kStartedToken)
    Log("OpenProcessToken started");
  return TRUE;
}
DWORD WINAPI FakeResumeThread(HANDLE thread) {
  Log("ResumeThread");
  return ResumeThread(thread);
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  if (handle == kSelfToken || handle == kStartedToken)
    return TRUE;
  if (handle == kToken) {
    Log("CloseHandle token");
    return TRUE;
  }
  Log(nullptr);
  return CloseHandle(handle);
}

// A self-relative descriptor whose list holds one entry: Everyone, 0x1F.
std::vector<BYTE> EveryoneDescriptor(bool withList = true) {
  static SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  InitializeSid(everyone, &world, 1);
  *GetSidSubAuthority(everyone, 0) = SECURITY_WORLD_RID;
  DWORD list[64];
  InitializeAcl(reinterpret_cast<PACL>(list), sizeof list, ACL_REVISION);
  AddAccessAllowedAce(reinterpret_cast<PACL>(list), ACL_REVISION, 0x1F, everyone);
  SECURITY_DESCRIPTOR absolute;
  InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&absolute, TRUE, withList ? reinterpret_cast<PACL>(list) : NULL, FALSE);
  DWORD size = 0;
  MakeSelfRelativeSD(&absolute, NULL, &size);
  std::vector<BYTE> out(size);
  MakeSelfRelativeSD(&absolute, out.data(), &size);
  return out;
}

// The entries of a stored list as "type flags mask sid".
std::vector<std::string> Entries(std::vector<BYTE> &descriptor) {
  std::vector<std::string> out;
  BOOL present = FALSE, defaulted = FALSE;
  PACL list = NULL;
  if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &list, &defaulted) || !list)
    return out;
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void *ace = NULL;
    GetAce(list, i, &ace);
    ACCESS_ALLOWED_ACE *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
    char *sid = NULL;
    ConvertSidToStringSidA(&allowed->SidStart, &sid);
    out.push_back(std::to_string(allowed->Header.AceType) + " " + Hex(allowed->Header.AceFlags) + " " +
                  Hex(allowed->Mask) + " " + (sid ? sid : "?"));
    LocalFree(sid);
  }
  return out;
}

class AsUserTest : public ProcessTest {
protected:
  void SetUp() override {
    g_rec = Recorder();
    g_rec.security[0] = EveryoneDescriptor();
    g_rec.security[1] = EveryoneDescriptor();
    ProcessCalls calls = SystemProcessCalls();
    calls.LogonUserA = FakeLogon;
    calls.ImpersonateLoggedOnUser = FakeImpersonate;
    calls.RevertToSelf = FakeRevert;
    calls.GetTokenInformation = FakeTokenInformation;
    calls.CreateProcessAsUserA = FakeAsUser;
    calls.CreateProcessWithLogonW = FakeSecondary;
    calls.GetProcessWindowStation = FakeGetStation;
    calls.OpenWindowStationA = FakeOpenStation;
    calls.SetProcessWindowStation = FakeSetStation;
    calls.CloseWindowStation = FakeCloseStation;
    calls.OpenDesktopA = FakeOpenDesktop;
    calls.CloseDesktop = FakeCloseDesktop;
    calls.GetUserObjectSecurity = FakeGetSecurity;
    calls.SetUserObjectSecurity = FakeSetSecurity;
    calls.CloseHandle = FakeCloseHandle;
    calls.OpenProcessToken = FakeOpenProcessToken;
    calls.ResumeThread = FakeResumeThread;
    g_processCalls = calls;
  }
  void TearDown() override {
    g_processCalls = SystemProcessCalls();
    ProcessTest::TearDown();
  }

  long AsUser(long flags, const std::string &user, const std::string &domain, const std::string &password,
              const std::string &line, HRESULT *status = nullptr) {
    long value = 12345;
    HRESULT hr = core->CreateProcessAsUser(flags, Text(user), Text(domain), Text(password), Text(line), &value);
    if (status)
      *status = hr;
    else
      EXPECT_EQ(value == -1 ? S_FALSE : S_OK, hr);
    return value;
  }

  std::string Program() const { return Quoted(child) + " exit 12"; }
};

const char kEveryone[] = "0 0 1F S-1-1-0";
const char kStationInherit[] = "0 B F0000000 S-1-5-5-0-4242";
const char kStationOwn[] = "0 4 F037F S-1-5-5-0-4242";
const char kDesktopEntry[] = "0 0 F01FF S-1-5-5-0-4242";

TEST_F(AsUserTest, InteractiveStartGrantsTheDesktopThenImpersonatesCreatesAndReverts) {
  EXPECT_EQ(12, AsUser(CP_INTERACTIVE | CP_MINIMIZE, "ann", "", "secret", Program()));
  std::vector<std::string> expected = {
      "LogonUser ann (null) secret 2 0",
      "OpenWindowStation winsta0 0 60000",
      "SetProcessWindowStation winsta0",
      "OpenDesktop default 0 0 60081",
      "SetProcessWindowStation saved",
      "SetUserObjectSecurity winsta0",
      "SetUserObjectSecurity default",
      "Impersonate token",
      "CreateProcessAsUser token inherit=0 flags=30 desktop=winsta0\\default",
      "RevertToSelf",
      "SetUserObjectSecurity winsta0", // the program has ended: its entries go
      "SetUserObjectSecurity default",
      "CloseDesktop default",
      "CloseWindowStation winsta0",
      "CloseHandle token",
  };
  EXPECT_EQ(expected, g_rec.log);
  EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW), g_rec.lastShowFlags);
  EXPECT_EQ(SW_MINIMIZE, g_rec.lastShow);
  EXPECT_EQ(2, g_rec.closedProcessHandles) << "process and thread";
  EXPECT_EQ(std::vector<std::string>{kEveryone}, Entries(g_rec.security[0]));
  EXPECT_EQ(std::vector<std::string>{kEveryone}, Entries(g_rec.security[1]));
  EXPECT_TRUE(Notices().empty());

  // Not waited for: the entries stay while the program may run.
  g_rec.log.clear();
  g_rec.eventProcesses = true;
  EXPECT_EQ(0, AsUser(CP_INTERACTIVE | CP_DETACHED | CP_NOWAIT, "ann", "dom", "secret", Program()));
  EXPECT_EQ((std::vector<std::string>{kEveryone, kStationInherit, kStationOwn}), Entries(g_rec.security[0]));
  EXPECT_EQ((std::vector<std::string>{kEveryone, kDesktopEntry}), Entries(g_rec.security[1]));
  EXPECT_NE(g_rec.log.end(), std::find(g_rec.log.begin(), g_rec.log.end(),
                                       "CreateProcessAsUser token inherit=0 flags=28 desktop=winsta0\\default"))
      << "detached";
  EXPECT_EQ(0u, g_rec.lastShowFlags) << "no show state unless asked";
}

// Every interactive start logs on anew, with a new logon identifier: its
// entries go once its program has ended (at once when waited for, else at
// the next start), so the lists stay bounded however many starts there are.
TEST_F(AsUserTest, EntriesOfEndedProgramsGoSoTheListsStayBounded) {
  g_rec.freshLogons = g_rec.eventProcesses = true;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(0, AsUser(CP_INTERACTIVE | (i % 2 ? CP_NOWAIT : 0), "ann", "", "secret", Program())) << i;
    ASSERT_GE(3u, Entries(g_rec.security[0]).size()) << i;
    ASSERT_GE(2u, Entries(g_rec.security[1]).size()) << i;
  }
  // A program that still runs keeps its entries until a start after its end.
  g_rec.keepRunning = true;
  ASSERT_EQ(0, AsUser(CP_INTERACTIVE | CP_NOWAIT, "ann", "", "secret", Program()));
  const std::string running = "0 0 F01FF S-1-5-5-0-" + std::to_string(g_rec.logonRid);
  g_rec.keepRunning = false;
  ASSERT_EQ(0, AsUser(CP_INTERACTIVE, "ann", "", "secret", Program()));
  EXPECT_EQ((std::vector<std::string>{kEveryone, running}), Entries(g_rec.security[1]));
  SetEvent(g_rec.running);
  CloseHandle(g_rec.running);
  ASSERT_EQ(0, AsUser(CP_INTERACTIVE, "ann", "", "secret", Program()));
  EXPECT_EQ(std::vector<std::string>{kEveryone}, Entries(g_rec.security[0]));
  EXPECT_EQ(std::vector<std::string>{kEveryone}, Entries(g_rec.security[1]));
}

// Two interactive starts at once take turns: the second does not get to the
// window station while the first has the process switched to it.
TEST_F(AsUserTest, ConcurrentStartsTakeTurnsAtTheWindowStation) {
  g_rec.eventProcesses = g_rec.freshLogons = true;
  g_probe = TurnProbe();
  g_probe.core = core;
  g_probe.firstThread = GetCurrentThreadId();
  g_probe.reached = CreateEventA(NULL, TRUE, FALSE, NULL);
  g_probe.armed = true;
  EXPECT_EQ(0, AsUser(CP_INTERACTIVE | CP_NOWAIT, "ann", "", "secret", Program()));
  ASSERT_NE(nullptr, g_probe.thread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_probe.thread, 30000));
  DWORD second = 1;
  GetExitCodeThread(g_probe.thread, &second);
  EXPECT_EQ(0u, second) << "the second start went ahead after the first";
  EXPECT_FALSE(g_probe.overlapped) << "the second start opened the window station while the first had it switched";
  EXPECT_EQ(2, std::count(g_rec.log.begin(), g_rec.log.end(), "SetProcessWindowStation saved"));
  CloseHandle(g_probe.thread);
  CloseHandle(g_probe.reached);
  g_probe = TurnProbe();
}

// The secondary logon logs on anew: its program, started suspended, holds a
// logon identifier of its own (4343 here), which is granted before it runs.
TEST_F(AsUserTest, InteractiveStartThroughTheSecondaryLogon) {
  long flags = CP_INTERACTIVE | CP_LOGON_PROFILE | CP_NETCRED | CP_HIDE | CP_NOWAIT;
  EXPECT_EQ(0, AsUser(flags, "ann", "dom", "secret", Program()));
  EXPECT_EQ("LogonUser ann dom secret 11 0", g_rec.log.front());
  std::vector<std::string> expected = {
      "LogonUser ann dom secret 11 0",
      "OpenWindowStation winsta0 0 60000",
      "SetProcessWindowStation winsta0",
      "OpenDesktop default 0 0 60081",
      "SetProcessWindowStation saved",
      "Impersonate token",
      "CreateProcessWithLogonW ann dom secret logon=3 flags=34 desktop=winsta0\\default",
      "OpenProcessToken started", // as its user, who owns it
      "RevertToSelf",
      "SetUserObjectSecurity winsta0",
      "SetUserObjectSecurity default",
      "ResumeThread",
      "CloseDesktop default",
      "CloseWindowStation winsta0",
      "CloseHandle token",
  };
  EXPECT_EQ(expected, g_rec.log);
  EXPECT_EQ(SW_HIDE, g_rec.lastShow);
  EXPECT_EQ((std::vector<std::string>{kEveryone, "0 0 F01FF S-1-5-5-0-4343"}), Entries(g_rec.security[1]))
      << "the started program's logon, not the first one's";

  // From LocalSystem the secondary logon cannot serve: said as such, and not tried.
  g_rec.log.clear();
  g_rec.localSystem = true;
  EXPECT_EQ(-1, AsUser(flags, "ann", "dom", "secret", Program()));
  EXPECT_EQ("CreateProcessAsUser: The secondary logon, which this start needs, cannot be used from the LocalSystem "
            "account",
            Notices().back());
  g_rec.asUserError = ERROR_PRIVILEGE_NOT_HELD;
  EXPECT_EQ(-1, AsUser(CP_INTERACTIVE, "ann", "dom", "secret", Program()));
  EXPECT_EQ("CreateProcessAsUser: The secondary logon, which this start needs, cannot be used from the LocalSystem "
            "account (" + SystemText(ERROR_PRIVILEGE_NOT_HELD) + ")",
            Notices().back());
  EXPECT_EQ(0, std::count_if(g_rec.log.begin(), g_rec.log.end(),
                             [](const std::string &line) { return line.rfind("CreateProcessWithLogonW", 0) == 0; }));
}

TEST_F(AsUserTest, FailuresReportTheFirstErrorAndReleaseEverything) {
  // The token start fails, then the secondary logon: the first cause is told.
  g_rec.asUserError = ERROR_PRIVILEGE_NOT_HELD;
  g_rec.secondaryError = ERROR_LOGON_FAILURE;
  EXPECT_EQ(-1, AsUser(CP_INTERACTIVE, "ann", "", "secret", Program()));
  ASSERT_EQ(1u, Notices().size());
  EXPECT_EQ("CreateProcessAsUser: " + SystemText(ERROR_PRIVILEGE_NOT_HELD), Notices().back());
  ASSERT_LE(9u, g_rec.log.size());
  std::vector<std::string> tail(g_rec.log.end() - 9, g_rec.log.end());
  std::vector<std::string> expected = {
      "Impersonate token",
      "CreateProcessAsUser token inherit=0 flags=30 desktop=winsta0\\default",
      "CreateProcessWithLogonW ann (null) secret logon=0 flags=34 desktop=winsta0\\default",
      "RevertToSelf",
      "SetUserObjectSecurity winsta0", // nothing runs under the logon: its entries go
      "SetUserObjectSecurity default",
      "CloseDesktop default",
      "CloseWindowStation winsta0",
      "CloseHandle token",
  };
  EXPECT_EQ(expected, tail);

  // The desktop cannot be opened: the window station is put back and
  // closed, nobody is impersonated.
  g_rec = Recorder();
  g_rec.desktopError = ERROR_ACCESS_DENIED;
  EXPECT_EQ(-1, AsUser(CP_INTERACTIVE, "ann", "", "secret", Program()));
  EXPECT_EQ("CreateProcessAsUser: " + SystemText(ERROR_ACCESS_DENIED), Notices().back());
  expected = {
      "LogonUser ann (null) secret 2 0",
      "OpenWindowStation winsta0 0 60000",
      "SetProcessWindowStation winsta0",
      "OpenDesktop default 0 0 60081",
      "SetProcessWindowStation saved",
      "CloseWindowStation winsta0",
      "CloseHandle token",
  };
  EXPECT_EQ(expected, g_rec.log);

  // No logon identifier in the token.
  g_rec = Recorder();
  g_rec.security[0] = g_rec.security[1] = EveryoneDescriptor();
  g_rec.logonSid = false;
  EXPECT_EQ(-1, AsUser(CP_INTERACTIVE, "ann", "", "secret", Program()));
  EXPECT_EQ("CloseHandle token", g_rec.log.back());
  EXPECT_EQ(g_rec.log.end(), std::find(g_rec.log.begin(), g_rec.log.end(), "Impersonate token"));

  // The logon fails: nothing else is tried.
  g_rec = Recorder();
  g_rec.logonError = ERROR_LOGON_FAILURE;
  EXPECT_EQ(-1, AsUser(0, "ann", "", "wrong", Program()));
  EXPECT_EQ("CreateProcessAsUser: " + SystemText(ERROR_LOGON_FAILURE), Notices().back());
  EXPECT_EQ(std::vector<std::string>{"LogonUser ann (null) wrong 2 0"}, g_rec.log);

  // Incompatible flags: the notice, without a logon.
  g_rec = Recorder();
  EXPECT_EQ(-1, AsUser(CP_INTERACTIVE | CP_NTI, "ann", "", "secret", Program()));
  EXPECT_EQ("CreateProcessAsUser: CP_NTI and CP_INTERACTIVE are incompatible", Notices().back());
  EXPECT_TRUE(g_rec.log.empty());

  // A command line without a word fails before the logon.
  EXPECT_EQ(-1, AsUser(0, "ann", "", "secret", " , "));
  EXPECT_EQ("CreateProcessAsUser: The command line names no program", Notices().back());
  EXPECT_TRUE(g_rec.log.empty());

  // Required texts missing (an unset password variable): -1 and a notice
  // that names the argument, without a logon.
  HRESULT status = S_OK;
  EXPECT_EQ(-1, AsUser(0, "ann", "", "", Program(), &status)) << "empty password";
  EXPECT_EQ(S_FALSE, status);
  EXPECT_EQ("CreateProcessAsUser: The password is empty", Notices().back());
  EXPECT_EQ(-1, AsUser(0, "", "", "pw", Program(), &status));
  EXPECT_EQ("CreateProcessAsUser: The user name is empty", Notices().back());
  EXPECT_EQ(-1, AsUser(0, "ann", "", "pw", "", &status));
  EXPECT_EQ("CreateProcessAsUser: The command line is empty", Notices().back());
  EXPECT_EQ(-1, AsUser(0, "ann", std::string(1500, 'd'), "pw", Program(), &status));
  EXPECT_EQ("CreateProcessAsUser: The domain is too long (1500 characters, at most 1023)", Notices().back());
  EXPECT_TRUE(g_rec.log.empty());
}

TEST_F(AsUserTest, NonInteractiveStartWithTheTokenOrTheSecondaryLogonOnly) {
  EXPECT_EQ(12, AsUser(CP_DETACHED, "ann", "dom", "secret", Program()));
  std::vector<std::string> expected = {
      "LogonUser ann dom secret 2 0",
      "Impersonate token",
      "CreateProcessAsUser token inherit=0 flags=20 desktop=",
      "RevertToSelf",
      "CloseHandle token",
  };
  EXPECT_EQ(expected, g_rec.log) << "normal priority only, an empty desktop name";

  g_rec.log.clear();
  EXPECT_EQ(12, AsUser(CP_NTI | CP_NETCRED, "ann", "", "secret", Program()));
  EXPECT_EQ(std::vector<std::string>{"CreateProcessWithLogonW ann (null) secret logon=2 flags=20 desktop="}, g_rec.log)
      << "no logon or impersonation in this process";

  g_rec.log.clear();
  EXPECT_EQ(0, AsUser(CP_LOGON_PROFILE | CP_NOWAIT, "ann", "", "secret", Program()));
  expected = {
      "LogonUser ann (null) secret 2 0",
      "Impersonate token",
      "CreateProcessWithLogonW ann (null) secret logon=1 flags=20 desktop=",
      "RevertToSelf",
      "CloseHandle token",
  };
  EXPECT_EQ(expected, g_rec.log);
  EXPECT_TRUE(Notices().empty());
}

TEST_F(AsUserTest, GrantLeavesAnUnrestrictedObjectAlone) {
  // An object without an access list admits everyone; a list of only the
  // new entries would shut everyone else out.
  g_rec.security[0] = EveryoneDescriptor(false);
  g_rec.security[1] = EveryoneDescriptor(false);
  BYTE logon[SECURITY_MAX_SID_SIZE];
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  InitializeSid(logon, &nt, 3);
  *GetSidSubAuthority(logon, 0) = SECURITY_LOGON_IDS_RID;
  *GetSidSubAuthority(logon, 1) = 0;
  *GetSidSubAuthority(logon, 2) = 4242;
  EXPECT_EQ(0u, GrantDesktopAccess(kStation, kDesktop, logon));
  EXPECT_TRUE(g_rec.log.empty()) << "nothing set";

  // A list too long for another entry: the grant fails with the system's
  // error and sets nothing.
  std::vector<DWORD> big(65532 / sizeof(DWORD));
  PACL list = reinterpret_cast<PACL>(big.data());
  ASSERT_TRUE(InitializeAcl(list, 65532, ACL_REVISION));
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  InitializeSid(everyone, &world, 1);
  *GetSidSubAuthority(everyone, 0) = SECURITY_WORLD_RID;
  while (AddAccessAllowedAce(list, ACL_REVISION, 1, everyone)) {
  }
  SECURITY_DESCRIPTOR absolute;
  InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&absolute, TRUE, list, FALSE);
  DWORD size = 0;
  MakeSelfRelativeSD(&absolute, NULL, &size);
  g_rec.security[0].assign(size, 0);
  ASSERT_TRUE(MakeSelfRelativeSD(&absolute, g_rec.security[0].data(), &size));
  EXPECT_NE(0u, GrantDesktopAccess(kStation, kDesktop, logon));
  EXPECT_TRUE(g_rec.log.empty());
}

TEST_F(AsUserTest, LogonUserHandsOutTokenHandlesThatImpersonate) {
  long handle = 0;
  EXPECT_EQ(S_OK, core->LogonUser(Text("ann"), Text(""), Text("secret"), 3, 0, &handle));
  EXPECT_EQ(std::vector<std::string>{"LogonUser ann (null) secret 3 0"}, g_rec.log) << "type and provider passed through";
  EXPECT_EQ(HT_TOKEN, HandleTypeOf(handle));

  long result = 0;
  EXPECT_EQ(S_OK, core->ImpersonateLoggedOnUser(handle, &result));
  EXPECT_EQ(kTrue, result);
  EXPECT_EQ("Impersonate token", g_rec.log.back()) << "the handle's token";
  EXPECT_EQ(S_OK, core->ImpersonateLoggedOnUser(0x1234, &result));
  EXPECT_EQ("Impersonate " + Name(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x1234))), g_rec.log.back())
      << "a raw token is passed as it is";
  size_t calls = g_rec.log.size();
  EXPECT_EQ(S_FALSE, core->ImpersonateLoggedOnUser(0, &result));
  EXPECT_EQ(kFalse, result);
  EXPECT_EQ(calls, g_rec.log.size()) << "0 is no token";
  EXPECT_EQ(S_OK, core->RevertToSelf(&result));
  EXPECT_EQ(kTrue, result);
  EXPECT_EQ("RevertToSelf", g_rec.log.back());
  EXPECT_EQ(S_OK, core->FreeHandle(handle, &result));
  EXPECT_EQ(0, HandleTypeOf(handle));
  EXPECT_TRUE(Notices().empty());

  g_rec.logonError = ERROR_LOGON_FAILURE;
  handle = 99;
  EXPECT_EQ(S_FALSE, core->LogonUser(Text("ann"), Text("dom"), Text("bad"), 2, 0, &handle));
  EXPECT_EQ(0, handle);
  EXPECT_EQ("LogonUser: " + SystemText(ERROR_LOGON_FAILURE), Notices().back());
  calls = g_rec.log.size();
  EXPECT_EQ(S_FALSE, core->LogonUser(Text("ann"), Text("dom"), Text(""), 2, 0, &handle));
  EXPECT_EQ(S_FALSE, core->LogonUser(Text(""), Text("dom"), Text("pw"), 2, 0, &handle));
  EXPECT_EQ(calls, g_rec.log.size()) << "empty user or password: not tried";
}

// The same methods with the operating system's own calls, for an account
// that does not exist: Windows refuses its logon. Wine's logon is a stub that
// succeeds with a token nothing accepts, while its window stations and
// desktops really open and switch.
TEST_F(ProcessTest, TheSystemsSecurityCallsRefuseAnUnknownAccount) {
  const std::string nobody = "qm-nobody-" + std::to_string(GetCurrentProcessId());
  long handle = 0;
  HRESULT logon = core->LogonUser(Text(nobody), Text(""), Text("pw"), LOGON32_LOGON_INTERACTIVE,
                                  LOGON32_PROVIDER_DEFAULT, &handle);
  EXPECT_TRUE(logon == S_FALSE ||
              qmtest::WineDiffers(logon == S_OK && HandleTypeOf(handle) == HT_TOKEN,
                                  "Wine's LogonUser is a stub that succeeds for any account; Windows refuses an "
                                  "account that does not exist with ERROR_LOGON_FAILURE"));
  long result = kTrue;
  if (logon == S_FALSE) {
    EXPECT_EQ(0, handle);
    EXPECT_EQ(std::vector<std::string>{"LogonUser: " + SystemText(ERROR_LOGON_FAILURE)}, Notices());
  } else {
    // Wine's token (the only way here, required above) is refused where it is used.
    EXPECT_EQ(S_FALSE, core->ImpersonateLoggedOnUser(handle, &result)) << "Wine refuses its own logon token";
    EXPECT_EQ(kFalse, result);
    EXPECT_EQ(S_OK, core->FreeHandle(handle, &result));
  }

  // A real token (this process's own) impersonates and reverts for real.
  HANDLE own = NULL;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_IMPERSONATE, &own));
  HANDLE copy = NULL;
  ASSERT_TRUE(DuplicateToken(own, SecurityImpersonation, &copy));
  EXPECT_EQ(S_OK, core->ImpersonateLoggedOnUser(HandleToLong(copy), &result));
  EXPECT_EQ(kTrue, result);
  HANDLE threadToken = NULL;
  EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken)) << "the thread impersonates";
  if (threadToken)
    CloseHandle(threadToken);
  EXPECT_EQ(S_OK, core->RevertToSelf(&result));
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken)) << "and no longer";
  CloseHandle(copy);
  CloseHandle(own);

  // The interactive start fails at the logon; the process's window station
  // is what it was.
  HWINSTA before = GetProcessWindowStation();
  long value = 0;
  core->CreateProcessAsUser(CP_INTERACTIVE, Text(nobody), Text(""), Text("pw"), Text(child + " exit 1"), &value);
  EXPECT_EQ(-1, value);
  EXPECT_EQ(before, GetProcessWindowStation());
  ASSERT_FALSE(Notices().empty());
  std::string refused = Notices().back();
  EXPECT_TRUE(refused == "CreateProcessAsUser: " + SystemText(ERROR_LOGON_FAILURE) ||
              qmtest::WineDiffers(refused == "CreateProcessAsUser: " + SystemText(ERROR_INVALID_HANDLE),
                                  "Wine's stub logon succeeds, its window station and desktop open and switch "
                                  "for real, and the start fails where the stub token is read "
                                  "(ERROR_INVALID_HANDLE); Windows refuses the logon"))
      << refused;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken)) << "nothing left impersonating";
}

} // namespace
