#include "WineTestSupport.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

namespace qmtest {

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

bool WineDiffers(bool wineOutcome, const char *reason) {
  if (!wineOutcome || !RunningUnderWine())
    return false;
  printf("[ wine     ] %s\n", reason);
  fflush(stdout);
  return true;
}

std::string ProgramDirectory() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  std::string p(path, length);
  return p.substr(0, p.find_last_of('\\') + 1);
}

TempDirectory::TempDirectory(const char *tag) {
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  static LONG counter = 0;
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%sqm-%s-%lu-%ld\\", base, tag, GetCurrentProcessId(),
           InterlockedIncrement(&counter));
  m_path = name;
  RemoveTree(m_path);
  MakeDirectory(m_path);
}

TempDirectory::~TempDirectory() { RemoveTree(m_path); }

bool MakeDirectory(const std::string &path) {
  return CreateDirectoryA(path.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

HRESULT CallExport(HMODULE module, const char *name) {
  typedef HRESULT(STDAPICALLTYPE * RegisterFn)();
  RegisterFn fn = module ? reinterpret_cast<RegisterFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                         : nullptr;
  return fn ? fn() : E_FAIL;
}

bool CopyInto(const std::string &file, const std::string &directory) {
  std::string name = file.substr(file.find_last_of('\\') + 1);
  return CopyFileA(file.c_str(), (directory + name).c_str(), FALSE) != 0;
}

bool WriteTextFile(const std::string &path, const std::string &text) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f)
    return false;
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && ok;
}

std::string ReadTextFile(const std::string &path) {
  std::string text;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f)
    return text;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
    text.append(buffer, got);
  fclose(f);
  return text;
}

bool DeleteFileAndWait(const std::string &path) {
  if (!DeleteFileA(path.c_str()))
    return false;
  return WaitUntil([&] { return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES; }, 10000);
}

void RemoveTree(const std::string &path) {
  std::string dir = path;
  if (!dir.empty() && dir.back() != '\\')
    dir += '\\';
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..")
        continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(dir + name);
      else
        DeleteFileA((dir + name).c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(dir.c_str());
}

ChildProcess::~ChildProcess() {
  if (m_output)
    CloseHandle(m_output);
  if (m_info.hProcess) {
    if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(m_info.hProcess, 99);
      WaitForSingleObject(m_info.hProcess, 5000);
    }
    CloseHandle(m_info.hProcess);
    CloseHandle(m_info.hThread);
  }
}

bool ChildProcess::Start(const std::string &program, const std::string &arguments,
                         const std::string &directory, bool captureOutput) {
  std::string line = "\"" + program + "\"";
  if (!arguments.empty())
    line += " " + arguments;
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  HANDLE write = NULL;
  if (captureOutput) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    if (!CreatePipe(&m_output, &write, &inherit, 1 << 16))
      return false;
    SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
  }
  bool ok = CreateProcessA(program.c_str(), buffer.data(), NULL, NULL, captureOutput, 0, NULL,
                           directory.empty() ? NULL : directory.c_str(), &startup, &m_info) != 0;
  if (write)
    CloseHandle(write);
  return ok;
}

std::string ChildProcess::ReadOutput() {
  DWORD available = 0;
  while (m_output && PeekNamedPipe(m_output, NULL, 0, NULL, &available, NULL) && available > 0) {
    char chunk[4096];
    DWORD got = 0;
    if (!ReadFile(m_output, chunk, available < sizeof chunk ? available : sizeof chunk, &got, NULL) ||
        got == 0)
      break;
    m_captured.append(chunk, got);
  }
  return m_captured;
}

bool ChildProcess::WaitExit(DWORD milliseconds, DWORD *exitCode) {
  if (!m_info.hProcess || WaitForSingleObject(m_info.hProcess, milliseconds) != WAIT_OBJECT_0)
    return false;
  if (exitCode)
    GetExitCodeProcess(m_info.hProcess, exitCode);
  return true;
}

std::string WindowText(HWND window) {
  std::vector<char> text(65536, '\0');
  SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 5000, NULL);
  text.back() = '\0';
  return text.data();
}

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control ? WindowText(control) : std::string();
}

namespace {

struct FindWindowOf {
  DWORD processId;
  const char *className;
  const char *title;
  HWND found;
};

BOOL CALLBACK FindWindowOfProc(HWND window, LPARAM param) {
  FindWindowOf *find = reinterpret_cast<FindWindowOf *>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char cls[256], title[256];
  if (owner == find->processId && GetClassNameA(window, cls, sizeof cls) &&
      strcmp(cls, find->className) == 0 && GetWindowTextA(window, title, sizeof title) >= 0 &&
      strcmp(title, find->title) == 0) {
    find->found = window;
    return FALSE;
  }
  return TRUE;
}

} // namespace

HWND WaitForWindow(DWORD processId, const char *className, const char *title, DWORD milliseconds) {
  DWORD start = GetTickCount();
  for (;;) {
    FindWindowOf find = {processId, className, title, NULL};
    EnumWindows(FindWindowOfProc, reinterpret_cast<LPARAM>(&find));
    if (find.found)
      return find.found;
    if (GetTickCount() - start > milliseconds)
      return NULL;
    Sleep(50);
  }
}

namespace {

struct FindDialog {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindDialogProc(HWND window, LPARAM param) {
  FindDialog *find = reinterpret_cast<FindDialog *>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char cls[64];
  if (owner == find->processId && GetClassNameA(window, cls, sizeof cls) &&
      strcmp(cls, "#32770") == 0) {
    find->found = window;
    return FALSE;
  }
  return TRUE;
}


BOOL CALLBACK ReadChildProc(HWND child, LPARAM param) {
  MessageBoxView *view = reinterpret_cast<MessageBoxView *>(param);
  char cls[64];
  if (!GetClassNameA(child, cls, sizeof cls))
    return TRUE;
  if (_stricmp(cls, "Button") == 0) {
    view->buttons.push_back(WindowText(child));
  } else if (_stricmp(cls, "Static") == 0) {
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) {
      if (SendMessageA(child, STM_GETICON, 0, 0))
        view->hasIcon = true;
    } else {
      std::string text = WindowText(child);
      if (text.size() > view->text.size())
        view->text = text;
    }
  }
  return TRUE;
}

} // namespace

bool WaitForMessageBox(DWORD processId, DWORD milliseconds, MessageBoxView *view) {
  DWORD start = GetTickCount();
  FindDialog find = {processId, NULL};
  if (!WaitUntil([&] {
        EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&find));
        return find.found != NULL;
      }, milliseconds))
    return false;
  // The window exists before its controls do; it is shown once its
  // initialisation has created them and filled in the texts.
  DWORD spent = GetTickCount() - start;
  bool complete = WaitUntil([&] {
    *view = MessageBoxView();
    view->window = find.found;
    if (!IsWindowVisible(find.found))
      return false;
    view->title = WindowText(find.found);
    EnumChildWindows(find.found, ReadChildProc, reinterpret_cast<LPARAM>(view));
    return !view->buttons.empty() && !view->buttons.front().empty() && !view->text.empty();
  }, spent < milliseconds ? milliseconds - spent : 0);
  return complete;
}

bool ClickButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button)
    return false;
  PostMessageA(button, BM_CLICK, 0, 0);
  return true;
}

std::string ReadRegistryText(HKEY root, const std::string &key, const std::string &value,
                             bool *found, DWORD *type) {
  if (found)
    *found = false;
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS)
    return std::string();
  DWORD size = 0, t = 0;
  std::string text;
  if (RegQueryValueExA(k, value.c_str(), NULL, &t, NULL, &size) == ERROR_SUCCESS) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(k, value.c_str(), NULL, &t, reinterpret_cast<BYTE *>(buffer.data()),
                         &size) == ERROR_SUCCESS) {
      if (found)
        *found = true;
      if (type)
        *type = t;
      text = buffer.data();
    }
  }
  RegCloseKey(k);
  return text;
}

void DeleteRegistryValue(HKEY root, const std::string &key, const std::string &value) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
    RegDeleteValueA(k, value.c_str());
    RegCloseKey(k);
  }
}

void WriteRegistryText(HKEY root, const std::string &key, const std::string &value,
                       const std::string &text) {
  HKEY k;
  if (RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &k, NULL) ==
      ERROR_SUCCESS) {
    RegSetValueExA(k, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(k);
  }
}

std::string EnvironmentValue(const char *name, bool *found) {
  DWORD length = GetEnvironmentVariableA(name, NULL, 0);
  if (found)
    *found = length > 0;
  if (length == 0)
    return std::string();
  std::vector<char> buffer(length);
  DWORD got = GetEnvironmentVariableA(name, buffer.data(), length);
  return std::string(buffer.data(), got < length ? got : 0);
}

PathPrefix::PathPrefix(const std::string &directory) : m_saved(EnvironmentValue("PATH")) {
  SetEnvironmentVariableA("PATH", (directory + ";" + m_saved).c_str());
}

PathPrefix::~PathPrefix() { SetEnvironmentVariableA("PATH", m_saved.c_str()); }

ScriptsFolder::ScriptsFolder(const std::string &directory)
    : m_path(directory), m_saved(EnvironmentValue("QM.DEFAULT_DIR")),
      m_wasSet(GetEnvironmentVariableA("QM.DEFAULT_DIR", NULL, 0) != 0) {
  SetEnvironmentVariableA("QM.DEFAULT_DIR", directory.c_str());
}

ScriptsFolder::~ScriptsFolder() { SetEnvironmentVariableA("QM.DEFAULT_DIR", m_wasSet ? m_saved.c_str() : NULL); }

void PumpFor(DWORD milliseconds) {
  DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < milliseconds) {
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
  }
}

void PumpPending() {
  MSG msg;
  while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool WaitUntil(const std::function<bool()> &done, DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > milliseconds)
      return false;
    Sleep(50);
  }
  return true;
}

bool PumpUntil(const std::function<bool()> &done, DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > milliseconds)
      return false;
    PumpFor(10);
  }
  return true;
}

HiddenProgId::HiddenProgId(const std::string &progId)
    : m_key("Software\\Classes\\" + progId + "\\CLSID") {
  m_saved = ReadRegistryText(HKEY_LOCAL_MACHINE, m_key, "", &m_found);
  if (m_found)
    WriteRegistryText(HKEY_LOCAL_MACHINE, m_key, "", "{6D1D7E7B-0000-4E2F-9C8B-3F1B2A000001}");
}

HiddenProgId::~HiddenProgId() {
  if (m_found)
    WriteRegistryText(HKEY_LOCAL_MACHINE, m_key, "", m_saved);
}

Text::Text(const std::string &text) : m_text(SysAllocStringLen(nullptr, static_cast<UINT>(text.size()))) {
  for (size_t i = 0; m_text && i < text.size(); ++i)
    m_text[i] = static_cast<unsigned char>(text[i]);
}

std::string SystemText(DWORD code) {
  char *text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                 code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char *>(&text), 0, NULL);
  std::string result = text ? text : "";
  LocalFree(text);
  while (!result.empty() && isspace(static_cast<unsigned char>(result.back())))
    result.pop_back();
  return result;
}

DWORD ServiceState(SC_HANDLE service, DWORD *processId) {
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof status,
                            &needed))
    return 0;
  if (processId)
    *processId = status.dwProcessId;
  return status.dwCurrentState;
}

ServiceRemoval::~ServiceRemoval() {
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  if (manager) {
    SC_HANDLE service = OpenServiceA(manager, m_name.c_str(), SERVICE_ALL_ACCESS);
    if (service) {
      SERVICE_STATUS status;
      if (ControlService(service, SERVICE_CONTROL_STOP, &status))
        WaitUntil([&] { return ServiceState(service) == SERVICE_STOPPED; }, 60000);
      DeleteService(service);
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + m_name).c_str());
}

RegisteredCoreLibrary::RegisteredCoreLibrary()
    : m_library(LoadLibraryA((ProgramDirectory() + "QuillmothLib.dll").c_str())),
      m_registration(CallExport(m_library, "DllRegisterServer")), m_registered(true) {}

RegisteredCoreLibrary::~RegisteredCoreLibrary() {
  Unregister();
  if (m_library)
    FreeLibrary(m_library);
}

HRESULT RegisteredCoreLibrary::Unregister() {
  if (!m_registered)
    return S_OK;
  m_registered = false;
  return CallExport(m_library, "DllUnregisterServer");
}

namespace {

std::string Unescaped(const std::string &html) {
  static const struct {
    const char *reference;
    char character;
  } kReferences[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#x27;", '\''}, {"&#39;", '\''}, {"&amp;", '&'}};
  std::string out;
  for (size_t i = 0; i < html.size();) {
    bool replaced = false;
    if (html[i] == '&')
      for (const auto &r : kReferences)
        if (html.compare(i, strlen(r.reference), r.reference) == 0) {
          out += r.character;
          i += strlen(r.reference);
          replaced = true;
          break;
        }
    if (!replaced)
      out += html[i++];
  }
  return out;
}

std::vector<std::string> GuidePages() {
  std::vector<std::string> pages;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((ProgramDirectory() + "Guide\\*.html").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return pages;
  do
    pages.push_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return pages;
}

} // namespace

std::vector<GuideBlock> GuideBlocks(const std::string &firstClass) {
  std::vector<GuideBlock> blocks;
  const std::string open = "<pre class=\"";
  for (const std::string &page : GuidePages()) {
    std::string text = ReadTextFile(ProgramDirectory() + "Guide\\" + page);
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
      size_t classEnd = text.find('"', at + open.size());
      size_t body = text.find('>', at);
      size_t end = text.find("</pre>", at);
      if (classEnd == std::string::npos || body == std::string::npos || end == std::string::npos || body > end)
        break;
      std::string classes = text.substr(at + open.size(), classEnd - at - open.size());
      if (classes != firstClass && classes.rfind(firstClass + " ", 0) != 0)
        continue;
      std::string block = Unescaped(text.substr(body + 1, end - body - 1));
      std::string plain; // the pages are written with CR LF
      for (char c : block)
        if (c != '\r')
          plain += c;
      blocks.push_back({page, classes, plain});
    }
  }
  return blocks;
}

std::map<std::string, std::string> GuideFailureValues() {
  std::map<std::string, std::string> values;
  std::string page = ReadTextFile(ProgramDirectory() + "Guide\\reference.html");
  const std::string section = "<section class=\"method\" id=\"", value = "<p class=\"failure\" data-value=\"";
  for (size_t at = page.find(section); at != std::string::npos; at = page.find(section, at + 1)) {
    size_t nameEnd = page.find('"', at + section.size());
    size_t end = page.find("</section>", at);
    size_t failure = page.find(value, at);
    if (nameEnd == std::string::npos || failure == std::string::npos || failure > end)
      continue;
    size_t valueEnd = page.find('"', failure + value.size());
    values[page.substr(at + section.size(), nameEnd - at - section.size())] =
        Unescaped(page.substr(failure + value.size(), valueEnd - failure - value.size()));
  }
  return values;
}

} // namespace qmtest
