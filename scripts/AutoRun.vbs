' AutoRun.vbs - run by Quillmoth at every start, with the local date and time
' of the start as its argument. Edit it to schedule your own jobs.
'
' The loop: a timer ticks every second; on each tick CheckTime tests the
' specifications (minute hour day month weekday [year [day-of-year [second]]])
' and answers True once in each time unit that matches. The loop ends when
' Quillmoth asks its scripts to stop.
Option Explicit

Function main(startedAt)
  Dim core, line, timer, msg, running
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

  ' A pooled worker thread may have run this script before: start with
  ' fresh latches.
  core.DestroyCronContext 1, 3
  timer = core.SetTimer(1000)
  running = True
  Do While running
    msg = core.GetMessage(0, 0)
    Select Case core.GetMessageId(msg)
      Case WM_TIMER
        If core.CheckTime(1, False, "0 * * * *") Then core.Print "Hourly check at " & FormatIsoDateTime(Now)
        If core.CheckTime(2, False, "30 8 * * 2-6") Then core.Print "Good morning: 8:30 on a weekday"
        If core.CheckTime(3, False, "0 0 1 1") Then core.Print "Happy new year"
      Case QMR_CTL_STOP, QMR_CTL_QUIT
        running = False
      Case Else
        core.DispatchMessage msg
    End Select
    core.FreeHandle msg
  Loop
  core.KillTimer TimerId16(timer)
  core.Print "AutoRun.vbs stopped"
  main = line
End Function
