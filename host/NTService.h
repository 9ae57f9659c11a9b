// A Windows service wrapper: installation, removal, event reporting, the
// service entry and the control handler. One instance per process.
#ifndef NTSERVICE_H
#define NTSERVICE_H

#include <windows.h>

class CNTService {
public:
  explicit CNTService(const char *serviceName);
  virtual ~CNTService();

  virtual void Run();
  virtual BOOL OnInit();
  virtual void OnStop();
  virtual void OnInterrogate();
  virtual void OnPause();
  virtual void OnContinue();
  virtual BOOL OnUserControl(DWORD code);

  // What Install did beside registering the service: a step that failed
  // leaves its error here (0 when it was done).
  struct InstallNotes {
    DWORD eventSourceError = 0; // the event log source's key
    DWORD recoveryError = 0;    // the recovery actions
  };

  BOOL IsInstalled();
  // Registers the service with its recovery actions and event source;
  // account and password may be empty (local system), arguments follow the
  // program in the service's command line. TRUE once the service exists,
  // whatever notes says of the other steps.
  BOOL Install(const char *account, const char *password, bool demandStart,
               const char *arguments = "", InstallNotes *notes = NULL);
  BOOL Uninstall();
  void LogEvent(WORD type, DWORD id, const char *text1 = NULL, const char *text2 = NULL,
                const char *text3 = NULL);
  BOOL SetStatus(DWORD state);
  BOOL StartDispatcher();

  const char *Name() const { return m_serviceName; }
  void SetName(const char *name);

  static CNTService *Instance() { return s_instance; }

  // The entry points the control manager calls, without an object.
  static void WINAPI ServiceMain(DWORD argc, LPSTR *argv);
  static DWORD WINAPI HandlerEx(DWORD code, DWORD eventType, LPVOID eventData, LPVOID context);
  static void RunServiceMain(DWORD argc, LPSTR *argv);
  static DWORD HandleControl(DWORD code);

  // While a stop is under way the check point rises every interval, with
  // the wait hint, so the control manager waits for a stop that goes on;
  // after the limit it rises no more, and a stop that hangs is seen as such.
  static constexpr DWORD kStopWaitHint = 5000;
  static constexpr DWORD kStopProgressInterval = 1000;
  static constexpr DWORD kStopProgressLimit = 180000;

  // Recovery actions: restart after a minute, again after a minute, then
  // after five; the failure count starts afresh after a day.
  static constexpr DWORD kRecoveryResetSeconds = 86400;
  static const DWORD kRecoveryDelays[3];

  // A trace line of the wrapper in the diagnostic log, under the service name.
  void Trace(int line, const char *format, ...) __attribute__((format(printf, 3, 4)));
  // The trace line for a failed call: the system's text for the last error.
  void TraceLastError(int line, const char *what);

protected:
  // Stop, shutdown and pre-shutdown all run this one stop sequence, once.
  void BeginStop();

  char m_serviceName[64];
  SERVICE_STATUS_HANDLE m_statusHandle;
  SERVICE_STATUS m_status;
  volatile LONG m_running;
  HANDLE m_eventSource;

private:
  CNTService(const CNTService &) = delete;
  CNTService &operator=(const CNTService &) = delete;

  BOOL Initialize();
  // Reports m_status as it is, under the status lock.
  BOOL ReportStatus();
  void EndStopProgress();
  static DWORD WINAPI StopProgress(LPVOID self);

  // The handler, the service thread and the progress thread all report.
  CRITICAL_SECTION m_statusLock;
  volatile LONG m_stopping;
  HANDLE m_stopDone;
  HANDLE m_progressThread;

  static CNTService *s_instance;
};

// Event message ids reported by the wrapper.
enum {
  EVMSG_INSTALLED = 100,
  EVMSG_REMOVED = 101,
  EVMSG_NOTREMOVED = 102,
  EVMSG_CTRLHANDLERNOTINSTALLED = 103,
  EVMSG_FAILEDINIT = 104,
  EVMSG_STARTED = 105,
  EVMSG_BADREQUEST = 106,
  EVMSG_DEBUG = 107,
  EVMSG_STOPPED = 108,
  // Reported for the engine and the runtime (RuntimeEvents.cpp).
  EVMSG_ENGINE_STOPPED_BY_ERROR = 109,
  EVMSG_RUN_FAILED = 110,
  EVMSG_HISTORY_UNWRITABLE = 111,
  EVMSG_TRANSCRIPT_UNWRITABLE = 112
};

#endif
