// The Core object as scripts see it: QuillmothLib.dll registered in the test
// prefix, created by VBScript (CreateObject("QuillmothLib.Core")) on the
// runtime's worker threads and called through late binding. The test plays
// the host: a relay window on the test thread records what scripts print.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "RelayFixture.h"
#include "WineTestSupport.h"

#include <sddl.h>

using qmtest::RelayEntry;
using qmtest::RelayWindow;

using qmtest::PumpUntil;

namespace {

const char kClassKey[] = "CLSID\\{0C9CAF96-D5FC-456B-A150-A5AF3666DF30}";
const char kPassPhraseKey[] = "software\\Brenlow Software\\Quillmoth\\Security";

typedef HRESULT(STDAPICALLTYPE *RegisterFn)();

// The library as the test bench has it: loaded from beside the tests.
class Library {
public:
  Library() : m_module(LoadLibraryA((qmtest::ProgramDirectory() + "QuillmothLib.dll").c_str())) {}
  ~Library() {
    if (m_module)
      FreeLibrary(m_module);
  }
  HRESULT Call(const char *name) {
    RegisterFn fn = m_module ? reinterpret_cast<RegisterFn>(reinterpret_cast<void (*)()>(GetProcAddress(m_module, name))) : nullptr;
    return fn ? fn() : E_FAIL;
  }
  HMODULE Module() const { return m_module; }
private:
  HMODULE m_module;
};

bool KeyExists(HKEY root, const std::string &key) {
  HKEY handle = NULL;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return false;
  RegCloseKey(handle);
  return true;
}

using qmtest::Narrow;

class CoreScriptTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    library = new Library();
    ASSERT_EQ(S_OK, library->Call("DllRegisterServer"));
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(S_OK, library->Call("DllUnregisterServer"));
    delete library;
    library = nullptr;
  }

  CoreScriptTest() : dir("core"), path(dir.Path()) {}

  void SetUp() override {
    ASSERT_TRUE(relay.Handle());
    ASSERT_TRUE(QMR_Own());
    ASSERT_TRUE(qmtest::CopyInto(qmtest::ProgramDirectory() + "Scripts\\StdLib.vbs", dir.Path()));
    relay.onMessage = [this](const RelayEntry &entry) {
      if (entry.message == RelayWindow::Print() && onPrint)
        onPrint(entry.text);
      RelayWindow::DisposeLikeTheHost(entry);
    };
  }

  void TearDown() override { qmtest::StopAllWorkers(); }

  // A script whose main creates the object as `core` and runs `body`.
  void Script(const std::string &name, const std::string &body) {
    ASSERT_TRUE(qmtest::WriteTextFile(
        dir / name, "Function main(arg)\r\n  Dim core\r\n  Set core = CreateObject(\"QuillmothLib.Core\")\r\n" + body +
                        "End Function\r\n"));
  }

  // Runs on a new worker while this thread keeps answering (relay, windows)
  // and answers main's value as text.
  std::string Run(const std::string &body, DWORD milliseconds = 30000) {
    Script("t.vbs", body);
    return RunFile("t.vbs", milliseconds);
  }

  std::string RunFile(const std::string &name, DWORD milliseconds = 30000) {
    relay.entries.clear();
    MurrelContext *context = QMR_RunScript(QMR_FLAG_ASYNC, name.c_str(), nullptr, nullptr);
    EXPECT_TRUE(context);
    if (!context)
      return "(no worker)";
    VARIANT value;
    VariantInit(&value);
    // The value is taken when QMR_EXIT arrives, before the host rule
    // destroys the worker.
    std::string text = "(no exit)";
    auto saved = relay.onMessage;
    relay.onMessage = [&](const RelayEntry &entry) {
      if (entry.message == RelayWindow::Exit() && entry.lParam == reinterpret_cast<LPARAM>(context)) {
        VARIANT result;
        VariantInit(&result);
        text = "(no value)";
        if (QMR_GetReturnValue(context, &result) && SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR)))
          text = Narrow(V_BSTR(&result));
        VariantClear(&result);
      }
      saved(entry);
    };
    bool exited = PumpUntil([&] { return Count(RelayWindow::Exit()) > 0; }, milliseconds);
    relay.onMessage = saved;
    EXPECT_TRUE(exited) << "the script ended";
    EXPECT_EQ(0u, Count(RelayWindow::Error())) << Joined();
    return text;
  }


  size_t Count(UINT message) const {
    return std::count_if(relay.entries.begin(), relay.entries.end(),
                         [message](const RelayEntry &e) { return e.message == message; });
  }

  // What reached the operator's console (category 0): the scripts' lines
  // and notices, without the runtime's own pool reports.
  std::vector<std::string> Printed() const {
    std::vector<std::string> texts;
    for (const RelayEntry &e : relay.entries)
      if (e.message == RelayWindow::Print() && e.lParam == 0)
        texts.push_back(e.text);
    return texts;
  }
  bool Seen(const std::string &text) const {
    std::vector<std::string> texts = Printed();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  std::string Joined() const {
    std::string all;
    for (const std::string &t : Printed())
      all += "[" + t + "]";
    return all;
  }

  // The window of the one worker of this process (the tests that use it
  // run a single script).
  static HWND WorkerWindow() {
    struct Finder {
      HWND found = NULL;
      static BOOL CALLBACK Proc(HWND window, LPARAM param) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char cls[64];
        if (process == GetCurrentProcessId() && GetClassNameA(window, cls, sizeof cls) &&
            strncmp(cls, "WORKER:", 7) == 0)
          reinterpret_cast<Finder *>(param)->found = window;
        return TRUE;
      }
    } finder;
    EnumWindows(Finder::Proc, reinterpret_cast<LPARAM>(&finder));
    return finder.found;
  }
  static DWORD WorkerThread() { return GetWindowThreadProcessId(WorkerWindow(), NULL); }

  static std::string LogText() { return qmtest::ReadTextFile(qmtest::ProgramDirectory() + "core_test.log"); }

  static Library *library;
  qmtest::TempDirectory dir;
  qmtest::ScriptsFolder path;
  RelayWindow relay;
  std::function<void(const std::string &)> onPrint;
};

Library *CoreScriptTest::library = nullptr;

TEST_F(CoreScriptTest, PrintReachesTheConsoleAsData) {
  EXPECT_EQ("done", Run("  core.Print \"hello\"\r\n"
                        "  core.Print String(300, \"x\")\r\n"
                        "  core.Print \"50%d done %s\"\r\n"
                        "  core.Print \"\"\r\n"
                        "  core.Print Empty\r\n"
                        "  core.Print \"last\"\r\n"
                        "  main = \"done\"\r\n"));
  std::vector<std::string> expected = {"hello", std::string(255, 'x'), "50%d done %s", "last"};
  EXPECT_EQ(expected, Printed()) << "empty texts print nothing";
}

TEST_F(CoreScriptTest, VariablesInTheEnvironmentAndTheLastError) {
  SetEnvironmentVariableA("QM.CORE_TEST", "from the host");
  EXPECT_EQ("from the host|-1|set here|-1||True|0|", Run(
      "  main = core.GetEnvironmentVariable(1, \"QM.CORE_TEST\") & \"|\"\r\n"
      "  main = main & core.SetEnvironmentVariable(1, \"QM.CORE_TEST\", \"set here\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(1, \"QM.CORE_TEST\") & \"|\"\r\n"
      "  main = main & core.SetEnvironmentVariable(1, \"QM.CORE_TEST\", \"\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(1, \"QM.CORE_TEST\") & \"|\"\r\n"
      "  main = main & (core.GetEnvironmentVariable(1, \"\") = \"\") & \"|\"\r\n"
      "  main = main & core.SetEnvironmentVariable(1, \"\", \"x\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(0, \"PATH\")\r\n"));

  // Oversized texts are cut at their buffers: values at 8191 bytes, names
  // at 1023.
  EXPECT_EQ("8191|-1|-1|1", Run(
      "  core.SetEnvironmentVariable 1, \"QM.BIG\", String(9000, \"v\")\r\n"
      "  main = Len(core.GetEnvironmentVariable(1, \"QM.BIG\")) & \"|\"\r\n"
      "  main = main & core.SetEnvironmentVariable(1, \"QM.BIG\", \"\") & \"|\"\r\n"
      "  main = main & core.SetEnvironmentVariable(1, \"QM.\" & String(2000, \"N\"), \"x\") & \"|\"\r\n"
      "  main = main & Len(core.GetEnvironmentVariable(1, \"QM.\" & String(1020, \"N\")))\r\n"));
  std::string longName = "QM." + std::string(1020, 'N');
  EXPECT_EQ("x", qmtest::EnvironmentValue(longName.c_str()));
  SetEnvironmentVariableA(longName.c_str(), NULL);
  bool found = true;
  qmtest::EnvironmentValue("QM.CORE_TEST", &found);
  EXPECT_FALSE(found) << "the script removed it from the process environment";

  SetEnvironmentVariableA("QM.LAST_ERROR", NULL);
  EXPECT_EQ("0|Unable to set foreground window.|0|No matching window found.", Run(
      "  main = core.SetForegroundWindow(0) & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(1, \"QM.LAST_ERROR\") & \"|\"\r\n"
      "  main = main & core.FindWindow(\"\", \"^No such class anywhere$\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(1, \"QM.LAST_ERROR\")\r\n"));
  EXPECT_EQ("No matching window found.", qmtest::EnvironmentValue("QM.LAST_ERROR"));
  bool stored = true;
  qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT",
                           "QM.LAST_ERROR", &stored);
  EXPECT_FALSE(stored) << "the last error is never persisted";
}

TEST_F(CoreScriptTest, EncipheredValuesWithTheInstallationPassPhrase) {
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase", "test bench phrase");
  std::string out = Run(
      "  core.SetEnvironmentVariable 9, \"QM.SECRET\", \"abc\"\r\n"
      "  main = core.GetEnvironmentVariable(1, \"QM.SECRET\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(9, \"QM.SECRET\") & \"|\"\r\n"
      "  core.SetEnvironmentVariable 1, \"QM.PLAIN\", \"abc\"\r\n"
      "  main = main & core.GetEnvironmentVariable(9, \"QM.PLAIN\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(9, \"QM.NOT_THERE\") & \"|\"\r\n"
      "  core.SetEnvironmentVariable 9, \"QM.SECRET8\", \"12345678\"\r\n"
      "  main = main & Len(core.GetEnvironmentVariable(1, \"QM.SECRET8\")) & \"|\"\r\n"
      "  main = main & core.SetEnvironmentVariable(10, \"QM.STORED_SECRET\", \"pw\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(14, \"QM.STORED_SECRET\") & \"|\"\r\n"
      "  main = main & core.SetEnvironmentVariable(9, \"QM.SECRET\", \"\")\r\n");
  size_t bar = out.find('|');
  ASSERT_NE(std::string::npos, bar) << out;
  std::string cipher = out.substr(0, bar);
  EXPECT_EQ(16u, cipher.size()) << out;
  EXPECT_EQ(std::string::npos, cipher.find_first_not_of("0123456789ABCDEF")) << cipher;
  EXPECT_EQ("|abc|||32|-1|pw|-1", out.substr(bar)) << "a plain text reads as empty text, never as itself";
  bool found = true;
  qmtest::EnvironmentValue("QM.SECRET", &found);
  EXPECT_FALSE(found) << "an empty value with the encryption bit removes the variable";
  std::string stored = qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE,
                                                "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT",
                                                "QM.STORED_SECRET", &found);
  EXPECT_TRUE(found);
  EXPECT_EQ(16u, stored.size()) << "the registry holds only the cipher text";

  EXPECT_EQ("test bench phrase", qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase"))
      << "an existing pass phrase is kept";

  // A pass phrase value that is there but empty is the administrator's: it
  // is not replaced, and nothing confidential is stored.
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase", "");
  EXPECT_EQ("0|", Run("  main = core.SetEnvironmentVariable(9, \"QM.SECRET\", \"abc\") & \"|\"\r\n"
                      "  main = main & core.GetEnvironmentVariable(1, \"QM.SECRET\")\r\n"));
  EXPECT_TRUE(Seen("SetEnvironmentVariable: No pass phrase is set for this installation. The value was not stored."))
      << Joined();
  found = false;
  EXPECT_EQ("", qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase", &found));
  EXPECT_TRUE(found);
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT",
                              "QM.STORED_SECRET");
  SetEnvironmentVariableA("QM.STORED_SECRET", NULL);
}

// The SIDs of the access-allowed entries of the key's list, and whether the
// list is closed to inherited entries.
std::set<std::string> KeyAccess(HKEY root, const char *name, bool *isProtected) {
  std::set<std::string> sids;
  *isProtected = false;
  HKEY key = NULL;
  if (RegOpenKeyExA(root, name, 0, READ_CONTROL, &key) != ERROR_SUCCESS)
    return sids;
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, NULL, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  PSECURITY_DESCRIPTOR descriptor = buffer.data();
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = NULL;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size) == ERROR_SUCCESS &&
      GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present && acl) {
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    *isProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
      ACE_HEADER *header = NULL;
      if (!GetAce(acl, i, reinterpret_cast<void **>(&header)))
        continue;
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
        sids.insert("not an allowing entry");
        continue;
      }
      char *text = NULL;
      if (ConvertSidToStringSidA(&reinterpret_cast<ACCESS_ALLOWED_ACE *>(header)->SidStart, &text)) {
        sids.insert(text);
        LocalFree(text);
      }
    }
  }
  RegCloseKey(key);
  return sids;
}

TEST_F(CoreScriptTest, FirstEncipheredValueMakesTheInstallationPassPhrase) {
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase");
  EXPECT_EQ("|", Run("  main = core.GetEnvironmentVariable(9, \"QM.NOT_THERE\") & \"|\"\r\n"));
  bool found = true;
  qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase", &found);
  EXPECT_FALSE(found) << "reading makes no pass phrase";

  EXPECT_EQ("-1|abc", Run("  main = core.SetEnvironmentVariable(9, \"QM.SECRET\", \"abc\") & \"|\"\r\n"
                          "  main = main & core.GetEnvironmentVariable(9, \"QM.SECRET\")\r\n"));
  std::string phrase = qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase", &found);
  ASSERT_TRUE(found) << "the first value to encipher makes the pass phrase";
  EXPECT_EQ(64u, phrase.size()) << phrase;
  EXPECT_EQ(std::string::npos, phrase.find_first_not_of("0123456789ABCDEF")) << phrase;
  std::string cipher = qmtest::EnvironmentValue("QM.SECRET");

  bool isProtected = false;
  std::set<std::string> expected = {"S-1-5-18", "S-1-5-32-544"}; // SYSTEM, Administrators
  EXPECT_EQ(expected, KeyAccess(HKEY_LOCAL_MACHINE, kPassPhraseKey, &isProtected));
  EXPECT_TRUE(isProtected) << "nothing inherited from the parent key";

  // Later values use the same pass phrase; it is never replaced.
  EXPECT_EQ("-1|abc", Run("  main = core.SetEnvironmentVariable(9, \"QM.OTHER\", \"abc\") & \"|\"\r\n"
                          "  main = main & core.GetEnvironmentVariable(9, \"QM.SECRET\")\r\n"));
  EXPECT_EQ(phrase, qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase"));
  EXPECT_EQ(cipher, qmtest::EnvironmentValue("QM.OTHER")) << "same value, same pass phrase, same cipher";

  // Another installation (another prefix) would get another one.
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase");
  Run("  core.SetEnvironmentVariable 9, \"QM.OTHER\", \"abc\"\r\n");
  EXPECT_NE(phrase, qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase"));
  EXPECT_NE(cipher, qmtest::EnvironmentValue("QM.OTHER"));

  // Any user may make a global mutex of an obvious name and hold it: the
  // making of the pass phrase neither waits for nor depends on one.
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase");
  HANDLE squatter = CreateMutexA(nullptr, TRUE, "Global\\QuillmothPassPhraseCreation");
  ASSERT_TRUE(squatter);
  std::string made = Run("  main = core.SetEnvironmentVariable(9, \"QM.OTHER\", \"abc\")\r\n");
  ReleaseMutex(squatter);
  CloseHandle(squatter);
  qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase", &found);
  // Wine has no private namespaces (kernel32 lacks CreatePrivateNamespace),
  // so there the lock falls back to that global mutex and times out.
  EXPECT_TRUE((made == "-1" && found) ||
              qmtest::WineDiffers(made == "0" && !found, "no private namespaces: the lock is the global mutex"))
      << made;
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase");
  SetEnvironmentVariableA("QM.SECRET", NULL);
  SetEnvironmentVariableA("QM.OTHER", NULL);
  SetEnvironmentVariableA("QM.SECRET8", NULL);
  SetEnvironmentVariableA("QM.PLAIN", NULL);
}

TEST_F(CoreScriptTest, HandlesThatAreNotLiveAreRefused) {
  // An unanswered [out,retval] reaches the script as automation's 0.
  EXPECT_EQ("0|0|-1|-1|0|0|-1|0|275|-1|-1|0|-1|0", Run(
      "  Dim h, w\r\n"
      "  main = core.FreeHandle(0) & \"|\" & core.FreeHandle(12345) & \"|\"\r\n"
      "  main = main & core.GetMessageId(0) & \"|\" & core.GetMessageId(12345) & \"|\"\r\n"
      "  w = 7\r\n"
      "  w = core.GetMessageWParam(12345): main = main & w & \"|\"\r\n"
      "  w = 7\r\n"
      "  w = core.GetMessageLParam(0): main = main & w & \"|\"\r\n"
      "  w = core.SetTimer(1)\r\n"
      "  h = core.GetMessage(0, 0)\r\n"
      "  main = main & core.FreeHandle(h) & \"|\" & core.FreeHandle(h) & \"|\"\r\n"
      "  h = core.GetMessage(0, 0)\r\n"
      "  main = main & core.GetMessageId(h) & \"|\" & core.FreeHandle(h) & \"|\"\r\n"
      "  main = main & core.GetMessageId(h) & \"|\" & core.FreeHandle(-1) & \"|\"\r\n"
      "  core.DispatchMessage h\r\n"
      "  main = main & core.KillTimer(TimerId16(w)) & \"|\" & core.KillTimer(TimerId16(w))\r\n"));
}

TEST_F(CoreScriptTest, TimersTickIntoGetMessageAndAreKilledOnce) {
  std::string out = Run(
      "  Dim t1, t2, h, seen1, seen2, n\r\n"
      "  t1 = core.SetTimer(20)\r\n"
      "  t2 = core.SetTimer(30)\r\n"
      "  Do While (Not seen1 Or Not seen2) And n < 200\r\n"
      "    h = core.GetMessage(0, 0)\r\n"
      "    If core.GetMessageId(h) = WM_TIMER Then\r\n"
      "      If core.GetMessageWParam(h) = t1 Then seen1 = True\r\n"
      "      If core.GetMessageWParam(h) = t2 Then seen2 = True\r\n"
      "    End If\r\n"
      "    core.FreeHandle h\r\n"
      "    n = n + 1\r\n"
      "  Loop\r\n"
      "  main = (t1 <> 0) & \"|\" & (t1 <> t2) & \"|\" & seen1 & \"|\" & seen2 & \"|\"\r\n"
      "  main = main & core.KillTimer(TimerId16(t1)) & \"|\" & core.KillTimer(TimerId16(t2)) & \"|\"\r\n"
      "  main = main & core.KillTimer(TimerId16(t1)) & \"|\" & core.PumpMessage(0, 0)\r\n");
  EXPECT_EQ("True|True|True|True|-1|-1|0|-1", out);
}

TEST_F(CoreScriptTest, StopRequestIsTakenBeforeOlderMessagesAndQuitBecomes1233) {
  const UINT kLate = WM_APP + 1; // outside the preferred range
  onPrint = [&](const std::string &text) {
    HWND worker = WorkerWindow();
    if (text == "ready") {
      PostMessageA(worker, kLate, 5, 6);
      PostMessageA(worker, 1231, 0, 0);
    } else if (text == "quit") {
      PostThreadMessageA(WorkerThread(), WM_QUIT, 0, 0);
    } else if (text == "resume") {
      PostMessageA(worker, 1230, 0, 0);
    } else if (text == "suspend") {
      PostMessageA(worker, 1229, 0, 0);
    }
  };
  std::string out = Run(
      "  Dim h\r\n"
      "  core.Print \"ready\"\r\n"
      "  h = core.GetMessage(0, 0): main = core.GetMessageId(h) & \"|\": core.FreeHandle h\r\n"
      "  h = core.GetMessage(0, 0)\r\n"
      "  main = main & core.GetMessageId(h) & \",\" & core.GetMessageWParam(h) & \",\" & core.GetMessageLParam(h)\r\n"
      "  core.DispatchMessage h: core.FreeHandle h\r\n"
      "  core.Print \"quit\"\r\n"
      "  h = core.GetMessage(0, 0)\r\n"
      "  main = main & \"|\" & core.GetMessageId(h) & \",\" & core.GetMessageWParam(h) & \"|\": core.FreeHandle h\r\n"
      "  main = main & core.PumpMessage(0, 0) & \"|\"\r\n"
      "  core.Print \"resume\"\r\n"
      "  main = main & core.PumpMessage(0, 0) & \"|\"\r\n"
      "  core.Print \"suspend\"\r\n"
      "  main = main & core.PumpMessage(0, 0)\r\n");
  EXPECT_EQ("1231|" + std::to_string(kLate) + ",5,6|1233,0|-1|-1|0", out);
}

TEST_F(CoreScriptTest, CheckTimeLatchesPerIdAndPerThread) {
  // A year field fires once a year: stable whatever the clock says.
  std::string out = Run(
      "  main = core.CheckTime(1, False, \"_ _ _ _ _ *\") & \"|\"\r\n"
      "  main = main & core.CheckTime(1, False, \"_ _ _ _ _ *\") & \"|\"\r\n"
      "  main = main & core.CheckTime(2, False, \"_ _ _ _ _ *\") & \"|\"\r\n"
      "  main = main & core.CheckTime(1, True, \"_ _ _ _ _ *\") & \"|\"\r\n"
      "  main = main & core.CheckTime(3, False, \"_ _ _ _ _ 1999\") & \"|\"\r\n"
      "  main = main & core.CheckTime(4, False, \"\") & \"|\"\r\n"
      "  main = main & core.CheckTime(4, False, \"1 2 3 4 5 6 7 8 9\") & \"|\"\r\n"
      "  main = main & core.DestroyCronContext(1, 3) & \"|\"\r\n"
      "  main = main & core.DestroyCronContext(1, 3)\r\n");
  EXPECT_EQ("-1|0|-1|-1|0|0|0|3|0", out);
  EXPECT_NE(std::string::npos, LogText().find("Bad Cron format: (1 2 3 4 5 6 7 8 9)"));

  // Two scripts at once on two threads, with the same id: both fire, and
  // each thread has its own latch in the environment.
  Script("latch.vbs", "  Dim h\r\n"
                      "  core.Print \"fired \" & core.CheckTime(7, False, \"_ _ _ _ _ *\")\r\n"
                      "  Do\r\n"
                      "    h = core.GetMessage(0, 0)\r\n"
                      "    If core.GetMessageId(h) = QMR_CTL_STOP Then Exit Do\r\n"
                      "    core.FreeHandle h\r\n"
                      "  Loop\r\n"
                      "  core.FreeHandle h\r\n"
                      "  main = \"stopped\"\r\n");
  relay.entries.clear();
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_ASYNC, "latch.vbs", nullptr, nullptr));
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_ASYNC, "latch.vbs", nullptr, nullptr));
  ASSERT_TRUE(PumpUntil([&] { return Printed().size() >= 2 && Count(RelayWindow::Thread()) >= 2; }));
  std::vector<std::string> expected = {"fired -1", "fired -1"};
  EXPECT_EQ(expected, Printed());
  std::set<DWORD> threads;
  for (const RelayEntry &e : relay.entries)
    if (e.message == RelayWindow::Thread() && e.lParam == 1)
      threads.insert(static_cast<DWORD>(e.wParam));
  ASSERT_EQ(2u, threads.size());
  for (DWORD thread : threads) {
    std::string key = "cron:" + std::to_string(thread) + ":7";
    std::string latch = qmtest::EnvironmentValue(key.c_str());
    EXPECT_EQ(0u, latch.find("4 ")) << key << " = " << latch << " (mask of the year field first)";
    SetEnvironmentVariableA(key.c_str(), NULL);
  }
  QMR_Stop();
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 2; }));
}

TEST_F(CoreScriptTest, EverySecondSpecificationPrintsUntilTheStopRequest) {
  Script("seconds.vbs", "  Dim timer, h, running, n\r\n"
                        "  core.DestroyCronContext 1, 1\r\n"
                        "  timer = core.SetTimer(100)\r\n"
                        "  running = True\r\n"
                        "  Do While running\r\n"
                        "    h = core.GetMessage(0, 0)\r\n"
                        "    Select Case core.GetMessageId(h)\r\n"
                        "      Case WM_TIMER\r\n"
                        "        If core.CheckTime(1, False, \"* * * * * * * *\") Then\r\n"
                        "          n = n + 1\r\n"
                        "          core.Print \"tick \" & FormatIsoTime(Now)\r\n"
                        "        End If\r\n"
                        "      Case QMR_CTL_STOP, QMR_CTL_QUIT\r\n"
                        "        running = False\r\n"
                        "      Case Else\r\n"
                        "        core.DispatchMessage h\r\n"
                        "    End Select\r\n"
                        "    core.FreeHandle h\r\n"
                        "  Loop\r\n"
                        "  core.KillTimer TimerId16(timer)\r\n"
                        "  core.Print \"stopped after \" & n\r\n"
                        "  main = n\r\n");
  relay.entries.clear();
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_ASYNC | QMR_FLAG_POOLED, "seconds.vbs", nullptr, nullptr));
  ASSERT_TRUE(PumpUntil([&] { return Printed().size() >= 3; }));
  EXPECT_TRUE(QMR_Stop());
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 1; }));
  std::vector<std::string> texts = Printed();
  ASSERT_GE(texts.size(), 4u);
  std::set<std::string> ticks;
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    EXPECT_EQ(0u, texts[i].find("tick ")) << texts[i];
    EXPECT_TRUE(ticks.insert(texts[i]).second) << "one line per second: " << texts[i];
  }
  EXPECT_EQ("stopped after " + std::to_string(texts.size() - 1), texts.back());
  EXPECT_EQ(0u, Count(RelayWindow::Error()));
}

TEST_F(CoreScriptTest, ShippedAutoRunLoopsUntilStopped) {
  ASSERT_TRUE(qmtest::CopyInto(qmtest::ProgramDirectory() + "Scripts\\AutoRun.vbs", dir.Path()));
  relay.entries.clear();
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_ASYNC | QMR_FLAG_POOLED, "AutoRun.vbs", "2026-12-08 14:00:00", nullptr));
  ASSERT_TRUE(PumpUntil([&] { return Seen("Quillmoth started at 2026-12-08 14:00:00"); })) << Joined();
  qmtest::PumpFor(1500); // a tick or two of its timer
  EXPECT_EQ(0u, Count(RelayWindow::Exit())) << "it waits for the stop request";
  EXPECT_TRUE(QMR_Stop());
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 1; }));
  EXPECT_EQ("AutoRun.vbs stopped", Printed().back());
  EXPECT_EQ(0u, Count(RelayWindow::Error())) << Joined();
}

// A window that never answers: its thread sleeps.
DWORD WINAPI HungWindowThread(LPVOID param) {
  WNDCLASSA cls = {};
  cls.lpfnWndProc = DefWindowProcA;
  cls.lpszClassName = "QmHungClass";
  RegisterClassA(&cls);
  HWND window = CreateWindowExA(0, "QmHungClass", "QmHungWindow", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
  *static_cast<HWND *>(param) = window;
  Sleep(6000);
  DestroyWindow(window);
  UnregisterClassA("QmHungClass", NULL);
  return 0;
}

TEST_F(CoreScriptTest, FindWindowWalksAllWindowsInPreOrderWithPatterns) {
  HWND parent = CreateWindowExA(0, "STATIC", "QmFind parent 1", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
  HWND child = CreateWindowExA(0, "BUTTON", "QmFind child 2", WS_CHILD, 0, 0, 5, 5, parent, NULL, NULL, NULL);
  HWND grandchild = CreateWindowExA(0, "STATIC", "QmFind grandchild 3", WS_CHILD, 0, 0, 2, 2, child, NULL, NULL, NULL);
  HWND sibling = CreateWindowExA(0, "STATIC", "QmFind sibling", WS_CHILD, 0, 0, 2, 2, parent, NULL, NULL, NULL);
  ASSERT_TRUE(parent && child && grandchild && sibling);
  auto number = [](HWND w) { return std::to_string(HandleToLong(w)); };

  std::string out = Run(
      "  main = core.FindWindow(\"^QmFind parent [0-9]+$\", Empty) & \"|\"\r\n"
      "  main = main & core.FindWindow(\"QmFind .* [0-9]\", \"\") & \"|\"\r\n"
      "  main = main & core.FindWindow(\"QmFind\", \"^Button$\") & \"|\"\r\n"
      "  main = main & core.FindWindow(\"QmFind child\", \"^Static$\") & \"|\"\r\n"
      "  main = main & core.FindWindow(\"qmfind parent\", Empty) & \"|\"\r\n"
      "  main = main & (core.FindWindow(Empty, Empty) <> 0)\r\n");
  EXPECT_EQ(number(parent) + "|" + number(grandchild) + "|" + number(child) + "|0|0|True", out)
      << "the last match of the walk wins; matching is case sensitive";

  // A pattern that does not compile finds no window (it once stood for "any
  // window", and a script then closed an arbitrary one): a typo, or a text
  // past the engine's program limit, answers 0 with the error to read.
  out = Run(
      "  main = core.FindWindow(\"(QmFind\", \"^Button$\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(1, \"QM.LAST_ERROR\") & \"|\"\r\n"
      "  main = main & core.FindWindow(\"QmFind\", \"[Button\") & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(1, \"QM.LAST_ERROR\") & \"|\"\r\n"
      "  main = main & core.FindWindow(String(40000, \"a\"), Empty) & \"|\"\r\n"
      "  main = main & core.GetEnvironmentVariable(1, \"QM.LAST_ERROR\") & \"|\"\r\n"
      "  main = main & (core.FindWindow(\"QmFind child\", Empty) = core.FindWindow(\"QmFind child 2\", \"^Button$\"))\r\n");
  EXPECT_EQ("0|unmatched ()|0|unmatched []|0|regexp too big|True", out);
  EXPECT_NE(std::string::npos, LogText().find("Pattern ((QmFind): unmatched ()"));
  DestroyWindow(parent);

  // A window that does not answer within the time limit has the empty text.
  HWND hung = NULL;
  HANDLE thread = CreateThread(NULL, 0, HungWindowThread, &hung, 0, NULL);
  ASSERT_TRUE(PumpUntil([&] { return hung != NULL; }));
  out = Run("  main = core.FindWindow(\"QmHungWindow\", Empty) & \"|\" & core.FindWindow(\"^$\", \"^QmHungClass$\")\r\n");
  EXPECT_EQ("0|" + number(hung), out);
  WaitForSingleObject(thread, 10000);
  CloseHandle(thread);
}

// What a run leaves on its pooled thread is gone before the next run there:
// an impersonation the script did not revert (here set on the thread from
// outside, as Core's ImpersonateLoggedOnUser would) ends with the run.
// And a script whose core.Run has to wait for the pool (this thread's claim
// holds it while it finds no idle worker) keeps the stop request that was
// queued for it: the wait answers sent messages only.
TEST_F(CoreScriptTest, PooledRunsEndTheirImpersonationAndKeepTheirStopRequests) {
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "quick.vbs", "Function main(arg)\r\nEnd Function\r\n"));
  std::string flag = dir / "go";
  Script("waits.vbs", "  Dim fso, stopped, t, h, id\r\n"
                      "  Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
                      "  core.Print \"ready\"\r\n"
                      "  Do While Not fso.FileExists(\"" + flag + "\")\r\n"
                      "  Loop\r\n"
                      "  core.Run 2, \"quick.vbs\", \"\"\r\n"
                      "  t = core.SetTimer(500): stopped = False\r\n"
                      "  Do\r\n"
                      "    h = core.GetMessage(0, 0): id = core.GetMessageId(h): core.FreeHandle h\r\n"
                      "    If id = QMR_CTL_STOP Then stopped = True\r\n"
                      "  Loop Until id = WM_TIMER\r\n"
                      "  core.KillTimer TimerId16(t)\r\n"
                      "  core.Print \"stop request kept: \" & stopped\r\n");
  HANDLE workerThread = NULL;
  bool stopPosted = false;
  onPrint = [&](const std::string &text) {
    if (text == "ready") {
      // Wine asks for the right to set information where Windows asks for
      // the right to set the token: the handle has both.
      workerThread = OpenThread(THREAD_SET_THREAD_TOKEN | THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION, FALSE,
                                WorkerThread());
      HANDLE own = NULL, impersonation = NULL;
      ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, &own));
      ASSERT_TRUE(DuplicateToken(own, SecurityImpersonation, &impersonation));
      EXPECT_TRUE(SetThreadToken(&workerThread, impersonation)) << GetLastError();
      CloseHandle(impersonation);
      CloseHandle(own);
    } else if (text == "RunScript: No thread found in the pool, retrying..." && workerThread && !stopPosted) {
      // Inside the claim, which holds the pool for its passes.
      stopPosted = true;
      EXPECT_TRUE(PostMessageA(WorkerWindow(), QMR_CTL_STOP, 0, 0));
      EXPECT_TRUE(qmtest::WriteTextFile(flag, "go"));
    }
  };
  relay.entries.clear();
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_ASYNC | QMR_FLAG_POOLED, "waits.vbs", nullptr, nullptr));
  ASSERT_TRUE(PumpUntil([&] { return workerThread != NULL; }));
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_ASYNC | QMR_FLAG_POOLED, "quick.vbs", nullptr, nullptr));
  ASSERT_TRUE(stopPosted);
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 2; }));
  EXPECT_TRUE(Seen("stop request kept: True")) << Joined();
  HANDLE token = NULL;
  EXPECT_FALSE(OpenThreadToken(workerThread, TOKEN_QUERY, TRUE, &token)) << "the pooled thread is itself again";
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), GetLastError());
  if (token)
    CloseHandle(token);
  CloseHandle(workerThread);
}

// A script busy in its own work answers nothing until it looks at its
// messages; the stop request waits in its queue all the same.
TEST_F(CoreScriptTest, ABusyScriptFindsTheStopRequestWhenItLooks) {
  std::string flag = dir / "go";
  std::string out;
  bool busy = false;
  onPrint = [&](const std::string &text) { busy = busy || text == "busy"; };
  Script("busy.vbs", "  Dim fso, t, h, id\r\n"
                     "  Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
                     "  core.Print \"busy\"\r\n"
                     "  Do While Not fso.FileExists(\"" + flag + "\")\r\n"
                     "  Loop\r\n"
                     "  t = core.SetTimer(500): main = \"no stop request\"\r\n"
                     "  Do\r\n"
                     "    h = core.GetMessage(0, 0): id = core.GetMessageId(h): core.FreeHandle h\r\n"
                     "    If id = QMR_CTL_STOP Then main = \"stop request\"\r\n"
                     "  Loop Until id = WM_TIMER\r\n"
                     "  core.KillTimer TimerId16(t)\r\n");
  relay.entries.clear();
  MurrelContext *context = QMR_RunScript(QMR_FLAG_ASYNC, "busy.vbs", nullptr, nullptr);
  ASSERT_TRUE(context);
  ASSERT_TRUE(PumpUntil([&] { return busy; }));
  EXPECT_TRUE(QMR_Stop());
  ASSERT_TRUE(qmtest::WriteTextFile(flag, "go"));
  VARIANT value;
  VariantInit(&value);
  auto saved = relay.onMessage;
  relay.onMessage = [&](const RelayEntry &entry) {
    if (entry.message == RelayWindow::Exit() && QMR_GetReturnValue(context, &value) &&
        SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)))
      out = Narrow(V_BSTR(&value));
    saved(entry);
  };
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 1; }));
  relay.onMessage = saved;
  VariantClear(&value);
  EXPECT_EQ("stop request", out);
}

TEST_F(CoreScriptTest, ScriptsStartProgramsAndScripts) {
  std::string child = qmtest::ProgramDirectory() + "qmchild.exe";
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "echo.vbs", "Function main(arg)\r\n  main = \"got \" & arg\r\nEnd Function\r\n"));
  // A script written for the console host reads the run's limit as WScript.Timeout.
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "limit.vbs", "WScript.Quit WScript.Timeout\r\n"));
  EXPECT_EQ("42|-1|0|5|got x|-1|0|30", Run(
      "  main = core.CreateProcess(0, \"\"\"" + child + "\"\" exit 42\") & \"|\"\r\n"
      "  main = main & core.CreateProcess(0, \" ,, \") & \"|\"\r\n"
      "  main = main & core.CreateProcess(4, \"" + child + " exit 3\") & \"|\"\r\n"
      "  main = main & core.ShellExecute(0, \"\", \"" + child + "\", \"exit 5\") & \"|\"\r\n"
      "  main = main & core.Run(0, \"echo.vbs\", \"x\") & \"|\"\r\n"
      "  main = main & core.RevertToSelf() & \"|\" & core.Run(0, \"limit.vbs\", \"\")\r\n"
      "  core.SetTimeLimit 30\r\n"
      "  main = main & \"|\" & core.Run(0, \"limit.vbs\", \"\")\r\n"));
  EXPECT_TRUE(Seen("CreateProcess: The command line names no program")) << Joined();
}

// Every script example of the guide compiles in the real engines, as the
// reader will paste it: a fragment inside a procedure of its own, a whole
// script (one that defines procedures) as it is.
TEST_F(CoreScriptTest, EveryScriptExampleOfTheGuideCompiles) {
  std::vector<qmtest::GuideBlock> examples = qmtest::GuideBlocks("example");
  ASSERT_GE(examples.size(), 45u) << "the assembled guide beside the tests";
  const UINT load = RegisterWindowMessageA(QMR_MSG_LOAD);
  int number = 0;
  for (const qmtest::GuideBlock &example : examples) {
    bool jscript = example.classes.find("jscript") != std::string::npos;
    if (example.classes.find("powershell") != std::string::npos)
      continue;
    std::string text;
    for (char c : example.text)
      text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    bool whole = jscript ? text.find("function ") != std::string::npos
                         : text.find("Function ") == 0 || text.find("\nFunction ") != std::string::npos ||
                               text.find("Sub ") == 0 || text.find("\nSub ") != std::string::npos;
    if (!whole)
      text = jscript ? "function guideExample() {\r\n" + text + "\r\n}\r\n"
                     : "Sub GuideExample()\r\n" + text + "\r\nEnd Sub\r\n";
    std::string name = "example" + std::to_string(++number) + (jscript ? ".js" : ".vbs");
    ASSERT_TRUE(qmtest::WriteTextFile(dir / name, text));
    relay.entries.clear();
    MurrelContext *worker = QMR_Create(0);
    ASSERT_TRUE(worker);
    EXPECT_TRUE(QMR_Message(worker, RegisterWindowMessageA(QMR_MSG_STARTUP), 0, 10000));
    EXPECT_TRUE(QMR_Message(worker, load, GlobalAddAtomA(name.c_str()), 10000));
    qmtest::PumpPending();
    EXPECT_TRUE(Printed().empty()) << example.page << ":\n" << example.text << "\n" << Joined();
    EXPECT_TRUE(QMR_Message(worker, RegisterWindowMessageA(QMR_MSG_SHUTDOWN), 0, 10000));
    EXPECT_TRUE(QMR_Destroy(worker));
  }
}

// The failure values the reference states, from the one place the reference
// is made from, against the built library: each method with a cheap way to
// fail is made to fail.
TEST_F(CoreScriptTest, MethodsAnswerTheFailureValuesTheReferenceStates) {
  std::map<std::string, std::string> stated = qmtest::GuideFailureValues();
  ASSERT_GE(stated.size(), 40u) << "the assembled reference beside the tests";
  const std::vector<std::pair<std::string, std::string>> failing = {
      {"GetMessageId", "core.GetMessageId(987654)"},
      {"GetMessageWParam", "core.GetMessageWParam(987654)"},
      {"GetMessageLParam", "core.GetMessageLParam(987654)"},
      {"KillTimer", "core.KillTimer(12345)"},
      {"CheckTime", "core.CheckTime(1, False, \"\")"},
      {"GetEnvironmentVariable", "core.GetEnvironmentVariable(1, \"QM.NO_SUCH_VARIABLE\")"},
      {"CreateProcess", "core.CreateProcess(0, \"\")"},
      {"ShellExecute", "core.ShellExecute(0, \"\", \"\", \"\")"},
      {"CreateProcessAsUser", "core.CreateProcessAsUser(0, \"nobody\", \".\", \"\", \"cmd\")"},
      {"LogonUser", "core.LogonUser(\"\", \"\", \"\", 2, 0)"},
      {"ImpersonateLoggedOnUser", "core.ImpersonateLoggedOnUser(987654)"},
      {"FindWindow", "core.FindWindow(\"^no such window here$\", \"\")"},
      {"SetForegroundWindow", "core.SetForegroundWindow(0)"},
      {"NetScheduleJobGetInfoTime", "core.NetScheduleJobGetInfoTime(987654)"},
      {"NetScheduleJobGetInfoError", "core.NetScheduleJobGetInfoError(987654)"},
      {"NetScheduleJobGetInfoCommand", "core.NetScheduleJobGetInfoCommand(987654)"},
      {"NetScheduleJobGetInfoJobId", "core.NetScheduleJobGetInfoJobId(987654)"},
      {"NetScheduleJobEnumCount", "core.NetScheduleJobEnumCount(987654)"},
      {"NetScheduleJobEnumGet", "core.NetScheduleJobEnumGet(987654, 1)"},
      {"FtpConnect", "core.FtpConnect(\"127.0.0.1\", 1, \"user\", \"secret\")"},
      {"FtpCd", "core.FtpCd(987654, \"x\")"},
      {"FtpPut", "core.FtpPut(987654, \"a\", \"b\", True)"},
      {"FtpGet", "core.FtpGet(987654, \"a\", \"b\", True)"},
      {"FtpDel", "core.FtpDel(987654, \"x\")"},
      {"FtpRename", "core.FtpRename(987654, \"x\", \"y\")"},
      {"FtpMkDir", "core.FtpMkDir(987654, \"x\")"},
      {"FtpRmDir", "core.FtpRmDir(987654, \"x\")"},
      {"FtpTest", "core.FtpTest(987654, \"x\")"},
      {"FtpClose", "core.FtpClose(987654)"},
      {"FreeHandle", "core.FreeHandle(0)"},
      {"CronLastDue", "core.CronLastDue(\"61\", \"2026-12-01 00:00:00\", \"2026-12-02 00:00:00\")"},
      {"RecordSkippedRun", "core.RecordSkippedRun(\"\")"},
      {"CloseWindow", "core.CloseWindow(0)"},
  };
  std::string body, expected;
  for (const auto &call : failing) {
    ASSERT_EQ(1u, stated.count(call.first)) << "the reference states no failure value for " << call.first;
    std::string value = stated[call.first];
    value = value == "True" ? "-1" : value == "False" ? "0" : value == "\"\"" ? "" : value;
    body += "  main = main & \"" + call.first + "=\" & " + call.second + " & \"|\"\r\n";
    expected += call.first + "=" + value + "|";
  }
  EXPECT_EQ(expected, Run(body));
}

// --- the object and its registration, without scripts ---

class CoreObjectTest : public CoreScriptTest {};

TEST_F(CoreObjectTest, InterfacesAggregationAndDispatchFromTheTypeLibrary) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)));
  CLSID clsid;
  ASSERT_EQ(S_OK, CLSIDFromProgID(L"QuillmothLib.Core", &clsid));
  IDispatch *dispatch = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void **>(&dispatch)));
  EXPECT_EQ(S_FALSE, library->Call("DllCanUnloadNow")) << "an object is alive";
  IUnknown *other = nullptr;
  EXPECT_EQ(E_NOINTERFACE, dispatch->QueryInterface(IID_IClassFactory, reinterpret_cast<void **>(&other)));
  UINT count = 0;
  EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);

  const wchar_t *names[] = {L"CheckTime", L"SetForegroundWindow", L"getmessageid", L"NoSuchMethod"};
  DISPID ids[4];
  for (int i = 0; i < 4; ++i) {
    LPOLESTR name = const_cast<LPOLESTR>(names[i]);
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &ids[i]);
    EXPECT_EQ(i < 3 ? S_OK : DISP_E_UNKNOWNNAME, hr) << i;
  }
  EXPECT_EQ(2, ids[0]);
  EXPECT_EQ(46, ids[1]);
  EXPECT_EQ(17, ids[2]);

  VARIANT argument, result;
  VariantInit(&argument);
  VariantInit(&result);
  V_VT(&argument) = VT_I4;
  V_I4(&argument) = 0;
  DISPPARAMS params = {&argument, NULL, 1, 0};
  EXPECT_TRUE(SUCCEEDED(dispatch->Invoke(17, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                         NULL, NULL)));
  EXPECT_EQ(VT_I4, V_VT(&result));
  EXPECT_EQ(-1, V_I4(&result)) << "GetMessageId of 0";
  dispatch->Release();
  EXPECT_EQ(S_OK, library->Call("DllCanUnloadNow"));

  // Aggregated: only IUnknown may be asked for; the inner object's
  // interfaces count their references on the outer object.
  struct Outer : public IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **o) override {
      *o = nullptr;
      return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  } outer;
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void **>(&other)));
  IUnknown *inner = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void **>(&inner)));
  ASSERT_EQ(S_OK, inner->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&dispatch)));
  EXPECT_EQ(2u, outer.refs) << "the interface counts on the outer object";
  EXPECT_EQ(E_NOINTERFACE, dispatch->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&other)))
      << "its QueryInterface is the outer object's";
  dispatch->Release();
  EXPECT_EQ(1u, outer.refs);
  EXPECT_EQ(0u, inner->Release());
  EXPECT_EQ(S_OK, library->Call("DllCanUnloadNow"));

  IClassFactory *factory = nullptr;
  ASSERT_EQ(S_OK, CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, NULL, IID_IClassFactory,
                                   reinterpret_cast<void **>(&factory)));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  factory->Release();
  EXPECT_EQ(S_FALSE, library->Call("DllCanUnloadNow")) << "a factory lock keeps the library";
  ASSERT_EQ(S_OK, CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, NULL, IID_IClassFactory,
                                   reinterpret_cast<void **>(&factory)));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  factory->Release();
  EXPECT_EQ(S_OK, library->Call("DllCanUnloadNow"));
  CoUninitialize();
}

TEST(CoreRegistrationTest, TypeLibraryAndRegistryEntries) {
  Library library;
  ASSERT_TRUE(library.Module());
  std::wstring path;
  {
    wchar_t buffer[MAX_PATH];
    GetModuleFileNameW(library.Module(), buffer, MAX_PATH);
    path = buffer;
  }

  // The type library embedded in the DLL.
  ITypeLib *typeLib = nullptr;
  ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLib));
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(S_OK, typeLib->GetDocumentation(-1, &name, &doc, NULL, NULL));
  EXPECT_EQ("QuillmothLibLib", Narrow(name));
  EXPECT_EQ("QuillmothLib 1.0 Type Library", Narrow(doc));
  SysFreeString(name);
  SysFreeString(doc);
  IID iid;
  ASSERT_EQ(S_OK, IIDFromString(L"{638065EC-1781-4953-AB31-3FBD323ED7F7}", &iid));
  ITypeInfo *dispatchInfo = nullptr, *info = nullptr;
  ASSERT_EQ(S_OK, typeLib->GetTypeInfoOfGuid(iid, &dispatchInfo));
  HREFTYPE href = 0;
  ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeOfImplType(-1, &href)) << "a dual interface";
  ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeInfo(href, &info));
  TYPEATTR *attributes = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
  EXPECT_EQ(TKIND_INTERFACE, attributes->typekind);
  EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION,
            attributes->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION));
  EXPECT_EQ(51, attributes->cFuncs);
  EXPECT_EQ(58u * sizeof(void *), attributes->cbSizeVft) << "IUnknown, IDispatch and 51 methods";
  info->ReleaseTypeAttr(attributes);

  struct Row { const char *name; int params; VARTYPE last; };
  const Row table[51] = {
      {"Print", 1, VT_BSTR}, {"CheckTime", 4, VT_I4}, {"Run", 4, VT_VARIANT}, {"LogonUser", 6, VT_I4},
      {"ImpersonateLoggedOnUser", 2, VT_I4}, {"GetMessageLParam", 2, VT_I4}, {"CreateProcessAsUser", 6, VT_I4},
      {"RevertToSelf", 1, VT_I4}, {"ShellExecute", 5, VT_I4}, {"CreateProcess", 3, VT_I4},
      {"NetCreateProcessAsUser", 6, VT_I4}, {"NetCreateProcess", 4, VT_I4}, {"GetMessage", 3, VT_I4},
      {"SetTimer", 2, VT_I4}, {"KillTimer", 2, VT_I4}, {"GetMessageWParam", 2, VT_I4}, {"GetMessageId", 2, VT_I4},
      {"NetScheduleJobAddAsUser", 7, VT_I4}, {"NetScheduleJobAdd", 5, VT_I4}, {"NetScheduleJobDel", 4, VT_I4},
      {"NetScheduleJobGetInfo", 3, VT_I4}, {"FreeHandle", 2, VT_I4}, {"NetScheduleJobGetInfoTime", 2, VT_BSTR},
      {"NetScheduleJobGetInfoError", 2, VT_I4}, {"NetScheduleJobGetInfoCommand", 2, VT_BSTR},
      {"NetScheduleJobEnum", 2, VT_I4}, {"NetScheduleJobEnumCount", 2, VT_I4}, {"NetScheduleJobEnumGet", 3, VT_I4},
      {"NetScheduleJobGetInfoJobId", 2, VT_I4}, {"GetEnvironmentVariable", 3, VT_BSTR},
      {"SetEnvironmentVariable", 4, VT_I4}, {"DispatchMessage", 1, VT_I4}, {"DestroyCronContext", 3, VT_I4},
      {"PumpMessage", 3, VT_I4}, {"FtpCd", 3, VT_I4}, {"FtpClose", 2, VT_I4}, {"FtpConnect", 5, VT_I4},
      {"FtpDel", 3, VT_I4}, {"FtpGet", 5, VT_I4}, {"FtpMkDir", 3, VT_I4}, {"FtpPut", 5, VT_I4},
      {"FtpRmDir", 3, VT_I4}, {"FtpRename", 4, VT_I4}, {"FtpTest", 3, VT_I4}, {"FindWindow", 3, VT_I4},
      {"SetForegroundWindow", 2, VT_I4}, {"SetTimeLimit", 2, VT_I4}, {"LastOutcome", 1, VT_BSTR},
      {"CronLastDue", 4, VT_BSTR}, {"RecordSkippedRun", 2, VT_I4}, {"CloseWindow", 2, VT_I4}};
  for (UINT i = 0; i < 51; ++i) {
    FUNCDESC *func = nullptr;
    ASSERT_EQ(S_OK, info->GetFuncDesc(i, &func));
    BSTR funcName = nullptr, help = nullptr;
    info->GetDocumentation(func->memid, &funcName, &help, NULL, NULL);
    EXPECT_EQ(table[i].name, Narrow(funcName));
    std::string expectedHelp = std::string("method ") +
                               (i == 6 ? "CreateProcessAsUserInteractive" : table[i].name);
    // The methods added later say what they do after their name.
    EXPECT_EQ(expectedHelp, Narrow(help).substr(0, i < 46 ? std::string::npos : expectedHelp.size()));
    EXPECT_EQ(static_cast<MEMBERID>(i + 1), func->memid) << table[i].name;
    EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void *)), func->oVft) << table[i].name << " in slot " << 7 + i;
    EXPECT_EQ(table[i].params, func->cParams) << table[i].name;
    EXPECT_EQ(INVOKE_FUNC, func->invkind);
    VARTYPE last = func->lprgelemdescParam[func->cParams - 1].tdesc.vt;
    if (last == VT_PTR)
      last = func->lprgelemdescParam[func->cParams - 1].tdesc.lptdesc->vt;
    EXPECT_EQ(table[i].last, last) << table[i].name;
    SysFreeString(funcName);
    SysFreeString(help);
    info->ReleaseFuncDesc(func);
  }
  info->Release();
  dispatchInfo->Release();
  typeLib->Release();

  // Registration writes exactly the keys; unregistration removes the class
  // entries and the type library's, and leaves the parent keys.
  ASSERT_EQ(S_OK, library.Call("DllRegisterServer"));
  const HKEY cr = HKEY_CLASSES_ROOT;
  const std::string appId = "{526441F5-1EBD-439E-801D-6829AAC9761B}";
  EXPECT_EQ("QuillmothLib", qmtest::ReadRegistryText(cr, "AppID\\" + appId, ""));
  EXPECT_EQ(appId, qmtest::ReadRegistryText(cr, "AppID\\QuillmothLib.DLL", "AppID"));
  EXPECT_EQ("Core Class", qmtest::ReadRegistryText(cr, "QuillmothLib.Core.1", ""));
  EXPECT_EQ("{0C9CAF96-D5FC-456B-A150-A5AF3666DF30}", qmtest::ReadRegistryText(cr, "QuillmothLib.Core.1\\CLSID", ""));
  EXPECT_EQ("Core Class", qmtest::ReadRegistryText(cr, "QuillmothLib.Core", ""));
  EXPECT_EQ("{0C9CAF96-D5FC-456B-A150-A5AF3666DF30}", qmtest::ReadRegistryText(cr, "QuillmothLib.Core\\CLSID", ""));
  EXPECT_EQ("QuillmothLib.Core.1", qmtest::ReadRegistryText(cr, "QuillmothLib.Core\\CurVer", ""));
  std::string classKey = kClassKey;
  EXPECT_EQ("Core Class", qmtest::ReadRegistryText(cr, classKey, ""));
  EXPECT_EQ(appId, qmtest::ReadRegistryText(cr, classKey, "AppID"));
  EXPECT_EQ("QuillmothLib.Core.1", qmtest::ReadRegistryText(cr, classKey + "\\ProgID", ""));
  EXPECT_EQ("QuillmothLib.Core", qmtest::ReadRegistryText(cr, classKey + "\\VersionIndependentProgID", ""));
  EXPECT_TRUE(KeyExists(cr, classKey + "\\Programmable"));
  EXPECT_EQ(Narrow(path.c_str()), qmtest::ReadRegistryText(cr, classKey + "\\InprocServer32", ""));
  EXPECT_EQ("Apartment", qmtest::ReadRegistryText(cr, classKey + "\\InprocServer32", "ThreadingModel"));
  EXPECT_EQ("{5FC6C994-EFAB-4257-88DD-E023642501D4}", qmtest::ReadRegistryText(cr, classKey + "\\TypeLib", ""));
  EXPECT_TRUE(KeyExists(cr, "TypeLib\\{5FC6C994-EFAB-4257-88DD-E023642501D4}\\1.0"));
  EXPECT_TRUE(KeyExists(cr, "Interface\\{638065EC-1781-4953-AB31-3FBD323ED7F7}"));

  // A stale subkey in the class entry goes when the entry is written again.
  qmtest::WriteRegistryText(cr, classKey + "\\Stale", "", "x");
  ASSERT_EQ(S_OK, library.Call("DllRegisterServer"));
  EXPECT_FALSE(KeyExists(cr, classKey + "\\Stale"));

  EXPECT_EQ(S_OK, library.Call("DllUnregisterServer"));
  EXPECT_FALSE(KeyExists(cr, "QuillmothLib.Core.1"));
  EXPECT_FALSE(KeyExists(cr, "QuillmothLib.Core"));
  EXPECT_FALSE(KeyExists(cr, classKey));
  EXPECT_FALSE(KeyExists(cr, "TypeLib\\{5FC6C994-EFAB-4257-88DD-E023642501D4}"));
  EXPECT_FALSE(KeyExists(cr, "AppID\\" + appId));
  EXPECT_FALSE(KeyExists(cr, "AppID\\QuillmothLib.DLL"));
  EXPECT_TRUE(KeyExists(cr, "AppID"));
  EXPECT_TRUE(KeyExists(cr, "CLSID"));

  // The platform's own registration tool does the same.
  char system[MAX_PATH];
  GetSystemDirectoryA(system, sizeof system);
  std::string regsvr32 = std::string(system) + "\\regsvr32.exe";
  qmtest::ChildProcess registering;
  ASSERT_TRUE(registering.Start(regsvr32, "/s \"" + Narrow(path.c_str()) + "\""));
  DWORD code = 1;
  EXPECT_TRUE(registering.WaitExit(30000, &code));
  EXPECT_EQ(0u, code);
  EXPECT_EQ(Narrow(path.c_str()), qmtest::ReadRegistryText(cr, classKey + "\\InprocServer32", ""));
  qmtest::ChildProcess unregistering;
  ASSERT_TRUE(unregistering.Start(regsvr32, "/s /u \"" + Narrow(path.c_str()) + "\""));
  EXPECT_TRUE(unregistering.WaitExit(30000, &code));
  EXPECT_EQ(0u, code);
  EXPECT_FALSE(KeyExists(cr, classKey));
}

} // namespace
