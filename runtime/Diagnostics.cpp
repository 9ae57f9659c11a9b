// The diagnostic log beside the program: one line per event.
#include "QuillmothRun.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>

namespace {

const DWORD kLogLimit = 0x100000; // a larger log is kept as ".old" and begun anew

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

// The log moves to "<log>.old", replacing the one kept before.
void KeepAsOld(const char *path) {
  std::string old = std::string(path) + ".old";
  MoveFileExA(path, old.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace

extern "C" void QMR_API QMR_StartLog(void) {
  char path[MAX_PATH];
  if (LogFilePath(path, sizeof path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
    KeepAsOld(path);
}

extern "C" void QMR_API QMR_DebugWrite(const char *text) {
  char path[MAX_PATH];
  if (!text || !LogFilePath(path, sizeof path))
    return;
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (GetFileAttributesExA(path, GetFileExInfoStandard, &info) && (info.nFileSizeHigh || info.nFileSizeLow > kLogLimit))
    KeepAsOld(path);
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
