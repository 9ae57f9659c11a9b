// The Core object in the running program: Quillmoth.exe as a desktop
// application under Wine, with QuillmothLib.dll registered in the test
// prefix. Its scripts print through the console; the Stop button ends their
// message loops.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ProgramUnderTest.h"
#include "WineTestSupport.h"

using qmtest::WaitUntil;

namespace {

enum { IDC_STOP = 1001, IDC_ABOUT = 1005, IDC_COUNT = 1081 };



std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

const char kTicks[] =
    "Function main(x)\r\n"
    "  Dim core, timer, h, running\r\n"
    "  Set core = NewCore()\r\n"
    "  core.DestroyCronContext 1, 1\r\n"
    "  timer = core.SetTimer(200)\r\n"
    "  running = True\r\n"
    "  Do While running\r\n"
    "    h = core.GetMessage(0, 0)\r\n"
    "    Select Case core.GetMessageId(h)\r\n"
    "      Case WM_TIMER\r\n"
    "        If core.CheckTime(1, False, \"* * * * * * * *\") Then core.Print \"tick \" & FormatIsoTime(Now)\r\n"
    "      Case QMR_CTL_STOP, QMR_CTL_QUIT\r\n"
    "        running = False\r\n"
    "      Case Else\r\n"
    "        core.DispatchMessage h\r\n"
    "    End Select\r\n"
    "    core.FreeHandle h\r\n"
    "  Loop\r\n"
    "  core.KillTimer TimerId16(timer)\r\n"
    "  core.Print \"ticks stopped\"\r\n"
    "End Function\r\n";

TEST(CoreInTheProgram, ScriptsPrintEachFiringUntilStopIsPressed) {
  qmtest::ProgramUnderTest program("core-program");
  ASSERT_TRUE(program.Prepared());
  ASSERT_TRUE(qmtest::WriteTextFile(program.Folder() + "Scripts\\ticks.vbs", kTicks));
  ASSERT_TRUE(program.Start("-load \"" + program.Folder() + "Scripts\\ticks.vbs\""));
  HWND console = program.Console();
  auto output = [&] { return program.Output(); };
  auto ticks = [&] {
    size_t n = 0;
    for (const std::string &line : Lines(output()))
      n += line.rfind("tick ", 0) == 0;
    return n;
  };
  EXPECT_TRUE(WaitUntil([&] { return output().find("Quillmoth started at ") != std::string::npos; }))
      << "the shipped AutoRun.vbs reached the console through Core: " << output();
  EXPECT_TRUE(WaitUntil([&] { return ticks() >= 3; })) << output();

  SendMessageA(GetDlgItem(console, IDC_STOP), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil([&] {
    std::string text = output();
    return text.find("ticks stopped") != std::string::npos && text.find("AutoRun.vbs stopped") != std::string::npos;
  })) << "both loops ended on the stop request: " << output();
  EXPECT_TRUE(WaitUntil([&] { return qmtest::ControlText(console, IDC_COUNT) == "0"; }));

  std::set<std::string> seen;
  for (const std::string &line : Lines(output())) {
    if (line.rfind("tick ", 0) == 0) {
      EXPECT_TRUE(seen.insert(line).second) << "one line per firing, once a second: " << line;
    }
  }
  EXPECT_EQ(std::string::npos, output().find("Error")) << output();
  EXPECT_TRUE(program.Stop());
}

// The loop goes through the shipped StdLib.js's NextTick, which waits on
// GetMessage.
const char kJsTicks[] =
    "function main(x) {\r\n"
    "  var core = NewCore();\r\n"
    "  core.DestroyCronContext(1, 1);\r\n"
    "  var timer = core.SetTimer(200);\r\n"
    "  var state = { suspended: false };\r\n"
    "  while (NextTick(core, state))\r\n"
    "    if (core.CheckTime(1, false, \"* * * * * * * *\") && !state.suspended)\r\n"
    "      core.Print(\"tick \" + FormatIsoTime(new Date()));\r\n"
    "  core.KillTimer(TimerId16(timer));\r\n"
    "  core.Print(\"ticks stopped\");\r\n"
    "}\r\n";

// A JScript AutoRun (there is no AutoRun.vbs) runs its schedule in the
// program, with VBScript present and with its engine unregistered.
class JScriptInTheProgram : public ::testing::TestWithParam<bool> {};

TEST_P(JScriptInTheProgram, AutoRunFiresOnScheduleUntilStop) {
  const bool withoutVBScript = GetParam();
  std::unique_ptr<qmtest::HiddenProgId> hidden;
  if (withoutVBScript) {
    hidden.reset(new qmtest::HiddenProgId("VBScript"));
    ASSERT_TRUE(hidden->WasRegistered());
  }

  qmtest::ProgramUnderTest program("js-program");
  ASSERT_TRUE(program.Prepared());
  const std::string scripts = program.Folder() + "Scripts\\";
  ASSERT_TRUE(DeleteFileA((scripts + "AutoRun.vbs").c_str())) << "AutoRun.js runs where there is no AutoRun.vbs";
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "AutoRun.js", kJsTicks));
  // The second script also uses the shipped StdLib.js's helpers.
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "second.js",
                                    "function main(x) {\r\n"
                                    "  var core = NewCore();\r\n"
                                    "  LogLine(core, ProcessVariable(\"QM.ROOT_DIR\") + \"second.log\", \"second\",\r\n"
                                    "          \"ran \" + IsCount(\"123\") + IsCount(\"12a\") + IsCount(\"1234567890\") +\r\n"
                                    "          \" \" + ScriptSetting(core, \"second\", \"UNSET\", \"fallback\"));\r\n"
                                    "}\r\n"));

  ASSERT_TRUE(program.Start("-load \"" + scripts + "second.js\""));
  HWND console = program.Console();
  auto output = [&] { return program.Output(); };
  auto count = [&](const std::string &prefix) {
    size_t n = 0;
    for (const std::string &line : Lines(output()))
      n += line.rfind(prefix, 0) == 0;
    return n;
  };
  EXPECT_TRUE(WaitUntil([&] { return count("tick ") >= 3; })) << output();
  EXPECT_TRUE(WaitUntil([&] { return count("second: ran truefalsefalse fallback") == 1; })) << output();
  EXPECT_NE(std::string::npos, qmtest::ReadTextFile(program.Folder() + "second.log").find("  ran truefalsefalse fallback"))
      << "the line is in the log file too";
  SendMessageA(GetDlgItem(console, IDC_STOP), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return count("ticks stopped") == 1; })) << output();
  EXPECT_TRUE(WaitUntil([&] { return qmtest::ControlText(console, IDC_COUNT) == "0"; }));

  std::string text = output();
  if (withoutVBScript) {
    EXPECT_EQ(1u, count("Error: VBScript is not installed on this computer. Add the optional Windows feature "
                        "\"VBScript\""))
        << "told once, though two workers met it: " << text;
    EXPECT_EQ(1u, count("Error")) << text;
  } else {
    EXPECT_EQ(std::string::npos, text.find("Error")) << text;
  }

  EXPECT_TRUE(program.Stop());
}

INSTANTIATE_TEST_SUITE_P(VBScript, JScriptInTheProgram, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "Missing" : "Present");
                         });

// The whole scripts of the guide (those that define main) run in the program
// beside the shipped AutoRun, and end when Stop is pressed, without an error.
TEST(CoreInTheProgram, TheGuidesWholeScriptsRunUntilStopIsPressed) {
  size_t run = 0;
  for (const qmtest::GuideBlock &example : qmtest::GuideBlocks("example")) {
    bool jscript = example.classes.find("jscript") != std::string::npos;
    if (example.text.find(jscript ? "function main(" : "Function main(") == std::string::npos)
      continue;
    qmtest::ProgramUnderTest program("guide-script");
    ASSERT_TRUE(program.Prepared());
    std::string file = program.Folder() + "Scripts\\example" + (jscript ? ".js" : ".vbs");
    std::string text;
    for (char c : example.text)
      text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(qmtest::WriteTextFile(file, text));
    ASSERT_TRUE(program.Start("-load \"" + file + "\""));
    HWND console = program.Console();
    EXPECT_TRUE(WaitUntil([&] { return qmtest::ControlText(console, IDC_COUNT) == "2"; }))
        << example.page << ": the example runs beside AutoRun: " << program.Output();
    SendMessageA(GetDlgItem(console, IDC_STOP), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return qmtest::ControlText(console, IDC_COUNT) == "0"; }))
        << example.page << ": the example ends on the stop request: " << program.Output();
    EXPECT_EQ(std::string::npos, program.Output().find("Error")) << example.page << ": " << program.Output();
    EXPECT_TRUE(program.Stop());
    ++run;
  }
  EXPECT_GE(run, 2u) << "the assembled guide beside the tests";
}

// -load carries the script's argument text after its name; a script written
// for the console host reads it as WScript.Arguments.
TEST(CoreInTheProgram, LoadHandsTheTextAfterTheScriptsNameToItsArguments) {
  qmtest::ProgramUnderTest program("load-arguments");
  ASSERT_TRUE(program.Prepared());
  ASSERT_TRUE(qmtest::WriteTextFile(program.Folder() + "Scripts\\args.vbs",
                                    "WScript.Echo \"to \" & WScript.Arguments.Named(\"to\") & \", first \" & "
                                    "WScript.Arguments.Unnamed(0) & \", count \" & WScript.Arguments.Count\r\n"));
  ASSERT_TRUE(program.Start("-load \"args.vbs /to:D:\\x one\""));
  EXPECT_TRUE(WaitUntil([&] { return program.Output().find("to D:\\x, first one, count 2") != std::string::npos; }))
      << program.Output();
  EXPECT_TRUE(program.Stop());
}

struct WindowSearch {
  DWORD id;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOfProcess(HWND window, LPARAM param) {
  WindowSearch *search = reinterpret_cast<WindowSearch *>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->id)
    search->found.push_back(window);
  return TRUE;
}

// The windows of another process: top-level ones and message-only ones.
std::vector<HWND> WindowsOf(DWORD processId) {
  WindowSearch search = {processId, {}};
  EnumWindows(CollectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
  for (HWND window = FindWindowExA(HWND_MESSAGE, NULL, NULL, NULL); window;
       window = FindWindowExA(HWND_MESSAGE, window, NULL, NULL)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId)
      search.found.push_back(window);
  }
  return search.found;
}

std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Every registered message of the program and the four fixed ones, posted
// with random parameters from this process to its console, relay and worker
// windows: the program keeps running and answering.
TEST(CoreInTheProgram, ForgedMessagesFromAnotherProcessCrashNothing) {
  qmtest::ProgramUnderTest program("core-forged");
  ASSERT_TRUE(program.Prepared());
  const std::string scripts = program.Folder() + "Scripts\\";
  // AutoRun waits a few seconds (ticks.vbs gets a worker of its own), then
  // ends: its worker waits idle in the pool, where a forged run request
  // would start it again.
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "AutoRun.vbs",
                                    "Sub main(x)\r\n  Dim core, h, id: Set core = NewCore()\r\n  core.SetTimer 3000\r\n"
                                    "  Do\r\n    h = core.GetMessage(0, 0): id = core.GetMessageId(h): core.FreeHandle h\r\n"
                                    "  Loop Until id = WM_TIMER Or id = QMR_CTL_STOP Or id = QMR_CTL_QUIT\r\n"
                                    "  core.Print \"autorun ran [\" & x & \"]\"\r\nEnd Sub\r\n"));
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "ticks.vbs", kTicks));

  ASSERT_TRUE(program.Start("-load \"" + scripts + "ticks.vbs\""));
  HWND console = program.Console();
  auto output = [&] { return program.Output(); };
  ASSERT_TRUE(WaitUntil([&] { return output().find("tick ") != std::string::npos; })) << output();
  ASSERT_TRUE(WaitUntil([&] { return output().find("autorun ran [") != std::string::npos; })) << output();

  std::vector<HWND> targets;
  std::vector<DWORD> workerThreads;
  int workers = 0, relays = 0;
  for (HWND window : WindowsOf(program.ProcessId())) {
    std::string cls = ClassOf(window);
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    bool worker = cls.rfind("WORKER:", 0) == 0;
    bool relay = std::string(title).find(":Relay") != std::string::npos;
    if (window == console || worker || relay)
      targets.push_back(window);
    if (worker)
      workerThreads.push_back(GetWindowThreadProcessId(window, NULL));
    workers += worker;
    relays += relay;
  }
  ASSERT_GE(workers, 2) << "AutoRun.vbs and ticks.vbs each run on a worker";
  ASSERT_EQ(1, relays);

  // WM_SHUTDOWN is left out: it is the program's own stop request.
  const char *names[] = {"QMR_STARTUP", "QMR_LOAD",  "QMR_RUN",   "QMR_SHUTDOWN", "QMR_RESET",
                         "QMR_EMPTY_POOL", "QMR_HANDLE", "QMR_EXIT", "QMR_ERROR", "QMR_THREAD",
                         "QMR_PRINT", "RELAY_PING", "WM_RUNONCE", "WM_AUTORUN", "WM_NOTIFYICON",
                         "RM_LINK_CLICK"};
  std::vector<UINT> messages = {1229, 1230, 1231, 1232};
  for (const char *name : names)
    messages.push_back(RegisterWindowMessageA(name));
  uint32_t seed = 12092026;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed;
  };
  const WPARAM special[] = {0, 1, static_cast<WPARAM>(-1), 0xC000, 0xFFFF, 0x7FFFFFFF};
  int posted = 0;
  for (int round = 0; round < 12; ++round) {
    for (UINT message : messages) {
      for (HWND window : targets) {
        WPARAM wParam = round < 6 ? special[round] : static_cast<WPARAM>(next());
        LPARAM lParam = round < 6 ? static_cast<LPARAM>(special[5 - round]) : static_cast<LPARAM>(next());
        posted += PostMessageA(window, message, wParam, lParam) ? 1 : 0;
      }
      // The workers' own queues are open to every program too.
      for (DWORD thread : workerThreads) {
        WPARAM wParam = round < 6 ? special[round] : static_cast<WPARAM>(next());
        if (round == 0)
          wParam = GlobalAddAtomA("forged");
        posted += PostThreadMessageA(thread, message, wParam, static_cast<LPARAM>(next())) ? 1 : 0;
      }
    }
    Sleep(50);
  }
  EXPECT_GT(posted, 100);

  // The console's thread (the relay's too) has handled the storm once a
  // command posted after it has opened the About box.
  PostMessageA(console, WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED), 0);
  HWND about = qmtest::WaitForWindow(program.ProcessId(), "#32770", "About Quillmoth", 30000);
  ASSERT_TRUE(about) << "the console handled the messages posted before";
  // Closed by the command its button sends: a posted BM_CLICK needs the
  // button to take the focus first, which a busy desktop may refuse.
  PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(about, IDOK)));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }));

  // Still alive and answering: the process runs, the relay answers its ping,
  // the console its text.
  DWORD code = 0;
  ASSERT_TRUE(program.Running(&code)) << "the program ended with " << std::hex << code;
  HWND relay = NULL;
  for (HWND window : targets) {
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    if (std::string(title).find(":Relay") != std::string::npos)
      relay = window;
  }
  DWORD_PTR reply = 0;
  EXPECT_TRUE(SendMessageTimeoutA(relay, RegisterWindowMessageA("RELAY_PING"), 0, 0, SMTO_ABORTIFHUNG, 5000, &reply));
  EXPECT_EQ(0xDEADBEEFu, static_cast<DWORD>(reply));
  EXPECT_FALSE(output().empty());
  for (HWND window : targets)
    EXPECT_TRUE(IsWindow(window)) << "a window of the program was ended by a forged message";

  // And the pool still works: AutoRun, changed to say so at once and asked
  // for again, is served.
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "AutoRun.vbs",
                                    "Sub main(x)\r\n  NewCore().Print \"autorun after the storm [\" & x & \"]\"\r\nEnd Sub\r\n"));
  PostMessageA(console, RegisterWindowMessageA("WM_AUTORUN"), 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return output().find("autorun after the storm [") != std::string::npos; })) << output();
  EXPECT_TRUE(program.Running(&code)) << "the program ended with " << std::hex << code;
  // No forged request was obeyed: the workers refused them, and none ran
  // AutoRun with a forged argument.
  std::string log = qmtest::ReadTextFile(program.Folder() + "Quillmoth.log");
  EXPECT_NE(std::string::npos, log.find("Ignored message ")) << "a worker refused a forged request";
  EXPECT_EQ(std::string::npos, output().find("autorun ran [forged")) << output();
  EXPECT_EQ(std::string::npos, output().find("autorun ran []")) << output();

  if (!program.Stop()) {
    std::string log = qmtest::ReadTextFile(program.Folder() + "Quillmoth.log");
    ADD_FAILURE() << "the program did not end; its log ends with:\n"
                  << log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
  }
}

} // namespace
