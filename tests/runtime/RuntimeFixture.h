// The runtime test fixture: the test plays the host, with a relay window on
// the test thread that records what workers report, and a folder of scripts
// in front of PATH. Workers run in the host QM.SCRIPT_HOST chooses; our own
// Active Scripting host unless a case asks for the Script Control.
#ifndef RUNTIMEFIXTURE_H
#define RUNTIMEFIXTURE_H

#include <gtest/gtest.h>
#include <algorithm>
#include <functional>

#include "RelayFixture.h"
#include "WineTestSupport.h"

namespace qmtest {

inline const UINT kShutdown = RegisterWindowMessageA(QMR_MSG_SHUTDOWN);
inline const char kPoolRetry[] = "RunScript: No thread found in the pool, retrying...";
inline const char kNewThread[] = "RunScript: Creating a new thread";

inline bool IsDone(MurrelContext *context) {
  return reinterpret_cast<UINT_PTR>(context) == QMR_DONE;
}

struct WorkerWindowCount {
  int count = 0;
  HWND first = NULL;
  static BOOL CALLBACK Proc(HWND window, LPARAM param) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char cls[64];
    WorkerWindowCount *self = reinterpret_cast<WorkerWindowCount *>(param);
    if (process == GetCurrentProcessId() && GetClassNameA(window, cls, sizeof cls) &&
        strncmp(cls, "WORKER:", 7) == 0 && self->count++ == 0)
      self->first = window;
    return TRUE;
  }
};

inline int LiveWorkerWindows() {
  WorkerWindowCount counter;
  EnumWindows(WorkerWindowCount::Proc, reinterpret_cast<LPARAM>(&counter));
  return counter.count;
}

// The context of the first worker window of this process, NULL without one.
inline MurrelContext *FirstWorkerContext() {
  WorkerWindowCount counter;
  EnumWindows(WorkerWindowCount::Proc, reinterpret_cast<LPARAM>(&counter));
  return counter.first ? reinterpret_cast<MurrelContext *>(GetWindowLongPtrA(counter.first, 0)) : NULL;
}

class RuntimeTest : public ::testing::Test {
protected:
  RuntimeTest() : dir("runtime"), path(dir.Path()) {}

  void SetUp() override {
    SetEnvironmentVariableA("QM.SCRIPT_HOST", NULL);
    ASSERT_TRUE(relay.Handle());
    ASSERT_TRUE(QMR_Own());
    Script("StdLib.vbs", "Function Bracket(s)\r\n  Bracket = \"[\" & s & \"]\"\r\nEnd Function\r\n");
    // The host's rule: a worker that is not pooled, or was flushed, is shut
    // down and destroyed when its run ends.
    relay.onMessage = [this](const qmtest::RelayEntry &entry) {
      if (hostRules)
        qmtest::RelayWindow::DisposeLikeTheHost(entry);
    };
  }

  void TearDown() override {
    SetEnvironmentVariableA("QM.SCRIPT_HOST", NULL);
    hostRules = true;
    qmtest::StopAllWorkers();
    EXPECT_EQ(0, LiveWorkerWindows()) << "every worker is gone at the end";
  }

  void Script(const std::string &name, const std::string &text) {
    ASSERT_TRUE(qmtest::WriteTextFile(dir / name, text));
  }


  std::vector<qmtest::RelayEntry> Entries(UINT message) const {
    std::vector<qmtest::RelayEntry> out;
    for (const qmtest::RelayEntry &entry : relay.entries)
      if (entry.message == message)
        out.push_back(entry);
    return out;
  }

  size_t Count(UINT message) const { return Entries(message).size(); }

  bool TextSeen(const std::string &text) const {
    for (const std::string &t : relay.Texts())
      if (t == text)
        return true;
    return false;
  }

  // Runs synchronously without pooling and answers main's return value.
  std::string RunForValue(const std::string &script, const char *argument) {
    VARIANT value;
    VariantInit(&value);
    MurrelContext *result = QMR_RunScript(0, script.c_str(), argument, &value);
    EXPECT_TRUE(IsDone(result));
    std::string text;
    if (V_VT(&value) == VT_BSTR) {
      int bytes = WideCharToMultiByte(CP_ACP, 0, V_BSTR(&value), -1, NULL, 0, NULL, NULL);
      text.resize(bytes > 0 ? bytes - 1 : 0);
      WideCharToMultiByte(CP_ACP, 0, V_BSTR(&value), -1, &text[0], bytes, NULL, NULL);
    }
    VariantClear(&value);
    return text;
  }

  qmtest::TempDirectory dir;
  qmtest::ScriptsFolder path;
  qmtest::RelayWindow relay;
  bool hostRules = true;
};

// Splits output into its lines (CR LF or LF); no empty line after the last.
inline std::vector<std::string> OutputLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return lines;
}

// Runs a script file under the prefix's console script host (cscript.exe),
// standard output and error together; its exit code, or -1 when it did not
// end within a minute.
inline int RunUnderConsoleHost(const std::string &file, const std::string &arguments,
                               std::vector<std::string> *lines) {
  char system[MAX_PATH] = "";
  GetSystemDirectoryA(system, MAX_PATH);
  ChildProcess host;
  if (!host.Start(std::string(system) + "\\cscript.exe", "//nologo \"" + file + "\" " + arguments, std::string(),
                  true))
    return -1;
  DWORD code = 0;
  bool ended = host.WaitExit(60000, &code);
  *lines = OutputLines(host.ReadOutput());
  return ended ? static_cast<int>(code) : -1;
}

// The host named by the runtime's last "Script host:" line in the log.
inline std::string LastLoggedHost(const std::string &logName) {
  std::string log = ReadTextFile(ProgramDirectory() + logName);
  const std::string mark = "Script host: ";
  size_t at = log.rfind(mark);
  if (at == std::string::npos)
    return std::string();
  at += mark.size();
  return log.substr(at, log.find_first_of("\r\n", at) - at);
}

// The cases every host must pass alike, run once per host.
class BothHostsTest : public RuntimeTest, public ::testing::WithParamInterface<const char *> {
protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    SetEnvironmentVariableA("QM.SCRIPT_HOST", GetParam());
  }
};

inline std::string HostNameOf(const ::testing::TestParamInfo<const char *> &info) {
  return info.param;
}

} // namespace qmtest

#endif
