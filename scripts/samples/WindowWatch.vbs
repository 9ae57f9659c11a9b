' WindowWatch.vbs - Quillmoth sample: looks every few seconds for a window
' whose title matches a regular expression (a nagging dialog box, an error
' message that blocks a night job) and closes it.
'
' To use it: copy this file into the Scripts folder (the Sample Scripts
' folder is replaced by every upgrade), change the settings below, and start
' it from AutoRun.vbs with
'     core.Run 1, "WindowWatch.vbs", ""
' (1 = do not wait: the script runs on a worker of its own until Quillmoth
' stops). The console's Load... button starts it as well.
'
' Settings: each constant of the block below can also be given, without
' editing this file, by a process variable named "WindowWatch.<constant>",
' for example "WindowWatch.TITLE_PATTERN". Set it in AutoRun.vbs before the
' Run line
'     core.SetEnvironmentVariable VAR_PROCESS, "WindowWatch.TITLE_PATTERN", "^Licence reminder$"
' or as a system environment variable before Quillmoth starts. A variable
' that is not set, or empty, leaves the constant in force.
'
' The window is asked to close as its close button would ask it (the
' message WM_CLOSE, with core.CloseWindow), never with keys: keys go to
' whatever window is in front, and an {ENTER} meant for a reminder may press
' "Restart now" in another. The program that owns the window decides; a
' dialog box without a close button may stay. CLOSE_COMMAND runs a program of
' your choice instead.
'
' It needs a desktop session: started by Quillmoth as an application, it
' sees the windows of the user who started it. A service runs in a session
' of its own since Windows Vista and sees none of the user's windows; run
' this sample in an application started at logon.
Option Explicit

' --- settings ---------------------------------------------------------------
Const SETTINGS = "WindowWatch"     ' the prefix of the overriding variables
' A regular expression on the window's title: found anywhere in the title
' unless anchored with ^ (start) and $ (end); case counts. Also . (any
' character), * + ? (repeats), [abc] (one of), ( | ) (either), \ (take the
' next character as it is).
Const TITLE_PATTERN = "^Update available$"
' A regular expression on the window's class name; "#32770" is the class of
' dialog and message boxes. The search looks at child windows too, so keep a
' class: a text box that shows the title (this program's console among
' them) would match as well. "" = any class.
Const CLASS_PATTERN = "^#32770$"
' Seconds between two looks.
Const INTERVAL = 5
' Instead of asking the window to close: a command line that closes it;
' {window} stands for the window's number. "" = ask the window.
Const CLOSE_COMMAND = ""
' The log file; "" = WindowWatch.log beside Quillmoth.exe.
Const LOG_FILE = ""
' ---------------------------------------------------------------------------

Const CP_HIDE = 2                  ' CreateProcess: no window for the command

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
  Dim titlePattern, classPattern, seconds, timer, suspended, window, lastWindow, reported
  Set core = NewCore()
  If core Is Nothing Then
    main = "WindowWatch.vbs needs the Core object (QuillmothLib.dll is not registered)"
    Exit Function
  End If
  logFile = Setting("LOG_FILE", LOG_FILE)
  If logFile = "" Then logFile = ProcessVariable("QM.ROOT_DIR") & SETTINGS & ".log"
  If ProcessVariable("QM.IS_SERVICE") = "1" Then
    WriteLog "runs in the service, which sees no user's windows: start it in Quillmoth as an application " & _
             "in the user's session instead"
  End If
  titlePattern = Setting("TITLE_PATTERN", TITLE_PATTERN)
  classPattern = Setting("CLASS_PATTERN", CLASS_PATTERN)
  seconds = CStr(Setting("INTERVAL", INTERVAL))
  ' An empty title pattern would close any window of the class.
  If titlePattern = "" Then
    WriteLog "TITLE_PATTERN is empty; no window will be closed"
    Exit Function
  End If
  If Not IsNumeric(seconds) Then
    WriteLog "INTERVAL """ & seconds & """ is not a number of seconds; no window will be closed"
    Exit Function
  End If
  If CDbl(seconds) < 1 Or CDbl(seconds) > 86400 Then
    WriteLog "INTERVAL must lie from 1 to 86400 seconds; no window will be closed"
    Exit Function
  End If
  ' FindWindow answers 0 both for "no such window" and for a pattern that
  ' does not compile; QM.LAST_ERROR tells them apart.
  If core.FindWindow(titlePattern, classPattern) = 0 Then
    If core.GetEnvironmentVariable(VAR_PROCESS, "QM.LAST_ERROR") <> "No matching window found." Then
      WriteLog "the patterns do not compile (" & core.GetEnvironmentVariable(VAR_PROCESS, "QM.LAST_ERROR") & "); no window will be closed"
      Exit Function
    End If
  End If
  WriteLog "watching for windows titled """ & titlePattern & """ of the class """ & classPattern & """"

  ' A timer message every INTERVAL seconds; NextTick waits for the next
  ' message of this script's thread: a tick, or a request of the console.
  timer = core.SetTimer(CLng(CDbl(seconds) * 1000))
  lastWindow = 0
  ' NextTick (StdLib.vbs): True at each tick, False on Stop; the console's
  ' Suspend and Resume buttons set and clear `suspended`.
  suspended = False
  Do While NextTick(core, suspended)
    If Not suspended Then
      ' FindWindow walks every window (children included) and answers
      ' the last one whose title and class both match, or 0.
      window = core.FindWindow(titlePattern, classPattern)
      If window <> 0 Then
        ' A window that does not go away is tried again at every look,
        ' but the log tells of it only twice.
        If window <> lastWindow Then
          reported = False
          CloseWindow window, True
        Else
          If Not reported Then WriteLog "window " & window & " is still open"
          reported = True
          CloseWindow window, False
        End If
        lastWindow = window
      End If
    End If
  Loop
  ' KillTimer takes the timer's id as a 16-bit number: TimerId16 makes it so.
  core.KillTimer TimerId16(timer)
  WriteLog "stopped"
End Function

Sub CloseWindow(window, report)
  Dim commandLine, code
  commandLine = Setting("CLOSE_COMMAND", CLOSE_COMMAND)
  If commandLine <> "" Then
    ' CreateProcess waits for the command and answers its exit code (-1:
    ' it could not be started, the console shows why).
    code = core.CreateProcess(CP_HIDE, Replace(commandLine, "{window}", CStr(window)))
    If report Then WriteLog "window " & window & " matched; the close command ended with code " & code
    Exit Sub
  End If
  ' CloseWindow posts WM_CLOSE to this very window, wherever it is.
  If core.CloseWindow(window) Then
    If report Then WriteLog "window " & window & " matched; asked it to close"
  ElseIf report Then
    WriteLog "window " & window & " matched but could not be asked to close: " & _
      core.GetEnvironmentVariable(VAR_PROCESS, "QM.LAST_ERROR")
  End If
End Sub
