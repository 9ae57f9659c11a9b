#include "RegexEngine.h"
#include "RegexNodes.h"

RegexErrorHookFn RegexErrorHook = nullptr;

void RegexReport(const char *text) {
  RegexErrorHookFn hook = RegexErrorHook;
  if (hook)
    hook(text);
}
