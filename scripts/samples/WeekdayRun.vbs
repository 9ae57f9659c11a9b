' WeekdayRun.vbs - Quillmoth sample: runs a program every weekday at 02:30
' as a declared job (AddJob in StdLib.vbs: a time limit, a retry after a
' failure, a missed night made up at the next start) and writes each run's
' outcome to a log file.
'
' To use it: copy this file into the Scripts folder (the Sample Scripts
' folder is replaced by every upgrade), change the settings below, and start
' it from AutoRun.vbs with
'     core.Run 1, "WeekdayRun.vbs", ""
' (1 = do not wait: the script runs on a worker of its own until Quillmoth
' stops). The console's Load... button starts it as well.
'
' Settings: each constant of the block below can also be given, without
' editing this file, by a process variable named "WeekdayRun.<constant>",
' for example "WeekdayRun.COMMAND". Set it in AutoRun.vbs before the Run line
'     core.SetEnvironmentVariable VAR_PROCESS, "WeekdayRun.COMMAND", "C:\Tools\report.exe /daily"
' or as a system environment variable before Quillmoth starts. A variable
' that is not set, or empty, leaves the constant in force. (This is also how
' the tests run the sample at once, with the schedule "* * * * *".)
Option Explicit

' --- settings ---------------------------------------------------------------
Const SETTINGS = "WeekdayRun"      ' the prefix of the overriding variables
' When: minute hour day month weekday, as CheckTime reads it. Weekdays count
' from 1 = Sunday, so 2-6 is Monday to Friday.
Const SCHEDULE = "30 2 * * 2-6"
' The program and its arguments; put a path with blanks in double quotes.
Const COMMAND = """C:\Program Files\Example\nightly.exe"" /quiet"
' The job's options: end the program (with all it started) after an hour,
' try a failed run once more ten minutes later, and make up a run missed
' while Quillmoth was not running.
Const OPTIONS = "timeout=3600; retries=1; retrydelay=600; catchup=1"
' The log file; "" = WeekdayRun.log beside Quillmoth.exe.
Const LOG_FILE = ""
' ---------------------------------------------------------------------------

Dim core, logFile

' A setting: its process variable when that is set, else the constant.
Function Setting(name, value)
  Setting = ScriptSetting(core, SETTINGS, name, value)
End Function

' One line on the console and, with the date and time, in the log file.
Sub WriteLog(text)
  LogLine core, logFile, SETTINGS, text
End Sub

Function main(startedAt)
  Dim cronSpec, commandLine, timer, suspended
  Set core = NewCore()
  If core Is Nothing Then
    main = "WeekdayRun.vbs needs the Core object (QuillmothLib.dll is not registered)"
    Exit Function
  End If
  logFile = Setting("LOG_FILE", LOG_FILE)
  If logFile = "" Then logFile = ProcessVariable("QM.ROOT_DIR") & SETTINGS & ".log"
  cronSpec = Setting("SCHEDULE", SCHEDULE)
  commandLine = Setting("COMMAND", COMMAND)
  ' The job runs the program hidden, and waits for it.
  If Not AddJob(core, SETTINGS, cronSpec, commandLine, Setting("OPTIONS", OPTIONS)) Then
    WriteLog "the job cannot be declared (the console shows why); nothing will be run"
    Exit Function
  End If
  WriteLog "waiting for """ & cronSpec & """ to run " & commandLine

  ' A timer message every second; NextTick waits for the next message of
  ' this script's thread: a tick, or a request of the console. At each tick
  ' it runs the job when it falls due.
  timer = core.SetTimer(1000)
  ' NextTick (StdLib.vbs): True at each tick, False on Stop; the console's
  ' Suspend and Resume buttons set and clear `suspended`.
  suspended = False
  Do While NextTick(core, suspended)
  Loop
  ' KillTimer takes the timer's id as a 16-bit number: TimerId16 makes it so.
  core.KillTimer TimerId16(timer)
  WriteLog "stopped"
End Function

' The job table calls this at the end of every run: "exit code N",
' "timed out", "not started" (the console shows why)...
Sub JobEnded(core, name, due, outcome)
  WriteLog outcome & " from " & Setting("COMMAND", COMMAND) & " (due " & due & ")"
End Sub
