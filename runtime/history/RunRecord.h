// One run as the history keeps it: what ran, when, where, and how it ended.
#pragma once

#include <cstdint>
#include <string>

#include "HistoryTime.h"

enum class RunOutcome {
  Returned,               // the script's main returned
  ScriptError,            // the script raised an error while running
  LoadError,              // the script could not be read or compiled
  Stopped,                // stopped on request
  TimedOut,               // stopped when its time ran out
  SkippedStillRunning,    // not started: its previous run was still going
  StillRunningAtShutdown, // still going when the program ended
  ExitCode,               // a program that ended with the exit code in RunRecord::exitCode
};

struct RunRecord {
  HistoryTime start;
  HistoryTime end;
  // Measured on a steady clock by the caller: the wall clock may have been
  // set, or daylight saving time begun, between start and end.
  long long durationMs;
  std::string ran;      // the script's path, or the program's command line
  std::string argument; // what the script was given
  std::string language; // "VBScript" or "JScript", "" for a program
  std::string host;     // the script host that ran it, "" for a program
  uint32_t threadId;    // the worker thread, 0 when none ran it
  bool pooled;          // ran on a pooled worker rather than a thread of its own
  RunOutcome outcome;
  uint32_t exitCode; // only with RunOutcome::ExitCode
  std::string returnValue;
  std::string error;
};

// "returned", "script error", "load error", "stopped", "timed out",
// "skipped: still running", "still running at shutdown" or "exit code N"
// (N in decimal, as an unsigned 32-bit number, the way Windows keeps it).
std::string OutcomeText(RunOutcome outcome, uint32_t exitCode);

// Reads exactly one of those texts back; false for anything else. exitCode
// is 0 for every outcome but ExitCode.
bool ParseOutcome(const std::string &text, RunOutcome &outcome, uint32_t &exitCode);
