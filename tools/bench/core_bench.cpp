// Late-binding benchmark of the Core object (a Windows program, run under
// Wine by tools/bench/core-bench.sh). A VBScript on a runtime worker calls
// CheckTime and, as the floor of a dispatch call, GetMessageId(0) in loops;
// the figures are printed side by side. Then one tick of the job table
// (RunDueJobs, what NextTick does at a tick) with 100 declared jobs, beside
// a bare loop of CheckTime over the same 100 specifications. QuillmothLib.dll (beside this
// program) is registered for the run and unregistered afterwards.
#include <windows.h>
#include <stdio.h>
#include <string>

#include "BenchSupport.h"
#include "QuillmothRun.h"

namespace {

typedef HRESULT(STDAPICALLTYPE *RegisterFn)();

HRESULT CallExport(HMODULE module, const char *name) {
  RegisterFn fn = reinterpret_cast<RegisterFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return fn ? fn() : E_FAIL;
}

// Each loop runs `calls` times; the best of three rounds is kept. Timer has
// a resolution of a few milliseconds, so the loops are long.
const char kScript[] =
    "Function TimeLoop(core, what, calls)\r\n"
    "  Dim i, t, r\r\n"
    "  t = Timer\r\n"
    "  Select Case what\r\n"
    "    Case 0\r\n"
    "      For i = 1 To calls: r = i: Next\r\n"
    "    Case 1\r\n"
    "      For i = 1 To calls: r = core.GetMessageId(0): Next\r\n"
    "    Case 2\r\n"
    "      For i = 1 To calls: r = core.CheckTime(1, False, \"* * * * *\"): Next\r\n"
    "    Case 3\r\n"
    "      For i = 1 To calls: r = core.CheckTime(2, False, \"0,15,30,45 8-18 * * 2-6 _ _ 0\"): Next\r\n"
    "  End Select\r\n"
    "  TimeLoop = Timer - t\r\n"
    "End Function\r\n"
    "Function main(x)\r\n"
    "  Dim core, what, round, best, t, calls\r\n"
    "  Set core = CreateObject(\"QuillmothLib.Core\")\r\n"
    "  calls = CLng(x)\r\n"
    "  For what = 0 To 3\r\n"
    "    best = 1E+30\r\n"
    "    For round = 1 To 3\r\n"
    "      t = TimeLoop(core, what, calls)\r\n"
    "      If t < best Then best = t\r\n"
    "    Next\r\n"
    "    main = main & best & \" \"\r\n"
    "  Next\r\n"
    "  core.DestroyCronContext 1, 2\r\n"
    "End Function\r\n";

// 100 specifications that do not fall due while the benchmark runs (the
// year 2001), declared as jobs; each pass is one tick of the real clock.
const char kJobsScript[] =
    "Function main(x)\r\n"
    "  Dim core, i, n, r, round, t, b, specs(99), jobs, bare\r\n"
    "  Set core = CreateObject(\"QuillmothLib.Core\")\r\n"
    "  n = CLng(x)\r\n"
    "  For i = 0 To 99\r\n"
    "    specs(i) = (i * 7 Mod 60) & \" \" & (i Mod 24) & \" * * 2-6 2001\"\r\n"
    "    AddJob core, \"bench\" & i, specs(i), \"none.vbs\", \"timeout=60; catchup=1\"\r\n"
    "  Next\r\n"
    "  RunDueJobs core\r\n"
    "  jobs = 1E+30 : bare = 1E+30\r\n"
    "  For round = 1 To 3\r\n"
    "    t = Timer\r\n"
    "    For r = 1 To n: RunDueJobs core: Next\r\n"
    "    t = Timer - t : If t < jobs Then jobs = t\r\n"
    "    t = Timer\r\n"
    "    For r = 1 To n\r\n"
    "      For i = 0 To 99: b = core.CheckTime(i + 1, False, specs(i)): Next\r\n"
    "    Next\r\n"
    "    t = Timer - t : If t < bare Then bare = t\r\n"
    "  Next\r\n"
    "  core.DestroyCronContext 1, 100\r\n"
    "  main = jobs & \" \" & bare\r\n"
    "End Function\r\n";

// A number pair answered by a script, with either decimal separator.
bool ReadNumbers(VARIANT &value, double *numbers, int count) {
  if (FAILED(VariantChangeType(&value, &value, 0, VT_BSTR)))
    return false;
  char text[256] = "";
  WideCharToMultiByte(CP_ACP, 0, V_BSTR(&value), -1, text, sizeof text, NULL, NULL);
  for (char *c = text; *c; ++c)
    if (*c == ',')
      *c = '.';
  int read = count == 2 ? sscanf(text, "%lf %lf", &numbers[0], &numbers[1]) : 0;
  if (read != count)
    fprintf(stderr, "unexpected answer from the script: %s\n", text);
  return read == count;
}

} // namespace

int main() {
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, sizeof self);
  std::string bin(self);
  bin.erase(bin.find_last_of('\\') + 1);
  HMODULE library = LoadLibraryA((bin + "QuillmothLib.dll").c_str());
  if (!library || FAILED(CallExport(library, "DllRegisterServer"))) {
    fprintf(stderr, "QuillmothLib.dll could not be registered\n");
    return 1;
  }

  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "qm-core-bench\\";
  CreateDirectoryA(dir.c_str(), NULL);
  // The shipped StdLib: the job table is part of it.
  if (!CopyFileA((bin + "Scripts\\StdLib.vbs").c_str(), (dir + "StdLib.vbs").c_str(), FALSE))
    fprintf(stderr, "no Scripts\\StdLib.vbs beside the program\n");
  bench::WriteTextFile(dir + "bench.vbs", kScript);
  char path[32768];
  GetEnvironmentVariableA("PATH", path, sizeof path);
  SetEnvironmentVariableA("PATH", (dir + ";" + path).c_str());
  // Scripts, and StdLib first of all, come from there (the prefix may store
  // a Scripts folder of an earlier program).
  SetEnvironmentVariableA("QM.DEFAULT_DIR", dir.c_str());

  HWND relay = bench::CreateSwallowingRelay();
  QMR_Own();

  const int calls = 20000;
  VARIANT value;
  VariantInit(&value);
  char argument[16];
  snprintf(argument, sizeof argument, "%d", calls);
  QMR_RunScript(0, "bench.vbs", argument, &value);
  double seconds[4] = {0, 0, 0, 0};
  if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
    char text[256] = "";
    WideCharToMultiByte(CP_ACP, 0, V_BSTR(&value), -1, text, sizeof text, NULL, NULL);
    // The script's number text follows the locale; read both separators.
    for (char *c = text; *c; ++c)
      if (*c == ',')
        *c = '.';
    if (sscanf(text, "%lf %lf %lf %lf", &seconds[0], &seconds[1], &seconds[2], &seconds[3]) != 4)
      fprintf(stderr, "unexpected answer from the script: %s\n", text);
  } else {
    fprintf(stderr, "the script gave no answer\n");
  }
  VariantClear(&value);

  auto rate = [&](int i) {
    double net = seconds[i] - seconds[0];
    return net > 0 ? calls / net : 0.0;
  };
  printf("Late-bound calls from VBScript (%d calls a loop, best of 3, empty loop subtracted)\n", calls);
  printf("  %-44s %12s %10s\n", "method", "calls/s", "us/call");
  const char *names[4] = {"", "GetMessageId(0)  (floor of a dispatch call)", "CheckTime(1, False, \"* * * * *\")",
                          "CheckTime(2, False, 8 fields with lists)"};
  for (int i = 1; i < 4; ++i)
    printf("  %-44s %12.0f %10.2f\n", names[i], rate(i), rate(i) > 0 ? 1e6 / rate(i) : 0.0);
  if (rate(2) > 0)
    printf("  CheckTime costs %.2f times a trivial call (%.2f with the longer specification)\n",
           rate(1) / rate(2), rate(3) > 0 ? rate(1) / rate(3) : 0.0);

  bench::WriteTextFile(dir + "jobs.vbs", kJobsScript);
  const int ticks = 200;
  snprintf(argument, sizeof argument, "%d", ticks);
  VariantInit(&value);
  QMR_RunScript(0, "jobs.vbs", argument, &value);
  double tick[2] = {0, 0};
  if (ReadNumbers(value, tick, 2)) {
    printf("\nOne tick with 100 declared jobs, none due (%d ticks a round, best of 3)\n", ticks);
    printf("  %-44s %10s\n", "", "ms/tick");
    printf("  %-44s %10.2f\n", "RunDueJobs (NextTick's work at a tick)", 1000.0 * tick[0] / ticks);
    printf("  %-44s %10.2f\n", "bare loop: CheckTime over the 100 specs", 1000.0 * tick[1] / ticks);
    if (tick[1] > 0)
      printf("  the job table costs %.2f times the bare loop\n", tick[0] / tick[1]);
  }
  VariantClear(&value);

  QMR_FlushPool();
  QMR_WaitExit();
  QMR_Disown();
  CallExport(library, "DllUnregisterServer");
  FreeLibrary(library);
  DestroyWindow(relay);
  return 0;
}
