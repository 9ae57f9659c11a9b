#include "MonitorWindow.h"
#include "EngineStatus.h"
#include "HistoryCommands.h"
#include "QuillmothRun.h"
#include "resource.h"

#include <shellapi.h>
#include <vector>

namespace {

const UINT_PTR kRefreshTimer = 1;
const UINT kRefreshMs = 1000;
// Shown of the transcript when the monitor opens: its end, from a line start.
const unsigned long long kInitialTail = 16384;

std::wstring Wide(const std::string &utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
  std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
  if (length > 0)
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
  return wide;
}

} // namespace

CMonitorWindow::CMonitorWindow(const char *serviceName, const std::string &why)
    : CDialog(IDD_MONITOR), m_serviceName(serviceName), m_why(why) {}

BOOL CMonitorWindow::OnInitDialog() {
  char folder[MAX_PATH];
  if (QMR_GetDataFolder(folder, sizeof folder, TRUE))
    m_transcript = std::string(folder) + "Console.log";
  ShowText(m_why + "\r\n");
  if (m_transcript.empty())
    ShowText("No transcript yet: the service has not written one.\r\n");
  Refresh();
  SetTimer(m_hWnd, kRefreshTimer, kRefreshMs, NULL);
  return TRUE;
}

bool CMonitorWindow::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT *reply) {
  switch (message) {
  case WM_TIMER:
    if (wParam == kRefreshTimer)
      Refresh();
    *reply = 0;
    return true;
  case WM_COMMAND:
    switch (LOWORD(wParam)) {
    case IDC_SERVICE_START:
      ControlService(true);
      break;
    case IDC_SERVICE_STOP:
      ControlService(false);
      break;
    case IDCANCEL:
      KillTimer(m_hWnd, kRefreshTimer);
      EndModalLoop(0);
      break;
    }
    *reply = 0;
    return true;
  case WM_CLOSE:
    KillTimer(m_hWnd, kRefreshTimer);
    EndModalLoop(0);
    *reply = 0;
    return true;
  }
  return false;
}

void CMonitorWindow::ShowText(const std::string &utf8) {
  HWND box = GetDlgItem(m_hWnd, IDC_OUTPUT);
  if (!box || utf8.empty())
    return;
  // Past the box's limit the oldest half goes, as the console does it.
  int current = GetWindowTextLengthW(box);
  LRESULT limit = SendMessageW(box, EM_GETLIMITTEXT, 0, 0);
  std::wstring text = Wide(utf8);
  if (current + static_cast<LRESULT>(text.size()) >= limit) {
    LRESULT lines = SendMessageW(box, EM_GETLINECOUNT, 0, 0);
    LRESULT cut = SendMessageW(box, EM_LINEINDEX, lines / 2, 0);
    SendMessageW(box, EM_SETSEL, 0, cut > 0 ? cut : current);
    SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  }
  int end = GetWindowTextLengthW(box);
  SendMessageW(box, EM_SETSEL, end, end);
  SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void CMonitorWindow::ReadTranscript() {
  if (m_transcript.empty())
    return;
  HANDLE file = CreateFileA(m_transcript.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return;
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  unsigned long long total = static_cast<unsigned long long>(size.QuadPart);
  bool first = m_offset == 0;
  if (total < m_offset)
    m_offset = 0; // rotated: the new file from its start
  if (first && total > kInitialTail)
    m_offset = total - kInitialTail;
  std::string bytes;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(m_offset);
  if (total > m_offset && SetFilePointerEx(file, at, NULL, FILE_BEGIN)) {
    std::vector<char> buffer(static_cast<size_t>(total - m_offset));
    DWORD got = 0;
    if (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, NULL))
      bytes.assign(buffer.data(), got);
  }
  CloseHandle(file);
  // Only whole lines: a line being written is shown when it is complete.
  size_t end = bytes.rfind('\n');
  if (end == std::string::npos)
    return;
  bytes.resize(end + 1);
  if (first && m_offset > 0) {
    size_t start = bytes.find('\n');
    m_offset += start + 1;
    bytes.erase(0, start + 1);
  }
  m_offset += bytes.size();
  ShowText(bytes);
}

void CMonitorWindow::Refresh() {
  ReadTranscript();
  std::string engine;
  EngineRunning(&engine);
  SetDlgItemTextA(m_hWnd, IDC_STATUS, ("Service " + ServiceStateText(m_serviceName) + "; engine " + engine).c_str());
  SetDlgItemTextW(m_hWnd, IDC_LAST_RUN, Wide(LastRunText()).c_str());
}

// Starts or stops the service; where this account may not, asks for
// elevation and lets the control manager's own tool do it.
void CMonitorWindow::ControlService(bool start) {
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, m_serviceName, start ? SERVICE_START : SERVICE_STOP) : NULL;
  DWORD error = ERROR_SUCCESS;
  if (!service) {
    error = GetLastError();
  } else {
    SERVICE_STATUS status = {};
    if (!(start ? StartServiceA(service, 0, NULL) : ::ControlService(service, SERVICE_CONTROL_STOP, &status)))
      error = GetLastError();
  }
  if (service)
    CloseServiceHandle(service);
  if (manager)
    CloseServiceHandle(manager);
  if (error == ERROR_ACCESS_DENIED) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    std::string tool = std::string(system) + "\\sc.exe";
    std::string arguments = std::string(start ? "start \"" : "stop \"") + m_serviceName + "\"";
    if (reinterpret_cast<INT_PTR>(ShellExecuteA(m_hWnd, "runas", tool.c_str(), arguments.c_str(), NULL, SW_HIDE)) <= 32)
      ShowText(std::string("The service could not be ") + (start ? "started" : "stopped") +
               ": this account may not, and elevation was refused.\r\n");
  } else if (error != ERROR_SUCCESS) {
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text, sizeof text, NULL);
    ShowText(std::string("The service could not be ") + (start ? "started: " : "stopped: ") + text);
  }
  Refresh();
}
