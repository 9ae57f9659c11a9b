' FtpUpload.vbs - Quillmoth sample: every night, sends the files of a folder
' that changed since the last successful upload (the first time: since
' yesterday 00:00) to an FTP server, and keeps a log.
'
' To use it: copy this file into the Scripts folder (the Sample Scripts
' folder is replaced by every upgrade), change the settings below, and start
' it from AutoRun.vbs with
'     core.Run 1, "FtpUpload.vbs", ""
' (1 = do not wait: the script runs on a worker of its own until Quillmoth
' stops). The console's Load... button starts it as well.
'
' Settings: each constant of the block below can also be given, without
' editing this file, by a process variable named "FtpUpload.<constant>",
' for example "FtpUpload.FOLDER". Set it in AutoRun.vbs before the Run line
'     core.SetEnvironmentVariable VAR_PROCESS, "FtpUpload.FOLDER", "D:\Exports\"
' or as a system environment variable before Quillmoth starts. A variable
' that is not set, or empty, leaves the constant in force. (This is also how
' the tests run the sample at once, with the schedule "* * * * *".)
'
' The time of the last successful upload is kept in the stored variable
' "FtpUpload.LAST_RUN" (in the registry, so it survives restarts); delete it
' to send everything of the last day again.
Option Explicit

' --- settings ---------------------------------------------------------------
Const SETTINGS = "FtpUpload"       ' the prefix of the overriding variables
' When: minute hour day month weekday (1 = Sunday). Every night at 01:00.
Const SCHEDULE = "0 1 * * *"
' The folder whose files are sent (not the folders inside it).
Const FOLDER = "C:\Exports\"
' Only files with these extensions, such as "csv,txt"; "" = every file.
Const EXTENSIONS = ""
Const FTP_HOST = "ftp.example.com"
Const FTP_PORT = 21
' An empty user and password log in anonymously. A password can also be kept
' enciphered in a stored variable (README: "Enciphered variables") and read
' with core.GetEnvironmentVariable(VAR_STORED + VAR_ENCRYPTED, name).
Const FTP_USER = ""
Const FTP_PASSWORD = ""
' The server's folder for the files; "" = the folder the login starts in.
Const REMOTE_FOLDER = ""
' The log file; "" = FtpUpload.log beside Quillmoth.exe.
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
  Dim cronSpec, timer, suspended
  Set core = NewCore()
  If core Is Nothing Then
    main = "FtpUpload.vbs needs the Core object (QuillmothLib.dll is not registered)"
    Exit Function
  End If
  logFile = Setting("LOG_FILE", LOG_FILE)
  If logFile = "" Then logFile = ProcessVariable("QM.ROOT_DIR") & SETTINGS & ".log"
  cronSpec = Setting("SCHEDULE", SCHEDULE)
  WriteLog "waiting for """ & cronSpec & """ to send the new files of " & Setting("FOLDER", FOLDER)

  ' CheckTime keeps its "already fired" latch per worker thread and id; a
  ' pooled worker may have run another script with id 1.
  core.DestroyCronContext 1, 1
  ' A timer message every second; NextTick waits for the next message of
  ' this script's thread: a tick, or a request of the console. CheckTime
  ' answers True once in the first tick of each matching minute.
  timer = core.SetTimer(1000)
  ' NextTick (StdLib.vbs): True at each tick, False on Stop; the console's
  ' Suspend and Resume buttons set and clear `suspended`.
  suspended = False
  Do While NextTick(core, suspended)
    If core.CheckTime(1, False, cronSpec) And Not suspended Then Upload
  Loop
  ' KillTimer takes the timer's id as a 16-bit number: TimerId16 makes it so.
  core.KillTimer TimerId16(timer)
  WriteLog "stopped"
End Function

' "2026-12-09 01:00:00" (as FormatIsoDateTime writes it) as a date; Empty
' for any other text.
Function ParseIsoDateTime(text)
  Dim parts, i
  ParseIsoDateTime = Empty
  If Len(text) <> 19 Then Exit Function
  parts = Array(Mid(text, 1, 4), Mid(text, 6, 2), Mid(text, 9, 2), Mid(text, 12, 2), Mid(text, 15, 2), Mid(text, 18, 2))
  For i = 0 To 5
    If Not IsNumeric(parts(i)) Then Exit Function
  Next
  ParseIsoDateTime = DateSerial(CInt(parts(0)), CInt(parts(1)), CInt(parts(2))) + _
                     TimeSerial(CInt(parts(3)), CInt(parts(4)), CInt(parts(5)))
End Function

' Whether the file's extension is one of the list ("" takes every file).
Function Wanted(fso, path, extList)
  Dim ext
  Wanted = True
  If Trim(extList) = "" Then Exit Function
  Wanted = False
  For Each ext In Split(extList, ",")
    If StrComp(Trim(ext), fso.GetExtensionName(path), vbTextCompare) = 0 Then Wanted = True
  Next
End Function

' Why the last FTP call failed: the server's reply line, else the system's
' text, else the error number.
Function FtpReason()
  FtpReason = DefaultIfEmpty(core.GetEnvironmentVariable(VAR_PROCESS, "FTP.LASTLINE"), _
              DefaultIfEmpty(Trim(core.GetEnvironmentVariable(VAR_PROCESS, "FTP.LASTMSG")), _
              "error " & core.GetEnvironmentVariable(VAR_PROCESS, "FTP.REPLY_CODE")))
End Function

Sub Upload()
  Dim fso, folderPath, extList, port, since, startedAt, files, file, name, session, sent, failed
  Set fso = CreateObject("Scripting.FileSystemObject")
  folderPath = Setting("FOLDER", FOLDER)
  extList = Setting("EXTENSIONS", EXTENSIONS)
  port = Setting("FTP_PORT", FTP_PORT)
  If Not IsNumeric(port) Then
    WriteLog "FTP_PORT """ & port & """ is not a number; nothing sent"
    Exit Sub
  End If
  port = CLng(port)
  If port < 0 Or port > 65535 Then
    WriteLog "FTP_PORT " & port & " is not a port (0 to 65535); nothing sent"
    Exit Sub
  End If
  If Not fso.FolderExists(folderPath) Then
    WriteLog "the folder " & folderPath & " does not exist; nothing sent"
    Exit Sub
  End If

  ' VAR_STORED + VAR_REGISTRY reads the registry itself, so a value stored by
  ' another Quillmoth process counts too.
  since = ParseIsoDateTime(core.GetEnvironmentVariable(VAR_STORED + VAR_REGISTRY, SETTINGS & ".LAST_RUN"))
  If IsEmpty(since) Then since = Date - 1
  ' Files that change while they are being sent go out again next time.
  startedAt = Now

  Set files = CreateObject("Scripting.Dictionary")
  For Each file In fso.GetFolder(folderPath).Files
    If file.DateLastModified >= since And Wanted(fso, file.Path, extList) Then files.Add file.Path, file.Name
  Next
  If files.Count = 0 Then
    WriteLog "no file of " & folderPath & " changed since " & FormatIsoDateTime(since)
    core.SetEnvironmentVariable VAR_STORED, SETTINGS & ".LAST_RUN", FormatIsoDateTime(startedAt)
    Exit Sub
  End If

  ' FtpConnect logs in (passive mode) and answers a session handle, 0 when
  ' it failed. Its port parameter is 16-bit: ports above 32767 are passed
  ' as the port minus 65536.
  If port > 32767 Then port = port - 65536
  session = core.FtpConnect(Setting("FTP_HOST", FTP_HOST), port, Setting("FTP_USER", FTP_USER), _
                            Setting("FTP_PASSWORD", FTP_PASSWORD))
  If session = 0 Then
    WriteLog "cannot reach " & Setting("FTP_HOST", FTP_HOST) & ": " & FtpReason() & "; " & files.Count & " file(s) wait for the next run"
    Exit Sub
  End If
  If Setting("REMOTE_FOLDER", REMOTE_FOLDER) <> "" Then
    If Not core.FtpCd(session, Setting("REMOTE_FOLDER", REMOTE_FOLDER)) Then
      WriteLog "cannot open the server's folder " & Setting("REMOTE_FOLDER", REMOTE_FOLDER) & ": " & FtpReason()
      core.FtpClose session
      Exit Sub
    End If
  End If
  sent = 0
  failed = 0
  For Each file In files.Keys
    name = files.Item(file)
    ' FtpPut sends a local file under a name on the server (True: binary).
    If core.FtpPut(session, file, name, True) Then
      WriteLog "sent " & name & " (" & fso.GetFile(file).Size & " bytes): " & core.GetEnvironmentVariable(VAR_PROCESS, "FTP.LASTLINE")
      sent = sent + 1
    Else
      WriteLog "could not send " & name & ": " & FtpReason()
      failed = failed + 1
    End If
  Next
  core.FtpClose session
  WriteLog sent & " file(s) sent, " & failed & " failed"
  ' After a failure the same files are tried again at the next run.
  If failed = 0 Then core.SetEnvironmentVariable VAR_STORED, SETTINGS & ".LAST_RUN", FormatIsoDateTime(startedAt)
End Sub
