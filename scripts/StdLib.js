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
// to the window it is meant for. Every message handle is given back.
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
    if (id === WM_TIMER || id === QMR_CTL_STOP || id === QMR_CTL_QUIT)
      return id === WM_TIMER;
  }
}
