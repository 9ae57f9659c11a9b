// The console window: output box, status line, worker count, heartbeat,
// buttons and tray icon, and the engine loop that drives the script runtime
// from it. Everything runs on the thread that created the window.
#ifndef QUILLMOTHDLG_H
#define QUILLMOTHDLG_H

#include <windows.h>
#include <string>
#include <utility>
#include <vector>

#include "framework/Dialog.h"
#include "resource.h"

// Engine state bits; tests look at them in this order and act on the first set.
enum EngineState {
  STATE_IDLE = 1,
  STATE_RUNNING = 2,
  STATE_STOPPED = 4,
  STATE_SUSPENDED = 8
};

// The first of idle, running, stopped, suspended that is set: the state
// every test of the engine acts on.
DWORD FirstState(DWORD state);

enum {
  TRAY_ICON_ID = 204,
  TIMER_HEARTBEAT = 517,
  TIMER_TRAY = 518
};

// The current local time as an automation date; replaceable so that clock
// changes can be shown without touching the machine's clock.
typedef DATE (*LocalClockFn)();
DATE SystemLocalClock();

// Registered messages of the host and the runtime, by name.
struct HostMessages {
  UINT runOnce, autoRun, shutdown, notifyIcon, linkClick;
  UINT qmrThread, qmrPrint, qmrExit, qmrError, relayPing, qmrShutdown;
  HostMessages();
};
extern const HostMessages g_hostMsg;

// What the command line asks of the console.
struct ConsoleOptions {
  bool hide = false;        // -hide: stay hidden at launch
  std::string loadFile;     // -load: run this script after AutoRun.vbs
};

// The user's guide on the maker's site, the maker's site, and the installed
// guide's page relative to the program's folder.
extern const char kHelpAddress[];
extern const char kMakerAddress[];
extern const char kGuideIndex[];

// What the Help button opens: the installed guide beside the program (its
// folder, ending in a backslash) when it is there, else the web address.
std::string HelpTarget(const std::string &programDirectory);

class CQuillmothDlg : public CDialog {
public:
  explicit CQuillmothDlg(const ConsoleOptions &options = ConsoleOptions(),
                         LocalClockFn clock = SystemLocalClock);
  ~CQuillmothDlg() override;

  // Output box.
  void ConsoleLine(const std::string &text);
  void PrintCategorized(const std::string &text, DWORD category);
  void UpdateStatus();

  // Engine.
  // The script gets the argument text when one is given, else the start's
  // date and time (what main(startedAt) of AutoRun expects).
  bool RunScript(DWORD flags, const char *script, const std::string &arguments = std::string());
  void OnStop();

  DWORD EngineStateBits() const { return m_engineState; }
  LONG LiveWorkers() const { return m_liveWorkers; }
  HWND RelayWindow() const { return m_relay; }
  bool TrayPresent() const { return m_trayPresent != 0; }

protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *reply) override;

private:
  // Console window and tray.
  void OnCommand(UINT id);
  bool OnSysCommand(WPARAM command);
  void OnHelp();
  void OnAbout();
  void OnTrayNotify(LPARAM mouseMessage);
  bool TrayAdd();
  bool TrayRefresh();
  void TrayRemove();
  void ShowLinkLabel();
  void PaintMinimized();
  void SetState(DWORD set, DWORD clear);
  void ShowCount();

  // Engine.
  void OnRunOnce();
  void OnAutoRun();
  void OnLoad();
  void CreateRelayWindow();
  void OnThread(LPARAM started);
  void OnPrint(WPARAM atom, LPARAM category);
  void OnQMRExit(WPARAM flags, LPARAM context);
  void OnHeartbeat();
  void OnSuspendResume();
  void OnTimeChange();
  LRESULT OnShutdownRequest(WPARAM result);
  std::string ArgumentText() const;

  ConsoleOptions m_options;
  LocalClockFn m_clock;
  HICON m_icon;
  LONG m_trayPresent;
  DWORD m_categoryMask;
  LONG m_liveWorkers;
  DATE m_referenceTime;
  bool m_referenceValid;
  DWORD m_engineState;
  // Writes the engine's state for -status (Engine.status).
  void PublishStatus();
  DWORD m_shownState;

  // Pool calls wait while answering messages, and a handler run inside one
  // must not stop the engine, dispose of a worker or end the console under
  // the call's feet: such work waits until the outermost call returns.
  class PoolCall;
  void RunDeferredWork();
  int m_poolCalls = 0;
  bool m_stopping = false;
  bool m_stopDeferred = false;
  bool m_shutdownDeferred = false;
  WPARAM m_shutdownResult = 0;
  std::vector<std::pair<WPARAM, LPARAM>> m_exitsDeferred;

  void QueueBoxLine(const std::string &line);
  void FlushBox();
  std::string m_boxPending;
  bool m_boxFlushPosted = false;

  HWND m_relay = NULL;
  HWND m_link = NULL;
  HFONT m_linkFont = NULL;
  bool m_shuttingDown = false;
};

#endif
