// A small program the process tests start (built as a console program and,
// for waiting on input, as a windowed one):
//   qmchild exit N           ends with code N
//   qmchild sleep MS N       sleeps, then ends with code N
//   qmchild show             ends with the show state it was given (100: none)
//   qmchild console          ends with 1 when it has a console, else 0
//   qmchild whoami           ends with 1 when started as a .com file, else 2
//   qmchild idle FILE MS     sleeps, writes FILE, then waits for input for
//                            two seconds with a window of its own
//   qmchild hang FILE        starts "qmchild sleep 600000 0" (detached), writes
//                            its process id to FILE and sleeps forever: a
//                            hung program with a grandchild
//   qmchild close WINDOW     asks the window (its number in decimal) to close;
//                            ends with 0 when the request was posted, else 1
#include <windows.h>
#include <stdlib.h>
#include <string.h>

namespace {

int Number(int argc, char **argv, int index, int fallback) {
  return index < argc ? atoi(argv[index]) : fallback;
}

int ShowState() {
  STARTUPINFOA info = {};
  info.cb = sizeof info;
  GetStartupInfoA(&info);
  return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : 100;
}

int StartedAs() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(NULL, path, MAX_PATH);
  size_t length = strlen(path);
  return length > 4 && _stricmp(path + length - 4, ".com") == 0 ? 1 : 2;
}

int IdleAfter(const char *marker, int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
  HWND window = CreateWindowExA(0, "STATIC", "qmchild", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  SetTimer(NULL, 0, 2000, NULL);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    if (message.message == WM_TIMER)
      break;
    DispatchMessageA(&message);
  }
  if (window)
    DestroyWindow(window);
  return 0;
}

// The grandchild's id goes to the file only once it runs.
int HangWithChild(const char *idFile) {
  char self[MAX_PATH] = "";
  GetModuleFileNameA(NULL, self, MAX_PATH);
  char line[MAX_PATH + 40];
  wsprintfA(line, "\"%s\" sleep 600000 0", self);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup, &info))
    return 3;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  char id[16];
  int length = wsprintfA(id, "%lu", info.dwProcessId);
  HANDLE file = CreateFileA(idFile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, id, static_cast<DWORD>(length), &written, NULL);
    CloseHandle(file);
  }
  Sleep(INFINITE);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2)
    return 0;
  const char *mode = argv[1];
  if (strcmp(mode, "exit") == 0)
    return Number(argc, argv, 2, 0);
  if (strcmp(mode, "sleep") == 0) {
    Sleep(static_cast<DWORD>(Number(argc, argv, 2, 0)));
    return Number(argc, argv, 3, 0);
  }
  if (strcmp(mode, "show") == 0)
    return ShowState();
  if (strcmp(mode, "console") == 0)
    return GetConsoleWindow() != NULL || GetStdHandle(STD_OUTPUT_HANDLE) != NULL ? 1 : 0;
  if (strcmp(mode, "whoami") == 0)
    return StartedAs();
  if (strcmp(mode, "close") == 0 && argc >= 3) {
    HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(strtol(argv[2], NULL, 10)));
    return IsWindow(window) && PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (strcmp(mode, "hang") == 0 && argc >= 3)
    return HangWithChild(argv[2]);
  if (strcmp(mode, "idle") == 0 && argc >= 4)
    return IdleAfter(argv[2], Number(argc, argv, 3, 0));
  return 0;
}
