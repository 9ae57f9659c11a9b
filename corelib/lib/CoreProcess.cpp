// Run, CreateProcess, CreateProcessAsUser, ShellExecute, LogonUser,
// ImpersonateLoggedOnUser and RevertToSelf.
#include "Core.h"
#include "CoreProcess.h"

#include <stddef.h>
#include <algorithm>
#include <stdlib.h>
#include <new>
#include <vector>

#include "CommandWords.h"
#include "CoreModule.h"
#include "CoreText.h"
#include "ExecutableSearch.h"
#include "HandleTable.h"
#include "QuillmothRun.h"
#include "VariableManager.h"

const char kInteractiveDesktop[] = "winsta0\\default";
const char kIncompatibleFlagsText[] = "CP_NTI and CP_INTERACTIVE are incompatible";

namespace {

const char kPoolSizeVariable[] = "QM.POOL_SIZE";
const DWORD kLogonInteractive = 2;
const DWORD kLogonNewCredentials = 11;
const DWORD kLogonWithProfile = 1;
const DWORD kLogonNetCredentialsOnly = 2;

// The first error code recorded while one start is attempted: later
// failures (a fallback that fails too) do not hide the cause.
struct Attempt {
  DWORD error = 0;
  bool secondaryFromSystem = false; // the secondary logon was needed but cannot serve LocalSystem
  void Record(DWORD code) {
    if (error == 0)
      error = code;
  }
  void RecordLast() { Record(GetLastError()); }
};

BOOL WINAPI SystemSecondaryLogon(LPCWSTR user, LPCWSTR domain, LPCWSTR password, DWORD logonFlags,
                                 LPCWSTR application, LPWSTR commandLine, DWORD creationFlags, LPVOID environment,
                                 LPCWSTR currentDirectory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process) {
  // Looked up at every call: systems without the secondary logon lack it.
  HMODULE advapi = LoadLibraryA("Advapi32.dll");
  if (!advapi)
    return FALSE;
  SecondaryLogonFn logon = reinterpret_cast<SecondaryLogonFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(advapi, "CreateProcessWithLogonW")));
  BOOL created = FALSE;
  if (logon)
    created = logon(user, domain, password, logonFlags, application, commandLine, creationFlags, environment,
                    currentDirectory, startup, process);
  DWORD error = GetLastError();
  FreeLibrary(advapi);
  SetLastError(error);
  return created;
}

// A wide copy of 8-bit text (null stays null) that is wiped when it goes:
// it may hold a password.
class WideText {
public:
  explicit WideText(const char *text) {
    if (!text)
      return;
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    if (length <= 0)
      length = 1;
    m_text.assign(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, m_text.data(), length);
    m_given = true;
  }
  ~WideText() { SecureZeroMemory(m_text.data(), m_text.size() * sizeof(wchar_t)); }
  wchar_t *Get() { return m_given ? m_text.data() : nullptr; }

private:
  std::vector<wchar_t> m_text;
  bool m_given = false;
};

// A converted password, wiped on every path out of the method.
struct SecretArg : TextArg<kTextBuffer> {
  ~SecretArg() { SecureZeroMemory(text, sizeof text); }
};

void ShowStateFor(long flags, STARTUPINFOA &startup) {
  if (flags & (CP_HIDE | CP_MINIMIZE)) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = (flags & CP_MINIMIZE) ? SW_MINIMIZE : SW_HIDE;
  }
}

int ShellShowState(long flags) {
  if (flags & CP_HIDE)
    return SW_HIDE;
  return (flags & CP_MINIMIZE) ? SW_MINIMIZE : SW_SHOWNORMAL;
}

DWORD ConsoleCreationFlags(long flags) {
  return NORMAL_PRIORITY_CLASS | ((flags & CP_DETACHED) ? DETACHED_PROCESS : CREATE_NEW_CONSOLE);
}

DWORD LogonTypeFor(long flags) { return (flags & CP_NETCRED) ? kLogonNewCredentials : kLogonInteractive; }

// The calling thread's time limit for the runs it waits for (SetTimeLimit),
// and how its last one ended (LastOutcome), as the run history says it.
thread_local DWORD t_limitMs = 0;
thread_local char t_lastOutcome[40] = "";

// A program waited for under a time limit starts suspended, so that it is in
// its job object before it can start anything of its own.
DWORD LimitedStart(long flags) { return (t_limitMs != 0 && !(flags & CP_NOWAIT)) ? CREATE_SUSPENDED : 0; }

// The process in a new job object (its later children join it), resumed
// when it was started suspended. Null when the system refuses (the console
// says why): at the limit the program alone is then ended, not what it
// started.
HANDLE JoinJob(HANDLE process, HANDLE suspendedThread) {
  HANDLE job = CreateJobObjectA(NULL, NULL);
  if (job && !AssignProcessToJobObject(job, process)) {
    CloseHandle(job);
    job = NULL;
  }
  if (!job)
    CoreNotifyFailure("time limit", GetLastError());
  if (suspendedThread)
    ResumeThread(suspendedThread);
  return job;
}

// Waits as the flags say, then closes the process (and thread) handle;
// the exit code when it waited for the end, else 0. A run waited for is
// recorded in the run history under what ran (its command line). Under a
// time limit the program and everything it started end together at the
// limit, with kTimedOutExitCode.
long WaitAndClose(long flags, HANDLE process, HANDLE thread, const char *what) {
  long code = 0;
  bool limited = t_limitMs != 0 && !(flags & CP_NOWAIT);
  HANDLE job = limited ? JoinJob(process, thread) : NULL;
  if (!(flags & CP_NOWAIT)) {
    bool timedOut = false;
    FILETIME created = {}, ignored;
    if (!GetProcessTimes(process, &created, &ignored, &ignored, &ignored))
      GetSystemTimeAsFileTime(&created);
    ULONGLONG waitStart = GetTickCount64();
    if (WaitForSingleObject(process, limited ? t_limitMs : INFINITE) == WAIT_TIMEOUT) {
      timedOut = true;
      if (!job || !TerminateJobObject(job, kTimedOutExitCode))
        TerminateProcess(process, kTimedOutExitCode);
      WaitForSingleObject(process, kEndWaitMilliseconds);
    }
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process, &exitCode))
      code = static_cast<long>(exitCode);
    QMR_RecordProgramRun(what ? what : "", &created, static_cast<DWORD>(GetTickCount64() - waitStart), exitCode,
                         timedOut ? TRUE : FALSE);
    if (timedOut)
      lstrcpynA(t_lastOutcome, "timed out", sizeof t_lastOutcome);
    else
      snprintf(t_lastOutcome, sizeof t_lastOutcome, "exit code %lu", static_cast<unsigned long>(exitCode));
  } else if (flags & CP_WAITIDLE) {
    WaitForInputIdle(process, kWaitIdleMilliseconds);
  }
  if (job)
    CloseHandle(job);
  g_processCalls.CloseHandle(process);
  if (thread)
    g_processCalls.CloseHandle(thread);
  return code;
}

// The command line's program: false (error code 0) when it has no word.
// A command line of separators and empty quotes alone names nothing to
// start: said as such, not as the system's "completed successfully".
bool NamesAProgram(const char *method, const char *commandLine) {
  std::string word;
  if (FirstCommandWord(commandLine, word))
    return true;
  CoreNotifyText(method, "The command line names no program");
  return false;
}

bool PrepareCommand(const char *commandLine, std::string &application, const char *&applicationOrNull) {
  bool hasWord = false;
  bool named = ApplicationNameFor(commandLine, application, &hasWord);
  applicationOrNull = named ? application.c_str() : nullptr;
  return hasWord;
}

// Whether this process runs as LocalSystem; false when its token cannot be
// read.
bool RunsAsLocalSystem() {
  HANDLE token = NULL;
  if (!g_processCalls.OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } buffer;
  DWORD needed = 0;
  bool system = g_processCalls.GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &needed) &&
                IsWellKnownSid(buffer.user.User.Sid, WinLocalSystemSid);
  g_processCalls.CloseHandle(token);
  return system;
}

// Through the secondary logon, with the same names, flags and start-up
// information as the token-based start.
bool SecondaryLogonStart(long flags, const char *user, const char *domain, const char *password,
                         const char *application, const char *commandLine, DWORD creationFlags,
                         const STARTUPINFOA &startup, PROCESS_INFORMATION &info, Attempt &attempt) try {
  // The secondary logon takes the caller's logon identifier, which the
  // LocalSystem account's token has none of: it cannot serve it at all.
  if (RunsAsLocalSystem()) {
    attempt.secondaryFromSystem = true;
    return false;
  }
  WideText wideUser(user), wideDomain(domain), widePassword(password), wideApplication(application),
      wideCommand(commandLine), wideDesktop(startup.lpDesktop);
  STARTUPINFOW wideStartup = {};
  wideStartup.cb = sizeof wideStartup;
  wideStartup.lpDesktop = wideDesktop.Get();
  wideStartup.dwFlags = startup.dwFlags;
  wideStartup.wShowWindow = startup.wShowWindow;
  DWORD logonFlags = ((flags & CP_LOGON_PROFILE) ? kLogonWithProfile : 0) |
                     ((flags & CP_NETCRED) ? kLogonNetCredentialsOnly : 0);
  if (g_processCalls.CreateProcessWithLogonW(wideUser.Get(), wideDomain.Get(), widePassword.Get(), logonFlags,
                                             wideApplication.Get(), wideCommand.Get(), creationFlags, NULL, NULL,
                                             &wideStartup, &info))
    return true;
  attempt.RecordLast();
  return false;
} catch (const std::bad_alloc &) { // called while impersonating: the caller reverts
  attempt.Record(ERROR_NOT_ENOUGH_MEMORY);
  return false;
}

// A copy of the logon identifier among the token's groups (released with
// HeapFree); null when there is none.
PSID LogonSid(HANDLE token, Attempt &attempt) try {
  DWORD needed = 0;
  if (!g_processCalls.GetTokenInformation(token, TokenGroups, NULL, 0, &needed) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    attempt.RecordLast();
    return NULL;
  }
  if (needed < sizeof(TOKEN_GROUPS)) {
    attempt.Record(ERROR_INVALID_PARAMETER);
    return NULL;
  }
  std::vector<BYTE> buffer(needed);
  if (!g_processCalls.GetTokenInformation(token, TokenGroups, buffer.data(), needed, &needed)) {
    attempt.RecordLast();
    return NULL;
  }
  const TOKEN_GROUPS *groups = reinterpret_cast<const TOKEN_GROUPS *>(buffer.data());
  size_t room = (buffer.size() - offsetof(TOKEN_GROUPS, Groups)) / sizeof(SID_AND_ATTRIBUTES);
  for (DWORD i = 0; i < groups->GroupCount && i < room; ++i) {
    const SID_AND_ATTRIBUTES &group = groups->Groups[i];
    if ((group.Attributes & SE_GROUP_LOGON_ID) != SE_GROUP_LOGON_ID || !IsValidSid(group.Sid))
      continue;
    DWORD length = GetLengthSid(group.Sid);
    PSID copy = HeapAlloc(GetProcessHeap(), 0, length);
    if (!copy) {
      attempt.Record(ERROR_NOT_ENOUGH_MEMORY);
      return NULL;
    }
    if (!CopySid(length, copy, group.Sid)) {
      attempt.RecordLast();
      HeapFree(GetProcessHeap(), 0, copy);
      return NULL;
    }
    return copy;
  }
  attempt.Record(ERROR_NO_SUCH_LOGON_SESSION);
  return NULL;
} catch (const std::bad_alloc &) { // the caller holds the logon's token
  attempt.Record(ERROR_NOT_ENOUGH_MEMORY);
  return NULL;
}

// The interactive window station and its desktop, opened to change their
// access lists. Opening the desktop needs the process on that window station
// for a moment: called with the desktop access lock held.
bool OpenInteractiveDesktop(HWINSTA &station, HDESK &desktop, Attempt &attempt) {
  HWINSTA saved = g_processCalls.GetProcessWindowStation();
  station = g_processCalls.OpenWindowStationA("winsta0", FALSE, READ_CONTROL | WRITE_DAC);
  if (!station) {
    attempt.RecordLast();
    return false;
  }
  if (!g_processCalls.SetProcessWindowStation(station)) {
    attempt.RecordLast();
    return false;
  }
  desktop = g_processCalls.OpenDesktopA("default", 0, FALSE,
                                        READ_CONTROL | WRITE_DAC | DESKTOP_WRITEOBJECTS | DESKTOP_READOBJECTS);
  if (!desktop)
    attempt.RecordLast();
  // The switch affects the whole process: back at once.
  g_processCalls.SetProcessWindowStation(saved);
  return desktop != NULL;
}

// A process started suspended through the secondary logon, which logged on
// anew: its own logon identifier (from its token, opened while its user was
// impersonated, which owns it) is granted the desktop, then it runs. On
// failure the process is ended and its handles closed. Closes `token`. The
// identifier (released with HeapFree), or null.
PSID GrantAndResume(HWINSTA station, HDESK desktop, HANDLE token, PROCESS_INFORMATION &info, Attempt &attempt) {
  PSID sid = NULL;
  if (token) {
    sid = LogonSid(token, attempt);
    g_processCalls.CloseHandle(token);
  }
  if (sid) {
    DesktopAccessLock lock;
    DWORD granted = GrantDesktopAccess(station, desktop, sid);
    if (granted != 0) {
      attempt.Record(granted);
      RevokeDesktopAccess(station, desktop, sid);
      HeapFree(GetProcessHeap(), 0, sid);
      sid = NULL;
    }
  }
  if (sid && g_processCalls.ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
    attempt.RecordLast();
    DesktopAccessLock lock;
    RevokeDesktopAccess(station, desktop, sid);
    HeapFree(GetProcessHeap(), 0, sid);
    sid = NULL;
  }
  if (!sid) {
    TerminateProcess(info.hProcess, 1);
    g_processCalls.CloseHandle(info.hProcess);
    g_processCalls.CloseHandle(info.hThread);
  }
  return sid;
}

// Interactive start: the logon's token on the interactive desktop, to
// which the logon is granted access first. The grant goes again when the
// program has ended: at once for a start that waits, else at the first
// interactive start after its end.
bool StartInteractive(long flags, const char *user, const char *domain, const char *password, char *commandLine,
                      Attempt &attempt, long &code) {
  if (flags & CP_NTI)
    return false;
  std::string applicationName;
  const char *application = nullptr;
  if (!PrepareCommand(commandLine, applicationName, application))
    return false;
  HANDLE token = NULL;
  if (!g_processCalls.LogonUserA(user, domain, password, LogonTypeFor(flags), LOGON32_PROVIDER_DEFAULT, &token)) {
    attempt.RecordLast();
    return false;
  }

  HWINSTA station = NULL;
  HDESK desktop = NULL;
  PSID sid = NULL;         // the token's logon identifier
  PSID startedSid = NULL;  // the secondary logon's, granted for its process
  bool granted = false;    // the token's identifier holds entries of this start
  bool started = false;
  do {
    {
      DesktopAccessLock lock;
      if (!OpenInteractiveDesktop(station, desktop, attempt))
        break;
      sid = LogonSid(token, attempt);
      if (!sid)
        break;
      // A profile needs the secondary logon, which runs nothing under
      // this token: its process is granted once it exists.
      if (!(flags & CP_LOGON_PROFILE)) {
        DWORD error = GrantDesktopAccess(station, desktop, sid);
        if (error != 0) {
          attempt.Record(error);
          RevokeDesktopAccess(station, desktop, sid); // what was added before the failure
          break;
        }
        granted = true;
      }
    }
    if (!g_processCalls.ImpersonateLoggedOnUser(token)) {
      attempt.RecordLast();
      break;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char desktopName[sizeof kInteractiveDesktop];
    memcpy(desktopName, kInteractiveDesktop, sizeof desktopName);
    startup.lpDesktop = desktopName;
    ShowStateFor(flags, startup);
    DWORD creation = ConsoleCreationFlags(flags) | LimitedStart(flags);
    PROCESS_INFORMATION info = {};
    bool created = false, secondary = false;
    if (!(flags & CP_LOGON_PROFILE)) {
      created = g_processCalls.CreateProcessAsUserA(token, application, commandLine, NULL, NULL, FALSE, creation,
                                                    NULL, NULL, &startup, &info) != FALSE;
      if (!created)
        attempt.RecordLast();
    }
    if (!created)
      created = secondary = SecondaryLogonStart(flags, user, domain, password, application, commandLine,
                                                creation | CREATE_SUSPENDED, startup, info, attempt);
    HANDLE startedToken = NULL;
    if (secondary && !g_processCalls.OpenProcessToken(info.hProcess, TOKEN_QUERY, &startedToken))
      attempt.RecordLast();
    g_processCalls.RevertToSelf();
    if (secondary) {
      startedSid = GrantAndResume(station, desktop, startedToken, info, attempt);
      created = startedSid != NULL;
    }
    if (!created)
      break;
    PSID runs = startedSid ? startedSid : sid;
    bool kept = false;
    if (flags & CP_NOWAIT) {
      DesktopAccessLock lock;
      kept = KeepDesktopAccess(runs, info.hProcess);
    }
    code = WaitAndClose(flags, info.hProcess, info.hThread, commandLine);
    started = true;
    if (!kept) { // ended, or no way to tell when it ends: the entries go now
      DesktopAccessLock lock;
      RevokeDesktopAccess(station, desktop, runs);
    }
    if (runs == sid)
      granted = false;
  } while (false);

  if (granted) { // entries for a logon that runs nothing
    DesktopAccessLock lock;
    RevokeDesktopAccess(station, desktop, sid);
  }
  if (startedSid)
    HeapFree(GetProcessHeap(), 0, startedSid);
  if (sid)
    HeapFree(GetProcessHeap(), 0, sid);
  if (desktop)
    g_processCalls.CloseDesktop(desktop);
  if (station)
    g_processCalls.CloseWindowStation(station);
  g_processCalls.CloseHandle(token);
  return started;
}

// Non-interactive start: the logon's token under impersonation, or the
// secondary logon alone (CP_NTI).
bool StartNonInteractive(long flags, const char *user, const char *domain, const char *password, char *commandLine,
                         Attempt &attempt, long &code) {
  std::string applicationName;
  const char *application = nullptr;
  if (!PrepareCommand(commandLine, applicationName, application))
    return false;
  HANDLE token = NULL;
  bool impersonating = false;
  if (!(flags & CP_NTI)) {
    if (!g_processCalls.LogonUserA(user, domain, password, LogonTypeFor(flags), LOGON32_PROVIDER_DEFAULT,
                                   &token)) {
      attempt.RecordLast();
      return false;
    }
    if (!g_processCalls.ImpersonateLoggedOnUser(token)) {
      attempt.RecordLast();
      g_processCalls.CloseHandle(token);
      return false;
    }
    impersonating = true;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  char noDesktop[1] = "";
  startup.lpDesktop = noDesktop;
  ShowStateFor(flags, startup);
  PROCESS_INFORMATION info = {};
  bool created = false;
  if (!(flags & (CP_NTI | CP_LOGON_PROFILE))) {
    created = g_processCalls.CreateProcessAsUserA(token, application, commandLine, NULL, NULL, FALSE,
                                                  NORMAL_PRIORITY_CLASS | LimitedStart(flags), NULL, NULL, &startup,
                                                  &info) != FALSE;
    if (!created)
      attempt.RecordLast();
  }
  if (!created)
    created = SecondaryLogonStart(flags, user, domain, password, application, commandLine,
                                  NORMAL_PRIORITY_CLASS | LimitedStart(flags), startup, info, attempt);
  if (impersonating)
    g_processCalls.RevertToSelf();
  if (created)
    code = WaitAndClose(flags, info.hProcess, info.hThread, commandLine);
  if (token)
    g_processCalls.CloseHandle(token);
  return created;
}

// What a start that needed the secondary logon is told under LocalSystem:
// the reason, and the first error of the token-based start when it failed.
std::string SecondaryFromSystemText(DWORD firstError) {
  std::string text = "The secondary logon, which this start needs, cannot be used from the LocalSystem account";
  if (firstError)
    text += " (" + CoreErrorText(firstError) + ")";
  return text;
}

void TakeToken(HandleRecord &record, void *token) { *static_cast<HANDLE *>(token) = record.payload; }

} // namespace

ProcessCalls SystemProcessCalls() {
  ProcessCalls calls;
  calls.LogonUserA = ::LogonUserA;
  calls.ImpersonateLoggedOnUser = ::ImpersonateLoggedOnUser;
  calls.RevertToSelf = ::RevertToSelf;
  calls.GetTokenInformation = ::GetTokenInformation;
  calls.CreateProcessA = ::CreateProcessA;
  calls.CreateProcessAsUserA = ::CreateProcessAsUserA;
  calls.CreateProcessWithLogonW = SystemSecondaryLogon;
  calls.ShellExecuteExA = ::ShellExecuteExA;
  calls.GetProcessWindowStation = ::GetProcessWindowStation;
  calls.OpenWindowStationA = ::OpenWindowStationA;
  calls.SetProcessWindowStation = ::SetProcessWindowStation;
  calls.CloseWindowStation = ::CloseWindowStation;
  calls.OpenDesktopA = ::OpenDesktopA;
  calls.CloseDesktop = ::CloseDesktop;
  calls.GetUserObjectSecurity = ::GetUserObjectSecurity;
  calls.SetUserObjectSecurity = ::SetUserObjectSecurity;
  calls.CloseHandle = ::CloseHandle;
  calls.OpenProcessToken = ::OpenProcessToken;
  calls.ResumeThread = ::ResumeThread;
  return calls;
}

ProcessCalls g_processCalls = SystemProcessCalls();

namespace {

// The folders the system searches for a program, in its order: the
// program's own folder, the current folder, the system folders, then PATH.
std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
  char buffer[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    std::string program(buffer, length);
    size_t slash = program.find_last_of("\\/");
    if (slash != std::string::npos)
      folders.push_back(program.substr(0, slash));
  }
  length = GetCurrentDirectoryA(MAX_PATH, buffer);
  if (length > 0 && length < MAX_PATH)
    folders.push_back(buffer);
  length = GetSystemDirectoryA(buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH)
    folders.push_back(buffer);
  length = GetWindowsDirectoryA(buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    std::string windows(buffer, length);
    folders.push_back(windows + (windows.back() == '\\' ? "" : "\\") + "System");
    folders.push_back(windows);
  }
  length = GetEnvironmentVariableA("PATH", NULL, 0);
  if (length > 0) {
    std::vector<char> path(length);
    DWORD got = GetEnvironmentVariableA("PATH", path.data(), length);
    if (got > 0 && got < length) {
      std::string rest(path.data(), got);
      size_t start = 0;
      while (start <= rest.size()) {
        size_t end = rest.find(';', start);
        if (end == std::string::npos)
          end = rest.size();
        std::string folder = rest.substr(start, end - start);
        folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
        if (!folder.empty())
          folders.push_back(folder);
        start = end + 1;
      }
    }
  }
  return folders;
}

} // namespace

bool ApplicationNameFor(const char *commandLine, std::string &application, bool *hasWord) {
  std::string word;
  *hasWord = FirstCommandWord(commandLine, word);
  if (!*hasWord)
    return false;
  ExecutableProbe probe;
  probe.folders = SearchFolders;
  probe.exists = [](const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  };
  return SearchExecutable(word, probe, application);
}

HRESULT CCore::Run(long flags, BSTR file, BSTR command_line, VARIANT *pVal) {
  return CoreGuarded("Run", [&]() -> HRESULT {
    TextArg<kTextBuffer> script;
    TextArg<kTextBuffer> arguments;
    if (!script.Take("Run", "the script's name", file, kRequiredText) ||
        !arguments.Take("Run", "the argument", command_line, kOptionalText))
      return S_FALSE;
    // Whenever the installation keeps a pool, scripts started from scripts
    // use it too.
    char *poolSize = CoreVariables().GetVariable(nullptr, kPoolSizeVariable, VAR_MODE_STORED);
    long size = poolSize ? strtol(poolSize, nullptr, 10) : 0;
    CVariableManager::FreeText(poolSize);
    if (size != 0)
      flags |= QMR_FLAG_POOLED;
    QMR_SetRunLimit(t_limitMs);
    t_lastOutcome[0] = '\0';
    MurrelContext *context = QMR_RunScript(static_cast<DWORD>(flags), script.text, arguments.text, pVal);
    if (context && !(flags & QMR_FLAG_ASYNC))
      QMR_LastRunOutcome(t_lastOutcome, sizeof t_lastOutcome);
    return context ? S_OK : S_FALSE;
  });
}

HRESULT CCore::CreateProcess(long flags, BSTR commandline, long *pVal) {
  return CoreGuarded("CreateProcess", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = -1;
    t_lastOutcome[0] = '\0';
    TextArg<kTextBuffer> line;
    if (!line.Take("CreateProcess", "the command line", commandline, kRequiredText))
      return S_FALSE;
    if (!NamesAProgram("CreateProcess", line.text))
      return S_FALSE;
    Attempt attempt;
    std::string applicationName;
    const char *application = nullptr;
    if (PrepareCommand(line.text, applicationName, application)) {
      STARTUPINFOA startup = {};
      startup.cb = sizeof startup;
      ShowStateFor(flags, startup);
      PROCESS_INFORMATION info = {};
      if (g_processCalls.CreateProcessA(application, line.text, NULL, NULL, FALSE,
                                        ConsoleCreationFlags(flags) | LimitedStart(flags), NULL, NULL, &startup,
                                        &info)) {
        *pVal = WaitAndClose(flags, info.hProcess, info.hThread, line.text);
        return S_OK;
      }
      attempt.RecordLast();
    }
    CoreNotifyFailure("CreateProcess", attempt.error);
    *pVal = -1;
    return S_FALSE;
  });
}

HRESULT CCore::CreateProcessAsUser(long flags, BSTR user, BSTR domain, BSTR password, BSTR commandline,
                                   long *pVal) {
  return CoreGuarded("CreateProcessAsUser", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = -1;
    t_lastOutcome[0] = '\0';
    TextArg<kTextBuffer> account, domainText, line;
    SecretArg secret;
    const char *method = "CreateProcessAsUser";
    if (!account.Take(method, "the user name", user, kRequiredText) ||
        !domainText.Take(method, "the domain", domain, kOptionalText) ||
        !secret.Take(method, "the password", password, kRequiredText) ||
        !line.Take(method, "the command line", commandline, kRequiredText) || !NamesAProgram(method, line.text))
      return S_FALSE;
    Attempt attempt;
    long code = 0;
    bool started =
        (flags & CP_INTERACTIVE)
            ? StartInteractive(flags, account.text, domainText.OrNull(), secret.text, line.text, attempt, code)
            : StartNonInteractive(flags, account.text, domainText.OrNull(), secret.text, line.text, attempt, code);
    if (started) {
      *pVal = code;
      return S_OK;
    }
    if ((flags & CP_INTERACTIVE) && (flags & CP_NTI))
      CoreNotifyText("CreateProcessAsUser", kIncompatibleFlagsText);
    else if (attempt.secondaryFromSystem)
      CoreNotifyText("CreateProcessAsUser", SecondaryFromSystemText(attempt.error).c_str());
    else
      CoreNotifyFailure("CreateProcessAsUser", attempt.error);
    *pVal = -1;
    return S_FALSE;
  });
}

HRESULT CCore::ShellExecute(long flags, BSTR verb, BSTR file, BSTR params, long *pVal) {
  return CoreGuarded("ShellExecute", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = -1;
    t_lastOutcome[0] = '\0';
    TextArg<kTextBuffer> verbText, fileText, paramsText;
    if (!verbText.Take("ShellExecute", "the verb", verb, kOptionalText) ||
        !fileText.Take("ShellExecute", "the file", file, kRequiredText) ||
        !paramsText.Take("ShellExecute", "the parameter text", params, kOptionalText))
      return S_FALSE;
    // Made before the program starts: nothing may fail between its start
    // and the handle's release.
    std::string what = std::string(fileText.text) + (paramsText.OrNull() ? std::string(" ") + paramsText.text : "");
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    // No error boxes from the shell: nobody may be there to close them.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verbText.OrNull();
    info.lpFile = fileText.text;
    info.lpParameters = paramsText.OrNull();
    info.nShow = ShellShowState(flags);
    if (!g_processCalls.ShellExecuteExA(&info)) {
      CoreNotifyFailure("ShellExecute", GetLastError());
      *pVal = -1;
      return S_FALSE;
    }
    *pVal = info.hProcess ? WaitAndClose(flags, info.hProcess, NULL, what.c_str()) : 0;
    return S_OK;
  });
}

HRESULT CCore::LogonUser(BSTR user, BSTR domain, BSTR password, long logonType, long logonProvider, long *pVal) {
  return CoreGuarded("LogonUser", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = 0;
    TextArg<kTextBuffer> account, domainText;
    SecretArg secret;
    if (!account.Take("LogonUser", "the user name", user, kRequiredText) ||
        !domainText.Take("LogonUser", "the domain", domain, kOptionalText) ||
        !secret.Take("LogonUser", "the password", password, kRequiredText))
      return S_FALSE;
    HANDLE token = NULL;
    if (!g_processCalls.LogonUserA(account.text, domainText.OrNull(), secret.text, static_cast<DWORD>(logonType),
                                   static_cast<DWORD>(logonProvider), &token)) {
      CoreNotifyFailure("LogonUser", GetLastError());
      return S_FALSE;
    }
    long handle = HandleIssue(HT_TOKEN, token);
    if (!handle) {
      g_processCalls.CloseHandle(token);
      return E_OUTOFMEMORY;
    }
    *pVal = handle;
    return S_OK;
  });
}

HRESULT CCore::ImpersonateLoggedOnUser(long hToken, long *pVal) {
  return CoreGuarded("ImpersonateLoggedOnUser", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = kFalse;
    if (hToken == 0)
      return S_FALSE;
    // A live token handle gives its token; any other number is taken as a
    // raw token of the system.
    HANDLE token = LongToHandle(hToken);
    HandleVisit(hToken, HT_TOKEN, TakeToken, &token);
    if (!g_processCalls.ImpersonateLoggedOnUser(token))
      return S_FALSE;
    *pVal = kTrue;
    return S_OK;
  });
}

HRESULT CCore::RevertToSelf(long *pVal) {
  return CoreGuarded("RevertToSelf", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = kFalse;
    if (!g_processCalls.RevertToSelf())
      return S_FALSE;
    *pVal = kTrue;
    return S_OK;
  });
}

HRESULT CCore::SetTimeLimit(long seconds, long *pVal) {
  return CoreGuarded("SetTimeLimit", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = static_cast<long>(t_limitMs / 1000);
    if (seconds < 0 || seconds > kTimeLimitMaxSeconds) {
      CoreNotifyText("SetTimeLimit", "the limit is a number of seconds from 0 (none) to 2000000");
      return S_FALSE;
    }
    t_limitMs = static_cast<DWORD>(seconds) * 1000;
    return S_OK;
  });
}

HRESULT CCore::LastOutcome(BSTR *pVal) {
  return CoreGuarded("LastOutcome", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = NewAutomationText(t_lastOutcome);
    return *pVal ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT CCore::RecordSkippedRun(BSTR ran, long *pVal) {
  return CoreGuarded("RecordSkippedRun", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = 0;
    TextArg<kTextBuffer> what;
    if (!what.Take("RecordSkippedRun", "what would have run", ran, kRequiredText))
      return S_FALSE;
    QMR_RecordSkippedRun(what.text);
    *pVal = kTrue;
    return S_OK;
  });
}
