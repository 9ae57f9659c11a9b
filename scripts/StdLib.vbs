' StdLib.vbs - loaded by Quillmoth before every script, into the same engine.
' Its functions are there for every script; keep them small and general.
Option Explicit

Const ForReading = 1
Const ForWriting = 2
Const ForAppending = 8

' Message ids a script's GetMessage loop looks at.
Const WM_TIMER = 275
Const QMR_CTL_SUSPEND = 1229
Const QMR_CTL_RESUME = 1230
Const QMR_CTL_STOP = 1231
Const QMR_CTL_TIMECHANGE = 1232
Const QMR_CTL_QUIT = 1233

' Flags of GetEnvironmentVariable and SetEnvironmentVariable.
Const VAR_PROCESS = 1
Const VAR_STORED = 2
Const VAR_REGISTRY = 4
Const VAR_ENCRYPTED = 8

' The Core object, or Nothing when the automation library is not installed
' (test the result with Is Nothing).
Function NewCore()
  On Error Resume Next
  Set NewCore = CreateObject("QuillmothLib.Core")
  If Err.Number <> 0 Then Set NewCore = Nothing
  Err.Clear
End Function

' A timer id of SetTimer as KillTimer takes it: KillTimer's id is a 16-bit
' number, so ids above 32767 are passed as id - 65536.
Function TimerId16(id)
  If id > 32767 Then TimerId16 = id - 65536 Else TimerId16 = id
End Function

' A number as two digits: 7 -> "07".
Function TwoDigits(n)
  TwoDigits = Right("0" & CStr(n), 2)
End Function

' 2026-12-08
Function FormatIsoDate(d)
  FormatIsoDate = Year(d) & "-" & TwoDigits(Month(d)) & "-" & TwoDigits(Day(d))
End Function

' 08:30:00
Function FormatIsoTime(d)
  FormatIsoTime = TwoDigits(Hour(d)) & ":" & TwoDigits(Minute(d)) & ":" & TwoDigits(Second(d))
End Function

' 2026-12-08 08:30:00
Function FormatIsoDateTime(d)
  FormatIsoDateTime = FormatIsoDate(d) & " " & FormatIsoTime(d)
End Function

' A text in double quotes for a command line; quotes inside are escaped.
Function Quote(s)
  Quote = """" & Replace(s, """", "\""") & """"
End Function

' The value, or the fallback when the value is empty or Null.
Function DefaultIfEmpty(value, fallback)
  If IsNull(value) Then
    DefaultIfEmpty = fallback
  ElseIf CStr(value) = "" Then
    DefaultIfEmpty = fallback
  Else
    DefaultIfEmpty = value
  End If
End Function

' A variable of the process environment ("" when it is not set), such as
' QM.ROOT_DIR or QM.DEFAULT_DIR, which Quillmoth sets at start.
Function ProcessVariable(name)
  ProcessVariable = CreateObject("WScript.Shell").Environment("PROCESS").Item(name)
End Function

Function FileExists(path)
  FileExists = CreateObject("Scripting.FileSystemObject").FileExists(path)
End Function

Function FolderExists(path)
  FolderExists = CreateObject("Scripting.FileSystemObject").FolderExists(path)
End Function

' Appends one line to a text file, creating it when needed.
Sub AppendLine(path, text)
  Dim file
  Set file = CreateObject("Scripting.FileSystemObject").OpenTextFile(path, ForAppending, True)
  file.WriteLine text
  file.Close
End Sub

' The whole text of a file, or "" when it does not exist.
Function ReadAllText(path)
  Dim fso, file
  Set fso = CreateObject("Scripting.FileSystemObject")
  ReadAllText = ""
  If Not fso.FileExists(path) Then Exit Function
  Set file = fso.OpenTextFile(path, ForReading)
  If Not file.AtEndOfStream Then ReadAllText = file.ReadAll
  file.Close
End Function

' A setting of a script: the process variable "<prefix>.<name>" when it is
' set (an administrator can set it for the service without editing the
' script), else the given value.
Function ScriptSetting(core, prefix, name, value)
  ScriptSetting = DefaultIfEmpty(core.GetEnvironmentVariable(VAR_PROCESS, prefix & "." & name), value)
End Function

' A line on the console ("<prefix>: <text>") and, with the date and time, in
' the log file. Another program may hold the file open for a moment (someone
' reading the log, a backup): the line is tried again, up to 200 times (a
' tenth of a second or two; Timer counts whole seconds under some engines).
' A log that cannot be written is said on the console and does not end the
' script: a script error stops every script of the program.
Sub LogLine(core, logFile, prefix, text)
  Dim line, attempt
  core.Print prefix & ": " & text
  line = FormatIsoDateTime(Now) & "  " & text
  On Error Resume Next
  For attempt = 1 To 200
    Err.Clear
    AppendLine logFile, line
    If Err.Number = 0 Then Exit Sub
  Next
  core.Print prefix & ": cannot write " & logFile & ": " & Err.Description
End Sub

' A whole number of at most 9 digits, without sign or blanks.
Function IsCount(text)
  Dim i
  IsCount = Len(text) > 0 And Len(text) < 10
  For i = 1 To Len(text)
    If InStr("0123456789", Mid(text, i, 1)) = 0 Then IsCount = False
  Next
End Function

' One turn of a script's message loop: waits for the next message of the
' script's thread and answers True for a timer tick, False when the script is
' asked to stop (the console's Stop, or Quillmoth ending). At each tick the
' declared jobs (AddJob) that are due run, unless the script is suspended. The console's
' Suspend and Resume set and clear `suspended` (a variable of the caller);
' any other message goes to the window it is meant for. Every message handle
' is given back.
Function NextTick(core, suspended)
  Dim msg, id
  Do
    msg = core.GetMessage(0, 0)
    id = core.GetMessageId(msg)
    Select Case id
      Case QMR_CTL_SUSPEND
        suspended = True
      Case QMR_CTL_RESUME
        suspended = False
      Case WM_TIMER, QMR_CTL_STOP, QMR_CTL_QUIT
      Case Else
        core.DispatchMessage msg
    End Select
    core.FreeHandle msg
    If id = WM_TIMER And Not suspended Then RunDueJobs core
    If id = WM_TIMER Or id = QMR_CTL_STOP Or id = QMR_CTL_QUIT Then
      NextTick = (id = WM_TIMER)
      Exit Function
    End If
  Loop
End Function

' ---- Declared jobs ---------------------------------------------------------
' A schedule script declares its jobs and lets NextTick run them:
'   AddJob core, "nightly-backup", "0 2 * * *", "Backup.vbs", "timeout=3600; retries=2"
' The action is a script (its first word ends in .vbs or .js; the rest of the
' text is its argument, else it gets the due time) run with Run, or else a
' program command line run hidden with CreateProcess. Options, separated by
' semicolons: timeout=SECONDS (0: none), overlap=skip|queue|parallel,
' catchup=0|1, retries=N, retrydelay=SECONDS. Jobs of one script run one
' after another; overlap=parallel starts the action without waiting for it
' (no time limit, no retries). A schedule script that defines
' Sub JobEnded(core, name, due, outcome) hears of every run's end. What a job keeps in stored variables:
' QM.JOB.<name>.DUE (the last due time dealt with), .LAST (when and how its
' last run ended), .SPEC, .DISABLED and .RUN (set by Quillmoth.exe -run-job,
' with QM.JOBS.REQUEST counting the requests); QM.JOBS lists the names. The
' process variable QM.JOB_CLOCK, when set ("YYYY-MM-DD HH:MM:SS"), stands in
' for the clock (for tests of schedules).

Dim QmJobs          ' the declared jobs by lower-case name; Empty before AddJob
Dim QmJobsRequest   ' the request count seen last

' One member a line: Wine's VBScript reads no list after Public.
Class QmJob
  Public Name
  Public Spec
  Public Action
  Public Timeout
  Public Overlap
  Public CatchUp
  Public Retries
  Public RetryDelay
  Public LastCheck
  Public RetryAt
  Public RetryDue
  Public TriesLeft
  Public Disabled
  Public EverySecond
End Class

' Declares a job; False (and a console line saying why) when the name or an
' option is not understood. A name already declared is declared anew.
Function AddJob(core, name, spec, action, options)
  Dim job, item, pair, key, value
  AddJob = False
  If Not IsJobName(name) Then
    core.Print "AddJob: """ & name & """ is no job name (letters, digits, - _ . at most 64)"
    Exit Function
  End If
  Set job = New QmJob
  job.Name = name : job.Spec = spec : job.Action = Trim(action)
  job.Timeout = 0 : job.Overlap = "skip" : job.CatchUp = False
  job.Retries = 0 : job.RetryDelay = 60 : job.RetryAt = "" : job.Disabled = False
  For Each item In Split(options, ";")
    item = Trim(item)
    If item <> "" Then
      pair = Split(item, "=")
      key = "" : value = ""
      If UBound(pair) = 1 Then key = LCase(Trim(pair(0))) : value = LCase(Trim(pair(1)))
      Select Case key
        Case "timeout", "retries", "retrydelay", "catchup"
          If Not IsCount(value) Then key = ""
        Case "overlap"
          If value <> "skip" And value <> "queue" And value <> "parallel" Then key = ""
        Case Else
          key = ""
      End Select
      Select Case key
        Case "timeout" : job.Timeout = CLng(value)
        Case "retries" : job.Retries = CLng(value)
        Case "retrydelay" : job.RetryDelay = CLng(value)
        Case "catchup" : job.CatchUp = (CLng(value) <> 0)
        Case "overlap" : job.Overlap = value
        Case Else
          core.Print "AddJob " & name & ": the option """ & item & """ is not understood"
          Exit Function
      End Select
    End If
  Next
  job.TriesLeft = job.Retries
  job.EverySecond = HasSecondField(spec)
  If IsEmpty(QmJobs) Then Set QmJobs = CreateObject("Scripting.Dictionary")
  If QmJobs.Exists(LCase(name)) Then QmJobs.Remove LCase(name)
  QmJobs.Add LCase(name), job
  AddJob = True
End Function

' True when the specification's eighth field (the second) is given: it can
' fall due more than once in a minute.
Function HasSecondField(spec)
  Dim word, count
  count = 0
  HasSecondField = False
  For Each word In Split(Replace(spec, vbTab, " "), " ")
    If word <> "" Then
      count = count + 1
      If count = 8 Then HasSecondField = Left(word, 1) <> "_"
    End If
  Next
End Function

Function IsJobName(name)
  Dim i
  IsJobName = Len(name) > 0 And Len(name) <= 64
  For i = 1 To Len(name)
    If InStr("abcdefghijklmnopqrstuvwxyz0123456789-_.", LCase(Mid(name, i, 1))) = 0 Then IsJobName = False
  Next
End Function

' The schedule's clock as "YYYY-MM-DD HH:MM:SS".
Function JobClock(core)
  JobClock = core.GetEnvironmentVariable(VAR_PROCESS, "QM.JOB_CLOCK")
  If JobClock = "" Then JobClock = FormatIsoDateTime(Now)
End Function

Function JobTime(text)
  JobTime = DateSerial(Mid(text, 1, 4), Mid(text, 6, 2), Mid(text, 9, 2)) + _
            TimeSerial(Mid(text, 12, 2), Mid(text, 15, 2), Mid(text, 18, 2))
End Function

Function JobVariable(job, part)
  JobVariable = "QM.JOB." & job.Name & "." & part
End Function

' One pass over the declared jobs at the schedule's clock: runs each job whose
' due time passed since the last pass, a retry whose delay is over, a run
' asked for from outside. The first pass catches up (see AddJob).
Sub RunDueJobs(core)
  Dim now, minute, request, job, due
  If IsEmpty(QmJobs) Then Exit Sub
  now = JobClock(core)
  minute = Left(now, 16)
  request = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, "QM.JOBS.REQUEST")
  If IsEmpty(QmJobsRequest) Then PublishJobs core
  For Each job In QmJobs.Items
    If IsEmpty(job.LastCheck) Then StartJobClock core, job, now
    If request <> QmJobsRequest Then
      job.Disabled = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, JobVariable(job, "DISABLED")) = "1"
      If core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, JobVariable(job, "RUN")) <> "" Then
        core.SetEnvironmentVariable VAR_STORED, JobVariable(job, "RUN"), ""
        core.Print job.Name & ": run on request"
        RunJob core, job, now
      End If
    End If
    ' Nothing falls due within the minute of the last look but at a second:
    ' most ticks pass a job by with this one comparison.
    due = ""
    If job.EverySecond Or Left(job.LastCheck, 16) <> minute Then
      If Not job.Disabled Then due = core.CronLastDue(job.Spec, job.LastCheck, now)
      If job.LastCheck < now Then job.LastCheck = now
    End If
    If due <> "" Then
      core.SetEnvironmentVariable VAR_STORED, JobVariable(job, "DUE"), due
      job.TriesLeft = job.Retries
      RunJob core, job, due
    ElseIf job.RetryAt <> "" Then
      If job.RetryAt <= now And Not job.Disabled Then RunJob core, job, job.RetryDue
    End If
  Next
  QmJobsRequest = request
End Sub

' The names and specifications for Quillmoth.exe -jobs.
Sub PublishJobs(core)
  Dim key, names
  names = ""
  For Each key In QmJobs.Keys
    names = names & "," & QmJobs(key).Name
    If core.GetEnvironmentVariable(VAR_STORED, JobVariable(QmJobs(key), "SPEC")) <> QmJobs(key).Spec Then _
      core.SetEnvironmentVariable VAR_STORED, JobVariable(QmJobs(key), "SPEC"), QmJobs(key).Spec
  Next
  core.SetEnvironmentVariable VAR_STORED, "QM.JOBS", Mid(names, 2)
  QmJobsRequest = ""
End Sub

' Where the first pass starts looking for due times: the last due time dealt
' with, at most QM.CATCHUP_DAYS (3 unless set) back, for a job with
' catchup=1; the present otherwise, saying which due time was left out.
Sub StartJobClock(core, job, now)
  Dim last, limit, days, missed
  job.Disabled = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, JobVariable(job, "DISABLED")) = "1"
  last = core.GetEnvironmentVariable(VAR_STORED, JobVariable(job, "DUE"))
  job.LastCheck = FormatIsoDateTime(DateAdd("n", -1, JobTime(now)))
  If last = "" Then Exit Sub
  days = core.GetEnvironmentVariable(VAR_STORED, "QM.CATCHUP_DAYS")
  If Not IsCount(days) Then days = 3
  limit = FormatIsoDateTime(DateAdd("d", -CLng(days), JobTime(now)))
  If job.CatchUp And last >= limit Then
    job.LastCheck = last
    Exit Sub
  End If
  If job.CatchUp Then missed = core.CronLastDue(job.Spec, last, limit) Else missed = core.CronLastDue(job.Spec, last, job.LastCheck)
  If missed <> "" Then
    core.Print job.Name & ": the run due at " & missed & " was missed while nothing ran; it is not made up"
    core.SetEnvironmentVariable VAR_STORED, JobVariable(job, "DUE"), missed
  End If
  If job.CatchUp Then job.LastCheck = limit
End Sub

' Runs the job's action for one due time; a due time that passes meanwhile is
' skipped (recorded "skipped: still running") or, with overlap=queue, run
' right after. A failure is tried again after the delay while tries are left.
Sub RunJob(core, job, due)
  Dim outcome, ended, missed
  Do
    outcome = StartJobAction(core, job, due)
    ended = JobClock(core)
    core.SetEnvironmentVariable VAR_STORED, JobVariable(job, "LAST"), ended & " " & outcome
    TellJobEnded core, job, due, outcome
    job.RetryAt = ""
    If outcome <> "returned" And outcome <> "exit code 0" And outcome <> "started" Then
      If job.TriesLeft > 0 Then
        job.TriesLeft = job.TriesLeft - 1
        job.RetryAt = FormatIsoDateTime(DateAdd("s", job.RetryDelay, JobTime(ended)))
        job.RetryDue = due
        core.Print job.Name & ": " & outcome & "; tried again at " & job.RetryAt
      Else
        core.Print job.Name & ": " & outcome
      End If
    End If
    missed = ""
    If job.LastCheck < ended Then
      missed = core.CronLastDue(job.Spec, job.LastCheck, ended)
      job.LastCheck = ended
    End If
    If missed = "" Then Exit Sub
    core.SetEnvironmentVariable VAR_STORED, JobVariable(job, "DUE"), missed
    If job.Overlap <> "queue" Then
      core.RecordSkippedRun job.Action
      core.Print job.Name & ": the run due at " & missed & " was skipped: still running"
      Exit Sub
    End If
    due = missed
    job.TriesLeft = job.Retries
  Loop
End Sub

' Calls the schedule script's own Sub JobEnded(core, name, due, outcome),
' when it has one (to log each run its own way). A missing one is error 13 or
' 500 (438 under Wine, whose GetRef cannot tell); any other error of the
' hook is said on the console.
Sub TellJobEnded(core, job, due, outcome)
  On Error Resume Next
  JobEnded core, job.Name, due, outcome
  If Err.Number <> 0 And Err.Number <> 13 And Err.Number <> 438 And Err.Number <> 500 Then
    core.Print "JobEnded: error " & Err.Number & " " & Err.Description
  End If
End Sub

' Starts the action and answers how it ended, as the run history says it
' ("returned" with a main that answered False or a number other than 0
' becomes "returned failure"); "started" when not waited for.
Function StartJobAction(core, job, due)
  Dim word, rest, blank, previous, value, wait
  blank = InStr(job.Action, " ")
  If blank = 0 Then word = job.Action : rest = "" Else word = Left(job.Action, blank - 1) : rest = Trim(Mid(job.Action, blank + 1))
  wait = job.Overlap <> "parallel"
  previous = core.SetTimeLimit(job.Timeout)
  If Not wait Then core.SetTimeLimit 0
  If LCase(Right(word, 4)) = ".vbs" Or LCase(Right(word, 3)) = ".js" Then
    If rest = "" Then rest = due
    If wait Then
      value = core.Run(0, word, rest)
      StartJobAction = core.LastOutcome
      If StartJobAction = "returned" And FailureValue(value) Then StartJobAction = "returned failure"
    Else
      core.Run 1, word, rest
      StartJobAction = "started"
    End If
  ElseIf wait Then
    core.CreateProcess 2, job.Action
    StartJobAction = core.LastOutcome
  Else
    core.CreateProcess 2 + 4, job.Action
    StartJobAction = "started"
  End If
  If StartJobAction = "" Then StartJobAction = "not started"
  core.SetTimeLimit previous
End Function

Function FailureValue(value)
  FailureValue = False
  Select Case VarType(value)
    Case vbBoolean : FailureValue = Not value
    Case vbInteger, vbLong, vbSingle, vbDouble, vbCurrency, vbByte : FailureValue = (value <> 0)
  End Select
End Function
