// StdLib.js - loaded by Quillmoth before every JScript (.js) script, into the
// same engine: the JScript twin of StdLib.vbs, with the same helpers.

var ForReading = 1;
var ForWriting = 2;
var ForAppending = 8;

// Message ids a script's GetMessage loop looks at.
var WM_TIMER = 275;
var QMR_CTL_SUSPEND = 1229;
var QMR_CTL_RESUME = 1230;
var QMR_CTL_STOP = 1231;
var QMR_CTL_TIMECHANGE = 1232;
var QMR_CTL_QUIT = 1233;

// Flags of GetEnvironmentVariable and SetEnvironmentVariable.
var VAR_PROCESS = 1;
var VAR_STORED = 2;
var VAR_REGISTRY = 4;
var VAR_ENCRYPTED = 8;

// The Core object, or null when the automation library is not installed.
function NewCore() {
  try {
    return new ActiveXObject("QuillmothLib.Core");
  } catch (e) {
    return null;
  }
}

// A timer id of SetTimer as KillTimer takes it: KillTimer's id is a 16-bit
// number, so ids above 32767 are passed as id - 65536.
function TimerId16(id) {
  return id > 32767 ? id - 65536 : id;
}

// A number as two digits: 7 -> "07".
function TwoDigits(n) {
  return ("0" + n).slice(-2);
}

// A JScript Date, also from a date of another engine or object (VT_DATE).
function AsDate(d) {
  return d instanceof Date ? d : new Date(d);
}

// 2026-12-08
function FormatIsoDate(d) {
  d = AsDate(d);
  return d.getFullYear() + "-" + TwoDigits(d.getMonth() + 1) + "-" + TwoDigits(d.getDate());
}

// 08:30:00
function FormatIsoTime(d) {
  d = AsDate(d);
  return TwoDigits(d.getHours()) + ":" + TwoDigits(d.getMinutes()) + ":" + TwoDigits(d.getSeconds());
}

// 2026-12-08 08:30:00
function FormatIsoDateTime(d) {
  return FormatIsoDate(d) + " " + FormatIsoTime(d);
}

// A text in double quotes for a command line; quotes inside are escaped.
function Quote(s) {
  return "\"" + String(s).replace(/"/g, "\\\"") + "\"";
}

// The value, or the fallback when the value is empty, null or undefined.
function DefaultIfEmpty(value, fallback) {
  if (value === null || value === undefined || String(value) === "")
    return fallback;
  return value;
}

// A variable of the process environment ("" when it is not set), such as
// QM.ROOT_DIR or QM.DEFAULT_DIR, which Quillmoth sets at start.
function ProcessVariable(name) {
  return new ActiveXObject("WScript.Shell").Environment("PROCESS").Item(name);
}

function FileExists(path) {
  return new ActiveXObject("Scripting.FileSystemObject").FileExists(path);
}

function FolderExists(path) {
  return new ActiveXObject("Scripting.FileSystemObject").FolderExists(path);
}

// Appends one line to a text file, creating it when needed.
function AppendLine(path, text) {
  var file = new ActiveXObject("Scripting.FileSystemObject").OpenTextFile(path, ForAppending, true);
  file.WriteLine(text);
  file.Close();
}

// The whole text of a file, or "" when it does not exist.
function ReadAllText(path) {
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  if (!fso.FileExists(path))
    return "";
  var file = fso.OpenTextFile(path, ForReading);
  var text = file.AtEndOfStream ? "" : file.ReadAll();
  file.Close();
  return text;
}

// A setting of a script: the process variable "<prefix>.<name>" when it is
// set (an administrator can set it for the service without editing the
// script), else the given value.
function ScriptSetting(core, prefix, name, value) {
  return DefaultIfEmpty(core.GetEnvironmentVariable(VAR_PROCESS, prefix + "." + name), value);
}

// A line on the console ("<prefix>: <text>") and, with the date and time, in
// the log file. Another program may hold the file open for a moment (someone
// reading the log, a backup): the line is tried again, up to 200 times (a
// tenth of a second or two). A log that cannot be written is said on the
// console and does not end the script: a script error stops every script of
// the program.
function LogLine(core, logFile, prefix, text) {
  core.Print(prefix + ": " + text);
  var line = FormatIsoDateTime(new Date()) + "  " + text;
  for (var attempt = 1;; ++attempt) {
    try {
      AppendLine(logFile, line);
      return;
    } catch (e) {
      if (attempt >= 200) {
        core.Print(prefix + ": cannot write " + logFile + ": " + e.message);
        return;
      }
    }
  }
}

// A whole number of at most 9 digits, without sign or blanks.
function IsCount(text) {
  return /^[0-9]{1,9}$/.test(String(text));
}

// One turn of a script's message loop: waits for the next message of the
// script's thread and answers true for a timer tick, false when the script
// is asked to stop (the console's Stop, or Quillmoth ending). The console's
// Suspend and Resume set and clear state.suspended; any other message goes
// to the window it is meant for. Every message handle is given back. At
// each tick the declared jobs (AddJob) that are due run, unless suspended.
function NextTick(core, state) {
  for (;;) {
    var msg = core.GetMessage(0, 0);
    var id = core.GetMessageId(msg);
    if (id === QMR_CTL_SUSPEND)
      state.suspended = true;
    else if (id === QMR_CTL_RESUME)
      state.suspended = false;
    else if (id !== WM_TIMER && id !== QMR_CTL_STOP && id !== QMR_CTL_QUIT)
      core.DispatchMessage(msg);
    core.FreeHandle(msg);
    if (id === WM_TIMER && !state.suspended)
      RunDueJobs(core);
    if (id === WM_TIMER || id === QMR_CTL_STOP || id === QMR_CTL_QUIT)
      return id === WM_TIMER;
  }
}

// ---- Declared jobs ---------------------------------------------------------
// As in StdLib.vbs (see there for the options and the stored variables):
//   AddJob(core, "nightly-backup", "0 2 * * *", "Backup.js", "timeout=3600; retries=2");

var QmJobs = null;          // the declared jobs, in the order declared
var QmJobsRequest = null;   // the request count seen last

// Declares a job; false (and a console line saying why) when the name or an
// option is not understood. A name already declared is declared anew.
function AddJob(core, name, spec, action, options) {
  if (!/^[A-Za-z0-9._-]{1,64}$/.test(String(name))) {
    core.Print("AddJob: \"" + name + "\" is no job name (letters, digits, - _ . at most 64)");
    return false;
  }
  var job = {Name: String(name), Spec: String(spec), Action: String(action).replace(/^\s+|\s+$/g, ""),
             Timeout: 0, Overlap: "skip", CatchUp: false, Retries: 0, RetryDelay: 60,
             LastCheck: null, RetryAt: "", RetryDue: "", TriesLeft: 0, Disabled: false};
  var items = String(options || "").split(";");
  for (var i = 0; i < items.length; ++i) {
    var item = items[i].replace(/^\s+|\s+$/g, "");
    if (item === "")
      continue;
    var m = /^(\w+)\s*=\s*(\w+)$/.exec(item.toLowerCase());
    var key = m ? m[1] : "", value = m ? m[2] : "";
    if ((key === "timeout" || key === "retries" || key === "retrydelay" || key === "catchup") && IsCount(value)) {
      var n = parseInt(value, 10);
      if (key === "timeout") job.Timeout = n;
      else if (key === "retries") job.Retries = n;
      else if (key === "retrydelay") job.RetryDelay = n;
      else job.CatchUp = n !== 0;
    } else if (key === "overlap" && (value === "skip" || value === "queue" || value === "parallel")) {
      job.Overlap = value;
    } else {
      core.Print("AddJob " + name + ": the option \"" + item + "\" is not understood");
      return false;
    }
  }
  job.TriesLeft = job.Retries;
  // The eighth field (the second) given: due more than once in a minute.
  var words = job.Spec.replace(/^\s+/, "").split(/\s+/);
  job.EverySecond = words.length >= 8 && words[7].charAt(0) !== "_";
  if (!QmJobs)
    QmJobs = [];
  for (var j = 0; j < QmJobs.length; ++j)
    if (QmJobs[j].Name.toLowerCase() === job.Name.toLowerCase())
      QmJobs.splice(j--, 1);
  QmJobs.push(job);
  return true;
}

// The schedule's clock as "YYYY-MM-DD HH:MM:SS".
function JobClock(core) {
  var clock = core.GetEnvironmentVariable(VAR_PROCESS, "QM.JOB_CLOCK");
  return clock !== "" ? clock : FormatIsoDateTime(new Date());
}

// "YYYY-MM-DD HH:MM:SS" moved by a number of seconds.
function JobTimeAdd(text, seconds) {
  var d = new Date(+text.substr(0, 4), +text.substr(5, 2) - 1, +text.substr(8, 2), +text.substr(11, 2),
                   +text.substr(14, 2), +text.substr(17, 2) + seconds);
  return FormatIsoDateTime(d);
}

function JobVariable(job, part) {
  return "QM.JOB." + job.Name + "." + part;
}

// One pass over the declared jobs at the schedule's clock.
function RunDueJobs(core) {
  if (!QmJobs)
    return;
  var now = JobClock(core), minute = now.substr(0, 16);
  var request = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, "QM.JOBS.REQUEST");
  if (QmJobsRequest === null)
    PublishJobs(core);
  for (var i = 0; i < QmJobs.length; ++i) {
    var job = QmJobs[i];
    if (job.LastCheck === null)
      StartJobClock(core, job, now);
    if (request !== QmJobsRequest) {
      job.Disabled = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, JobVariable(job, "DISABLED")) === "1";
      if (core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, JobVariable(job, "RUN")) !== "") {
        core.SetEnvironmentVariable(VAR_STORED, JobVariable(job, "RUN"), "");
        core.Print(job.Name + ": run on request");
        RunJob(core, job, now);
      }
    }
    // Nothing falls due within the minute of the last look but at a second:
    // most ticks pass a job by with this one comparison.
    var due = "";
    if (job.EverySecond || job.LastCheck.substr(0, 16) !== minute) {
      if (!job.Disabled)
        due = core.CronLastDue(job.Spec, job.LastCheck, now);
      if (job.LastCheck < now)
        job.LastCheck = now;
    }
    if (due !== "") {
      core.SetEnvironmentVariable(VAR_STORED, JobVariable(job, "DUE"), due);
      job.TriesLeft = job.Retries;
      RunJob(core, job, due);
    } else if (job.RetryAt !== "" && job.RetryAt <= now && !job.Disabled) {
      RunJob(core, job, job.RetryDue);
    }
  }
  QmJobsRequest = request;
}

// The names and specifications for Quillmoth.exe -jobs.
function PublishJobs(core) {
  var names = [];
  for (var i = 0; i < QmJobs.length; ++i) {
    names.push(QmJobs[i].Name);
    if (core.GetEnvironmentVariable(VAR_STORED, JobVariable(QmJobs[i], "SPEC")) !== QmJobs[i].Spec)
      core.SetEnvironmentVariable(VAR_STORED, JobVariable(QmJobs[i], "SPEC"), QmJobs[i].Spec);
  }
  core.SetEnvironmentVariable(VAR_STORED, "QM.JOBS", names.join(","));
  QmJobsRequest = "";
}

// Where the first pass starts looking for due times (as in StdLib.vbs).
function StartJobClock(core, job, now) {
  job.Disabled = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, JobVariable(job, "DISABLED")) === "1";
  var last = core.GetEnvironmentVariable(VAR_STORED, JobVariable(job, "DUE"));
  job.LastCheck = JobTimeAdd(now, -60);
  if (last === "")
    return;
  var days = core.GetEnvironmentVariable(VAR_STORED, "QM.CATCHUP_DAYS");
  var limit = JobTimeAdd(now, -86400 * (IsCount(days) ? parseInt(days, 10) : 3));
  if (job.CatchUp && last >= limit) {
    job.LastCheck = last;
    return;
  }
  var missed = core.CronLastDue(job.Spec, last, job.CatchUp ? limit : job.LastCheck);
  if (missed !== "") {
    core.Print(job.Name + ": the run due at " + missed + " was missed while nothing ran; it is not made up");
    core.SetEnvironmentVariable(VAR_STORED, JobVariable(job, "DUE"), missed);
  }
  if (job.CatchUp)
    job.LastCheck = limit;
}

// Runs the job's action for one due time (as in StdLib.vbs).
function RunJob(core, job, due) {
  for (;;) {
    var outcome = StartJobAction(core, job, due);
    var ended = JobClock(core);
    core.SetEnvironmentVariable(VAR_STORED, JobVariable(job, "LAST"), ended + " " + outcome);
    // The schedule script's own JobEnded(core, name, due, outcome), if any.
    if (typeof JobEnded === "function")
      JobEnded(core, job.Name, due, outcome);
    job.RetryAt = "";
    if (outcome !== "returned" && outcome !== "exit code 0" && outcome !== "started") {
      if (job.TriesLeft > 0) {
        --job.TriesLeft;
        job.RetryAt = JobTimeAdd(ended, job.RetryDelay);
        job.RetryDue = due;
        core.Print(job.Name + ": " + outcome + "; tried again at " + job.RetryAt);
      } else {
        core.Print(job.Name + ": " + outcome);
      }
    }
    var missed = "";
    if (job.LastCheck < ended) {
      missed = core.CronLastDue(job.Spec, job.LastCheck, ended);
      job.LastCheck = ended;
    }
    if (missed === "")
      return;
    core.SetEnvironmentVariable(VAR_STORED, JobVariable(job, "DUE"), missed);
    if (job.Overlap !== "queue") {
      core.RecordSkippedRun(job.Action);
      core.Print(job.Name + ": the run due at " + missed + " was skipped: still running");
      return;
    }
    due = missed;
    job.TriesLeft = job.Retries;
  }
}

// Starts the action and answers how it ended (as in StdLib.vbs).
function StartJobAction(core, job, due) {
  var blank = job.Action.indexOf(" ");
  var word = blank < 0 ? job.Action : job.Action.substr(0, blank);
  var rest = blank < 0 ? "" : job.Action.substr(blank + 1).replace(/^\s+/, "");
  var wait = job.Overlap !== "parallel";
  var previous = core.SetTimeLimit(wait ? job.Timeout : 0);
  var outcome;
  if (/\.(vbs|js)$/i.test(word)) {
    if (rest === "")
      rest = due;
    if (wait) {
      var value = core.Run(0, word, rest);
      outcome = core.LastOutcome();
      if (outcome === "returned" && (value === false || (typeof value === "number" && value !== 0)))
        outcome = "returned failure";
    } else {
      core.Run(1, word, rest);
      outcome = "started";
    }
  } else if (wait) {
    core.CreateProcess(2, job.Action);
    outcome = core.LastOutcome();
  } else {
    core.CreateProcess(2 + 4, job.Action);
    outcome = "started";
  }
  core.SetTimeLimit(previous);
  return outcome === "" ? "not started" : outcome;
}
