' FtpUpload.vbs - Quillmoth sample: every night, sends the files of a folder
' that it has not sent yet, or that changed since it sent them, to an FTP
' server, and keeps a log.
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
' A variable that is not set, or empty, leaves the constant in force. (This
' is also how the tests run the sample at once, with the schedule "* * * * *".)
'
' The password is no setting: it is read from the enciphered stored variable
' "FtpUpload.PASSWORD". Store it once, as the service's account or an
' administrator (with the console's Load... button, for example), with
'     core.SetEnvironmentVariable VAR_STORED + VAR_ENCRYPTED, "FtpUpload.PASSWORD", "the password"
' (see "Variables and enciphered variables" in the guide).
'
' What was sent is recorded in FtpUpload.sent beside the log: a file is sent
' when the record does not hold it, or holds another size or time of last
' change - whatever its time stamp says, so a file moved in with an old date
' goes too. A file that could not be sent is not recorded and goes at the
' next run; the files that were sent do not go again. Delete the record to
' send everything again.
'
' Each file goes to a temporary name on the server (its name with ".part"
' added) and is renamed once it is complete, so whoever reads the server's
' folder never sees half a file under the final name.
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
' An empty user logs in anonymously (with the stored password, if any, as
' the anonymous password).
Const FTP_USER = ""
' The server's folder for the files; "" = the folder the login starts in.
Const REMOTE_FOLDER = ""
' The log file; "" = FtpUpload.log beside Quillmoth.exe. The record of what
' was sent is kept beside it, with the extension .sent.
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

' How the record describes a file as it is now: its size and last change.
Function Fingerprint(file)
  Fingerprint = file.Size & vbTab & FormatIsoDateTime(file.DateLastModified)
End Function

' What the record file says was sent: file name -> fingerprint.
Function ReadRecord(fso, path)
  Dim record, stream, fields
  Set record = CreateObject("Scripting.Dictionary")
  record.CompareMode = vbTextCompare
  If fso.FileExists(path) Then
    Set stream = fso.OpenTextFile(path, 1)
    Do While Not stream.AtEndOfStream
      fields = Split(stream.ReadLine, vbTab)
      If UBound(fields) = 2 Then record.Item(fields(0)) = fields(1) & vbTab & fields(2)
    Loop
    stream.Close
  End If
  Set ReadRecord = record
End Function

' Writes the record anew, to a temporary file that then takes its place, so
' a stop in the middle never leaves half a record.
Sub WriteRecord(fso, path, record)
  Dim stream, name
  Set stream = fso.CreateTextFile(path & ".new", True)
  For Each name In record.Keys
    stream.WriteLine name & vbTab & record.Item(name)
  Next
  stream.Close
  If fso.FileExists(path) Then fso.DeleteFile path, True
  fso.MoveFile path & ".new", path
End Sub

' Sends one file under a temporary name and renames it when it is complete;
' False, with the reason in the log, when a step failed.
Function SendFile(session, fso, path, name)
  Dim putLine
  SendFile = False
  ' FtpPut sends a local file under a name on the server (True: binary).
  If Not core.FtpPut(session, path, name & ".part", True) Then
    WriteLog "could not send " & name & ": " & FtpReason()
    Exit Function
  End If
  putLine = core.GetEnvironmentVariable(VAR_PROCESS, "FTP.LASTLINE")
  ' A server that does not rename over an existing file gets it removed first.
  If Not core.FtpRename(session, name & ".part", name) Then
    core.FtpDel session, name
    If Not core.FtpRename(session, name & ".part", name) Then
      WriteLog "sent " & name & ".part but could not rename it to " & name & ": " & FtpReason()
      core.FtpDel session, name & ".part"
      Exit Function
    End If
  End If
  WriteLog "sent " & name & " (" & fso.GetFile(path).Size & " bytes): " & putLine
  SendFile = True
End Function

Sub Upload()
  Dim fso, folderPath, extList, port, user, password, recordFile, record, files, file, before, session, sent, failed
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
  user = Setting("FTP_USER", FTP_USER)
  password = core.GetEnvironmentVariable(VAR_STORED + VAR_ENCRYPTED, SETTINGS & ".PASSWORD")
  If password = "" And user <> "" Then
    WriteLog "no password is stored for " & user & " (the enciphered stored variable " & SETTINGS & _
             ".PASSWORD); nothing sent"
    Exit Sub
  End If

  recordFile = fso.BuildPath(fso.GetParentFolderName(logFile), fso.GetBaseName(logFile) & ".sent")
  Set record = ReadRecord(fso, recordFile)
  Set files = CreateObject("Scripting.Dictionary")
  For Each file In fso.GetFolder(folderPath).Files
    If Wanted(fso, file.Path, extList) Then
      If record.Item(file.Name) <> Fingerprint(file) Then files.Add file.Path, file.Name
    End If
  Next
  If files.Count = 0 Then
    WriteLog "every file of " & folderPath & " was sent already"
    Exit Sub
  End If

  ' FtpConnect logs in (passive mode) and answers a session handle, 0 when
  ' it failed. Its port parameter is 16-bit: ports above 32767 are passed
  ' as the port minus 65536.
  If port > 32767 Then port = port - 65536
  session = core.FtpConnect(Setting("FTP_HOST", FTP_HOST), port, user, password)
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
    ' The file as it was before it was sent: one that changes meanwhile
    ' goes again next time.
    before = Fingerprint(fso.GetFile(file))
    If SendFile(session, fso, file, files.Item(file)) Then
      record.Item(files.Item(file)) = before
      WriteRecord fso, recordFile, record
      sent = sent + 1
    Else
      failed = failed + 1
    End If
  Next
  core.FtpClose session
  WriteLog sent & " file(s) sent, " & failed & " failed"
End Sub
