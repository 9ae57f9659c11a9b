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
' The folder to clean. The root of a drive is refused.
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

' Adds the old files of a folder (and, when asked, of the folders inside it)
' to the list; they are deleted once the whole folder is read.
Sub Collect(dir, fso, limit, extList, recurse, found)
  Dim file, inner
  For Each file In dir.Files
    If file.DateLastModified < limit And Wanted(fso, file.Path, extList) Then found.Add file.Path, file.DateLastModified
  Next
  If recurse Then
    For Each inner In dir.SubFolders
      Collect inner, fso, limit, extList, recurse, found
    Next
  End If
End Sub

Sub Clean(dayCount)
  Dim fso, folderPath, recurse, limit, found, path, deleted, failed
  Set fso = CreateObject("Scripting.FileSystemObject")
  folderPath = Setting("FOLDER", FOLDER)
  If Not fso.FolderExists(folderPath) Then
    WriteLog "the folder " & folderPath & " does not exist; nothing deleted"
    Exit Sub
  End If
  If fso.GetParentFolderName(fso.GetAbsolutePathName(folderPath)) = "" Then
    WriteLog "refusing to clean the root of a drive (" & folderPath & ")"
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
