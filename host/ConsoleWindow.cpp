// The console window itself: output box, status line, buttons, tray icon,
// About box, help and link label.
#include "EngineStatus.h"
#include "RuntimeEvents.h"
#include "QuillmothDlg.h"
#include "ConsoleShell.h"
#include "ModulePath.h"
#include "QuillmothApp.h"
#include "QuillmothRun.h"

#include <shellapi.h>
#include <stdio.h>
#include <string.h>

const char kHelpAddress[] = "https://www.brenlow.example/quillmoth/guide/";
const char kMakerAddress[] = "https://www.brenlow.example/";
const char kGuideIndex[] = "Guide\\index.html";

namespace {

const size_t kLineMax = 1023;
const size_t kBoxBatch = 8192; // characters held back from the box at most
const UINT kBoxFlushMessage = WM_APP + 1;
const COLORREF kLinkColour = RGB(0, 55, 200);

bool RunningAsService() {
  char *value = g_variables.GetVariable(NULL, "QM.IS_SERVICE", VAR_MODE_PROCESS);
  bool service = value && atoi(value) != 0;
  CVariableManager::FreeText(value);
  return service;
}

INT_PTR CALLBACK LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_INITDIALOG:
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    return TRUE;
  case WM_CTLCOLORSTATIC:
    if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_LINK_TEXT) {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kLinkColour);
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    return FALSE;
  case WM_SETCURSOR:
    if (GetDlgCtrlID(reinterpret_cast<HWND>(wParam)) == IDC_LINK_TEXT) {
      HINSTANCE resources = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, DWLP_USER));
      HCURSOR cursor = LoadCursorA(resources, MAKEINTRESOURCEA(IDC_LINK_CURSOR));
      SetCursor(cursor ? cursor : LoadCursorA(NULL, IDC_HAND));
      SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    return FALSE;
  case WM_COMMAND:
    if (LOWORD(wParam) == IDC_LINK_TEXT && HIWORD(wParam) == STN_CLICKED) {
      ATOM atom = GlobalAddAtomA(kMakerAddress);
      HWND main = theApp.MainWindow() ? theApp.MainWindow() : GetParent(window);
      if (!PostMessageA(main, g_hostMsg.linkClick, atom, 1) && atom)
        GlobalDeleteAtom(atom);
      return TRUE;
    }
    return FALSE;
  }
  return FALSE;
}

} // namespace

HostMessages::HostMessages()
    : runOnce(RegisterWindowMessageA("WM_RUNONCE")),
      autoRun(RegisterWindowMessageA("WM_AUTORUN")),
      shutdown(RegisterWindowMessageA("WM_SHUTDOWN")),
      notifyIcon(RegisterWindowMessageA("WM_NOTIFYICON")),
      linkClick(RegisterWindowMessageA("RM_LINK_CLICK")),
      qmrThread(RegisterWindowMessageA(QMR_MSG_THREAD)),
      qmrPrint(RegisterWindowMessageA(QMR_MSG_PRINT)),
      qmrExit(RegisterWindowMessageA(QMR_MSG_EXIT)),
      qmrError(RegisterWindowMessageA(QMR_MSG_ERROR)),
      relayPing(RegisterWindowMessageA(QMR_MSG_RELAY_PING)),
      qmrShutdown(RegisterWindowMessageA(QMR_MSG_SHUTDOWN)) {}

const HostMessages g_hostMsg;

DWORD FirstState(DWORD state) {
  for (DWORD bit : {STATE_IDLE, STATE_RUNNING, STATE_STOPPED, STATE_SUSPENDED})
    if (state & bit)
      return bit;
  return 0;
}

DATE SystemLocalClock() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  now.wMilliseconds = 0;
  DATE date = 0;
  SystemTimeToVariantTime(&now, &date);
  return date;
}

CQuillmothDlg::CQuillmothDlg(const ConsoleOptions &options, LocalClockFn clock)
    : CDialog(IDD_QUILLMOTH_DIALOG), m_options(options), m_clock(clock), m_icon(NULL),
      m_trayPresent(0), m_categoryMask(0), m_liveWorkers(0), m_referenceTime(0),
      m_referenceValid(false), m_engineState(STATE_IDLE), m_shownState(STATE_IDLE) {
  QMR_Own();
  m_referenceTime = m_clock();
  m_referenceValid = true;
}

CQuillmothDlg::~CQuillmothDlg() {
  DestroyWindow();
  if (m_linkFont)
    DeleteObject(m_linkFont);
  QMR_Disown();
}

BOOL CQuillmothDlg::OnInitDialog() {
  m_icon = LoadIconA(m_resources, MAKEINTRESOURCEA(IDR_MAINFRAME));
  HMENU menu = GetSystemMenu(m_hWnd, FALSE);
  if (menu) {
    if (RunningAsService()) {
      RemoveMenu(menu, 5, MF_BYPOSITION); // the separator above Close
      RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND);
    }
    RemoveMenu(menu, SC_RESTORE, MF_BYCOMMAND);
    RemoveMenu(menu, SC_SIZE, MF_BYCOMMAND);
    RemoveMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
  }
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
  SetDlgItemTextA(m_hWnd, IDC_COUNT, "*");
  UpdateStatus();
  ConsoleLine("Initializing...");
  EnableWindow(m_hWnd, FALSE);
  UpdateWindow(m_hWnd);
  PostMessageA(m_hWnd, g_hostMsg.runOnce, 0, 0);
  return TRUE;
}

void CQuillmothDlg::UpdateStatus() {
  char computer[1024] = "";
  DWORD size = sizeof computer;
  if (!GetComputerNameA(computer, &size))
    computer[0] = '\0';
  std::string status = std::string("Running locally on ") + computer +
                       (RunningAsService() ? " as a SERVICE" : " as an APPLICATION");
  SetDlgItemTextA(m_hWnd, IDC_STATUS, status.c_str());

  HWND suspend = GetDlgItem(m_hWnd, IDC_SUSPEND), stop = GetDlgItem(m_hWnd, IDC_STOP);
  switch (FirstState(m_engineState)) {
  case STATE_IDLE:
    EnableWindow(suspend, FALSE);
    EnableWindow(stop, FALSE);
    break;
  case STATE_RUNNING:
    EnableWindow(suspend, TRUE);
    EnableWindow(stop, TRUE);
    SetWindowTextA(suspend, "Suspend");
    break;
  case STATE_STOPPED:
    EnableWindow(suspend, FALSE);
    EnableWindow(stop, FALSE);
    SetDlgItemTextA(m_hWnd, IDC_INDICATOR, "X");
    break;
  case STATE_SUSPENDED:
    EnableWindow(suspend, TRUE);
    EnableWindow(stop, TRUE);
    SetWindowTextA(suspend, "Resume");
    break;
  }
  PublishStatus();
}

void CQuillmothDlg::PublishStatus() {
  EngineStatus status;
  switch (FirstState(m_engineState)) {
  case STATE_IDLE: status.state = "starting"; break;
  case STATE_RUNNING: status.state = "running"; break;
  case STATE_STOPPED: status.state = "stopped"; break;
  case STATE_SUSPENDED: status.state = "suspended"; break;
  }
  status.mode = RunningAsService() ? "service" : "application";
  status.workers = m_liveWorkers;
  WriteEngineStatus(status);
}

void CQuillmothDlg::SetState(DWORD set, DWORD clear) {
  m_engineState = (m_engineState & ~clear) | set;
  UpdateStatus();
}

// Lines for the output box wait here while more texts are queued for the
// console: the box lays out its text again at every change (some 10 ms a
// change under load), so a burst goes in as one change, and a console
// that keeps up with its scripts still reaches its posted commands.
void CQuillmothDlg::QueueBoxLine(const std::string &line) {
  if (!m_hWnd)
    return; // no box yet
  m_boxPending += line;
  m_boxPending += "\r\n";
  const bool textsWaiting = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
  if (!textsWaiting || m_boxPending.size() >= kBoxBatch) {
    FlushBox();
  } else if (!m_boxFlushPosted) {
    m_boxFlushPosted = PostMessageA(m_hWnd, kBoxFlushMessage, 0, 0) != FALSE;
    if (!m_boxFlushPosted)
      FlushBox();
  }
}

void CQuillmothDlg::FlushBox() {
  HWND box = GetDlgItem(m_hWnd, IDC_OUTPUT);
  std::string text;
  text.swap(m_boxPending);
  if (!box || text.empty())
    return;
  size_t limit = static_cast<size_t>(SendMessageA(box, EM_GETLIMITTEXT, 0, 0));
  if (limit > 4 && text.size() >= limit / 2) {
    // More than the box should take at once: its newest lines, from a line's start.
    size_t from = text.find("\r\n", text.size() - limit / 2);
    text.erase(0, from == std::string::npos ? text.size() - limit / 2 : from + 2);
  }
  size_t current = static_cast<size_t>(GetWindowTextLengthA(box));
  if (text.size() + current >= limit) {
    // The oldest quarter of the lines makes room, or more where the new
    // text needs more.
    LRESULT lines = SendMessageA(box, EM_GETLINECOUNT, 0, 0);
    LRESULT quarter = SendMessageA(box, EM_LINEINDEX, lines / 4, 0);
    size_t cut = quarter > 0 ? static_cast<size_t>(quarter) : 0;
    size_t needed = text.size() + current - limit + 1;
    if (cut < needed) {
      LRESULT line = SendMessageA(box, EM_LINEFROMCHAR, needed, 0);
      LRESULT next = SendMessageA(box, EM_LINEINDEX, line + 1, 0);
      cut = next > 0 ? static_cast<size_t>(next) : current;
    }
    if (cut > 0) {
      SendMessageA(box, EM_SETSEL, 0, static_cast<LPARAM>(cut));
      SendMessageA(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    }
  }
  int end = GetWindowTextLengthA(box);
  SendMessageA(box, EM_SETSEL, end, end);
  SendMessageA(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

// One console line: cut to 1,023 characters, shown unchanged, and copied to
// standard output when the program has one (run from a terminal).
void CQuillmothDlg::ConsoleLine(const std::string &text) {
  std::string line = text.substr(0, kLineMax);
  QMR_Transcript(line.c_str());
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out && out != INVALID_HANDLE_VALUE) {
    std::string copy = line + "\r\n";
    DWORD written = 0;
    WriteFile(out, copy.data(), static_cast<DWORD>(copy.size()), &written, NULL);
  }
  try {
    QueueBoxLine(line);
  } catch (...) {
    m_boxPending.clear(); // out of memory: the box misses these lines, the transcript has them
  }
}

void CQuillmothDlg::PrintCategorized(const std::string &text, DWORD category) {
  if (category & m_categoryMask)
    ConsoleLine("[" + text + "]");
}

bool CQuillmothDlg::TrayAdd() {
  NOTIFYICONDATAA data = {};
  data.cbSize = sizeof data;
  data.hWnd = m_hWnd;
  data.uID = TRAY_ICON_ID;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = g_hostMsg.notifyIcon;
  data.hIcon = static_cast<HICON>(
      LoadImageA(m_resources, MAKEINTRESOURCEA(IDI_TRAY_IDLE), IMAGE_ICON, 20, 20, 0));
  lstrcpynA(data.szTip, "Quillmoth - nothing to do", 128);
  bool ok = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
  if (data.hIcon)
    DestroyIcon(data.hIcon);
  return ok;
}

bool CQuillmothDlg::TrayRefresh() {
  if (((m_engineState ^ m_shownState) & 7) == 0)
    return true;
  m_shownState = m_engineState;
  bool running = FirstState(m_engineState) == STATE_RUNNING;
  NOTIFYICONDATAA data = {};
  data.cbSize = sizeof data;
  data.hWnd = m_hWnd;
  data.uID = TRAY_ICON_ID;
  data.uFlags = NIF_ICON | NIF_TIP;
  data.hIcon = static_cast<HICON>(LoadImageA(
      m_resources, MAKEINTRESOURCEA(running ? IDI_TRAY_RUNNING : IDI_TRAY_STOPPED), IMAGE_ICON, 20,
      20, 0));
  lstrcpynA(data.szTip, running ? "Quillmoth - running" : "Quillmoth - stopped", 128);
  bool ok = Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
  if (data.hIcon)
    DestroyIcon(data.hIcon);
  return ok;
}

void CQuillmothDlg::TrayRemove() {
  NOTIFYICONDATAA data = {};
  data.cbSize = sizeof data;
  data.hWnd = m_hWnd;
  data.uID = TRAY_ICON_ID;
  Shell_NotifyIconA(NIM_DELETE, &data);
  m_trayPresent = 0;
}

void CQuillmothDlg::OnTrayNotify(LPARAM mouseMessage) {
  if (mouseMessage == WM_LBUTTONDBLCLK) {
    ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    SetForegroundWindow(m_hWnd);
  } else if (mouseMessage == WM_RBUTTONUP) {
    SetForegroundWindow(m_hWnd);
    HMENU menu = LoadMenuA(m_resources, MAKEINTRESOURCEA(IDR_TRAYMENU));
    if (menu) {
      POINT at;
      GetCursorPos(&at);
      TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, at.x - 10, at.y - 10, 0, m_hWnd, NULL);
      DestroyMenu(menu);
    }
    PostMessageA(m_hWnd, WM_USER, 0, 0);
  }
}

std::string HelpTarget(const std::string &programDirectory) {
  // An empty directory would make the guide's path relative to whatever
  // folder is current.
  if (programDirectory.empty())
    return kHelpAddress;
  std::string guide = programDirectory + kGuideIndex;
  DWORD attributes = GetFileAttributesA(guide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return kHelpAddress;
  return guide;
}

void CQuillmothDlg::OnHelp() {
  HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
  std::string target = HelpTarget(ModulePath(theApp.ProgramPath().c_str()).Directory());
  g_consoleShell.ShellExecute(m_hWnd, NULL, target.c_str(), NULL, NULL, SW_SHOWNORMAL);
  SetCursor(previous);
}

namespace {

INT_PTR CALLBACK InitAbout(HWND window, UINT, WPARAM, LPARAM) {
  char label[128] = "";
  GetDlgItemTextA(window, IDC_VERSION_LABEL, label, sizeof label);
  WORD third = HIWORD(g_versionLS);
  char version[64];
  if (third)
    snprintf(version, sizeof version, " %u.%u.%u", VersionMajor(), VersionMinor(), third);
  else
    snprintf(version, sizeof version, " %u.%u", VersionMajor(), VersionMinor());
  SetDlgItemTextA(window, IDC_VERSION_LABEL, (std::string(label) + version).c_str());
  return TRUE;
}

} // namespace

void CQuillmothDlg::OnAbout() { RunSimpleModalDialog(m_resources, IDD_ABOUTBOX, m_hWnd, InitAbout); }

void CQuillmothDlg::ShowLinkLabel() {
  m_link = CreateDialogParamA(m_resources, MAKEINTRESOURCEA(IDD_LINK), m_hWnd, LinkProc,
                              reinterpret_cast<LPARAM>(m_resources));
  if (!m_link)
    return;
  HDC dc = GetDC(m_hWnd);
  m_linkFont = CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                           TRUE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
  ReleaseDC(m_hWnd, dc);
  SendDlgItemMessageA(m_link, IDC_LINK_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(m_linkFont), TRUE);
  RECT mark, label;
  GetWindowRect(GetDlgItem(m_hWnd, IDC_LINK_MARK), &mark);
  GetWindowRect(m_link, &label);
  POINT centre = {(mark.left + mark.right) / 2, (mark.top + mark.bottom) / 2};
  ScreenToClient(m_hWnd, &centre);
  int width = label.right - label.left, height = label.bottom - label.top;
  SetWindowPos(m_link, NULL, centre.x - width / 2, centre.y - height / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

void CQuillmothDlg::PaintMinimized() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(m_hWnd, &client);
  int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, m_icon);
  EndPaint(m_hWnd, &paint);
}

bool CQuillmothDlg::OnSysCommand(WPARAM command) {
  if ((command & 0xFFF0) != SC_CLOSE)
    return false;
  if (RunningAsService())
    MessageBeep(0);
  else
    OnShutdownRequest(0);
  return true;
}

void CQuillmothDlg::OnCommand(UINT id) {
  switch (id) {
  case IDC_SUSPEND:
    OnSuspendResume();
    break;
  case IDC_STOP:
    OnStop();
    break;
  case IDC_HIDE:
  case ID_TRAY_HIDE:
    ShowWindow(m_hWnd, SW_HIDE);
    break;
  case ID_TRAY_SHOW:
    ShowWindow(m_hWnd, SW_SHOW);
    SetForegroundWindow(m_hWnd);
    break;
  case IDC_HELPBUTTON:
    OnHelp();
    break;
  case IDC_LOAD:
    OnLoad();
    break;
  case IDC_ABOUT:
    OnAbout();
    break;
  default: // Enter and Escape do not close the console
    break;
  }
}

bool CQuillmothDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *reply) {
  const HostMessages &m = g_hostMsg;
  if (message >= 0xC000 && message <= 0xFFFF) {
    if (message == m.runOnce) {
      OnRunOnce();
      *reply = 0;
    } else if (message == m.autoRun) {
      OnAutoRun();
      *reply = static_cast<LRESULT>(QMR_DONE);
    } else if (message == m.shutdown) {
      *reply = OnShutdownRequest(wParam);
    } else if (message == m.qmrThread) {
      OnThread(lParam);
      *reply = static_cast<LRESULT>(QMR_DONE);
    } else if (message == m.qmrPrint) {
      OnPrint(wParam, lParam);
      *reply = static_cast<LRESULT>(QMR_DONE);
    } else if (message == m.qmrExit) {
      OnQMRExit(wParam, lParam);
      *reply = static_cast<LRESULT>(QMR_DONE);
    } else if (message == m.qmrError) {
      ReportEngineStoppedByError();
      OnStop();
      *reply = static_cast<LRESULT>(QMR_DONE);
    } else if (message == m.relayPing) {
      *reply = static_cast<LRESULT>(QMR_DONE);
    } else if (message == m.linkClick) {
      char address[1024] = "";
      if (GlobalGetAtomNameA(static_cast<ATOM>(wParam), address, sizeof address))
        g_consoleShell.ShellExecute(m_hWnd, NULL, address, NULL, NULL, SW_SHOWNORMAL);
      GlobalDeleteAtom(static_cast<ATOM>(wParam));
      *reply = 0;
    } else if (message == m.notifyIcon) {
      OnTrayNotify(lParam);
      *reply = 0;
    } else {
      return false;
    }
    return true;
  }
  switch (message) {
  case kBoxFlushMessage:
    m_boxFlushPosted = false;
    FlushBox();
    *reply = 0;
    return true;
  case WM_COMMAND:
    if (HIWORD(wParam) == BN_CLICKED || lParam == 0) {
      OnCommand(LOWORD(wParam));
      *reply = 0;
      return true;
    }
    return false;
  case WM_SYSCOMMAND:
    *reply = 0;
    return OnSysCommand(wParam);
  case WM_TIMER:
    if (wParam == TIMER_HEARTBEAT)
      OnHeartbeat();
    else if (wParam == TIMER_TRAY)
      m_trayPresent = (m_trayPresent ? TrayRefresh() : TrayAdd()) ? 1 : 0;
    return false; // and the default handling
  case WM_TIMECHANGE:
    OnTimeChange();
    *reply = 0;
    return true;
  case WM_PAINT:
    if (!IsIconic(m_hWnd))
      return false;
    PaintMinimized();
    *reply = 0;
    return true;
  case WM_QUERYDRAGICON:
    *reply = reinterpret_cast<LRESULT>(m_icon);
    return true;
  case WM_CLOSE:
    *reply = 0;
    return OnSysCommand(SC_CLOSE);
  }
  return false;
}
