// QuillmothRun: the script runtime's exported interface.
// Every export is a plain __cdecl function exported by its plain name.
#ifndef QUILLMOTHRUN_H
#define QUILLMOTHRUN_H

#include <windows.h>
#include <oaidl.h>

#ifdef QUILLMOTHRUN_BUILD
#define QMR_EXPORT __declspec(dllexport)
#else
#define QMR_EXPORT __declspec(dllimport)
#endif
#define QMR_API __cdecl

// Worker flags.
#define QMR_FLAG_ASYNC   0x1
#define QMR_FLAG_POOLED  0x2
#define QMR_FLAG_BUSY    0x4
#define QMR_FLAG_FLUSHED 0x8

// Result of a finished synchronous unpooled run, and the reply that confirms
// a registered message was handled.
#define QMR_DONE 0xDEADBEEFu

// Fixed control messages posted to every worker window for running scripts.
#define QMR_CTL_SUSPEND    (WM_USER + 205)
#define QMR_CTL_RESUME     (WM_USER + 206)
#define QMR_CTL_STOP       (WM_USER + 207)
#define QMR_CTL_TIMECHANGE (WM_USER + 208)
#define QMR_CTL_QUIT       (WM_USER + 209)

// Names of the registered messages (RegisterWindowMessage).
#define QMR_MSG_STARTUP    "QMR_STARTUP"
#define QMR_MSG_LOAD       "QMR_LOAD"
#define QMR_MSG_RUN        "QMR_RUN"
#define QMR_MSG_SHUTDOWN   "QMR_SHUTDOWN"
#define QMR_MSG_RESET      "QMR_RESET"
#define QMR_MSG_EMPTY_POOL "QMR_EMPTY_POOL"
#define QMR_MSG_HANDLE     "QMR_HANDLE"
#define QMR_MSG_EXIT       "QMR_EXIT"
#define QMR_MSG_ERROR      "QMR_ERROR"
#define QMR_MSG_THREAD     "QMR_THREAD"
#define QMR_MSG_PRINT      "QMR_PRINT"
#define QMR_MSG_RELAY_PING "RELAY_PING"

// Longest text a notification or a debug line holds (without its zero).
#define QMR_TEXT_MAX 1023

struct MurrelContext;

#ifdef __cplusplus
extern "C" {
#endif

// Workers and the pool. A context is the opaque handle of one worker.
QMR_EXPORT MurrelContext *QMR_API QMR_Create(DWORD flags);
QMR_EXPORT BOOL QMR_API QMR_Destroy(MurrelContext *context);
QMR_EXPORT BOOL QMR_API QMR_Message(MurrelContext *context, UINT message, WPARAM wParam, DWORD timeout);
QMR_EXPORT MurrelContext *QMR_API QMR_RunScript(DWORD flags, const char *script, const char *arguments,
                                                VARIANT *result);
QMR_EXPORT BOOL QMR_API QMR_GetReturnValue(MurrelContext *context, VARIANT *value);
QMR_EXPORT DWORD QMR_API QMR_GetFlags(MurrelContext *context);
QMR_EXPORT DWORD QMR_API QMR_SetFlags(MurrelContext *context, DWORD flags);
QMR_EXPORT BOOL QMR_API QMR_Own(void);
QMR_EXPORT BOOL QMR_API QMR_Disown(void);
QMR_EXPORT BOOL QMR_API QMR_Suspend(void);
QMR_EXPORT BOOL QMR_API QMR_Resume(void);
QMR_EXPORT BOOL QMR_API QMR_Stop(void);
QMR_EXPORT BOOL QMR_API QMR_TimeChange(void);
QMR_EXPORT BOOL QMR_API QMR_QueryStoped(void);
QMR_EXPORT BOOL QMR_API QMR_FlushPool(void);
QMR_EXPORT BOOL QMR_API QMR_WaitExit(void);
// The time limit of the calling thread's next synchronous runs
// (QMR_RunScript without QMR_FLAG_ASYNC), 0 for none: past it a run gets the
// stop request, and a grace later (as long as the limit, at most 30 s) its
// engine is asked to interrupt it. QMR_LastRunOutcome: the run-history
// outcome of the thread's last synchronous run ("returned", "script error",
// "timed out"...); FALSE with "" when none is known.
QMR_EXPORT void QMR_API QMR_SetRunLimit(DWORD milliseconds);
QMR_EXPORT BOOL QMR_API QMR_LastRunOutcome(char *text, DWORD size);
// Ends the script running on a worker through its engine
// (InterruptScriptThread); E_NOTIMPL where the engine cannot. Called from a
// thread of the system's timer queue.
QMR_EXPORT HRESULT QMR_API QMR_InterruptRun(MurrelContext *context);
// Replaces what ends a run at the end of its grace (NULL: the engine's own,
// QMR_InterruptRun); answers the one before. For tests of engines that
// cannot interrupt.
typedef HRESULT(QMR_API *QMR_RunInterrupt)(MurrelContext *context);
QMR_EXPORT QMR_RunInterrupt QMR_API QMR_SetRunInterrupt(QMR_RunInterrupt interrupt);

// Lets the compiler check the callers' formats against their arguments (the
// runtime formats with the C library's C99 printf).
#if defined(__GNUC__)
#define QMR_PRINTF(formatIndex, firstArg) __attribute__((__format__(gnu_printf, formatIndex, firstArg)))
#else
#define QMR_PRINTF(formatIndex, firstArg)
#endif

// Notification relay and diagnostics.
QMR_EXPORT HWND QMR_API QMR_GetNotificationWindow(void);
QMR_EXPORT BOOL QMR_API QMR_NotifyMessage(DWORD category, const char *format, ...) QMR_PRINTF(2, 3);
QMR_EXPORT void QMR_API QMR_DebugMessage(int line, const char *where, const char *format, ...) QMR_PRINTF(3, 4);
QMR_EXPORT void QMR_API QMR_DebugWrite(const char *text);
// Begins a new diagnostic log, the previous one kept as ".old".
QMR_EXPORT void QMR_API QMR_StartLog(void);

// Run history and console transcript, kept in the data folder.
// The data folder with a trailing backslash; FALSE when there is none or it
// does not fit. toRead: the folder where the records are found, made or
// changed by nothing (for a user looking at the service's records);
// otherwise the one this process writes, made when missing.
QMR_EXPORT BOOL QMR_API QMR_GetDataFolder(char *path, DWORD size, BOOL toRead);
// Appends one console line, with its time, to the transcript.
QMR_EXPORT void QMR_API QMR_Transcript(const char *text);
// Records a program that a script started and waited for: its command line,
// when it started (UTC) and its exit code; timedOut when it was ended at
// its time limit.
QMR_EXPORT void QMR_API QMR_RecordProgramRun(const char *commandLine, const FILETIME *startUtc,
                                             DWORD elapsedMs, DWORD exitCode, BOOL timedOut);

// Records a run that was not started because its previous run was still
// going ("skipped: still running"), under what would have run.
QMR_EXPORT void QMR_API QMR_RecordSkippedRun(const char *ran);

// Failures worth an event-log entry, handed to the host (which owns the
// event source and keeps it from flooding): every failed run (text1 the
// script, text2 the error) and records that cannot be written (text1 the
// folder, text2 the reason). Called on the thread that met the failure.
#define QMR_EVENT_RUN_FAILED 1
#define QMR_EVENT_HISTORY_UNWRITABLE 2
#define QMR_EVENT_TRANSCRIPT_UNWRITABLE 3
typedef void(QMR_API *QMR_EventSink)(DWORD event, const char *text1, const char *text2);
QMR_EXPORT void QMR_API QMR_SetEventSink(QMR_EventSink sink);

#ifdef __cplusplus
}
#endif

#endif
