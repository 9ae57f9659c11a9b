#include "EngineStatus.h"
#include "QuillmothRun.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const char kStatusFile[] = "Engine.status";

std::string StatusPath(BOOL toRead) {
  char folder[MAX_PATH];
  return QMR_GetDataFolder(folder, sizeof folder, toRead) ? std::string(folder) + kStatusFile : std::string();
}

std::string LocalTimeText() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
           now.wMinute, now.wSecond);
  return text;
}

bool ProcessAlive(unsigned long id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  if (!process)
    return GetLastError() == ERROR_ACCESS_DENIED; // there, but not ours to open
  bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

} // namespace

void WriteEngineStatus(const EngineStatus &status) {
  std::string path = StatusPath(FALSE);
  if (path.empty())
    return;
  std::string text = "process=" + std::to_string(GetCurrentProcessId()) + "\r\nstate=" + status.state +
                     "\r\nmode=" + status.mode + "\r\nworkers=" + std::to_string(status.workers) +
                     "\r\nupdated=" + LocalTimeText() + "\r\n";
  // Written beside and moved over, so a reader never sees half a file.
  std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL) && written == text.size();
  CloseHandle(file);
  if (!ok || !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    DeleteFileA(temporary.c_str());
}

bool ReadEngineStatus(EngineStatus &status, bool *processAlive) {
  *processAlive = false;
  std::string path = StatusPath(TRUE);
  FILE *file = path.empty() ? NULL : fopen(path.c_str(), "rb");
  if (!file)
    return false;
  char line[256];
  while (fgets(line, sizeof line, file)) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.pop_back();
    size_t equals = text.find('=');
    if (equals == std::string::npos)
      continue;
    std::string name = text.substr(0, equals), value = text.substr(equals + 1);
    if (name == "process")
      status.processId = strtoul(value.c_str(), NULL, 10);
    else if (name == "state")
      status.state = value;
    else if (name == "mode")
      status.mode = value;
    else if (name == "workers")
      status.workers = strtol(value.c_str(), NULL, 10);
    else if (name == "updated")
      status.updated = value;
  }
  fclose(file);
  if (status.processId == 0)
    return false;
  *processAlive = ProcessAlive(status.processId);
  return true;
}
