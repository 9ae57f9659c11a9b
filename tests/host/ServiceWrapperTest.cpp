// The service wrapper's logic through its table of control manager and event
// log calls. Wine's event log keeps nothing (RegisterEventSource answers a
// made-up handle and ReportEvent only writes a trace line), and a real
// control manager never refuses a control handler to a dispatched service,
// nor can anyone but the system send shutdown and pre-shutdown (Windows and
// Wine both refuse them to ControlService with ERROR_INVALID_PARAMETER):
// the events, their arguments and the reported states are read here from
// stand-ins. The real control manager is driven in ServiceControlTest.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "MyService.h"
#include "NTService.h"
#include "QuillmothApp.h"
#include "QuillmothRun.h"
#include "RuntimeEvents.h"
#include "ServicePlatform.h"
#include "WineTestSupport.h"

namespace {

struct ReportedEvent {
  HANDLE source;
  WORD type;
  WORD category;
  DWORD id;
  PSID user;
  std::vector<std::string> texts;
  DWORD dataSize;
  LPVOID data;
};

// What the wrapper asked of the platform, in order.
struct PlatformRecord {
  std::vector<std::string> sourcesRegistered;
  std::vector<HANDLE> sourcesDeregistered;
  std::vector<ReportedEvent> events;
  std::vector<std::string> handlersRegistered;
  std::vector<SERVICE_STATUS> statuses; // under g_statusLock: the stop's progress thread reports too
  bool refuseSource = false;
  bool refuseHandler = false;
  LPHANDLER_FUNCTION_EX handler = NULL;
  LONG keyError = ERROR_SUCCESS; // answered for the event source key
  // The recovery actions asked for (reset period, then type and delay of each).
  std::vector<DWORD> recovery;

  std::vector<SERVICE_STATUS> Statuses();
};

std::mutex g_statusLock;

std::vector<SERVICE_STATUS> PlatformRecord::Statuses() {
  std::lock_guard<std::mutex> held(g_statusLock);
  return statuses;
}

PlatformRecord *g_record = NULL;
HANDLE const kSource = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5E));
SERVICE_STATUS_HANDLE const kStatusHandle =
    reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<INT_PTR>(0x57A));

HANDLE WINAPI FakeRegisterEventSource(LPCSTR server, LPCSTR source) {
  g_record->sourcesRegistered.push_back(std::string(server ? "server:" : "") + (source ? source : "(null)"));
  if (g_record->refuseSource) {
    SetLastError(ERROR_ACCESS_DENIED);
    return NULL;
  }
  return kSource;
}

BOOL WINAPI FakeReportEvent(HANDLE source, WORD type, WORD category, DWORD id, PSID user,
                            WORD textCount, DWORD dataSize, LPCSTR *texts, LPVOID data) {
  ReportedEvent event = {source, type, category, id, user, {}, dataSize, data};
  for (WORD i = 0; i < textCount; ++i)
    event.texts.push_back(texts[i]);
  g_record->events.push_back(event);
  SetLastError(ERROR_INVALID_DATA); // a report must not change what callers show
  return TRUE;
}

BOOL WINAPI FakeDeregisterEventSource(HANDLE source) {
  g_record->sourcesDeregistered.push_back(source);
  return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI FakeRegisterHandler(LPCSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID) {
  g_record->handlersRegistered.push_back(name);
  g_record->handler = handler;
  if (g_record->refuseHandler) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return NULL;
  }
  return kStatusHandle;
}

BOOL WINAPI FakeSetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  EXPECT_EQ(kStatusHandle, handle);
  std::lock_guard<std::mutex> held(g_statusLock);
  g_record->statuses.push_back(*status);
  return TRUE;
}

BOOL WINAPI FakeChangeServiceConfig2(SC_HANDLE service, DWORD level, LPVOID info) {
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
    const SERVICE_FAILURE_ACTIONSA *actions = static_cast<const SERVICE_FAILURE_ACTIONSA *>(info);
    g_record->recovery.push_back(actions->dwResetPeriod);
    for (DWORD i = 0; i < actions->cActions; ++i) {
      g_record->recovery.push_back(actions->lpsaActions[i].Type);
      g_record->recovery.push_back(actions->lpsaActions[i].Delay);
    }
  }
  return ChangeServiceConfig2A(service, level, info);
}

LONG WINAPI FakeRegCreateKeyEx(HKEY root, LPCSTR name, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                               PHKEY key, LPDWORD disposition) {
  if (g_record->keyError != ERROR_SUCCESS)
    return g_record->keyError;
  return RegCreateKeyExA(root, name, reserved, keyClass, options, access, security, key, disposition);
}

class ServiceWrapper : public ::testing::Test {
protected:
  void SetUp() override {
    g_record = &record;
    g_servicePlatform = {FakeRegisterEventSource, FakeReportEvent,    FakeDeregisterEventSource,
                         FakeRegisterHandler,     FakeSetServiceStatus, FakeRegCreateKeyEx,
                         FakeChangeServiceConfig2};
  }
  void TearDown() override {
    g_servicePlatform = kSystemServicePlatform;
    g_record = NULL;
  }

  std::vector<DWORD> EventIds() const {
    std::vector<DWORD> ids;
    for (const ReportedEvent &event : record.events)
      ids.push_back(event.id);
    return ids;
  }
  std::vector<DWORD> States() {
    std::vector<DWORD> states;
    for (const SERVICE_STATUS &status : record.Statuses())
      states.push_back(status.dwCurrentState);
    return states;
  }

  PlatformRecord record;
};

// A service whose start-up result is chosen by the test and whose Run plays
// the control manager: it sends the given controls to the handler it
// registered while running, then waits for whatever the test waits for.
class ScriptedService : public CNTService {
public:
  explicit ScriptedService(const char *name) : CNTService(name) {}
  BOOL OnInit() override {
    SetLastError(initError);
    return initResult;
  }
  void Run() override {
    ranWhileRunning = m_running == 1;
    for (DWORD code : controls)
      answers.push_back(g_record->handler(code, 0, NULL, NULL));
    runningAfterControls = m_running;
    if (whileStopping)
      whileStopping();
  }
  void OnStop() override { ++stops; }
  void OnInterrogate() override { ++interrogations; }
  void OnPause() override { ++pauses; }
  BOOL OnUserControl(DWORD code) override {
    userCodes.push_back(code);
    return code == 200;
  }

  BOOL initResult = TRUE;
  DWORD initError = 0;
  std::vector<DWORD> controls;
  std::vector<DWORD> answers;
  std::function<void()> whileStopping;
  bool ranWhileRunning = false;
  LONG runningAfterControls = -1;
  int stops = 0, interrogations = 0, pauses = 0;
  std::vector<DWORD> userCodes;
};

TEST_F(ServiceWrapper, StartReportsEachStateAndItsEvent) {
  char name[] = "QmWrapper";
  LPSTR argv[] = {name};
  {
    // The control handler refused: event 103 and no state reported at all.
    ScriptedService service("QmWrapper");
    record.refuseHandler = true;
    CNTService::ServiceMain(1, argv);
    EXPECT_EQ(std::vector<DWORD>{103}, EventIds());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, record.events.at(0).type);
    EXPECT_TRUE(record.statuses.empty());
    EXPECT_FALSE(service.ranWhileRunning);
  }
  record = PlatformRecord();
  {
    // Initialisation failed: event 104, stopped with the error as exit code.
    ScriptedService service("QmWrapper");
    service.initResult = FALSE;
    service.initError = ERROR_FILE_NOT_FOUND;
    CNTService::ServiceMain(1, argv);
    EXPECT_EQ(std::vector<DWORD>{104}, EventIds());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, record.events.at(0).type);
    EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_STOPPED, SERVICE_STOPPED}), States());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), record.statuses.back().dwWin32ExitCode);
    EXPECT_FALSE(service.ranWhileRunning) << "Run is not called";
  }
  record = PlatformRecord();
  {
    ScriptedService service("QmWrapper");
    CNTService::ServiceMain(1, argv);
    EXPECT_EQ(std::vector<std::string>{"QmWrapper"}, record.handlersRegistered);
    EXPECT_EQ(std::vector<DWORD>{105}, EventIds());
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, record.events.at(0).type);
    EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED}), States());
    EXPECT_TRUE(service.ranWhileRunning);
    for (const SERVICE_STATUS &status : record.statuses) {
      EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), status.dwServiceType);
      EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN),
                status.dwControlsAccepted)
          << "shutdown and, as on every system since Vista, pre-shutdown";
      EXPECT_EQ(0u, status.dwCheckPoint);
      EXPECT_EQ(0u, status.dwWaitHint);
    }
    EXPECT_EQ(0u, record.statuses.back().dwWin32ExitCode);
  }
  EXPECT_EQ(std::vector<HANDLE>{kSource}, record.sourcesDeregistered)
      << "the event source goes with the service object";
}

TEST_F(ServiceWrapper, EachControlCodeHasItsAnswer) {
  ScriptedService service("QmWrapper");
  service.controls = {0, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_INTERROGATE, 6, 127, 128, 200,
                      255, SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN};
  char name[] = "QmWrapper";
  LPSTR argv[] = {name};
  CNTService::ServiceMain(1, argv);

  EXPECT_EQ((std::vector<DWORD>{105, 106, 106, 106, 106, 106, 108}), EventIds())
      << "0, 6, 127 and the user codes the service refuses (128, 255) are unsupported";
  const DWORD kNotImplemented = ERROR_CALL_NOT_IMPLEMENTED;
  EXPECT_EQ((std::vector<DWORD>{kNotImplemented, NO_ERROR, NO_ERROR, kNotImplemented, kNotImplemented,
                                kNotImplemented, NO_ERROR, kNotImplemented, NO_ERROR, NO_ERROR}),
            service.answers);
  EXPECT_EQ((std::vector<DWORD>{128, 200, 255}), service.userCodes);
  EXPECT_EQ(1, service.pauses);
  EXPECT_EQ(1, service.interrogations);
  EXPECT_EQ(1, service.stops) << "the shutdown after the stop starts no second stop sequence";
  EXPECT_EQ(0, service.runningAfterControls) << "stop ends the running flag";
  // start pending, running, one report after each control (stop also
  // announces stop pending first), stopped.
  std::vector<DWORD> expected = {SERVICE_START_PENDING, SERVICE_RUNNING};
  for (size_t i = 0; i + 2 < service.controls.size(); ++i)
    expected.push_back(SERVICE_RUNNING);
  expected.insert(expected.end(), {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING,
                                   SERVICE_STOPPED});
  EXPECT_EQ(expected, States());
}

// Stop, shutdown and pre-shutdown run the one stop sequence (the console's
// stop request, which reaches running scripts); while the service is still
// stopping, the check point rises with a wait hint, so the control manager
// keeps waiting for it; stopped, both are 0.
TEST_F(ServiceWrapper, ShutdownAndPreShutdownStopWithRisingProgress) {
  for (DWORD code : {SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_PRESHUTDOWN}) {
    record = PlatformRecord();
    ScriptedService service("QmWrapper");
    service.controls = {code};
    auto checkPoint = [&] {
      std::vector<SERVICE_STATUS> statuses = record.Statuses();
      return statuses.empty() ? 0 : statuses.back().dwCheckPoint;
    };
    // The service's own stop work goes on until three check points were given.
    service.whileStopping = [&] { EXPECT_TRUE(qmtest::WaitUntil([&] { return checkPoint() >= 3; }, 30000)); };
    char name[] = "QmWrapper";
    LPSTR argv[] = {name};
    CNTService::ServiceMain(1, argv);

    EXPECT_EQ(1, service.stops) << code;
    EXPECT_EQ(0, service.runningAfterControls) << code;
    EXPECT_EQ((std::vector<DWORD>{105, 108}), EventIds()) << code;
    std::vector<SERVICE_STATUS> statuses = record.Statuses();
    ASSERT_GE(statuses.size(), 6u) << code;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), statuses[1].dwCurrentState) << code;
    DWORD last = 0;
    for (size_t i = 2; i + 1 < statuses.size(); ++i) {
      EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), statuses[i].dwCurrentState) << code << " " << i;
      EXPECT_EQ(CNTService::kStopWaitHint, statuses[i].dwWaitHint) << code << " " << i;
      EXPECT_GE(statuses[i].dwCheckPoint, last > 1 ? last + 1 : 1) << code << " " << i << ": rises";
      last = statuses[i].dwCheckPoint;
    }
    EXPECT_GE(last, 3u) << code;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), statuses.back().dwCurrentState) << code;
    EXPECT_EQ(0u, statuses.back().dwCheckPoint) << code;
    EXPECT_EQ(0u, statuses.back().dwWaitHint) << code;
  }
}

TEST_F(ServiceWrapper, EventsCarryTheirTextsAndOneSource) {
  {
    CNTService service("QmWrapper");
    SetLastError(ERROR_ACCESS_DENIED);
    service.LogEvent(EVENTLOG_INFORMATION_TYPE, 100, "QmWrapper");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError())
        << "reporting keeps the error a caller is about to show";
    service.LogEvent(EVENTLOG_ERROR_TYPE, 102, NULL, "second", NULL);
    service.LogEvent(EVENTLOG_WARNING_TYPE, 107, "a", "b", "c");
    service.LogEvent(EVENTLOG_ERROR_TYPE, 106);

    EXPECT_EQ(std::vector<std::string>{"QmWrapper"}, record.sourcesRegistered)
        << "registered once, on this computer, under the service name";
    ASSERT_EQ(4u, record.events.size());
    for (const ReportedEvent &event : record.events) {
      EXPECT_EQ(kSource, event.source);
      EXPECT_EQ(0, event.category);
      EXPECT_TRUE(event.user == NULL);
      EXPECT_EQ(0u, event.dataSize);
      EXPECT_TRUE(event.data == NULL);
    }
    EXPECT_EQ(std::vector<std::string>{"QmWrapper"}, record.events[0].texts);
    EXPECT_EQ(std::vector<std::string>{"second"}, record.events[1].texts) << "null texts are left out";
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), record.events[2].texts);
    EXPECT_TRUE(record.events[3].texts.empty());
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, record.events[2].type);
  }
  EXPECT_EQ(std::vector<HANDLE>{kSource}, record.sourcesDeregistered);

  record = PlatformRecord();
  {
    // Without a source the events are lost, and each event tries again.
    CNTService service("QmWrapper");
    record.refuseSource = true;
    service.LogEvent(EVENTLOG_ERROR_TYPE, 106);
    service.LogEvent(EVENTLOG_ERROR_TYPE, 106);
    EXPECT_TRUE(record.events.empty());
    EXPECT_EQ(2u, record.sourcesRegistered.size());
  }
  EXPECT_TRUE(record.sourcesDeregistered.empty()) << "nothing to deregister";
}

TEST_F(ServiceWrapper, ProxyArgumentRenamesHandlerAndEventSource) {
  ScriptedService service("Quillmoth");
  char name[] = "Quillmoth Proxy", proxy[] = "-proxy";
  LPSTR argv[] = {name, proxy};
  CNTService::ServiceMain(2, argv);
  EXPECT_EQ(std::vector<std::string>{"Quillmoth Proxy"}, record.handlersRegistered);
  EXPECT_EQ(std::vector<std::string>{"Quillmoth Proxy"}, record.sourcesRegistered);
  EXPECT_STREQ("Quillmoth Proxy", service.Name());
  EXPECT_STREQ("Quillmoth Proxy", theApp.ServiceName());
}

// Installation with the real control manager: event 100 with the name and
// the recovery actions, read back from the control manager. When only the
// event source key can't be written the service exists, and -install says
// so with the registry's own error instead of calling it a failure.
TEST_F(ServiceWrapper, InstallSetsRecoveryActionsAndSaysWhatItCouldNotDo) {
  qmtest::ServiceRemoval removal("QmWrapperInstall");
  CNTService service("QmWrapperInstall");
  CNTService::InstallNotes notes;
  notes.recoveryError = notes.eventSourceError = 1;
  ASSERT_TRUE(service.Install("", "", true, "", &notes)) << GetLastError();
  EXPECT_EQ(0u, notes.recoveryError);
  EXPECT_EQ(0u, notes.eventSourceError);
  EXPECT_EQ(std::vector<DWORD>{100}, EventIds());
  EXPECT_EQ(std::vector<std::string>{"QmWrapperInstall"}, record.events.at(0).texts);
  const DWORD kRestart = SC_ACTION_RESTART;
  EXPECT_EQ((std::vector<DWORD>{86400, kRestart, 60000, kRestart, 60000, kRestart, 300000}), record.recovery)
      << "restart after 1, 1 and 5 minutes; the count starts afresh after a day";
  {
    qmtest::ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    qmtest::ServiceHandle installed(OpenServiceA(manager, "QmWrapperInstall", SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(installed);
    std::vector<DWORD> kept;
    DWORD error = 0;
    bool answered = qmtest::ReadRecoveryActions(installed, &kept, &error);
    bool stored = false;
    std::vector<DWORD> inKey = qmtest::ReadStoredRecoveryActions("QmWrapperInstall", &stored);
    EXPECT_TRUE((answered && kept == record.recovery) ||
                qmtest::WineDiffers(!answered && error == ERROR_INVALID_LEVEL,
                                    "Wine 8's control manager answers QueryServiceConfig2 for failure actions "
                                    "with ERROR_INVALID_LEVEL (124); Windows answers them"))
        << "answered " << answered << " error " << error;
    // Where the control manager does not answer, what it keeps in the
    // service's key is read instead.
    EXPECT_TRUE(answered || (stored && inKey == record.recovery) ||
                qmtest::WineDiffers(!stored,
                                    "Wine 8's ChangeServiceConfig2 answers success for failure actions but its "
                                    "control manager keeps nothing (no FailureActions value in the service's "
                                    "key); Windows keeps them and answers them back"))
        << "stored in the key: " << stored << " (" << inKey.size() << " values)";
  }
  EXPECT_TRUE(service.Uninstall());
  EXPECT_EQ((std::vector<DWORD>{100, 101}), EventIds());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QmWrapperInstall");

  record = PlatformRecord();
  record.keyError = ERROR_ACCESS_DENIED;
  CMyService host("QmWrapperInstall");
  CMyCommandLineInfo saved = theApp.m_cmdInfo;
  theApp.m_cmdInfo = CMyCommandLineInfo();
  theApp.m_cmdInfo.m_install = true;
  std::string message = theApp.OneShotMessage(host);
  theApp.m_cmdInfo = saved;
  EXPECT_EQ(std::string(theApp.ServiceName()) +
                " is now registered as a system service\n"
                "Its event log source could not be registered, so its events have no text:\n" +
                qmtest::SystemText(ERROR_ACCESS_DENIED) + "\n",
            message);
  EXPECT_TRUE(record.events.empty()) << "no installed event without its source";
  EXPECT_TRUE(host.IsInstalled()) << "the service itself exists";
  EXPECT_TRUE(host.Uninstall());
  EXPECT_FALSE(host.Uninstall()) << "gone";
}

// A stop that reaches the service before its console window exists is held
// and ends the console once it is there, instead of leaving the service
// "stop pending" for good. The real console runs here on the test's thread;
// a rescue thread ends it after a while should the stop have been lost.
TEST_F(ServiceWrapper, AStopBeforeTheConsoleExistsEndsTheConsoleOnceItIsThere) {
  ASSERT_TRUE(theApp.MainWindow() == NULL);
  qmtest::TempDirectory scripts("early-stop");
  ASSERT_TRUE(qmtest::WriteTextFile(scripts / "AutoRun.vbs", "Sub main(x)\r\nEnd Sub\r\n"));
  qmtest::ScriptsFolder folder(scripts.Path());
  CMyService service("QmWrapperEarlyStop");
  std::string log = qmtest::ProgramDirectory() + "host_service_test.log";
  auto deliveries = [&] {
    std::string text = qmtest::ReadTextFile(log);
    size_t count = 0;
    for (size_t at = text.find("CMyService::DeliverStop()\r\n"); at != std::string::npos;
         at = text.find("CMyService::DeliverStop()\r\n", at + 1))
      ++count;
    return count;
  };
  size_t before = deliveries();
  service.OnStop();

  struct Rescue {
    HANDLE ended = CreateEventA(NULL, TRUE, FALSE, NULL);
    volatile LONG used = 0;
  } rescue;
  HANDLE thread = CreateThread(
      NULL, 0,
      [](LPVOID context) -> DWORD {
        Rescue *rescue = static_cast<Rescue *>(context);
        while (WaitForSingleObject(rescue->ended, 30000) == WAIT_TIMEOUT) {
          HWND console = theApp.MainWindow();
          if (console) {
            InterlockedExchange(&rescue->used, 1);
            PostMessageA(console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
          }
        }
        return 0;
      },
      &rescue, 0, NULL);
  ASSERT_TRUE(thread);
  service.Run();
  SetEvent(rescue.ended);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(rescue.ended);
  EXPECT_EQ(before + 1, deliveries()) << "the console was made and got the held stop";
  EXPECT_EQ(0, rescue.used) << "the held stop ended the console; it was not lost";
  EXPECT_TRUE(theApp.MainWindow() == NULL);
}

// Shutdown and pre-shutdown reach a running script as its stop request: the
// host's service runs here with its real console and an AutoRun that waits
// for the stop, and the control comes through the handler the service
// registered (only the system sends these two: ControlService refuses them
// on Windows and under Wine alike).
TEST_F(ServiceWrapper, ShutdownAndPreShutdownReachARunningScript) {
  qmtest::RegisteredCoreLibrary library;
  ASSERT_EQ(S_OK, library.Registration());
  qmtest::TempDirectory scripts("shutdown");
  ASSERT_TRUE(qmtest::CopyInto(qmtest::ProgramDirectory() + "Scripts\\StdLib.vbs", scripts.Path()));
  ASSERT_TRUE(qmtest::WriteTextFile(scripts / "AutoRun.vbs",
                                    "Function main(x)\r\n"
                                    "  Dim core, h, running\r\n"
                                    "  Set core = NewCore()\r\n"
                                    "  AppendLine ProcessVariable(\"QM.DEFAULT_DIR\") & \"started.txt\", \"started\"\r\n"
                                    "  running = True\r\n"
                                    "  Do While running\r\n"
                                    "    h = core.GetMessage(0, 0)\r\n"
                                    "    If core.GetMessageId(h) = QMR_CTL_STOP Then running = False\r\n"
                                    "    core.FreeHandle h\r\n"
                                    "  Loop\r\n"
                                    "  AppendLine ProcessVariable(\"QM.DEFAULT_DIR\") & \"stopped.txt\", \"stopped\"\r\n"
                                    "End Function\r\n"));
  qmtest::ScriptsFolder folder(scripts.Path());

  struct Control {
    DWORD code;
    std::string started;
    HANDLE ended;
    volatile LONG sent, rescued;
  };
  for (DWORD code : {SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_PRESHUTDOWN}) {
    record = PlatformRecord();
    DeleteFileA((scripts / "started.txt").c_str());
    DeleteFileA((scripts / "stopped.txt").c_str());
    Control control = {code, scripts / "started.txt", CreateEventA(NULL, TRUE, FALSE, NULL), 0, 0};
    // Plays the system: the control once the script runs; should the console
    // still run a minute later, it is ended so the test can fail instead of hang.
    HANDLE thread = CreateThread(
        NULL, 0,
        [](LPVOID context) -> DWORD {
          Control *control = static_cast<Control *>(context);
          if (qmtest::WaitUntil([&] { return GetFileAttributesA(control->started.c_str()) != INVALID_FILE_ATTRIBUTES; },
                                60000)) {
            g_record->handler(control->code, 0, NULL, NULL);
            InterlockedExchange(&control->sent, 1);
          }
          if (WaitForSingleObject(control->ended, 60000) == WAIT_TIMEOUT && theApp.MainWindow()) {
            InterlockedExchange(&control->rescued, 1);
            PostMessageA(theApp.MainWindow(), RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
          }
          return 0;
        },
        &control, 0, NULL);
    ASSERT_TRUE(thread);
    {
      CMyService service("QmWrapperShutdown");
      char name[] = "QmWrapperShutdown";
      LPSTR argv[] = {name};
      CNTService::ServiceMain(1, argv);
    }
    SetEvent(control.ended);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(control.ended);
    EXPECT_EQ(1, control.sent) << code << ": the script started";
    EXPECT_EQ(0, control.rescued) << code << ": the control ended the service";
    EXPECT_EQ("stopped\r\n", qmtest::ReadTextFile(scripts / "stopped.txt")) << code << ": the script got its stop request";
    std::vector<SERVICE_STATUS> statuses = record.Statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), statuses.back().dwCurrentState) << code;
  }
}

// Trace lines go to the diagnostic log under the service name; a text longer
// than the trace buffer is cut there, nothing is written past it.
TEST_F(ServiceWrapper, TraceLinesAreCutAtTheirBuffer) {
  CNTService service("QmWrapperTrace");
  std::string log = qmtest::ProgramDirectory() + "host_service_test.log";
  std::string marker = "trace-" + std::to_string(GetTickCount());
  service.Trace(4242, "%s %s", marker.c_str(), std::string(5000, 'x').c_str());
  std::string text = qmtest::ReadTextFile(log);
  size_t begin = text.rfind("[QmWrapperTrace](thread=");
  ASSERT_NE(std::string::npos, begin) << text;
  size_t end = text.find("\r\n", begin);
  ASSERT_NE(std::string::npos, end);
  std::string line = text.substr(begin, end - begin);
  EXPECT_NE(std::string::npos, line.find(")(line=4242): " + marker + " xxx")) << line;
  EXPECT_EQ(1023u, line.size()) << "cut where the buffer ends";
}

// The host's own service: code 129 writes the Parameters value Start to
// Status\Current in the real registry; other codes write nothing.
TEST_F(ServiceWrapper, UserControl129SavesTheStartValue) {
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\QmWrapperSave";
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  qmtest::RegistryTreeRemoval removal(key);
  CMyService service("QmWrapperSave");

  auto current = [&](bool *found) {
    DWORD value = 0, size = sizeof value, type = 0;
    HKEY handle;
    *found = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (key + "\\Status").c_str(), 0, KEY_READ, &handle) ==
        ERROR_SUCCESS) {
      *found = RegQueryValueExA(handle, "Current", NULL, &type, reinterpret_cast<BYTE *>(&value),
                                &size) == ERROR_SUCCESS &&
               type == REG_DWORD;
      RegCloseKey(handle);
    }
    return value;
  };

  // Without a Parameters key the value is 0.
  ASSERT_TRUE(service.OnInit());
  EXPECT_TRUE(service.OnUserControl(129));
  bool found = false;
  EXPECT_EQ(0u, current(&found));
  EXPECT_TRUE(found);

  HKEY parameters;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, (key + "\\Parameters").c_str(), 0,
                                           NULL, 0, KEY_SET_VALUE, NULL, &parameters, NULL));
  DWORD start = 0xFFFFFFFE;
  RegSetValueExA(parameters, "Start", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&start), sizeof start);
  RegCloseKey(parameters);
  ASSERT_TRUE(service.OnInit());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (key + "\\Status").c_str());
  EXPECT_FALSE(service.OnUserControl(130));
  current(&found);
  EXPECT_FALSE(found) << "130 is not the save code";
  EXPECT_TRUE(service.OnUserControl(129));
  EXPECT_EQ(start, current(&found));
  EXPECT_TRUE(found);
}

// Failed runs and the stop they cause reach the event log through the
// service's source. Wine's ReportEventW keeps nothing (it only writes to its
// eventlog debug channel), so the events are read where the wrapper hands
// them to the platform. The flood guard's counts under a moving clock are
// the history rules' test; here: one event per script, the texts as given.
TEST_F(ServiceWrapper, FailedRunsAndTheStopAfterThemAreEventsWithoutAFlood) {
  CMyService service("QmWrapperEvents");
  for (int i = 0; i < 5; ++i)
    OnRuntimeEvent(QMR_EVENT_RUN_FAILED, "C:\\Scripts\\Nightly.vbs", "Error: Object required in line 7");
  OnRuntimeEvent(QMR_EVENT_RUN_FAILED, "c:/scripts/NIGHTLY.vbs", "the same script, named otherwise");
  OnRuntimeEvent(QMR_EVENT_RUN_FAILED, "C:\\Scripts\\Other.vbs", "Error: Type mismatch in line 2");
  OnRuntimeEvent(QMR_EVENT_HISTORY_UNWRITABLE, "D:\\Data\\History\\", "There is not enough space on the disk.");
  ReportEngineStoppedByError();
  ASSERT_EQ((std::vector<DWORD>{EVMSG_RUN_FAILED, EVMSG_RUN_FAILED, EVMSG_HISTORY_UNWRITABLE,
                                EVMSG_ENGINE_STOPPED_BY_ERROR}),
            EventIds());
  EXPECT_EQ((std::vector<std::string>{"C:\\Scripts\\Nightly.vbs", "Error: Object required in line 7"}),
            record.events[0].texts);
  EXPECT_EQ("C:\\Scripts\\Other.vbs", record.events[1].texts[0]);
  EXPECT_EQ((std::vector<std::string>{"C:\\Scripts\\Other.vbs", "Error: Type mismatch in line 2"}),
            record.events[3].texts)
      << "the stop names the run that failed last";
  for (const ReportedEvent &event : record.events)
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, event.type);
}

} // namespace
