' StartCounter.vbs - Quillmoth sample: counts the starts of Quillmoth in a
' stored variable, which keeps its value across restarts (and reboots), and
' writes each start with the time of the previous one to a log: a quick way
' to notice a service that restarts more often than it should.
'
' To use it: copy this file into the Scripts folder (the Sample Scripts
' folder is replaced by every upgrade), change the settings below, and run
' it once at every start from AutoRun.vbs with
'     core.Run 0, "StartCounter.vbs", ""
' (0 = wait until it is done: it only counts and ends).
'
' Settings: each constant of the block below can also be given, without
' editing this file, by a process variable named "StartCounter.<constant>",
' for example "StartCounter.COUNTER". Set it in AutoRun.vbs before the Run
' line
'     core.SetEnvironmentVariable VAR_PROCESS, "StartCounter.COUNTER", "MyCounter"
' or as a system environment variable before Quillmoth starts. A variable
' that is not set, or empty, leaves the constant in force.
'
' Stored variables live in the registry under
' HKEY_LOCAL_MACHINE\software\Brenlow Software\Quillmoth\QM.ENVIRONMENT (or
' HKEY_CURRENT_USER when the machine's key is not writable); every script of
' every Quillmoth process on this computer sees them.
Option Explicit

' --- settings ---------------------------------------------------------------
Const SETTINGS = "StartCounter"    ' the prefix of the overriding variables
' The stored variable that holds the count; COUNTER & ".LAST" holds the time
' of the last start.
Const COUNTER = "StartCounter.COUNT"
' The log file; "" = StartCounter.log beside Quillmoth.exe.
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
  Dim name, stored, count, previous
  Set core = NewCore()
  If core Is Nothing Then
    main = "StartCounter.vbs needs the Core object (QuillmothLib.dll is not registered)"
    Exit Function
  End If
  logFile = Setting("LOG_FILE", LOG_FILE)
  If logFile = "" Then logFile = ProcessVariable("QM.ROOT_DIR") & SETTINGS & ".log"
  name = Setting("COUNTER", COUNTER)

  ' VAR_STORED + VAR_REGISTRY reads the registry itself, not this process's
  ' copy of the variable, so a count written by another process counts.
  stored = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, name)
  previous = core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, name & ".LAST")
  If stored = "" Then
    count = 0
  ElseIf IsCount(stored) Then
    count = CLng(stored)
  Else
    WriteLog "the stored value """ & stored & """ of " & name & " is not a count; counting again from 1"
    count = 0
  End If
  If count = 999999999 Then count = 0
  count = count + 1

  ' VAR_STORED writes the process's variable and the registry; the answer
  ' is False when the registry could not be written.
  If Not core.SetEnvironmentVariable(VAR_STORED, name, CStr(count)) Then
    WriteLog "could not store " & name & " (no right to write the registry?); this start is not counted"
    main = -1
    Exit Function
  End If
  core.SetEnvironmentVariable VAR_STORED, name & ".LAST", FormatIsoDateTime(Now)
  WriteLog "start number " & count & " of Quillmoth; the previous one was at " & DefaultIfEmpty(previous, "(none recorded)")
  main = count
End Function
