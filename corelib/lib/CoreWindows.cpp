// FindWindow and SetForegroundWindow.
#include "Core.h"

#include <stdlib.h>
#include <string>
#include <vector>

#include "CoreModule.h"
#include "CoreText.h"
#include "QuillmothRun.h"
#include "RegexEngine.h"
#include "VariableManager.h"

namespace {

const UINT kTextTimeout = 1000;   // milliseconds a window may take to tell its text
const int kWindowTextBuffer = 1025;
const int kClassNameBuffer = 256;

// Compile errors of the engine go to the diagnostic log and are kept for the
// last-error variable; the window walk compiles each pattern once per window,
// so only the first compile of a call reports.
thread_local bool t_reportRegexErrors = false;
thread_local const char *t_regexPattern = nullptr;
thread_local std::string *t_regexError = nullptr;

void RegexErrorToLog(const char *text) {
  if (!t_reportRegexErrors)
    return;
  QMR_DebugMessage(__LINE__, "CCore::FindWindow", "Pattern (%s): %s", t_regexPattern ? t_regexPattern : "",
                   text ? text : "");
  if (t_regexError && t_regexError->empty())
    *t_regexError = text && *text ? text : "malformed pattern";
}

struct Pattern {
  bool given = false;
  std::string text;
};

// An absent pattern matches everything; one that does not compile (checked
// before the walk) matches nothing.
bool Matches(const Pattern &pattern, const char *subject) {
  if (!pattern.given)
    return true;
  RegexProgram *program = RegexCompile(pattern.text.c_str());
  if (!program)
    return false;
  bool matched = RegexMatch(program, subject) == 1;
  free(program);
  return matched;
}

// The window's text, or the empty text when it does not answer in time.
void WindowText(HWND window, char *text) {
  text[0] = '\0';
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, kWindowTextBuffer, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                           kTextTimeout, &copied))
    text[0] = '\0';
  text[kWindowTextBuffer - 1] = '\0';
}

// Pre-order walk from `first` along its later siblings, each window's
// children before the next sibling; the last match is kept.
HWND FindMatchingWindow(HWND first, const Pattern &textPattern, const Pattern &classPattern) {
  HWND found = NULL;
  std::vector<HWND> pending; // later siblings still to visit
  std::vector<char> text(kWindowTextBuffer + 1);
  char className[kClassNameBuffer];
  HWND window = first;
  while (window || !pending.empty()) {
    if (!window) {
      window = pending.back();
      pending.pop_back();
      continue;
    }
    WindowText(window, text.data());
    if (!GetClassNameA(window, className, sizeof className))
      className[0] = '\0';
    if (Matches(textPattern, text.data()) && Matches(classPattern, className))
      found = window;
    HWND next = GetWindow(window, GW_HWNDNEXT);
    HWND child = GetWindow(window, GW_CHILD);
    if (child) {
      if (next)
        pending.push_back(next);
      window = child;
    } else {
      window = next;
    }
  }
  return found;
}

bool PreparePattern(BSTR text, Pattern &pattern) {
  pattern.given = text != nullptr;
  return !text || ConvertWholeText(text, pattern.text);
}

// Compiles the pattern once with reporting on. A pattern that does not
// compile (a typo, or a text past the program limit) must not turn into "any
// window": the caller would then act on an arbitrary one. False with the
// engine's error text then.
bool CompilesCleanly(const Pattern &pattern, std::string &error) {
  if (!pattern.given)
    return true;
  error.clear();
  t_reportRegexErrors = true;
  t_regexPattern = pattern.text.c_str();
  t_regexError = &error;
  RegexProgram *program = RegexCompile(pattern.text.c_str());
  t_reportRegexErrors = false;
  t_regexPattern = nullptr;
  t_regexError = nullptr;
  if (!program) {
    if (error.empty())
      error = "malformed pattern";
    return false;
  }
  free(program);
  return true;
}

} // namespace

void InstallRegexErrorHook() { RegexErrorHook = RegexErrorToLog; }

HRESULT CCore::FindWindow(BSTR rxWindowText, BSTR rxClassName, long *pVal) {
  return CoreGuarded("FindWindow", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = 0;
    Pattern textPattern, classPattern;
    if (!PreparePattern(rxWindowText, textPattern) || !PreparePattern(rxClassName, classPattern))
      return S_FALSE;
    std::string error;
    if (!CompilesCleanly(textPattern, error) || !CompilesCleanly(classPattern, error)) {
      CoreVariables().SetLastErrorText(error.c_str());
      return S_FALSE;
    }
    HWND top = GetTopWindow(NULL);
    HWND found = top ? FindMatchingWindow(top, textPattern, classPattern) : NULL;
    if (!found) {
      CoreVariables().SetLastErrorText("No matching window found.");
      return S_FALSE;
    }
    *pVal = HandleToLong(found);
    return S_OK;
  });
}

HRESULT CCore::SetForegroundWindow(long window, long *pVal) {
  return CoreGuarded("SetForegroundWindow", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    if (::SetForegroundWindow(static_cast<HWND>(LongToHandle(window)))) {
      *pVal = kTrue;
      return S_OK;
    }
    *pVal = kFalse;
    CoreVariables().SetLastErrorText("Unable to set foreground window.");
    return S_FALSE;
  });
}

// A request, not a kill: the window's program may ask to save first, or
// refuse. Posted, so a program that does not answer holds up no script.
HRESULT CCore::CloseWindow(long window, long *pVal) {
  return CoreGuarded("CloseWindow", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    HWND target = static_cast<HWND>(LongToHandle(window));
    if (window != 0 && IsWindow(target) && PostMessageA(target, WM_CLOSE, 0, 0)) {
      *pVal = kTrue;
      return S_OK;
    }
    *pVal = kFalse;
    CoreVariables().SetLastErrorText("Unable to close the window.");
    return S_FALSE;
  });
}
