// How long the installed service takes to stop with 16 busy workers, under
// the control manager (Wine's services.exe on the bench): the program as
// shipped runs from a folder of its own, its AutoRun starts 15 more copies
// of a script that computes in slices between looks at its queue, and once
// all 16 work, the stop is sent. Printed per round: the time from the stop
// control to "stopped", the check points the control manager was shown
// meanwhile, and how many scripts saw their stop request.
//
//   service_stop_bench.exe [rounds] [work]
// work: square roots per 100 ms tick and worker (20000; 0 = idle workers).
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int kWorkers = 16;
// The program dispatches as a service only under its own name; the bench
// refuses to run where that service is already installed.
const char kServiceName[] = "Quillmoth";

// The busy loop both scripts share: a 100 ms timer, and on each tick a slice
// of arithmetic; the stop request ends the loop, and each worker leaves a
// file saying it started and one saying it saw the stop.
const char kBusyLoop[] =
    "Sub Mark(tag, what)\r\n"
    "  AppendLine ProcessVariable(\"QM.DEFAULT_DIR\") & what & \"-\" & tag & \".txt\", what\r\n"
    "End Sub\r\n"
    "Sub BusyLoop(core, tag)\r\n"
    "  Dim timer, msg, running, i, s\r\n"
    "  Mark tag, \"started\"\r\n"
    "  timer = core.SetTimer(100)\r\n"
    "  running = True\r\n"
    "  Do While running\r\n"
    "    msg = core.GetMessage(0, 0)\r\n"
    "    Select Case core.GetMessageId(msg)\r\n"
    "      Case WM_TIMER\r\n"
    "        s = 0\r\n"
    "        For i = 1 To SLICE\r\n"
    "          s = s + Sqr(i)\r\n"
    "        Next\r\n"
    "      Case QMR_CTL_STOP, QMR_CTL_QUIT\r\n"
    "        running = False\r\n"
    "      Case Else\r\n"
    "        core.DispatchMessage msg\r\n"
    "    End Select\r\n"
    "    core.FreeHandle msg\r\n"
    "  Loop\r\n"
    "  core.KillTimer TimerId16(timer)\r\n"
    "  Mark tag, \"stopped\"\r\n"
    "End Sub\r\n";

std::string ProgramDirectory() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  if (length == 0 || length >= sizeof path)
    return std::string();
  std::string text(path, length);
  return text.substr(0, text.rfind('\\') + 1);
}

bool WriteText(const std::string &path, const std::string &text) {
  FILE *file = fopen(path.c_str(), "wb");
  if (!file)
    return false;
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  return fclose(file) == 0 && written;
}

int CountFiles(const std::string &pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return 0;
  int count = 0;
  do
    ++count;
  while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

void DeleteFiles(const std::string &directory, const char *pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do
    DeleteFileA((directory + found.cFileName).c_str());
  while (FindNextFileA(search, &found));
  FindClose(search);
}

DWORD State(SC_HANDLE service, SERVICE_STATUS *status) {
  return QueryServiceStatus(service, status) ? status->dwCurrentState : 0;
}

// Polls every 10 ms until the condition holds; false after the limit.
template <typename Condition> bool WaitFor(Condition done, DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= milliseconds)
      return false;
    Sleep(10);
  }
  return true;
}

// Stops and deletes the service when it runs the bench's program, and waits
// until the control manager has let it go (a service is deleted once its
// process has ended and its last handle is closed).
void RemoveBenchService(SC_HANDLE manager, const std::string &command) {
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (!service)
    return;
  BYTE buffer[8192];
  DWORD needed = 0;
  QUERY_SERVICE_CONFIGA *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer);
  bool ours = QueryServiceConfigA(service, config, sizeof buffer, &needed) && config->lpBinaryPathName &&
              command == config->lpBinaryPathName;
  if (ours) {
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    WaitFor([&] { return State(service, &status) == SERVICE_STOPPED || State(service, &status) == 0; }, 60000);
    DWORD processId = 0;
    SERVICE_STATUS_PROCESS process;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&process), sizeof process,
                             &needed))
      processId = process.dwProcessId;
    HANDLE running = processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : NULL;
    if (running) {
      WaitForSingleObject(running, 60000);
      CloseHandle(running);
    }
    DeleteService(service);
  }
  CloseServiceHandle(service);
  if (ours)
    WaitFor(
        [&] {
          SC_HANDLE left = OpenServiceA(manager, kServiceName, SERVICE_QUERY_STATUS);
          if (left)
            CloseServiceHandle(left);
          return left == NULL;
        },
        30000);
}

typedef HRESULT(STDAPICALLTYPE *RegistrationCall)();

RegistrationCall Export(HMODULE library, const char *name) {
  // Through the generic function type, which any function pointer may be cast to.
  return library ? reinterpret_cast<RegistrationCall>(
                       reinterpret_cast<void (*)()>(GetProcAddress(library, name)))
                 : NULL;
}

} // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 3;
  if (rounds < 1)
    rounds = 1;
  long work = argc > 2 ? atol(argv[2]) : 20000;
  if (work < 0)
    work = 0;
  std::string bin = ProgramDirectory();

  // The Core object the scripts create, registered for the bench's run.
  HMODULE library = LoadLibraryA((bin + "QuillmothLib.dll").c_str());
  RegistrationCall registerServer = Export(library, "DllRegisterServer");
  RegistrationCall unregisterServer = Export(library, "DllUnregisterServer");
  if (!registerServer || !unregisterServer || registerServer() != S_OK) {
    fprintf(stderr, "cannot register %sQuillmothLib.dll\n", bin.c_str());
    return 1;
  }

  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "qm-stop-bench\\";
  std::string scripts = dir + "Scripts\\";
  CreateDirectoryA(dir.c_str(), NULL);
  CreateDirectoryA(scripts.c_str(), NULL);
  std::string exe = dir + "Quillmoth.exe";
  bool copied = CopyFileA((bin + "Quillmoth.exe").c_str(), exe.c_str(), FALSE) &&
                CopyFileA((bin + "QuillmothRun.dll").c_str(), (dir + "QuillmothRun.dll").c_str(), FALSE) &&
                CopyFileA((bin + "Scripts\\StdLib.vbs").c_str(), (scripts + "StdLib.vbs").c_str(), FALSE);
  std::string slice = "Const SLICE = " + std::to_string(work) + "\r\n";
  std::string autoRun = slice + kBusyLoop +
                        "Function main(x)\r\n"
                        "  Dim core, n\r\n"
                        "  Set core = NewCore()\r\n"
                        "  For n = 1 To " + std::to_string(kWorkers - 1) + "\r\n"
                        "    core.Run 1, \"Busy.vbs\", CStr(n)\r\n"
                        "  Next\r\n"
                        "  BusyLoop core, \"0\"\r\n"
                        "End Function\r\n";
  std::string busy = slice + kBusyLoop +
                     "Function main(x)\r\n"
                     "  BusyLoop NewCore(), x\r\n"
                     "End Function\r\n";
  copied = copied && WriteText(scripts + "AutoRun.vbs", autoRun) && WriteText(scripts + "Busy.vbs", busy);

  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  std::string command = "\"" + exe + "\"";
  // What an interrupted earlier run of the bench left behind (its own
  // program, nobody else's service) goes first.
  if (manager)
    RemoveBenchService(manager, command);
  SC_HANDLE service =
      (copied && manager)
          ? CreateServiceA(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START,
                           SERVICE_ERROR_NORMAL, command.c_str(), NULL, NULL, NULL, NULL, NULL)
          : NULL;
  int result = 0;
  if (!service) {
    fprintf(stderr, "cannot set up the service (error %lu)\n", GetLastError());
    result = 1;
  }

  printf("Stop of the service with %d workers, each computing %ld square roots per 100 ms tick, under the "
         "control manager\n",
         kWorkers, work);
  printf("%-6s %12s %12s %14s %12s\n", "round", "stop (ms)", "check points", "wait hint (ms)", "saw stop");
  std::vector<double> figures;
  for (int round = 1; service && round <= rounds; ++round) {
    DeleteFiles(scripts, "started-*.txt");
    DeleteFiles(scripts, "stopped-*.txt");
    SERVICE_STATUS status = {};
    if (!StartServiceA(service, 0, NULL)) {
      fprintf(stderr, "round %d: the service was not started (error %lu)\n", round, GetLastError());
      result = 1;
      break;
    }
    if (!WaitFor([&] { return State(service, &status) == SERVICE_RUNNING; }, 60000) ||
        !WaitFor([&] { return CountFiles(scripts + "started-*.txt") == kWorkers; }, 120000)) {
      fprintf(stderr, "round %d: the service or its %d workers did not start (%d started, error %lu)\n", round,
              kWorkers, CountFiles(scripts + "started-*.txt"), GetLastError());
      result = 1;
      break;
    }
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    DWORD highest = 0, hint = 0;
    bool sent = ControlService(service, SERVICE_CONTROL_STOP, &status);
    bool stopped = sent && WaitFor(
                               [&] {
                                 DWORD state = State(service, &status);
                                 if (state == SERVICE_STOP_PENDING) {
                                   highest = std::max(highest, status.dwCheckPoint);
                                   hint = status.dwWaitHint;
                                 }
                                 return state == SERVICE_STOPPED;
                               },
                               300000);
    QueryPerformanceCounter(&end);
    double milliseconds = 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart;
    if (!stopped) {
      fprintf(stderr, "round %d: the service did not stop (error %lu)\n", round, GetLastError());
      result = 1;
      break;
    }
    figures.push_back(milliseconds);
    printf("%-6d %12.0f %12lu %14lu %9d/%d\n", round, milliseconds, highest, hint,
           CountFiles(scripts + "stopped-*.txt"), kWorkers);
  }
  if (!figures.empty()) {
    std::sort(figures.begin(), figures.end());
    printf("median stop: %.0f ms over %zu rounds\n", figures[figures.size() / 2], figures.size());
  }

  if (service)
    CloseServiceHandle(service);
  if (manager) {
    RemoveBenchService(manager, command);
    CloseServiceHandle(manager);
  }
  unregisterServer();
  FreeLibrary(library);
  DeleteFiles(scripts, "*");
  DeleteFiles(dir, "*");
  RemoveDirectoryA(scripts.c_str());
  RemoveDirectoryA(dir.c_str());
  return result;
}
