// What a worker knows of the run it carries out, from its loads to its end,
// turned into one run-history record per run.
#ifndef RUNTRACKING_H
#define RUNTRACKING_H

#include <string>

struct MurrelContext;

// A file loaded for the coming run: the standard library or the script.
// error is empty when it loaded.
void NoteLoad(const std::string &name, const std::string &path, const std::string &error);
// The run begins: main is about to be called with the argument.
void NoteRunStart(MurrelContext *context, const std::string &argument);
// The script's global code, added at the run's start, failed while the
// script defines main: the run is recorded as a load error, as before.
void NoteLateLoadError(MurrelContext *context, const std::string &error);
// The run ended: succeeded tells whether main returned; errorText is the
// engine's error otherwise. Writes the record.
void NoteRunEnd(MurrelContext *context, bool succeeded, const std::string &errorText);

// The outcome text of the worker's last recorded run ("returned", "script
// error", "timed out"...), taken away; "" when none was recorded.
std::string TakeRunOutcome(unsigned long threadId);

// A stop of every script was asked for (QMR_Stop): runs that end after it
// are recorded as stopped.
void NoteStopRequest();
// The worker's run passed its time limit: it is recorded as timed out,
// however it ends.
void NoteTimedOut(unsigned long threadId);
// The program is ending while this worker's run goes on: its record says so
// (once; a run that ends later adds nothing).
void RecordStillRunning(unsigned long threadId);

#endif
