// Helpers for tests that drive real Win32 behaviour under Wine, the way an
// automation client would: child processes, their windows, the registry.
#ifndef WINETESTSUPPORT_H
#define WINETESTSUPPORT_H

#include <windows.h>
#include <oleauto.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qmtest {

// True when the test runs under Wine (its ntdll exports wine_get_version).
bool RunningUnderWine();

// A known Wine difference, marked where it is asserted, as Wine's own
// conformance tests mark them with broken(): true only under Wine and only
// when wineOutcome holds, so on Windows the Windows outcome is required.
// The reason (what Wine does, and what Windows does instead) is printed
// each time the difference is taken. Use it as
//   EXPECT_TRUE(got == windows || qmtest::WineDiffers(got == wine, "why"));
bool WineDiffers(bool wineOutcome, const char *reason);

// Directory of the running test program, with a trailing backslash.
std::string ProgramDirectory();

// A fresh, empty directory under the temporary directory; removed with its
// contents when the object goes away.
class TempDirectory {
public:
  explicit TempDirectory(const char *tag);
  ~TempDirectory();
  const std::string &Path() const { return m_path; } // with trailing backslash
  std::string operator/(const std::string &name) const { return m_path + name; }

private:
  std::string m_path;
};

bool MakeDirectory(const std::string &path);
bool CopyInto(const std::string &file, const std::string &directory);
bool WriteTextFile(const std::string &path, const std::string &text);
std::string ReadTextFile(const std::string &path);
void RemoveTree(const std::string &path);
// Deletes a file and waits until its name is gone. A file still open
// somewhere (the image of a program that has just ended) keeps its name
// until the last handle closes, on Windows as a delete-pending file and
// under Wine as a file that is still there: a search right after the
// delete can otherwise still find it.
bool DeleteFileAndWait(const std::string &path);

// Calls a library's registration export (DllRegisterServer or
// DllUnregisterServer); E_FAIL when the module or the export is missing.
HRESULT CallExport(HMODULE module, const char *name);

// A child process started with CreateProcess; killed if still running when
// the object goes away.
class ChildProcess {
public:
  ChildProcess() {}
  ~ChildProcess();
  // With captureOutput, the child's standard output and error go to a pipe
  // that ReadOutput drains.
  bool Start(const std::string &program, const std::string &arguments,
             const std::string &directory = std::string(), bool captureOutput = false);
  DWORD Id() const { return m_info.dwProcessId; }
  // Waits for the process to end; false on time-out.
  bool WaitExit(DWORD milliseconds, DWORD *exitCode = NULL);
  // Everything the child wrote so far (without waiting for more).
  std::string ReadOutput();

private:
  PROCESS_INFORMATION m_info = {};
  HANDLE m_output = NULL;
  std::string m_captured;
};

// Waits for a top-level window of the process with this class and title.
HWND WaitForWindow(DWORD processId, const char *className, const char *title, DWORD milliseconds);
// Text of a dialog's control, read with WM_GETTEXT as an outside program does.
std::string ControlText(HWND dialog, int id);
std::string WindowText(HWND window);

// A message box (dialog class #32770) of the given process, as the user sees it.
struct MessageBoxView {
  HWND window = NULL;
  std::string title;
  std::string text;                // the message itself
  std::vector<std::string> buttons;
  bool hasIcon = false;
};

// Waits until the process shows a top-level dialog window, its buttons and
// text in place, and reads it.
bool WaitForMessageBox(DWORD processId, DWORD milliseconds, MessageBoxView *view);
// Presses a button of a dialog as a user would (BM_CLICK).
bool ClickButton(HWND dialog, int id);

// Registry helpers; a missing value answers found = false.
std::string ReadRegistryText(HKEY root, const std::string &key, const std::string &value,
                             bool *found = NULL, DWORD *type = NULL);
void DeleteRegistryValue(HKEY root, const std::string &key, const std::string &value);
void WriteRegistryText(HKEY root, const std::string &key, const std::string &value,
                       const std::string &text);

std::string EnvironmentValue(const char *name, bool *found = NULL);

// Points a ProgID (under HKLM\\Software\\Classes) at a class that does not
// exist for as long as the object lives, as if the component were not
// installed; the prefix's value is put back afterwards.
class HiddenProgId {
public:
  explicit HiddenProgId(const std::string &progId);
  ~HiddenProgId();
  bool WasRegistered() const { return m_found; }

private:
  HiddenProgId(const HiddenProgId &) = delete;
  HiddenProgId &operator=(const HiddenProgId &) = delete;
  std::string m_key, m_saved;
  bool m_found = false;
};


// Puts a folder in front of PATH (where the runtime's file search finds
// scripts) for as long as the object lives.
class PathPrefix {
public:
  explicit PathPrefix(const std::string &directory);
  ~PathPrefix();

private:
  PathPrefix(const PathPrefix &) = delete;
  PathPrefix &operator=(const PathPrefix &) = delete;
  std::string m_saved;
};

// The Scripts folder as the host sets it up, for the life of the object:
// QM.DEFAULT_DIR names the folder and PATH starts with it.
class ScriptsFolder {
public:
  explicit ScriptsFolder(const std::string &directory);
  ~ScriptsFolder();

private:
  ScriptsFolder(const ScriptsFolder &) = delete;
  ScriptsFolder &operator=(const ScriptsFolder &) = delete;
  PathPrefix m_path;
  std::string m_saved;
  bool m_wasSet;
};

// A BSTR argument made from a test's text, freed when the object goes away.
// A null wide text stays null; 8-bit text is widened byte by byte.
class Text {
public:
  explicit Text(const wchar_t *text) : m_text(text ? SysAllocString(text) : nullptr) {}
  explicit Text(const std::string &text);
  ~Text() { SysFreeString(m_text); }
  operator BSTR() const { return m_text; }

private:
  Text(const Text &) = delete;
  Text &operator=(const Text &) = delete;
  BSTR m_text;
};

// The system's own text for an error code, looked up here independently of
// the code under test, without its line end.
std::string SystemText(DWORD code);

// A service's state (SERVICE_RUNNING...) and process id; 0 when it cannot be
// asked.
DWORD ServiceState(SC_HANDLE service, DWORD *processId = NULL);

// A handle of the service control manager, closed when the object goes
// away unless Close did so before (a service marked for deletion goes only
// once every handle to it is closed).
class ServiceHandle {
public:
  explicit ServiceHandle(SC_HANDLE handle) : m_handle(handle) {}
  ~ServiceHandle() { Close(); }
  operator SC_HANDLE() const { return m_handle; }
  void Close() {
    if (m_handle)
      CloseServiceHandle(m_handle);
    m_handle = NULL;
  }

private:
  ServiceHandle(const ServiceHandle &) = delete;
  ServiceHandle &operator=(const ServiceHandle &) = delete;
  SC_HANDLE m_handle;
};

// Leaves no service behind, also when a check failed half-way: when the
// object goes away the service of that name (if it exists) is stopped, with
// time for its stop sequence, and deleted, and its event source key removed.
class ServiceRemoval {
public:
  explicit ServiceRemoval(const std::string &name) : m_name(name) {}
  ~ServiceRemoval();

private:
  ServiceRemoval(const ServiceRemoval &) = delete;
  ServiceRemoval &operator=(const ServiceRemoval &) = delete;
  std::string m_name;
};

// A key under HKEY_LOCAL_MACHINE removed with its subkeys when the object
// goes away.
class RegistryTreeRemoval {
public:
  explicit RegistryTreeRemoval(const std::string &key) : m_key(key) {}
  ~RegistryTreeRemoval() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str()); }

private:
  RegistryTreeRemoval(const RegistryTreeRemoval &) = delete;
  RegistryTreeRemoval &operator=(const RegistryTreeRemoval &) = delete;
  std::string m_key;
};

// QuillmothLib.dll of the test program's folder registered in the prefix for
// as long as the object lives (unless Unregister was called before).
class RegisteredCoreLibrary {
public:
  RegisteredCoreLibrary();
  ~RegisteredCoreLibrary();
  // DllRegisterServer's answer.
  HRESULT Registration() const { return m_registration; }
  // DllUnregisterServer's answer (S_OK once it was asked before); the
  // registration is gone afterwards.
  HRESULT Unregister();

private:
  RegisteredCoreLibrary(const RegisteredCoreLibrary &) = delete;
  RegisteredCoreLibrary &operator=(const RegisteredCoreLibrary &) = delete;
  HMODULE m_library;
  HRESULT m_registration;
  bool m_registered;
};

// Runs the calling thread's message loop for about the given time.
void PumpFor(DWORD milliseconds);
// Handles the messages already in the calling thread's queue and returns
// once none is left, without waiting for more.
void PumpPending();

// Polls until the condition holds (false on time-out). PumpUntil handles the
// calling thread's messages meanwhile, for tests whose thread owns windows.
bool WaitUntil(const std::function<bool()> &done, DWORD milliseconds = 30000);
bool PumpUntil(const std::function<bool()> &done, DWORD milliseconds = 30000);

// A <pre> block of the assembled guide (Guide beside the tests): its page,
// its class list and its text with the page's character references undone.
struct GuideBlock {
  std::string page;
  std::string classes;
  std::string text;
};
// The blocks whose class list begins with the given class ("example",
// "command"), page by page.
std::vector<GuideBlock> GuideBlocks(const std::string &firstClass);
// The failure value the reference states for each method that has one
// (data-value of its "failure" line), by method name.
std::map<std::string, std::string> GuideFailureValues();

} // namespace qmtest

#endif
