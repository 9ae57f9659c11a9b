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
' asked to stop (the console's Stop, or Quillmoth ending). The console's
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
    If id = WM_TIMER Or id = QMR_CTL_STOP Or id = QMR_CTL_QUIT Then
      NextTick = (id = WM_TIMER)
      Exit Function
    End If
  Loop
End Function
