#include "HistoryCommands.h"
#include "EngineStatus.h"
#include "CronDue.h"
#include "HistoryReader.h"
#include "QuillmothApp.h"
#include "HistoryRetention.h"
#include "QuillmothRun.h"
#include "TextColumns.h"

#include <windows.h>
#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <vector>

namespace {

const size_t kDefaultCount = 20;
const size_t kStatusRuns = 10;

// The console the command was typed in: standard output when it was
// redirected, else the parent's console (the program has none of its own).
class CommandOutput {
public:
  CommandOutput() {
    m_out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!m_out || m_out == INVALID_HANDLE_VALUE) {
      m_out = NULL;
      if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        m_out = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        if (m_out == INVALID_HANDLE_VALUE)
          m_out = NULL;
        else
          m_owned = true;
      }
    }
    DWORD mode = 0;
    m_console = m_out && GetConsoleMode(m_out, &mode);
  }
  ~CommandOutput() {
    if (m_owned)
      CloseHandle(m_out);
  }
  // One line of UTF-8 text.
  void Line(const std::string &utf8) {
    if (!m_out)
      return;
    std::wstring wide = Wide(utf8 + "\r\n");
    DWORD written = 0;
    if (m_console) {
      WriteConsoleW(m_out, wide.data(), static_cast<DWORD>(wide.size()), &written, NULL);
      return;
    }
    // Redirected: the system's code page, as the program's other texts.
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), NULL, 0, NULL, NULL);
    if (bytes <= 0)
      return;
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], bytes, NULL, NULL);
    WriteFile(m_out, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
  }

private:
  static std::wstring Wide(const std::string &utf8) {
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
    if (length > 0)
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
  }
  HANDLE m_out = NULL;
  bool m_owned = false;
  bool m_console = false;
};

std::string ReadWholeFile(const std::string &path) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
    bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

bool Contains(const std::string &text, const std::string &part) {
  if (part.empty())
    return true;
  std::string a = text, b = part;
  CharLowerBuffA(&a[0], static_cast<DWORD>(a.size()));
  CharLowerBuffA(&b[0], static_cast<DWORD>(b.size()));
  return a.find(b) != std::string::npos;
}

// The latest `count` runs whose script or command line holds the filter,
// oldest first: the day files are read from the newest back.
std::vector<RunRecord> LatestRuns(size_t count, const std::string &filter, std::string *folderOut) {
  std::vector<RunRecord> latest;
  char root[MAX_PATH];
  if (!QMR_GetDataFolder(root, sizeof root, TRUE))
    return latest;
  std::string folder = std::string(root) + "History\\";
  *folderOut = folder;
  std::vector<std::string> days;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "*.csv").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      HistoryDate date;
      if (ParseHistoryDayFileName(data.cFileName, date))
        days.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  std::sort(days.begin(), days.end(), [](const std::string &a, const std::string &b) {
    return lstrcmpiA(a.c_str(), b.c_str()) > 0;
  });
  for (const std::string &day : days) {
    HistoryReadResult read = ReadHistory(ReadWholeFile(folder + day));
    for (auto record = read.records.rbegin(); record != read.records.rend() && latest.size() < count; ++record)
      if (Contains(record->ran, filter))
        latest.push_back(*record);
    if (latest.size() >= count)
      break;
  }
  std::reverse(latest.begin(), latest.end());
  return latest;
}

bool Succeeded(const RunRecord &record) {
  return record.outcome == RunOutcome::Returned || (record.outcome == RunOutcome::ExitCode && record.exitCode == 0);
}

std::string Duration(long long ms) {
  char text[32];
  if (ms < 10000)
    snprintf(text, sizeof text, "%lld ms", ms);
  else
    snprintf(text, sizeof text, "%lld s", ms / 1000);
  return text;
}

// A long path or command line keeps its end, where the file's name is.
std::string TailOf(const std::string &utf8, size_t maxBytes) {
  if (utf8.size() <= maxBytes)
    return utf8;
  size_t start = utf8.size() - (maxBytes - 3);
  while (start < utf8.size() && (static_cast<unsigned char>(utf8[start]) & 0xC0) == 0x80)
    ++start; // never from the middle of a character
  return "..." + utf8.substr(start);
}

const size_t kRanWidth = 60;

void PrintRuns(CommandOutput &out, const std::vector<RunRecord> &runs) {
  std::vector<std::vector<std::string>> rows;
  for (const RunRecord &run : runs)
    rows.push_back({FormatHistoryTime(run.start), Duration(run.durationMs), OutcomeText(run.outcome, run.exitCode),
                    TailOf(run.ran, kRanWidth), run.error.empty() ? run.returnValue : run.error});
  for (const std::string &line : AlignColumns({"Started", "Took", "Outcome", "Script or program", "Result or error"},
                                              rows, kRanWidth))
    out.Line(line);
}

std::string QueryServiceStateText(const char *serviceName) {
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  if (!manager)
    return "unknown (the service control manager cannot be asked)";
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS);
  std::string state = "not installed";
  if (service) {
    SERVICE_STATUS status = {};
    state = "installed, state unknown";
    if (QueryServiceStatus(service, &status)) {
      switch (status.dwCurrentState) {
      case SERVICE_RUNNING: state = "installed, running"; break;
      case SERVICE_STOPPED: state = "installed, stopped"; break;
      case SERVICE_START_PENDING: state = "installed, starting"; break;
      case SERVICE_STOP_PENDING: state = "installed, stopping"; break;
      case SERVICE_PAUSED: state = "installed, paused"; break;
      default: state = "installed"; break;
      }
    }
    CloseServiceHandle(service);
  } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
    state = "unknown (error " + std::to_string(GetLastError()) + ")";
  }
  CloseServiceHandle(manager);
  return state;
}

bool QueryEngine(std::string *description) {
  EngineStatus status;
  bool alive = false;
  if (!ReadEngineStatus(status, &alive)) {
    *description = "not running (no engine has recorded its state here)";
    return false;
  }
  if (!alive) {
    *description = "not running (last seen " + status.state + " at " + status.updated + ")";
    return false;
  }
  *description = status.state + " as " + (status.mode.empty() ? "?" : status.mode) + " in process " +
                 std::to_string(status.processId) + ", " + std::to_string(status.workers) + " workers, since " +
                 status.updated;
  return status.state == "running";
}

} // namespace

std::string ServiceStateText(const char *serviceName) { return QueryServiceStateText(serviceName); }

bool EngineRunning(std::string *description) { return QueryEngine(description); }

std::string LastRunText() {
  std::string folder;
  std::vector<RunRecord> runs = LatestRuns(1, std::string(), &folder);
  if (runs.empty())
    return "No runs recorded.";
  const RunRecord &run = runs.back();
  return "Last run: " + FormatHistoryTime(run.start) + " " + OutcomeText(run.outcome, run.exitCode) + " " +
         TailOf(run.ran, kRanWidth);
}

int ShowHistory(const std::string &countText, const std::string &filterText) {
  CommandOutput out;
  size_t count = kDefaultCount;
  std::string filter = filterText;
  if (!countText.empty()) {
    char *end = NULL;
    long value = strtol(countText.c_str(), &end, 10);
    if (end && *end == '\0' && value > 0)
      count = static_cast<size_t>(value);
    else if (filter.empty())
      filter = countText;
  }
  std::string folder;
  std::vector<RunRecord> runs = LatestRuns(count, filter, &folder);
  if (runs.empty())
    out.Line(folder.empty() ? "No data folder: nothing has been recorded." : "No runs recorded in " + folder);
  else
    PrintRuns(out, runs);
  std::string engine;
  bool running = QueryEngine(&engine);
  return running && !runs.empty() && Succeeded(runs.back()) ? 0 : 1;
}

int ShowStatus(const char *serviceName) {
  CommandOutput out;
  std::string engine, folder;
  bool running = QueryEngine(&engine);
  std::vector<RunRecord> runs = LatestRuns(kStatusRuns, std::string(), &folder);
  out.Line(std::string("Service:     ") + QueryServiceStateText(serviceName));
  out.Line("Engine:      " + engine);
  out.Line("Data folder: " + (folder.empty() ? std::string("none") : folder.substr(0, folder.size() - 8)));
  out.Line("");
  if (runs.empty()) {
    out.Line("No runs recorded.");
  } else {
    out.Line("Last runs:");
    PrintRuns(out, runs);
    for (auto run = runs.rbegin(); run != runs.rend(); ++run)
      if (!Succeeded(*run)) {
        out.Line("");
        out.Line("Last failure: " + FormatHistoryTime(run->start) + " " + run->ran + ": " +
                 (run->error.empty() ? OutcomeText(run->outcome, run->exitCode) : run->error));
        break;
      }
  }
  return running && !runs.empty() && Succeeded(runs.back()) ? 0 : 1;
}

namespace {

const char kJobsVariable[] = "QM.JOBS";
const char kJobRequestVariable[] = "QM.JOBS.REQUEST";

// A stored variable as the registry has it now (the running engine's
// environment is another process's).
std::string StoredText(const std::string &name) {
  char *value = g_variables.GetVariable(NULL, name.c_str(), VAR_MODE_STORED | VAR_MODE_REGISTRY);
  std::string text = value ? value : "";
  CVariableManager::FreeText(value);
  return text;
}

bool SetStored(const std::string &name, const std::string &value) {
  return g_variables.SetVariable(NULL, name.c_str(), value.c_str(), VAR_MODE_STORED) == 0;
}

std::vector<std::string> DeclaredJobs() {
  std::vector<std::string> names;
  std::string list = StoredText(kJobsVariable);
  size_t start = 0;
  while (start < list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos)
      comma = list.size();
    if (comma > start)
      names.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

// The declared name as written, or "" for a job nobody declared.
std::string DeclaredName(const std::string &name) {
  for (const std::string &job : DeclaredJobs())
    if (_stricmp(job.c_str(), name.c_str()) == 0)
      return job;
  return std::string();
}

// The next due time within 31 days of the local time now, or "-".
std::string NextDue(const std::string &spec) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  CronTime from = CronTimeFromCalendar(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  SYSTEMTIME later = now;
  FILETIME file;
  if (!SystemTimeToFileTime(&now, &file))
    return "-";
  ULARGE_INTEGER ticks;
  ticks.LowPart = file.dwLowDateTime;
  ticks.HighPart = file.dwHighDateTime;
  ticks.QuadPart += 31ULL * 24 * 3600 * 10000000;
  file.dwLowDateTime = ticks.LowPart;
  file.dwHighDateTime = ticks.HighPart;
  if (!FileTimeToSystemTime(&file, &later))
    return "-";
  CronTime until =
      CronTimeFromCalendar(later.wYear, later.wMonth, later.wDay, later.wHour, later.wMinute, later.wSecond);
  CronTime due;
  char text[24];
  if (!CronNextDue(spec.c_str(), from, until, &due))
    return "-";
  CronFormatTime(due, text, sizeof text);
  return text;
}

} // namespace

int ShowJobs() {
  CommandOutput out;
  std::vector<std::string> names = DeclaredJobs();
  if (names.empty()) {
    out.Line("No jobs declared (a schedule script declares them with AddJob).");
    return 0;
  }
  std::vector<std::vector<std::string>> rows;
  for (const std::string &name : names) {
    std::string prefix = "QM.JOB." + name + ".";
    std::string spec = StoredText(prefix + "SPEC");
    std::string last = StoredText(prefix + "LAST");
    bool disabled = StoredText(prefix + "DISABLED") == "1";
    std::string state = disabled ? "disabled" : "enabled";
    if (!StoredText(prefix + "RUN").empty())
      state += ", run asked for";
    rows.push_back({name, spec, disabled ? "-" : NextDue(spec), last.empty() ? "-" : last, state});
  }
  for (const std::string &line : AlignColumns({"Job", "Schedule", "Next due", "Last result", "State"}, rows))
    out.Line(line);
  return 0;
}

int RequestJob(const char *request, const std::string &name) {
  CommandOutput out;
  std::string job = DeclaredName(name);
  if (job.empty()) {
    out.Line("No job \"" + name + "\" is declared; Quillmoth.exe -jobs lists them.");
    return 1;
  }
  std::string prefix = "QM.JOB." + job + ".";
  bool stored = _stricmp(request, "run") == 0   ? SetStored(prefix + "RUN", "1")
                : _stricmp(request, "disable") == 0 ? SetStored(prefix + "DISABLED", "1")
                                                    : SetStored(prefix + "DISABLED", "");
  long count = strtol(StoredText(kJobRequestVariable).c_str(), NULL, 10);
  stored = stored && SetStored(kJobRequestVariable, std::to_string(count + 1));
  if (!stored) {
    out.Line("The request for " + job + " cannot be stored (an administrator may have to ask).");
    return 1;
  }
  out.Line(std::string("Job ") + job + ": " + request + " asked for; the running schedule acts on it at its next tick.");
  return 0;
}
