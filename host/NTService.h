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
  virtual void OnShutdown();
  virtual BOOL OnUserControl(DWORD code);

  BOOL IsInstalled();
  // Registers the service; account and password may be empty (local system).
  BOOL Install(const char *account, const char *password, bool demandStart);
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
  static void WINAPI Handler(DWORD code);
  static void RunServiceMain(DWORD argc, LPSTR *argv);
  static void HandleControl(DWORD code);

  // A trace line of the wrapper in the diagnostic log, under the service name.
  void Trace(int line, const char *format, ...) __attribute__((format(printf, 3, 4)));
  // The trace line for a failed call: the system's text for the last error.
  void TraceLastError(int line, const char *what);

protected:
  char m_serviceName[64];
  SERVICE_STATUS_HANDLE m_statusHandle;
  SERVICE_STATUS m_status;
  volatile LONG m_running;
  HANDLE m_eventSource;

private:
  CNTService(const CNTService &) = delete;
  CNTService &operator=(const CNTService &) = delete;

  BOOL Initialize();

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
