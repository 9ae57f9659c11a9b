' AutoRun.vbs - run by Quillmoth at every start, with the local date and time
' of the start as its argument. Edit it to schedule your own jobs.
'
' Declared jobs: AddJob (StdLib.vbs) names a job, when it runs (minute hour
' day month weekday [year [day-of-year [second]]]), what it runs (a script,
' or a program's command line) and how: a time limit, what to do when its
' last run still goes on, whether to make up a run missed while Quillmoth was
' not running, and how often to try a failed run again. NextTick runs each
' job when it falls due; Quillmoth.exe -jobs lists them. For example:
'   AddJob core, "nightly-backup", "0 2 * * *", "Backup.vbs", "timeout=3600; catchup=1; retries=2; retrydelay=300"
'   AddJob core, "weekly-report", "30 6 * * 2", """C:\Tools\report.exe"" /week", "timeout=600"
'
' CheckTime, for what is no job of its own: it answers True once in each
' time unit that matches. The loop ends when Quillmoth asks its scripts to
' stop.
Option Explicit

Function main(startedAt)
  Dim core, line, timer, suspended
  line = "Quillmoth started at " & startedAt
  Set core = NewCore()
  If core Is Nothing Then
    ' Without the Core object a script cannot reach the console; it keeps
    ' its start line in a file beside the scripts instead.
    AppendLine DefaultIfEmpty(ProcessVariable("QM.DEFAULT_DIR"), ".\") & "AutoRun.log", line
    main = line
    Exit Function
  End If
  core.Print line

  ' Your jobs here (see above).

  ' A pooled worker thread may have run this script before: start with
  ' fresh latches.
  core.DestroyCronContext 1, 3
  timer = core.SetTimer(1000)
  suspended = False
  Do While NextTick(core, suspended)
    If Not suspended Then
      If core.CheckTime(1, False, "0 * * * *") Then core.Print "Hourly check at " & FormatIsoDateTime(Now)
      If core.CheckTime(2, False, "30 8 * * 2-6") Then core.Print "Good morning: 8:30 on a weekday"
      If core.CheckTime(3, False, "0 0 1 1") Then core.Print "Happy new year"
    End If
  Loop
  core.KillTimer TimerId16(timer)
  core.Print "AutoRun.vbs stopped"
  main = line
End Function
