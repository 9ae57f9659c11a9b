#include "Dialog.h"

CDialog::~CDialog() { DestroyWindow(); }

bool CDialog::Create(HWND parent, HINSTANCE resources) {
  m_resources = resources;
  m_hWnd = CreateDialogParamA(resources, MAKEINTRESOURCEA(m_templateId), parent, DialogProc,
                              reinterpret_cast<LPARAM>(this));
  return m_hWnd != NULL;
}

void CDialog::DestroyWindow() {
  if (m_hWnd) {
    HWND window = m_hWnd;
    ::DestroyWindow(window);
    m_hWnd = NULL;
  }
}

INT_PTR CDialog::RunModalLoop() {
  m_inLoop = true;
  m_endLoop = false;
  MSG msg;
  while (!m_endLoop) {
    BOOL got = GetMessageA(&msg, NULL, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam)); // leave WM_QUIT to the outer loop
      break;
    }
    if (got == -1)
      break;
    if (m_hWnd && IsDialogMessageA(m_hWnd, &msg))
      continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  m_inLoop = false;
  return m_loopResult;
}

void CDialog::EndModalLoop(INT_PTR result) {
  m_loopResult = result;
  m_endLoop = true;
  // Wake the loop if it is waiting for a message.
  if (m_hWnd)
    PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT *) { return false; }

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog *self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog *>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    self->m_hWnd = window;
    try {
      return self->OnInitDialog();
    } catch (...) {
      return FALSE;
    }
  }
  self = reinterpret_cast<CDialog *>(GetWindowLongPtrA(window, DWLP_USER));
  if (!self)
    return FALSE;
  if (message == WM_NCDESTROY) {
    self->m_hWnd = NULL;
    SetWindowLongPtrA(window, DWLP_USER, 0);
    return FALSE;
  }
  LRESULT reply = 0;
  // No C++ exception may cross into the system's dispatch (on 32-bit
  // Windows it would end the process): such a message counts as unhandled.
  try {
    if (!self->OnMessage(message, wParam, lParam, &reply))
      return FALSE;
  } catch (...) {
    return FALSE;
  }
  SetWindowLongPtrA(window, DWLP_MSGRESULT, reply);
  return TRUE;
}

namespace {

struct SimpleDialog {
  DLGPROC initialize;
  LPARAM param;
};

INT_PTR CALLBACK SimpleProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SimpleDialog *simple = reinterpret_cast<SimpleDialog *>(lParam);
    if (simple->initialize)
      simple->initialize(window, message, wParam, simple->param);
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    EndDialog(window, LOWORD(wParam));
    return TRUE;
  }
  if (message == WM_CLOSE) {
    EndDialog(window, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

} // namespace

INT_PTR RunSimpleModalDialog(HINSTANCE resources, UINT templateId, HWND parent, DLGPROC initialize,
                             LPARAM param) {
  SimpleDialog simple = {initialize, param};
  return DialogBoxParamA(resources, MAKEINTRESOURCEA(templateId), parent, SimpleProc,
                         reinterpret_cast<LPARAM>(&simple));
}
