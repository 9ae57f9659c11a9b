// Starting programs and logging users on: the Core methods Run,
// CreateProcess, CreateProcessAsUser, ShellExecute, LogonUser,
// ImpersonateLoggedOnUser and RevertToSelf.
//
// Every operating-system call that touches security, window stations or
// process creation goes through g_processCalls, so that tests can watch the
// exact arguments and the order of the calls where the platform they run on
// only pretends to log anyone on.
#ifndef COREPROCESS_H
#define COREPROCESS_H

#include <windows.h>
#include <shellapi.h>
#include <string>

// Flags of the process methods.
enum ProcessFlags {
  CP_INTERACTIVE = 0x001,
  CP_HIDE = 0x002,
  CP_NOWAIT = 0x004,
  CP_LOGON_PROFILE = 0x008,
  CP_NTI = 0x010,
  CP_WAITIDLE = 0x020,
  CP_DETACHED = 0x040,
  CP_MINIMIZE = 0x080,
  CP_NETCRED = 0x100,
};

// Longest wait for a started process to wait for input (CP_WAITIDLE).
const DWORD kWaitIdleMilliseconds = 15000;

// The exit code of a program ended at its time limit (ERROR_TIMEOUT), the
// longest wait for it to be gone afterwards, and the largest limit (in
// seconds, so that milliseconds fit a DWORD with room).
const DWORD kTimedOutExitCode = 1460;
const DWORD kEndWaitMilliseconds = 5000;
const long kTimeLimitMaxSeconds = 2000000;

// The interactive desktop and the access entries granted on it.
extern const char kInteractiveDesktop[];
const DWORD kWindowStationInheritedAccess = 0xF0000000; // generic read, write, execute, all
const DWORD kWindowStationAccess = 0xF037F;             // all window station rights, standard rights
const DWORD kDesktopAccess = 0xF01FF;                   // all desktop rights, standard rights

extern const char kIncompatibleFlagsText[];

typedef BOOL(WINAPI *SecondaryLogonFn)(LPCWSTR user, LPCWSTR domain, LPCWSTR password, DWORD logonFlags,
                                       LPCWSTR application, LPWSTR commandLine, DWORD creationFlags,
                                       LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                                       LPPROCESS_INFORMATION process);

struct ProcessCalls {
  BOOL(WINAPI *LogonUserA)(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD provider, PHANDLE token);
  BOOL(WINAPI *ImpersonateLoggedOnUser)(HANDLE token);
  BOOL(WINAPI *RevertToSelf)();
  BOOL(WINAPI *GetTokenInformation)(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data, DWORD size,
                                    PDWORD needed);
  BOOL(WINAPI *CreateProcessA)(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                               LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                               LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info);
  BOOL(WINAPI *CreateProcessAsUserA)(HANDLE token, LPCSTR application, LPSTR commandLine,
                                     LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread, BOOL inherit,
                                     DWORD flags, LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                                     LPPROCESS_INFORMATION info);
  // The secondary logon; the system's entry finds CreateProcessWithLogonW
  // in Advapi32.dll at every call and fails when it is missing.
  SecondaryLogonFn CreateProcessWithLogonW;
  BOOL(WINAPI *ShellExecuteExA)(SHELLEXECUTEINFOA *info);
  HWINSTA(WINAPI *GetProcessWindowStation)();
  HWINSTA(WINAPI *OpenWindowStationA)(LPCSTR name, BOOL inherit, ACCESS_MASK access);
  BOOL(WINAPI *SetProcessWindowStation)(HWINSTA station);
  BOOL(WINAPI *CloseWindowStation)(HWINSTA station);
  HDESK(WINAPI *OpenDesktopA)(LPCSTR name, DWORD flags, BOOL inherit, ACCESS_MASK access);
  BOOL(WINAPI *CloseDesktop)(HDESK desktop);
  BOOL(WINAPI *GetUserObjectSecurity)(HANDLE object, PSECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor,
                                      DWORD size, LPDWORD needed);
  BOOL(WINAPI *SetUserObjectSecurity)(HANDLE object, PSECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);
  BOOL(WINAPI *CloseHandle)(HANDLE handle);
  BOOL(WINAPI *OpenProcessToken)(HANDLE process, DWORD access, PHANDLE token);
  DWORD(WINAPI *ResumeThread)(HANDLE thread);
};

extern ProcessCalls g_processCalls;
// The operating system's own entries (what g_processCalls starts as).
ProcessCalls SystemProcessCalls();

// The application name for the first word of a command line, searched with
// the system's search order; false when there is none to give.
bool ApplicationNameFor(const char *commandLine, std::string &application, bool *hasWord);

// One process-wide lock around switching the process's window station and
// changing the interactive window station's and desktop's access lists:
// starts on several threads never leave the process on another window
// station or lose each other's entries. The calls below expect it held.
class DesktopAccessLock {
public:
  DesktopAccessLock();
  ~DesktopAccessLock();
  DesktopAccessLock(const DesktopAccessLock &) = delete;
  DesktopAccessLock &operator=(const DesktopAccessLock &) = delete;
};

// Grants `sid` the window station entries and the desktop entry, after the
// kept grants of programs that have ended since are removed. An entry the
// list already holds (same kind, flags, rights and identifier) is not added
// again. 0 on success, else the error of the failed call.
DWORD GrantDesktopAccess(HWINSTA station, HDESK desktop, PSID sid);
// Removes those entries of `sid` again, unless a kept grant of a program
// that still runs holds the same identifier.
DWORD RevokeDesktopAccess(HWINSTA station, HDESK desktop, PSID sid);
// Keeps the grant of `sid` while `process` (a start not waited for) runs;
// the next grant after its end removes it. False when it cannot be kept.
bool KeepDesktopAccess(PSID sid, HANDLE process);

#endif
