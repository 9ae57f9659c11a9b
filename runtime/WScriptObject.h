// The WScript object every pooled script finds, so that scripts written
// for the console script host run unchanged: Echo, Arguments, Quit, Sleep,
// the host's names, object creation and the standard streams. One object
// per worker, told at each run's start what runs and with which arguments.
#ifndef WSCRIPTOBJECT_H
#define WSCRIPTOBJECT_H

#include <windows.h>
#include <oaidl.h>
#include <string>

// The name scripts know the object by.
extern const wchar_t kWScriptName[];

class WScriptObject;

// Creates the object (one reference, the caller's); null without memory.
WScriptObject *CreateWScriptObject();

// The object's IDispatch, for the engine's named item (no reference added).
IDispatch *WScriptDispatch(WScriptObject *object);
void ReleaseWScriptObject(WScriptObject *object);

// A run begins: the script's full path, the run's argument text and its time
// limit in seconds (0: none).
void BeginWScriptRun(WScriptObject *object, const std::wstring &scriptPath, const std::wstring &arguments,
                     long timeLimitSeconds);
// The run ended: output written without a line end is printed now.
void EndWScriptRun(WScriptObject *object);

// Quit was called (or a stop ended Sleep) in this run; its code.
bool WScriptQuitRequested(WScriptObject *object, long *code);
// A stop request ended the run while it slept.
bool WScriptStopped(WScriptObject *object);

#endif
