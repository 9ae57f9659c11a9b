// Soak benchmark (a Windows program, run under Wine by tools/bench/soak.sh,
// and with small counts by ctest as soak_test). One scenario per run:
//
//   soak_bench [--check] runs N         N pooled runs; resources sampled after
//                                       a warm-up and at intervals, slopes
//                                       per 1,000 runs
//   soak_bench [--check] stop N pump|busy
//                                       N workers at once, each in a message
//                                       loop (pump) or a loop that never reads
//                                       its messages (busy), then the host's
//                                       stop sequence
//   soak_bench [--check] runaway [recursion|allocation|recursion-vbs]
//                                       endless recursion (JScript) and
//                                       endless allocation fail alone while
//                                       another script keeps running
//   soak_bench [--check] prints N W     W scripts of the running program print
//                                       N lines each at once
//
// It prints its figures; with --check it also ends with exit code 1 when a
// figure shows a clear leak or a hang (generous bounds, never timing).
// QuillmothLib.dll (beside this program) is registered for the run and
// unregistered afterwards.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "QuillmothRun.h"
#include "WineTestSupport.h"

namespace {

bool g_check = false;
int g_failures = 0;
HMODULE g_library = NULL;

void Check(bool ok, const char *what) {
  if (ok)
    return;
  printf("  CHECK FAILED: %s\n", what);
  ++g_failures;
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// ---- Samples of the process's resources ----

// String atoms are numbered 0xC000 to 0xFFFF.
const int kAtomSlots = 0x4000;

// Global atoms in use, counted by filling the free slots with atoms of our
// own and removing them again. Nothing else may add atoms meanwhile.
int GlobalAtomsInUse() {
  std::vector<ATOM> probes;
  char name[32];
  for (int i = 0; i < kAtomSlots + 16; ++i) {
    snprintf(name, sizeof name, "qm-soak-probe-%d", i);
    ATOM atom = GlobalAddAtomA(name);
    if (!atom)
      break;
    probes.push_back(atom);
  }
  for (ATOM atom : probes)
    GlobalDeleteAtom(atom);
  return kAtomSlots - static_cast<int>(probes.size());
}

DWORD ThreadCount(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  DWORD count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == processId)
      ++count;
  CloseHandle(snapshot);
  return count;
}

// Handles of this process. Wine answers GetProcessHandleCount with 0; its
// system handle list counts them for real.
struct HandleEntry {
  ULONG process;
  UCHAR type, flags;
  USHORT value;
  PVOID object;
  ACCESS_MASK access;
};
struct HandleList {
  ULONG count;
  HandleEntry entries[1];
};
typedef LONG(WINAPI *QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);

double HandleCount() {
  DWORD counted = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &counted) && counted > 0)
    return counted;
  QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query)
    return 0;
  std::vector<char> buffer(1 << 20);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    LONG status = query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      const HandleList *list = reinterpret_cast<const HandleList *>(buffer.data());
      double own = 0;
      for (ULONG i = 0; i < list->count; ++i)
        own += list->entries[i].process == GetCurrentProcessId();
      return own;
    }
    buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
  }
  return 0;
}

struct Sample {
  double runs;
  double handles, privateKiB, residentKiB, threads, user, gdi, atoms;
};

Sample TakeSample(double runs) {
  Sample s = {};
  s.runs = runs;
  HANDLE self = GetCurrentProcess();
  s.handles = HandleCount();
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory), sizeof memory);
  s.privateKiB = static_cast<double>(memory.PrivateUsage) / 1024.0;
  s.residentKiB = static_cast<double>(bench::ResidentKiB());
  s.threads = ThreadCount(GetCurrentProcessId());
  s.user = GetGuiResources(self, GR_USEROBJECTS);
  s.gdi = GetGuiResources(self, GR_GDIOBJECTS);
  s.atoms = GlobalAtomsInUse();
  return s;
}

// Least-squares slope of a figure against the run count, per 1,000 runs.
double SlopePerThousand(const std::vector<Sample> &samples, double Sample::*figure) {
  double n = static_cast<double>(samples.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const Sample &s : samples) {
    sx += s.runs;
    sy += s.*figure;
    sxx += s.runs * s.runs;
    sxy += s.runs * (s.*figure);
  }
  double d = n * sxx - sx * sx;
  return d != 0 ? (n * sxy - sx * sy) / d * 1000.0 : 0.0;
}

// ---- A host for the runtime in this process ----

// The relay window of this process, on the main thread: it keeps every
// printed text in order and ends workers by the host's rule.
struct Host {
  std::vector<std::string> texts;
  int errors = 0, exits = 0, started = 0, ended = 0;
  HWND relay = NULL;
  UINT print, exit, error, thread, shutdown;

  static Host *instance;

  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    Host *h = instance;
    if (m == h->print) {
      char text[QMR_TEXT_MAX + 1] = "";
      if (wp) {
        GlobalGetAtomNameA(static_cast<ATOM>(wp), text, sizeof text);
        GlobalDeleteAtom(static_cast<ATOM>(wp));
      }
      h->texts.push_back(text);
      return static_cast<LRESULT>(QMR_DONE);
    }
    if (m == h->error) {
      ++h->errors;
      return static_cast<LRESULT>(QMR_DONE);
    }
    if (m == h->exit) {
      ++h->exits;
      // The host's rule: a worker that is not pooled, or was flushed, ends.
      MurrelContext *context = reinterpret_cast<MurrelContext *>(lp);
      if (!(wp & QMR_FLAG_POOLED) || (wp & QMR_FLAG_FLUSHED)) {
        QMR_Message(context, h->shutdown, 0, 10000);
        QMR_Destroy(context);
      }
      return static_cast<LRESULT>(QMR_DONE);
    }
    if (m == h->thread) {
      ++(lp ? h->started : h->ended);
      return static_cast<LRESULT>(QMR_DONE);
    }
    if (m >= 0xC000)
      return static_cast<LRESULT>(QMR_DONE);
    return DefWindowProcA(w, m, wp, lp);
  }

  Host() {
    instance = this;
    print = RegisterWindowMessageA(QMR_MSG_PRINT);
    exit = RegisterWindowMessageA(QMR_MSG_EXIT);
    error = RegisterWindowMessageA(QMR_MSG_ERROR);
    thread = RegisterWindowMessageA(QMR_MSG_THREAD);
    shutdown = RegisterWindowMessageA(QMR_MSG_SHUTDOWN);
    char title[32];
    snprintf(title, sizeof title, "%lX:Relay", GetCurrentProcessId());
    relay = CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    SetWindowLongPtrA(relay, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc));
    QMR_Own();
  }
  ~Host() {
    QMR_Disown();
    DestroyWindow(relay);
  }

  int Count(const char *prefix) const {
    int n = 0;
    for (const std::string &t : texts)
      n += t.rfind(prefix, 0) == 0;
    return n;
  }
};
Host *Host::instance = NULL;

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool PumpUntil(const std::function<bool()> &done, DWORD milliseconds) {
  DWORD start = GetTickCount();
  for (;;) {
    Pump();
    if (done())
      return true;
    if (GetTickCount() - start > milliseconds)
      return false;
    MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
  }
}

// The host's stop sequence: Stop, QueryStoped at most 130 times 250 ms,
// then FlushPool and WaitExit. Its length in milliseconds.
double StopSequence() {
  double t = Now();
  QMR_Stop();
  for (int i = 0; i < 130 && !QMR_QueryStoped(); ++i)
    PumpUntil([] { return false; }, 250);
  QMR_FlushPool();
  QMR_WaitExit();
  Pump();
  return Now() - t;
}

// ---- The scenarios ----

const char kTrivial[] = "Function main(x)\r\n  main = x & x\r\nEnd Function\r\n";

// A message loop that ends on the stop message, as the shipped scripts do.
const char kPumping[] =
    "Function main(x)\r\n"
    "  Dim core, h, id\r\n"
    "  Set core = CreateObject(\"QuillmothLib.Core\")\r\n"
    "  core.Print \"ready \" & x\r\n"
    "  Do\r\n"
    "    h = core.GetMessage(0, 0)\r\n"
    "    id = core.GetMessageId(h)\r\n"
    "    core.FreeHandle h\r\n"
    "    If id = 1231 Or id = 1233 Or id = 0 Then Exit Do\r\n"
    "  Loop\r\n"
    "End Function\r\n";

const char kBusy[] = "Sub main(x)\r\n  Do\r\n  Loop\r\nEnd Sub\r\n";

const char kRecursion[] =
    "Function Deeper(n)\r\n  Deeper = Deeper(n + 1)\r\nEnd Function\r\n"
    "Function main(x)\r\n  main = Deeper(0)\r\nEnd Function\r\n";

// The same in JScript. Wine's VBScript engine has no check of its stack
// (the thread overflows it and the process stops); its JScript engine
// reports "Out of stack space", as both engines do on Windows.
const char kRecursionJs[] =
    "function deeper(n) { return deeper(n + 1); }\r\n"
    "function main(x) { return deeper(0); }\r\n";

const char kAllocation[] =
    "Function main(x)\r\n  Dim s\r\n  s = \"x\"\r\n  Do\r\n    s = s & s\r\n  Loop\r\nEnd Function\r\n";

// Ticks every 100 ms until stopped.
const char kSteady[] =
    "Function main(x)\r\n"
    "  Dim core, h, id, timer\r\n"
    "  Set core = CreateObject(\"QuillmothLib.Core\")\r\n"
    "  timer = core.SetTimer(100)\r\n"
    "  Do\r\n"
    "    h = core.GetMessage(0, 0)\r\n"
    "    id = core.GetMessageId(h)\r\n"
    "    core.FreeHandle h\r\n"
    "    If id = 275 Then core.Print \"steady\"\r\n"
    "    If id = 1231 Or id = 1233 Or id = 0 Then Exit Do\r\n"
    "  Loop\r\n"
    "End Function\r\n";

int PooledRuns(int runs) {
  Host host;
  const int warmUp = runs < 1000 ? runs / 10 : 200;
  // Each sample fills the atom table once: a few of them suffice.
  const int samples_ = runs >= 2000 ? 20 : 4;
  const int interval = runs / samples_ > 0 ? runs / samples_ : 1;
  std::vector<Sample> samples;
  int failed = 0;
  double started = Now();
  for (int i = 1; i <= warmUp + runs; ++i) {
    Pump();
    if (!QMR_RunScript(QMR_FLAG_POOLED, "trivial.vbs", "a", NULL))
      ++failed;
    if (i >= warmUp && (i - warmUp) % interval == 0)
      samples.push_back(TakeSample(i - warmUp));
  }
  double seconds = (Now() - started) / 1000.0;
  double sampleStart = Now();
  TakeSample(0);
  double sampleMs = Now() - sampleStart;
  const Sample &first = samples.front(), &last = samples.back();
  printf("Pooled runs: %d after %d to warm up, %.1f s with %zu samples of %.0f ms each, %d failed, %d error "
         "reports\n",
         runs, warmUp, seconds, samples.size(), sampleMs, failed, host.errors);
  printf("  %-28s %12s %12s %16s\n", "figure", "after warm-up", "at the end", "slope per 1,000");
  struct Row {
    const char *name;
    double Sample::*figure;
  } rows[] = {{"handles", &Sample::handles},       {"private bytes (KiB)", &Sample::privateKiB},
              {"resident, Linux (KiB)", &Sample::residentKiB}, {"threads", &Sample::threads},
              {"USER objects", &Sample::user},     {"GDI objects", &Sample::gdi},
              {"global atoms in use", &Sample::atoms}};
  for (const Row &row : rows)
    printf("  %-28s %12.0f %12.0f %16.2f\n", row.name, first.*row.figure, last.*row.figure,
           SlopePerThousand(samples, row.figure));

  // Clear leaks only: one object per ten runs, 32 KiB a run.
  double bound = runs / 10.0;
  Check(failed == 0 && host.errors == 0, "every run succeeded");
  Check(last.handles - first.handles < bound, "handles do not grow with the runs");
  Check(last.threads - first.threads <= 2, "threads do not grow with the runs");
  Check(last.user - first.user < bound && last.gdi - first.gdi < bound, "USER and GDI objects do not grow");
  Check(last.atoms - first.atoms < bound, "global atoms do not grow");
  Check(last.privateKiB - first.privateKiB < 32.0 * runs && last.residentKiB - first.residentKiB < 32.0 * runs,
        "memory does not grow with the runs");
  StopSequence();
  return 0;
}

int StopWorkers(int workers, bool pumping) {
  Host host;
  double t = Now();
  int refused = 0;
  for (int i = 0; i < workers; ++i)
    if (!QMR_RunScript(QMR_FLAG_ASYNC, pumping ? "pumping.vbs" : "busy.vbs", std::to_string(i).c_str(), NULL))
      ++refused;
  bool ready = pumping ? PumpUntil([&] { return host.Count("ready ") == workers - refused; }, 300000)
                       : PumpUntil([&] { return host.started == workers - refused; }, 300000);
  double startMs = Now() - t;
  if (!pumping)
    PumpUntil([] { return false; }, 500); // every script is in its loop
  double stopMs = StopSequence();
  // The stop sequence allows 130 polls of 250 ms, then a flush and a wait of
  // up to 10 s for each worker that still answers.
  const double bound = 130 * 250.0 + 60000.0;
  if (pumping)
    PumpUntil([&] { return host.ended == workers - refused; }, 60000);
  printf("%d workers %s: started in %.0f ms (%d refused), stop sequence %.0f ms, %d ended, %d threads left\n",
         workers, pumping ? "in a message loop" : "that never read their messages", startMs, refused, stopMs,
         host.ended, static_cast<int>(ThreadCount(GetCurrentProcessId())));
  Check(refused == 0 && ready, "every worker started");
  Check(stopMs < bound, "the stop sequence ends");
  if (pumping)
    Check(host.ended == workers, "every worker in a message loop stopped and was destroyed");
  fflush(stdout);
  // Workers that never read their messages are left to the end of the
  // process, as the program leaves them.
  if (!pumping) {
    qmtest::CallExport(g_library, "DllUnregisterServer");
    TerminateProcess(GetCurrentProcess(), g_check && g_failures ? 1 : 0);
  }
  return 0;
}

int Runaways(const std::string &which) {
  Host host;
  QMR_RunScript(QMR_FLAG_ASYNC, "steady.vbs", NULL, NULL);
  bool ticking = PumpUntil([&] { return host.Count("steady") >= 2; }, 30000);
  double t = Now();
  int expected = 0;
  // "recursion" is the JScript script; "recursion-vbs" the VBScript one,
  // run by hand only (see above).
  const struct {
    const char *kind, *script;
  } runaways[] = {{"recursion", "recursion.js"}, {"allocation", "allocation.vbs"}, {"recursion-vbs", "recursion.vbs"}};
  for (const auto &runaway : runaways)
    if ((which == "both" && strcmp(runaway.kind, "recursion-vbs") != 0) || which == runaway.kind) {
      QMR_RunScript(QMR_FLAG_ASYNC, runaway.script, NULL, NULL);
      ++expected;
    }
  bool failed = PumpUntil([&] { return host.errors >= expected; }, 240000);
  double failMs = Now() - t;
  int ticks = host.Count("steady");
  bool stillTicking = PumpUntil([&] { return host.Count("steady") >= ticks + 3; }, 30000);
  printf("Runaway scripts (%s): %s after %.0f ms; the steady script %s\n", which.c_str(),
         failed ? "failed" : "did not fail", failMs, stillTicking ? "kept running" : "stopped");
  for (const std::string &text : host.texts)
    if (text.rfind("Error", 0) == 0)
      printf("  %s\n", text.c_str());
  Check(ticking, "the steady script runs");
  Check(failed && host.Count("Error") >= expected, "each endless script ends with an error line");
  Check(stillTicking, "the steady script kept running");
  StopSequence();
  Check(PumpUntil([&] { return host.ended == host.started; }, 60000), "every worker ended");
  return 0;
}

// The running program: W scripts started by one loaded script print N lines
// each; the program copies every console line to its standard output.
int PrintStorm(int prints, int workers) {
  std::string bin = qmtest::ProgramDirectory();
  qmtest::TempDirectory dir("soak-prints");
  qmtest::CopyInto(bin + "Quillmoth.exe", dir.Path());
  qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path());
  qmtest::MakeDirectory(dir / "Scripts");
  qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", dir / "Scripts\\");
  qmtest::WriteTextFile(dir / "Scripts\\AutoRun.vbs", "Function main(x)\r\nEnd Function\r\n");
  qmtest::WriteTextFile(dir / "Scripts\\printer.vbs",
                        "Function main(x)\r\n"
                        "  Dim core, i, n\r\n"
                        "  Set core = NewCore()\r\n"
                        "  n = CLng(ProcessVariable(\"QM.SOAK_PRINTS\"))\r\n"
                        "  For i = 1 To n\r\n"
                        "    core.Print \"storm \" & x & \" \" & i\r\n"
                        "  Next\r\n"
                        "  core.Print \"storm \" & x & \" done\"\r\n"
                        "End Function\r\n");
  qmtest::WriteTextFile(dir / "Scripts\\storm.vbs",
                        "Function main(x)\r\n"
                        "  Dim core, k\r\n"
                        "  Set core = NewCore()\r\n"
                        "  For k = 1 To CLng(ProcessVariable(\"QM.SOAK_WORKERS\"))\r\n"
                        "    core.Run 1, \"printer.vbs\", CStr(k)\r\n"
                        "  Next\r\n"
                        "End Function\r\n");
  SetEnvironmentVariableA("QM.SOAK_PRINTS", std::to_string(prints).c_str());
  SetEnvironmentVariableA("QM.SOAK_WORKERS", std::to_string(workers).c_str());

  qmtest::ChildProcess child;
  double t = Now();
  if (!child.Start(dir / "Quillmoth.exe", "-application -load \"" + dir / "Scripts\\storm.vbs\"", dir.Path(),
                   true)) {
    Check(false, "the program starts");
    return 0;
  }
  HWND console = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth", 30000);
  std::string output;
  auto done = [&] {
    output = child.ReadOutput();
    size_t n = 0;
    for (size_t at = output.find(" done"); at != std::string::npos; at = output.find(" done", at + 1))
      ++n;
    return n >= static_cast<size_t>(workers);
  };
  bool finished = qmtest::WaitUntil(done, 600000);
  double ms = Now() - t;

  // Every worker's lines, in its own order.
  std::map<int, int> next;
  int disorder = 0, lines = 0;
  size_t start = 0;
  for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    int k = 0, i = 0;
    if (sscanf(output.c_str() + start, "storm %d %d", &k, &i) == 2) {
      ++lines;
      if (i != next[k] + 1)
        ++disorder;
      next[k] = i;
    }
  }
  HWND box = console ? GetDlgItem(console, 1003) : NULL;
  DWORD_PTR limit = 0, length = 0;
  if (box) {
    SendMessageTimeoutA(box, EM_GETLIMITTEXT, 0, 0, SMTO_ABORTIFHUNG, 5000, &limit);
    SendMessageTimeoutA(box, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
  }
  printf("Print storm: %d scripts x %d prints in %.0f ms; %d lines on standard output, %d out of order; "
         "output box %lu of %lu characters\n",
         workers, prints, ms, lines, disorder, static_cast<unsigned long>(length),
         static_cast<unsigned long>(limit));
  Check(console != NULL, "the console came up");
  Check(finished, "every script printed all its lines (no hang)");
  printf("  every line arrived, each script's in its order: %s\n",
         lines == prints * workers && disorder == 0 ? "yes" : "no");
  Check(lines == prints * workers, "no line was lost");
  Check(disorder == 0, "each script's lines came in its order");
  Check(box && length <= limit, "the output box keeps its limit");
  if (console)
    PostMessageA(console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
  Check(child.WaitExit(120000), "the program ends after its stop sequence");
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  int arg = 1;
  if (arg < argc && strcmp(argv[arg], "--check") == 0) {
    g_check = true;
    ++arg;
  }
  std::string scenario = arg < argc ? argv[arg++] : "";
  auto number = [&](int fallback) { return arg < argc ? atoi(argv[arg++]) : fallback; };

  std::string bin = qmtest::ProgramDirectory();
  g_library = LoadLibraryA((bin + "QuillmothLib.dll").c_str());
  if (FAILED(qmtest::CallExport(g_library, "DllRegisterServer"))) {
    fprintf(stderr, "QuillmothLib.dll could not be registered\n");
    return 2;
  }
  qmtest::TempDirectory dir("soak");
  bench::WriteTextFile(dir / "StdLib.vbs", "' empty\r\n");
  bench::WriteTextFile(dir / "trivial.vbs", kTrivial);
  bench::WriteTextFile(dir / "pumping.vbs", kPumping);
  bench::WriteTextFile(dir / "busy.vbs", kBusy);
  bench::WriteTextFile(dir / "StdLib.js", "// empty\r\n");
  bench::WriteTextFile(dir / "recursion.vbs", kRecursion);
  bench::WriteTextFile(dir / "recursion.js", kRecursionJs);
  bench::WriteTextFile(dir / "allocation.vbs", kAllocation);
  bench::WriteTextFile(dir / "steady.vbs", kSteady);
  qmtest::PathPrefix path(dir.Path());

  if (scenario == "runs") {
    PooledRuns(number(10000));
  } else if (scenario == "stop") {
    int workers = number(256);
    bool pumping = !(arg < argc && strcmp(argv[arg], "busy") == 0);
    StopWorkers(workers, pumping);
  } else if (scenario == "runaway") {
    Runaways(arg < argc ? argv[arg] : "both");
  } else if (scenario == "prints") {
    int prints = number(10000);
    PrintStorm(prints, number(8));
  } else {
    fprintf(stderr, "usage: soak_bench [--check] runs N | stop N pump|busy | runaway [kind] | prints N W\n");
    return 2;
  }
  qmtest::CallExport(g_library, "DllUnregisterServer");
  fflush(stdout);
  return g_check && g_failures ? 1 : 0;
}
