// AutoRun.js - run by Quillmoth at every start where there is no AutoRun.vbs
// (for example on a computer without VBScript), with the local date and time
// of the start as its argument. Edit it to schedule your own jobs.
//
// Declared jobs: AddJob (StdLib.js) names a job, when it runs (minute hour
// day month weekday [year [day-of-year [second]]]), what it runs (a script,
// or a program's command line) and how: a time limit, what to do when its
// last run still goes on, whether to make up a run missed while Quillmoth was
// not running, and how often to try a failed run again. NextTick runs each
// job when it falls due; Quillmoth.exe -jobs lists them. For example:
//   AddJob(core, "nightly-backup", "0 2 * * *", "Backup.js", "timeout=3600; catchup=1; retries=2; retrydelay=300");
//   AddJob(core, "weekly-report", "30 6 * * 2", "\"C:\\Tools\\report.exe\" /week", "timeout=600");
//
// CheckTime, for what is no job of its own: it answers true once in each
// time unit that matches. The loop ends when Quillmoth asks its scripts to
// stop.

function main(startedAt) {
  var line = "Quillmoth started at " + startedAt;
  var core = NewCore();
  if (core === null) {
    // Without the Core object a script cannot reach the console; it keeps
    // its start line in a file beside the scripts instead.
    AppendLine(DefaultIfEmpty(ProcessVariable("QM.DEFAULT_DIR"), ".\\") + "AutoRun.log", line);
    return line;
  }
  core.Print(line);

  // Your jobs here (see above).

  // A pooled worker thread may have run this script before: start with
  // fresh latches.
  core.DestroyCronContext(1, 3);
  var timer = core.SetTimer(1000);
  var state = {suspended: false};
  while (NextTick(core, state)) {
    if (state.suspended)
      continue;
    if (core.CheckTime(1, false, "0 * * * *")) core.Print("Hourly check at " + FormatIsoDateTime(new Date()));
    if (core.CheckTime(2, false, "30 8 * * 2-6")) core.Print("Good morning: 8:30 on a weekday");
    if (core.CheckTime(3, false, "0 0 1 1")) core.Print("Happy new year");
  }
  core.KillTimer(TimerId16(timer));
  core.Print("AutoRun.js stopped");
  return line;
}
