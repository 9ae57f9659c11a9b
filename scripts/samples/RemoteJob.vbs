' RemoteJob.vbs - Quillmoth sample: places a job in the network job scheduler
' of another computer (or of this one), so that computer runs a command at
' the given time even when Quillmoth does not run there. A job with the same
' command and the same schedule already there is left as it is, so the
' script can run at every start of Quillmoth without piling up jobs; a job
' with the same command on another schedule (the setting was changed) is
' replaced. The scheduler cannot tell a job's schedule back, so the schedule
' each job was placed with is kept in the stored variable
' "RemoteJob.<computer>.<job number>"; a job with the command but no such
' record counts as another schedule.
'
' To use it: copy this file into the Scripts folder (the Sample Scripts
' folder is replaced by every upgrade), change the settings below, and run
' it from AutoRun.vbs with
'     core.Run 0, "RemoteJob.vbs", ""
' (0 = wait until it is done: it places the job and ends). The account
' Quillmoth runs as needs the right to schedule jobs on that computer, and
' since Windows 8 the scheduler carries the job out as a Task Scheduler task
' (see "Network jobs" in the guide's reference).
'
' Settings: each constant of the block below can also be given, without
' editing this file, by a process variable named "RemoteJob.<constant>",
' for example "RemoteJob.COMPUTER". Set it in AutoRun.vbs before the Run line
'     core.SetEnvironmentVariable VAR_PROCESS, "RemoteJob.COMPUTER", "\\FILESERVER"
' or as a system environment variable before Quillmoth starts. A variable
' that is not set, or empty, leaves the constant in force.
Option Explicit

' --- settings ---------------------------------------------------------------
Const SETTINGS = "RemoteJob"       ' the prefix of the overriding variables
' The computer: "\\FILESERVER" or "FILESERVER"; "" or "." = this computer.
Const COMPUTER = "\\FILESERVER"
' When, as for CheckTime but limited to what the scheduler can hold: one
' minute and one hour, a day-of-month field, "_" for the month, a weekday
' field (1 = Sunday). The scheduler runs the job on every day that either
' day field names, so leave the one you do not need as "_".
' "30 2 _ _ 2-6" is 02:30 from Monday to Friday; "0 4 1 _ _" is 04:00 on the
' first of every month.
Const SCHEDULE = "30 2 _ _ 2-6"
' The command that computer runs, with paths as that computer sees them.
Const JOB_COMMAND = "cmd /c C:\Jobs\nightly.cmd"
' True: the job may show windows on that computer's desktop.
Const INTERACTIVE = False
' The log file; "" = RemoteJob.log beside Quillmoth.exe.
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

' The stored variable that keeps the schedule a job was placed with.
Function ScheduleRecord(shownAs, id)
  ScheduleRecord = SETTINGS & "." & shownAs & "." & id
End Function

' The job number of a job with this command on the server, or -1. 0 when the
' jobs could not be read.
Function ExistingJob(server, commandLine)
  Dim list, i, job
  ExistingJob = -1
  ' NetScheduleJobEnum reads every job into a list handle (0: failed, the
  ' console shows why); NetScheduleJobEnumGet copies entry i (from 1) into a
  ' job handle. Both kinds of handle are given back with FreeHandle.
  list = core.NetScheduleJobEnum(server)
  If list = 0 Then
    ExistingJob = 0
    Exit Function
  End If
  For i = 1 To core.NetScheduleJobEnumCount(list)
    job = core.NetScheduleJobEnumGet(list, i)
    If core.NetScheduleJobGetInfoCommand(job) = commandLine Then ExistingJob = core.NetScheduleJobGetInfoJobId(job)
    core.FreeHandle job
  Next
  core.FreeHandle list
End Function

' The scheduler's next run of a job as text ("" when it cannot be read).
Function NextRun(server, id)
  Dim job
  NextRun = ""
  job = core.NetScheduleJobGetInfo(server, id)
  If job = 0 Then Exit Function
  NextRun = core.NetScheduleJobGetInfoTime(job)
  core.FreeHandle job
End Function

Function main(startedAt)
  Dim server, shownAs, cronSpec, commandLine, flags, id, placedWith
  Set core = NewCore()
  If core Is Nothing Then
    main = "RemoteJob.vbs needs the Core object (QuillmothLib.dll is not registered)"
    Exit Function
  End If
  logFile = Setting("LOG_FILE", LOG_FILE)
  If logFile = "" Then logFile = ProcessVariable("QM.ROOT_DIR") & SETTINGS & ".log"
  main = -1
  ' "" and "." name this computer; another name is passed as \\NAME.
  server = Trim(Setting("COMPUTER", COMPUTER))
  If server = "." Then server = ""
  If server <> "" And Left(server, 2) <> "\\" Then server = "\\" & server
  shownAs = DefaultIfEmpty(server, "this computer")
  cronSpec = Setting("SCHEDULE", SCHEDULE)
  commandLine = Setting("JOB_COMMAND", JOB_COMMAND)
  flags = 0
  If InStr(1, "|true|yes|1|-1|", "|" & LCase(Trim(Setting("INTERACTIVE", INTERACTIVE))) & "|") > 0 Then flags = 1

  id = ExistingJob(server, commandLine)
  If id = 0 Then
    WriteLog "cannot read the jobs of " & shownAs & " (the console shows why); no job added"
    Exit Function
  End If
  If id > 0 Then
    placedWith = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, ScheduleRecord(shownAs, id))
    If placedWith = flags & " " & cronSpec Then
      WriteLog "job " & id & " on " & shownAs & " already runs " & commandLine & "; next run " & NextRun(server, id)
      main = id
      Exit Function
    End If
    ' Another schedule, or one this script did not place: replaced.
    If Not core.NetScheduleJobDel(server, id, id) Then
      WriteLog "job " & id & " on " & shownAs & " runs " & commandLine & " on another schedule (" & _
               DefaultIfEmpty(placedWith, "not recorded") & ") and could not be removed; no job added"
      Exit Function
    End If
    core.SetEnvironmentVariable VAR_STORED, ScheduleRecord(shownAs, id), ""
    WriteLog "removed job " & id & " on " & shownAs & ", which ran " & commandLine & " on another schedule (" & _
             DefaultIfEmpty(placedWith, "not recorded") & ")"
  End If

  ' NetScheduleJobAdd turns the schedule into the scheduler's time and day
  ' masks and answers the new job's number, or -1 (a schedule the scheduler
  ' cannot hold, or a refusal of the computer; the console shows why).
  id = core.NetScheduleJobAdd(flags, server, cronSpec, commandLine)
  If id = -1 Then
    WriteLog "could not add the job """ & cronSpec & """ " & commandLine & " on " & shownAs & " (the console shows why)"
    Exit Function
  End If
  core.SetEnvironmentVariable VAR_STORED, ScheduleRecord(shownAs, id), flags & " " & cronSpec
  WriteLog "added job " & id & " on " & shownAs & ": """ & cronSpec & """ " & commandLine & "; next run " & NextRun(server, id)
  main = id
End Function
