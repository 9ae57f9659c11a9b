' CleanOldFiles.vbs - Quillmoth sample: every night, deletes the files of a
' folder that were last changed more than a number of days ago, and writes
' each deleted file to a log.
'
' To use it: copy this file into the Scripts folder (the Sample Scripts
' folder is replaced by every upgrade), change the settings below, and start
' it from AutoRun.vbs with
'     core.Run 1, "CleanOldFiles.vbs", ""
' (1 = do not wait: the script runs on a worker of its own until Quillmoth
' stops). The console's Load... button starts it as well.
'
' Settings: each constant of the block below can also be given, without
' editing this file, by a process variable named "CleanOldFiles.<constant>",
' for example "CleanOldFiles.DAYS". Set it in AutoRun.vbs before the Run line
'     core.SetEnvironmentVariable VAR_PROCESS, "CleanOldFiles.DAYS", "14"
' or as a system environment variable before Quillmoth starts. A variable
' that is not set, or empty, leaves the constant in force. (This is also how
' the tests run the sample at once, with the schedule "* * * * *".)
Option Explicit

' --- settings ---------------------------------------------------------------
Const SETTINGS = "CleanOldFiles"   ' the prefix of the overriding variables
' When: minute hour day month weekday (1 = Sunday). Every night at 03:00.
Const SCHEDULE = "0 3 * * *"
' The folder to clean: a full path with at least one folder below the root
' of a drive or share ("C:\Temp\Reports", "\\server\share\Reports"). A
' drive root, a drive without a path ("C:" means the current folder of that
' drive), a relative path, and a junction or link are refused.
Const FOLDER = "C:\Temp\Reports\"
' Files last changed more than this many whole days ago are deleted.
Const DAYS = 30
' Only files with these extensions, such as "log,tmp"; "" = every file.
Const EXTENSIONS = "log,tmp"
' True: the folders inside FOLDER are cleaned too (the folders stay).
Const SUBFOLDERS = False
' The log file; "" = CleanOldFiles.log beside Quillmoth.exe.
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
  Dim cronSpec, dayCount, timer, suspended
  Set core = NewCore()
  If core Is Nothing Then
    main = "CleanOldFiles.vbs needs the Core object (QuillmothLib.dll is not registered)"
    Exit Function
  End If
  logFile = Setting("LOG_FILE", LOG_FILE)
  If logFile = "" Then logFile = ProcessVariable("QM.ROOT_DIR") & SETTINGS & ".log"
  cronSpec = Setting("SCHEDULE", SCHEDULE)
  ' A wrong number of days must not delete anything.
  dayCount = CStr(Setting("DAYS", DAYS))
  If Not IsCount(dayCount) Then
    WriteLog "DAYS """ & dayCount & """ is not a whole number of days; nothing will be deleted"
    Exit Function
  End If
  If CLng(dayCount) < 1 Then
    WriteLog "DAYS must be 1 or more; nothing will be deleted"
    Exit Function
  End If
  WriteLog "waiting for """ & cronSpec & """ to delete files older than " & dayCount & " days from " & Setting("FOLDER", FOLDER)

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
    If core.CheckTime(1, False, cronSpec) And Not suspended Then Clean CLng(dayCount)
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

' The attribute the file system object gives junctions and symbolic links.
Const REPARSE_POINT = 1024

' Whether a file or folder is a junction or link. Where the file system
' object cannot give attributes at all (Wine's), there is none to tell.
Function IsLink(item)
  On Error Resume Next
  IsLink = (item.Attributes And REPARSE_POINT) <> 0
  If Err.Number <> 0 Then IsLink = False
  On Error GoTo 0
End Function

' Why the path is no folder this script may clean, or "" when it may: a full
' path below the root of a drive (C:\name) or of a share (\\server\share\name),
' without "." or ".." steps.
Function FolderRefusal(path)
  Dim pattern, part
  Set pattern = New RegExp
  pattern.Pattern = "^([A-Za-z]:\\|\\\\[^\\]+\\[^\\]+\\)[^\\]"
  FolderRefusal = ""
  If Not pattern.Test(path) Then
    FolderRefusal = "give a full path with a folder below the root of a drive or share, such as C:\Temp\Reports"
    Exit Function
  End If
  For Each part In Split(path, "\")
    If part = "." Or part = ".." Then FolderRefusal = "the path may not contain . or .. steps"
  Next
End Function

' Adds the old files of a folder (and, when asked, of the folders inside it)
' to the list; they are deleted once the whole folder is read. Junctions and
' links are never followed, and a folder that cannot be read is skipped with
' a line in the log: the rest of the clean-up goes on.
Sub Collect(dir, fso, limit, extList, recurse, found)
  Dim file, inner, inners, problem
  On Error Resume Next
  For Each file In dir.Files
    If Err.Number <> 0 Then Exit For
    If file.DateLastModified < limit And Not IsLink(file) Then
      If Wanted(fso, file.Path, extList) Then found.Add file.Path, file.DateLastModified
    End If
  Next
  problem = Err.Number
  If problem <> 0 Then WriteLog "skipped the folder " & dir.Path & ", which cannot be read: " & Err.Description
  On Error GoTo 0
  If problem <> 0 Or Not recurse Then Exit Sub
  ' The folders inside are listed first, so that reading one that fails is
  ' told apart from a failure inside the clean-up of another.
  Set inners = CreateObject("Scripting.Dictionary")
  On Error Resume Next
  For Each inner In dir.SubFolders
    If Err.Number <> 0 Then Exit For
    inners.Add inner.Path, IsLink(inner)
  Next
  If Err.Number <> 0 Then WriteLog "skipped the folders inside " & dir.Path & ", which cannot be read: " & Err.Description
  On Error GoTo 0
  For Each inner In inners.Keys
    If inners.Item(inner) Then
      WriteLog "skipped " & inner & ": a junction or link is not followed"
    Else
      Collect fso.GetFolder(inner), fso, limit, extList, recurse, found
    End If
  Next
End Sub

Sub Clean(dayCount)
  Dim fso, folderPath, recurse, limit, found, path, deleted, failed
  Set fso = CreateObject("Scripting.FileSystemObject")
  folderPath = Setting("FOLDER", FOLDER)
  If FolderRefusal(folderPath) <> "" Then
    WriteLog "refusing to clean """ & folderPath & """: " & FolderRefusal(folderPath) & "; nothing deleted"
    Exit Sub
  End If
  If Not fso.FolderExists(folderPath) Then
    WriteLog "the folder " & folderPath & " does not exist; nothing deleted"
    Exit Sub
  End If
  If IsLink(fso.GetFolder(folderPath)) Then
    WriteLog "refusing to clean " & folderPath & ": it is a junction or link; nothing deleted"
    Exit Sub
  End If
  recurse = InStr(1, "|true|yes|1|-1|", "|" & LCase(Trim(Setting("SUBFOLDERS", SUBFOLDERS))) & "|") > 0
  ' Date arithmetic counts in days: Now - 30 is this time 30 days ago.
  limit = Now - dayCount
  Set found = CreateObject("Scripting.Dictionary")
  Collect fso.GetFolder(folderPath), fso, limit, Setting("EXTENSIONS", EXTENSIONS), recurse, found
  deleted = 0
  failed = 0
  For Each path In found.Keys
    ' A file in use or read-only stays; the log says why.
    On Error Resume Next
    fso.DeleteFile path, False
    If Err.Number = 0 Then
      WriteLog "deleted " & path & " (last changed " & FormatIsoDateTime(found.Item(path)) & ")"
      deleted = deleted + 1
    Else
      WriteLog "could not delete " & path & ": " & Err.Description
      failed = failed + 1
    End If
    On Error GoTo 0
  Next
  WriteLog deleted & " file(s) deleted, " & failed & " could not be deleted"
End Sub
