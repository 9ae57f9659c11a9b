// The diagnostic log beside the program: one line per event.
#include "QuillmothRun.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const DWORD kLogLimit = 0x100000; // a larger log is started afresh

// The program's path with everything from its last "." replaced by ".log".
bool LogFilePath(char *path, size_t size) {
  DWORD length = GetModuleFileNameA(NULL, path, static_cast<DWORD>(size));
  if (length == 0 || length >= size)
    return false;
  char *dot = strrchr(path, '.');
  size_t stem = dot ? static_cast<size_t>(dot - path) : length;
  if (stem + sizeof ".log" > size)
    return false;
  memcpy(path + stem, ".log", sizeof ".log");
  return true;
}

} // namespace

extern "C" void QMR_API QMR_DebugWrite(const char *text) {
  char path[MAX_PATH];
  if (!text || !LogFilePath(path, sizeof path))
    return;
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (GetFileAttributesExA(path, GetFileExInfoStandard, &info) && info.nFileSizeLow > kLogLimit)
    DeleteFileA(path);
  FILE *log = fopen(path, "a");
  if (!log)
    return;
  fputs(text, log);
  fputs("\n", log);
  fclose(log);
}

extern "C" void QMR_API QMR_DebugMessage(int line, const char *where, const char *format, ...) {
  char buffer[QMR_TEXT_MAX + 1];
  int used = snprintf(buffer, sizeof buffer, "[%s](thread=%lu)(line=%d): ", where ? where : "",
                      GetCurrentThreadId(), line);
  if (used < 0)
    return;
  // The message is cut where the buffer ends.
  if (format && static_cast<size_t>(used) < sizeof buffer - 1) {
    va_list args;
    va_start(args, format);
    vsnprintf(buffer + used, sizeof buffer - used, format, args);
    va_end(args);
  }
  QMR_DebugWrite(buffer);
}
