// Runtime benchmark (a Windows program, run under Wine by
// tools/bench/runtime-bench.sh). Prints, side by side, the median time to
// run a trivial script (a) on a claimed pooled worker, (b) on a new unpooled
// worker and (c) as a new cscript.exe process, and the memory an idle pooled
// worker costs.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <algorithm>
#include <string>
#include <vector>

#include "BenchSupport.h"
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

SIZE_T WorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
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

} // namespace

int main() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "qm-bench\\";
  CreateDirectoryA(dir.c_str(), NULL);
  bench::WriteTextFile(dir + "StdLib.vbs", "Function Twice(x)\r\n  Twice = x & x\r\nEnd Function\r\n");
  bench::WriteTextFile(dir + "trivial.vbs", "Function main(x)\r\n  main = Twice(x)\r\nEnd Function\r\n");
  bench::WriteTextFile(dir + "trivial-cscript.vbs",
            "Function Twice(x)\r\n  Twice = x & x\r\nEnd Function\r\n"
            "Function main(x)\r\n  main = Twice(x)\r\nEnd Function\r\nmain \"a\"\r\n");
  char path[32768];
  GetEnvironmentVariableA("PATH", path, sizeof path);
  SetEnvironmentVariableA("PATH", (dir + ";" + path).c_str());

  HWND relay = bench::CreateSwallowingRelay();
  QMR_Own();

  const int runs = 25;
  std::vector<double> pooled, unpooled, process;
  MurrelContext *worker = QMR_RunScript(QMR_FLAG_POOLED, "trivial.vbs", "a", NULL); // warm
  for (int i = 0; i < runs; ++i) {
    double t = Now();
    MurrelContext *again = QMR_RunScript(QMR_FLAG_POOLED, "trivial.vbs", "a", NULL);
    pooled.push_back(Now() - t);
    if (again != worker)
      fprintf(stderr, "pooled run %d did not reuse the worker\n", i);
  }
  for (int i = 0; i < runs; ++i) {
    double t = Now();
    QMR_RunScript(0, "trivial.vbs", "a", NULL);
    unpooled.push_back(Now() - t);
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

  // Idle pooled workers, each started and loaded as a pool run leaves it.
  const int idle = 32;
  UINT startup = RegisterWindowMessageA(QMR_MSG_STARTUP);
  UINT load = RegisterWindowMessageA(QMR_MSG_LOAD);
  SIZE_T before = WorkingSet();
  std::vector<MurrelContext *> workers;
  for (int i = 0; i < idle; ++i) {
    MurrelContext *w = QMR_Create(QMR_FLAG_POOLED);
    QMR_Message(w, startup, 0, 10000);
    QMR_Message(w, load, GlobalAddAtomA("StdLib.vbs"), 10000);
    QMR_Message(w, load, GlobalAddAtomA("trivial.vbs"), 10000);
    workers.push_back(w);
  }
  Sleep(500);
  SIZE_T after = WorkingSet();

  double a = Median(pooled), b = Median(unpooled), c = Median(process);
  printf("Trivial script, median of %d runs (milliseconds):\n", runs);
  printf("  (a) claimed pooled worker   %8.2f\n", a);
  printf("  (b) new unpooled worker     %8.2f   (b)/(a) = %.1f\n", b, a > 0 ? b / a : 0.0);
  printf("  (c) new cscript.exe process %8.2f   (c)/(a) = %.1f\n", c, a > 0 ? c / a : 0.0);
  printf("Idle pooled workers: %d, working set growth %.1f MiB, %.0f KiB per worker\n", idle,
         static_cast<double>(after - before) / 1048576.0,
         static_cast<double>(after - before) / 1024.0 / idle);

  UINT shutdown = RegisterWindowMessageA(QMR_MSG_SHUTDOWN);
  workers.push_back(worker);
  for (MurrelContext *w : workers) {
    QMR_Message(w, shutdown, 0, 10000);
    QMR_Destroy(w);
  }
  QMR_Disown();
  DestroyWindow(relay);
  return 0;
}
