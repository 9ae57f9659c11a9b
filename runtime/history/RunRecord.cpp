#include "RunRecord.h"

namespace {

const char kExitCodePrefix[] = "exit code ";

struct OutcomeName {
  RunOutcome outcome;
  const char *text;
};

const OutcomeName kOutcomeNames[] = {
    {RunOutcome::Returned, "returned"},
    {RunOutcome::ScriptError, "script error"},
    {RunOutcome::LoadError, "load error"},
    {RunOutcome::Stopped, "stopped"},
    {RunOutcome::TimedOut, "timed out"},
    {RunOutcome::SkippedStillRunning, "skipped: still running"},
    {RunOutcome::StillRunningAtShutdown, "still running at shutdown"},
};

} // namespace

std::string OutcomeText(RunOutcome outcome, uint32_t exitCode) {
  for (const OutcomeName &name : kOutcomeNames)
    if (name.outcome == outcome)
      return name.text;
  return kExitCodePrefix + std::to_string(exitCode);
}

bool ParseOutcome(const std::string &text, RunOutcome &outcome, uint32_t &exitCode) {
  exitCode = 0;
  for (const OutcomeName &name : kOutcomeNames)
    if (text == name.text) {
      outcome = name.outcome;
      return true;
    }
  const size_t prefixLength = sizeof kExitCodePrefix - 1;
  // Up to ten digits, no sign and no leading zero: only the texts
  // OutcomeText writes.
  size_t digits = text.size() - prefixLength;
  if (text.size() <= prefixLength || text.compare(0, prefixLength, kExitCodePrefix) != 0 || digits > 10 ||
      (digits > 1 && text[prefixLength] == '0'))
    return false;
  unsigned long long value = 0;
  for (size_t i = prefixLength; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9')
      return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (value > UINT32_MAX)
    return false;
  outcome = RunOutcome::ExitCode;
  exitCode = static_cast<uint32_t>(value);
  return true;
}
