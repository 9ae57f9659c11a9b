// Failures the engine and the runtime report to the event log, where the
// tools that collect Application logs from many servers see them.
#ifndef RUNTIMEEVENTS_H
#define RUNTIMEEVENTS_H

#include "QuillmothRun.h"

// Routes the runtime's failure reports to the service's event source.
void InstallRuntimeEventSink();
// The sink itself: a failure the runtime reports (QMR_EVENT_*).
void QMR_API OnRuntimeEvent(DWORD event, const char *text1, const char *text2);
// Every schedule stopped after a script error: names the last failed run.
void ReportEngineStoppedByError();

#endif
