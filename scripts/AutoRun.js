// AutoRun.js - run by Quillmoth at every start where there is no AutoRun.vbs
// (for example on a computer without VBScript), with the local date and time
// of the start as its argument. Edit it to schedule your own jobs.
//
// The loop: a timer ticks every second; on each tick CheckTime tests the
// specifications (minute hour day month weekday [year [day-of-year [second]]])
// and answers true once in each time unit that matches. The loop ends when
// Quillmoth asks its scripts to stop.

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

  // A pooled worker thread may have run this script before: start with
  // fresh latches.
  core.DestroyCronContext(1, 3);
  var timer = core.SetTimer(1000);
  var running = true;
  while (running) {
    var msg = core.GetMessage(0, 0);
    switch (core.GetMessageId(msg)) {
      case WM_TIMER:
        if (core.CheckTime(1, false, "0 * * * *")) core.Print("Hourly check at " + FormatIsoDateTime(new Date()));
        if (core.CheckTime(2, false, "30 8 * * 2-6")) core.Print("Good morning: 8:30 on a weekday");
        if (core.CheckTime(3, false, "0 0 1 1")) core.Print("Happy new year");
        break;
      case QMR_CTL_STOP:
      case QMR_CTL_QUIT:
        running = false;
        break;
      default:
        core.DispatchMessage(msg);
    }
    core.FreeHandle(msg);
  }
  core.KillTimer(TimerId16(timer));
  core.Print("AutoRun.js stopped");
  return line;
}
