// `Quillmoth.exe -status` and `Quillmoth.exe -history [count] [filter]`:
// what ran, printed to the console they were typed in.
#ifndef HISTORYCOMMANDS_H
#define HISTORYCOMMANDS_H

#include <string>

// Both answer the process's exit code: 0 when the engine runs and the
// last run succeeded, 1 otherwise.
int ShowStatus(const char *serviceName);
// count: how many of the latest runs (text; default 20); a text that is no
// number is taken as the filter, which keeps runs whose script or command
// line holds it (case-blind).
int ShowHistory(const std::string &count, const std::string &filter);

// `-jobs`: the jobs that the schedule scripts declared (AddJob in StdLib),
// each with its schedule, next due time and last result. `-run-job NAME`,
// `-disable-job NAME`, `-enable-job NAME`: a request left in the job's
// stored variables (QM.JOB.<name>.RUN or .DISABLED) and announced by
// counting QM.JOBS.REQUEST up; the running schedule reads it at its next
// tick. 0 when done, 1 for a job nobody declared or a store that cannot be
// written.
int ShowJobs();
int RequestJob(const char *request, const std::string &name);

// For the monitor: the service's state ("installed, running"), the
// engine's (true when it runs), and the latest run in one line.
std::string ServiceStateText(const char *serviceName);
bool EngineRunning(std::string *description);
std::string LastRunText();

#endif
