// The dialog class of our small application framework: a dialog created
// from a template, modeless, which its creator may run in a modal loop.
#ifndef DIALOG_H
#define DIALOG_H

#include <windows.h>

class CDialog {
public:
  explicit CDialog(UINT templateId) : m_templateId(templateId) {}
  virtual ~CDialog();

  // Creates the dialog (not shown unless its template says so).
  bool Create(HWND parent, HINSTANCE resources);
  // Runs a message loop until EndModalLoop; returns its result.
  INT_PTR RunModalLoop();
  void EndModalLoop(INT_PTR result);
  bool InModalLoop() const { return m_inLoop && !m_endLoop; }
  void DestroyWindow();

  HWND Handle() const { return m_hWnd; }
  HINSTANCE Resources() const { return m_resources; }

protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  // Handles one message; answers true when it did, with *reply the result.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *reply);

  HWND m_hWnd = NULL;
  HINSTANCE m_resources = NULL;

private:
  CDialog(const CDialog &) = delete;
  CDialog &operator=(const CDialog &) = delete;
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);

  UINT m_templateId;
  bool m_inLoop = false;
  bool m_endLoop = false;
  INT_PTR m_loopResult = 0;
};

// Runs a template as a modal dialog whose buttons all close it.
INT_PTR RunSimpleModalDialog(HINSTANCE resources, UINT templateId, HWND parent,
                             DLGPROC initialize = NULL, LPARAM param = 0);

#endif
