// Runtime benchmark (a Windows program, run under Wine by
// tools/bench/runtime-bench.sh). Prints, side by side, the median time to
// run a trivial script (a) on a claimed pooled worker, (b) on a new unpooled
// worker and (c) as a new cscript.exe process, pooled runs of scripts that
// fail (d) at run time and (e) at load, a script written for the console
// host (w) pooled and (x) under cscript.exe, and the memory an idle pooled
// worker costs. The relay window lives on the thread that waits for the runs, as in
// the program. With "breakdown" after the host name it also drives one
// pooled worker step by step through the exports (claim, reset, the two
// loads, the run) and prints the median time of each step. Then the waits
// that must end however a worker behaves: a request to a worker whose script
// never yields (with another thread sending to the waiting one), and the
// destruction of workers. With "console" instead of a host name it opens the
// host's console in this process and times its start-up settling wait (also
// restarted by a stale probe) and how soon its tray icon follows the engine.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "FakeNotificationArea.h"
#include "QuillmothApp.h"
#include "QuillmothDlg.h"
#include "QuillmothRun.h"

namespace {

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Memory {
  SIZE_T workingSet;
  SIZE_T privateBytes;
  SIZE_T residentKiB; // of the host process, where the system shows it
};

Memory MemoryUse() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                       sizeof counters);
  return {counters.WorkingSetSize, counters.PrivateUsage, bench::ResidentKiB()};
}

bool RunProcess(const std::string &commandLine) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, 60000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

// The host's console reads its messages between runs; a thread that has not
// for a few seconds counts as hung, and sends to it fail at once.
void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
    DispatchMessageA(&msg);
}

// One pooled run taken apart the way QMR_RunScript does it, timed step by
// step from the caller's side, in rounds that alternate with whole runs
// (the claim is what a whole run costs beyond its four requests). Then, for
// comparison, the pieces of a load: the request alone (a load of an empty
// file), the atom that carries the name, the file's size and time stamp,
// and the system's search for the name.
void PrintBreakdown(MurrelContext *worker, const std::string &dir) {
  const UINT reset = RegisterWindowMessageA(QMR_MSG_RESET);
  const UINT load = RegisterWindowMessageA(QMR_MSG_LOAD);
  const UINT run = RegisterWindowMessageA(QMR_MSG_RUN);
  const int rounds = 101;
  std::vector<double> wholes, resets, stdlibs, scripts, runs, empties, atoms, stats, searches;
  for (int i = 0; i < rounds; ++i) {
    PumpMessages();
    double t = Now();
    QMR_RunScript(QMR_FLAG_POOLED, "trivial.vbs", "a", NULL);
    wholes.push_back(Now() - t);
    PumpMessages();
    QMR_SetFlags(worker, QMR_GetFlags(worker) | QMR_FLAG_BUSY); // the claim
    t = Now();
    QMR_Message(worker, reset, 0, 10000);
    resets.push_back(Now() - t);
    t = Now();
    QMR_Message(worker, load, GlobalAddAtomA("StdLib.vbs"), 10000);
    stdlibs.push_back(Now() - t);
    t = Now();
    QMR_Message(worker, load, GlobalAddAtomA("trivial.vbs"), 10000);
    scripts.push_back(Now() - t);
    t = Now();
    QMR_Message(worker, run, GlobalAddAtomA("a"), INFINITE); // clears the busy bit
    runs.push_back(Now() - t);
  }
  Sleep(20);
  for (int i = 0; i < rounds; ++i) {
    double t = Now();
    QMR_Message(worker, load, GlobalAddAtomA("empty.vbs"), 10000);
    empties.push_back(Now() - t);
    t = Now();
    ATOM atom = GlobalAddAtomA("trivial.vbs");
    char name[MAX_PATH];
    GlobalGetAtomNameA(atom, name, sizeof name);
    GlobalDeleteAtom(atom);
    atoms.push_back(Now() - t);
    t = Now();
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExA((dir + "trivial.vbs").c_str(), GetFileExInfoStandard, &data);
    stats.push_back(Now() - t);
    t = Now();
    char found[MAX_PATH];
    SearchPathA(NULL, "trivial.vbs", NULL, sizeof found, found, NULL);
    searches.push_back(Now() - t);
  }
  double parts = Median(resets) + Median(stdlibs) + Median(scripts) + Median(runs);
  printf("Breakdown of a pooled run, median of %d rounds (milliseconds):\n", rounds);
  printf("  whole run                                %8.3f\n", Median(wholes));
  printf("  claim (whole run less the four requests) %8.3f\n", Median(wholes) - parts);
  printf("  QMR_RESET (a fresh engine)               %8.3f\n", Median(resets));
  printf("  QMR_LOAD StdLib.vbs                      %8.3f\n", Median(stdlibs));
  printf("  QMR_LOAD the script                      %8.3f\n", Median(scripts));
  printf("  QMR_RUN (main and its reply)             %8.3f\n", Median(runs));
  printf("  for comparison: QMR_LOAD of an empty file %7.3f\n", Median(empties));
  printf("  for comparison: add, read, delete an atom %7.3f\n", Median(atoms));
  printf("  for comparison: a file's size and time    %7.3f\n", Median(stats));
  printf("  for comparison: the search for the script %7.3f\n", Median(searches));
}

// Another thread that keeps sending to a window until told to stop.
struct Sender {
  HWND target;
  HANDLE over;
  static DWORD WINAPI Proc(LPVOID param) {
    Sender *self = static_cast<Sender *>(param);
    UINT message = RegisterWindowMessageA("QM_BENCH_SEND");
    do {
      DWORD_PTR reply = 0;
      SendMessageTimeoutA(self->target, message, 0, 0, SMTO_NORMAL, 10000, &reply);
    } while (WaitForSingleObject(self->over, 20) == WAIT_TIMEOUT);
    return 0;
  }
};

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A worker whose script never yields: a request it never acknowledges,
// waited for with a 600 ms time-out while another thread sends to the
// waiting one; then its destruction, which waits for the thread and ends it.
// Also the destruction of a worker whose loop an unknown request ended.
void PrintStuckWorkers(HWND relay, const std::string &dir) {
  std::string mark = dir + "looping";
  DeleteFileA(mark.c_str());
  std::string script = "Sub main(x)\r\n  CreateObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" + mark +
                       "\").Close\r\n  Do\r\n  Loop\r\nEnd Sub\r\n";
  bench::WriteTextFile(dir + "endless.vbs", script.c_str());
  MurrelContext *stuck = QMR_RunScript(QMR_FLAG_ASYNC, "endless.vbs", NULL, NULL);
  for (DWORD begin = GetTickCount(); stuck && !Exists(mark) && GetTickCount() - begin < 30000;)
    Sleep(10);
  if (!stuck || !Exists(mark)) {
    fprintf(stderr, "the endless script did not start\n");
    return;
  }
  Sender sender = {relay, CreateEventA(NULL, TRUE, FALSE, NULL)};
  HANDLE thread = CreateThread(NULL, 0, Sender::Proc, &sender, 0, NULL);
  const UINT reset = RegisterWindowMessageA(QMR_MSG_RESET);
  std::vector<double> waits;
  for (int i = 0; i < 5; ++i) {
    double t = Now();
    QMR_Message(stuck, reset, 0, 600);
    waits.push_back(Now() - t);
  }
  SetEvent(sender.over);
  while (thread && MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0)
    PumpMessages();
  if (thread)
    CloseHandle(thread);
  CloseHandle(sender.over);
  double t = Now();
  QMR_Destroy(stuck);
  double stuckDestroy = Now() - t;

  std::vector<double> ended;
  for (int i = 0; i < 25; ++i) {
    MurrelContext *worker = QMR_Create(0);
    if (!worker)
      break;
    QMR_Message(worker, WM_USER + 77, 0, 0);
    t = Now();
    QMR_Destroy(worker);
    ended.push_back(Now() - t);
    PumpMessages();
  }
  printf("Waits that end however the worker behaves (milliseconds):\n");
  printf("  %-72s %8.1f\n",
         ("request to a never-yielding worker, 600 ms time-out, sends meanwhile, median of " +
          std::to_string(waits.size())).c_str(),
         Median(waits));
  printf("  %-72s %8.1f\n", "destroying that worker (its wait runs out, the thread is ended), one run", stuckDestroy);
  printf("  %-72s %8.2f\n",
         ("destroying a worker an unknown request ended, median of " + std::to_string(ended.size())).c_str(),
         Median(ended));
}

// --- the host's console, in this process ---

// The output box's text.
std::string ConsoleOutput(CQuillmothDlg &console) {
  HWND box = GetDlgItem(console.Handle(), IDC_OUTPUT);
  std::vector<char> text(GetWindowTextLengthA(box) + 2, '\0');
  GetWindowTextA(box, text.data(), static_cast<int>(text.size()));
  return text.data();
}

// Pumps this thread's messages until the condition holds; false after the
// limit.
template <typename Done> bool PumpUntil(Done done, DWORD milliseconds) {
  DWORD begin = GetTickCount();
  while (!done()) {
    if (GetTickCount() - begin > milliseconds)
      return false;
    PumpMessages();
    MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

struct StaleProbe {
  HWND console;
  DWORD after;
  static DWORD WINAPI Proc(LPVOID param) {
    StaleProbe *self = static_cast<StaleProbe *>(param);
    Sleep(self->after);
    PostMessageA(self->console, WM_NULL, 0, GetTickCount() - 5000);
    return 0;
  }
};

void CloseConsole(CQuillmothDlg *console) {
  if (console->Handle())
    SendMessageA(console->Handle(), g_hostMsg.shutdown, 0, 0);
  PumpMessages();
  delete console;
}

// Opens the console and times it to "Ready."; with a stale probe posted
// that far into the settling wait when staleAfter is not 0.
double OpenToReady(DWORD staleAfter) {
  CQuillmothDlg *console = new CQuillmothDlg();
  double t = Now();
  if (!console->Create(NULL, GetModuleHandleA(NULL))) {
    delete console;
    return -1;
  }
  StaleProbe probe = {console->Handle(), staleAfter};
  HANDLE thread = staleAfter ? CreateThread(NULL, 0, StaleProbe::Proc, &probe, 0, NULL) : NULL;
  bool ready = PumpUntil([&] { return ConsoleOutput(*console).find("Ready.") != std::string::npos; }, 60000);
  double elapsed = Now() - t;
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  CloseConsole(console);
  return ready ? elapsed : -1;
}

int ConsoleBench() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "qm-bench-console\\";
  CreateDirectoryA(dir.c_str(), NULL);
  bench::WriteTextFile(dir + "StdLib.vbs", "Function Twice(x)\r\n  Twice = x & x\r\nEnd Function\r\n");
  // AutoRun's pooled worker stays: the engine runs until it is stopped.
  bench::WriteTextFile(dir + "AutoRun.vbs", "Sub main(startedAt)\r\nEnd Sub\r\n");
  // A script written for the console host: no main, its arguments read
  // through WScript, its result the Quit code.
  bench::WriteTextFile(dir + "console-style.vbs",
                       "n = WScript.Arguments.Count\r\nIf WScript.Arguments.Named.Exists(\"v\") Then n = n + 1\r\n"
                       "WScript.Quit n\r\n");
  char path[32768];
  GetEnvironmentVariableA("PATH", path, sizeof path);
  SetEnvironmentVariableA("PATH", (dir + ";" + path).c_str());
  g_variables.InitVariableStore("Brenlow Software", "Quillmoth", "QM.ENVIRONMENT", "QM.LAST_ERROR");
  SetEnvironmentVariableA("QM.IS_SERVICE", "0");
  SetEnvironmentVariableA("QM.POOL_SIZE", "16");
  // The console's lines would go to standard output: the figures only.
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, NULL);

  std::vector<double> plain, stale;
  for (int i = 0; i < 3; ++i) {
    plain.push_back(OpenToReady(0));
    stale.push_back(OpenToReady(1000));
  }

  // Suspend and resume with the console running, timed until the tray
  // icon's tip says so; the tray is looked at every 2 seconds.
  std::vector<double> stopped, running;
  {
    qmtest::FakeNotificationArea tray;
    CQuillmothDlg *console = new CQuillmothDlg();
    if (console->Create(NULL, GetModuleHandleA(NULL)) &&
        PumpUntil([&] { return !tray.tips.empty() && tray.tips.back() == "Quillmoth - running"; }, 60000)) {
      HWND suspend = GetDlgItem(console->Handle(), IDC_SUSPEND);
      // Each click at another point between two looks at the tray.
      auto idle = [](DWORD milliseconds) { PumpUntil([] { return false; }, milliseconds); };
      for (int i = 0; i < 5; ++i) {
        idle(i * 400);
        double t = Now();
        SendMessageA(console->Handle(), WM_COMMAND, MAKEWPARAM(IDC_SUSPEND, BN_CLICKED), reinterpret_cast<LPARAM>(suspend));
        if (!PumpUntil([&] { return tray.tips.back() == "Quillmoth - stopped"; }, 30000))
          break;
        stopped.push_back(Now() - t);
        idle(1900 - i * 400);
        t = Now();
        SendMessageA(console->Handle(), WM_COMMAND, MAKEWPARAM(IDC_SUSPEND, BN_CLICKED), reinterpret_cast<LPARAM>(suspend));
        if (!PumpUntil([&] { return tray.tips.back() == "Quillmoth - running"; }, 30000))
          break;
        running.push_back(Now() - t);
      }
    }
    CloseConsole(console);
  }
  SetStdHandle(STD_OUTPUT_HANDLE, output);
  auto largest = [](const std::vector<double> &v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); };
  printf("Console (milliseconds; -1 where it never came):\n");
  printf("  %-72s %8.0f\n", ("open to \"Ready.\" (settling wait 2000), median of " + std::to_string(plain.size())).c_str(),
         Median(plain));
  printf("  %-72s %8.0f\n",
         ("the same, a stale probe 1000 ms in (restarts the wait), median of " + std::to_string(stale.size())).c_str(),
         Median(stale));
  printf("  %-72s %8.0f %8.0f\n",
         ("suspend until the tray says stopped (within 2000), median, largest of " + std::to_string(stopped.size())).c_str(),
         Median(stopped), largest(stopped));
  printf("  %-72s %8.0f %8.0f\n",
         ("resume until the tray says running (within 2000), median, largest of " + std::to_string(running.size())).c_str(),
         Median(running), largest(running));
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "console") == 0)
    return ConsoleBench();
  // The host the workers use: ours by default, "ScriptControl" for the
  // Script Control, through the same variable an administrator would set.
  const char *host = argc > 1 ? argv[1] : "ActiveScript";
  bool breakdown = argc > 2 && strcmp(argv[2], "breakdown") == 0;
  SetEnvironmentVariableA("QM.SCRIPT_HOST", host);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "qm-bench\\";
  CreateDirectoryA(dir.c_str(), NULL);
  bench::WriteTextFile(dir + "StdLib.vbs", "Function Twice(x)\r\n  Twice = x & x\r\nEnd Function\r\n");
  bench::WriteTextFile(dir + "trivial.vbs", "Function main(x)\r\n  main = Twice(x)\r\nEnd Function\r\n");
  bench::WriteTextFile(dir + "empty.vbs", "");
  bench::WriteTextFile(dir + "fails.vbs", "Function main(x)\r\n  Err.Raise 1000, \"bench\", \"failed\"\r\nEnd Function\r\n");
  bench::WriteTextFile(dir + "broken.vbs", "Function main(x)\r\n  If Then Else\r\nEnd Function\r\n");
  bench::WriteTextFile(dir + "trivial-cscript.vbs",
            "Function Twice(x)\r\n  Twice = x & x\r\nEnd Function\r\n"
            "Function main(x)\r\n  main = Twice(x)\r\nEnd Function\r\nmain \"a\"\r\n");
  // A script written for the console host: no main, its arguments read
  // through WScript, its result the Quit code.
  bench::WriteTextFile(dir + "console-style.vbs",
                       "n = WScript.Arguments.Count\r\nIf WScript.Arguments.Named.Exists(\"v\") Then n = n + 1\r\n"
                       "WScript.Quit n\r\n");
  char path[32768];
  GetEnvironmentVariableA("PATH", path, sizeof path);
  SetEnvironmentVariableA("PATH", (dir + ";" + path).c_str());

  HWND relay = bench::CreateSwallowingRelay();
  QMR_Own();

  const int runs = 25;
  std::vector<double> pooled, unpooled, process, runError, loadError;
  MurrelContext *worker = QMR_RunScript(QMR_FLAG_POOLED, "trivial.vbs", "a", NULL); // warm
  // Idle pooled workers, each started and loaded as a pool run leaves it,
  // measured first (after one worker has loaded the engine's libraries) so
  // that no freed worker's memory is reused; then they are retired.
  const int idle = 32;
  UINT startup = RegisterWindowMessageA(QMR_MSG_STARTUP);
  UINT load = RegisterWindowMessageA(QMR_MSG_LOAD);
  Memory before = MemoryUse();
  std::vector<MurrelContext *> workers;
  for (int i = 0; i < idle; ++i) {
    MurrelContext *w = QMR_Create(QMR_FLAG_POOLED);
    QMR_Message(w, startup, 0, 10000);
    QMR_Message(w, load, GlobalAddAtomA("StdLib.vbs"), 10000);
    QMR_Message(w, load, GlobalAddAtomA("trivial.vbs"), 10000);
    workers.push_back(w);
  }
  Sleep(500);
  Memory after = MemoryUse();
  UINT shutdown = RegisterWindowMessageA(QMR_MSG_SHUTDOWN);
  for (MurrelContext *w : workers) {
    QMR_Message(w, shutdown, 0, 10000);
    QMR_Destroy(w);
  }
  // Pooled runs with the run history on and off, interleaved so that both
  // meet the same machine.
  std::vector<double> pooledUnrecorded;
  for (int i = 0; i < 2 * runs; ++i) {
    bool recorded = i % 2 == 0;
    SetEnvironmentVariableA("QM.HISTORY", recorded ? NULL : "off");
    PumpMessages();
    double t = Now();
    MurrelContext *again = QMR_RunScript(QMR_FLAG_POOLED, "trivial.vbs", "a", NULL);
    (recorded ? pooled : pooledUnrecorded).push_back(Now() - t);
    if (again != worker)
      fprintf(stderr, "pooled run %d did not reuse the worker\n", i);
  }
  SetEnvironmentVariableA("QM.HISTORY", NULL);
  for (int i = 0; i < runs; ++i) {
    PumpMessages();
    double t = Now();
    QMR_RunScript(0, "trivial.vbs", "a", NULL);
    unpooled.push_back(Now() - t);
  }
  for (int i = 0; i < runs; ++i) {
    PumpMessages();
    double t = Now();
    QMR_RunScript(QMR_FLAG_POOLED, "fails.vbs", "a", NULL);
    runError.push_back(Now() - t);
    PumpMessages();
    t = Now();
    QMR_RunScript(QMR_FLAG_POOLED, "broken.vbs", "a", NULL);
    loadError.push_back(Now() - t);
  }
  std::string cscript = "cscript.exe //nologo \"" + dir + "trivial-cscript.vbs\"";
  for (int i = 0; i < 10; ++i) {
    double t = Now();
    if (!RunProcess(cscript)) {
      fprintf(stderr, "cannot start cscript.exe\n");
      break;
    }
    process.push_back(Now() - t);
  }

  // The same console-style file pooled and as a new cscript.exe each time.
  std::vector<double> consolePooled, consoleProcess;
  for (int i = 0; i < runs; ++i) {
    PumpMessages();
    double t = Now();
    QMR_RunScript(QMR_FLAG_POOLED, "console-style.vbs", "a /v", NULL);
    consolePooled.push_back(Now() - t);
  }
  std::string consoleStyle = "cscript.exe //nologo \"" + dir + "console-style.vbs\" a /v";
  for (int i = 0; i < 10; ++i) {
    double t = Now();
    if (!RunProcess(consoleStyle))
      break;
    consoleProcess.push_back(Now() - t);
  }

  double a = Median(pooled), b = Median(unpooled), c = Median(process);
  printf("Script host %s. Trivial script, median of %d runs (milliseconds):\n", host, runs);
  double h = Median(pooledUnrecorded);
  printf("  (a) claimed pooled worker   %8.2f   run history on\n", a);
  printf("  (h) the same, history off   %8.2f   (a)/(h) = %.2f\n", h, h > 0 ? a / h : 0.0);
  printf("  (b) new unpooled worker     %8.2f   (b)/(a) = %.1f\n", b, a > 0 ? b / a : 0.0);
  printf("  (c) new cscript.exe process %8.2f   (c)/(a) = %.1f\n", c, a > 0 ? c / a : 0.0);
  double d = Median(runError), e = Median(loadError);
  printf("  (d) pooled, run-time error  %8.2f   (d)/(a) = %.1f\n", d, a > 0 ? d / a : 0.0);
  printf("  (e) pooled, syntax error    %8.2f   (e)/(a) = %.1f\n", e, a > 0 ? e / a : 0.0);
  double w = Median(consolePooled), x = Median(consoleProcess);
  printf("Console-style script (WScript.Arguments, WScript.Quit, no main), the same file:\n");
  printf("  (w) claimed pooled worker   %8.2f\n", w);
  printf("  (x) new cscript.exe process %8.2f   (x)/(w) = %.1f\n", x, w > 0 ? x / w : 0.0);
  printf("Idle pooled workers: %d; per worker: working set +%.0f KiB, private bytes +%.0f KiB", idle,
         static_cast<double>(after.workingSet - before.workingSet) / 1024.0 / idle,
         static_cast<double>(after.privateBytes - before.privateBytes) / 1024.0 / idle);
  if (before.residentKiB && after.residentKiB)
    printf(", resident (Linux) +%.0f KiB", static_cast<double>(after.residentKiB - before.residentKiB) / idle);
  printf("\n");
  if (breakdown)
    PrintBreakdown(worker, dir);
  PrintStuckWorkers(relay, dir);

  QMR_Message(worker, shutdown, 0, 10000);
  QMR_Destroy(worker);
  QMR_Disown();
  DestroyWindow(relay);
  return 0;
}
