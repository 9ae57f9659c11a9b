// Failures the engine and the runtime report to the event log, where the
// tools that collect Application logs from many servers see them.
#ifndef RUNTIMEEVENTS_H
#define RUNTIMEEVENTS_H

// Routes the runtime's failure reports to the service's event source.
void InstallRuntimeEventSink();
// Every schedule stopped after a script error: names the last failed run.
void ReportEngineStoppedByError();

#endif
