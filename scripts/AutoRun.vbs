' AutoRun.vbs - run by Quillmoth at every start, with the local date and time
' of the start as its argument. Edit it to schedule your own jobs.
Option Explicit

Function main(startedAt)
  Dim core, line
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
  main = line
End Function
