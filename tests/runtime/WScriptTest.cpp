// Scripts written for the console script host run unchanged in the pool:
// each is run pooled and under the prefix's cscript.exe, and the pool must
// print what cscript prints and end with its exit code. Then what only the
// pool has: a stop during Sleep, main beside WScript, and the error in
// JScript global code that once took the program down.
#include "RuntimeFixture.h"

using qmtest::BothHostsTest;
using qmtest::IsDone;
using qmtest::PumpUntil;
using qmtest::RelayWindow;
using qmtest::RuntimeTest;

namespace {

const char kStdErrMark[] = "StdErr: ";

// Every member a script of this kind uses, each printed.
const char kMembers[] =
    "Option Explicit\r\n"
    "Dim a, n, u, fso, o\r\n"
    "WScript.Echo \"echo\", 1, 2.5, \"x\"\r\n"
    "WScript.Echo\r\n"
    "WScript.Echo WScript.Arguments.Count, WScript.Arguments.Length\r\n"
    "For Each a In WScript.Arguments\r\n"
    "  WScript.Echo \"each\", a\r\n"
    "Next\r\n"
    "WScript.Echo WScript.Arguments(0) & \"|\" & WScript.Arguments.Item(1)\r\n"
    "Set u = WScript.Arguments.Unnamed\r\n"
    "WScript.Echo u.Count, u.Length, u(1)\r\n"
    "For Each a In u: WScript.Echo \"unnamed\", a: Next\r\n"
    "WScript.Echo WScript.ScriptName, WScript.ScriptFullName\r\n"
    "WScript.Echo LCase(WScript.FullName), LCase(WScript.Path)\r\n"
    "WScript.Echo TypeName(WScript.Name), TypeName(WScript.Version), TypeName(WScript.BuildVersion)\r\n"
    "WScript.Echo \"timeout\", WScript.Timeout\r\n"
    "Set fso = WScript.CreateObject(\"Scripting.FileSystemObject\")\r\n"
    "WScript.Echo \"exists\", CStr(fso.FileExists(WScript.ScriptFullName))\r\n"
    "WScript.Sleep 20\r\n"
    "WScript.StdOut.Write \"part \"\r\n"
    "WScript.StdOut.Write \"line\" & vbCrLf\r\n"
    "WScript.StdOut.WriteLine \"whole\"\r\n"
    "WScript.StdOut.WriteBlankLines 2\r\n"
    "WScript.StdErr.WriteLine \"to stderr\"\r\n"
    "On Error Resume Next\r\n"
    "Set o = WScript.CreateObject(\"No.Such.Object\")\r\n"
    "WScript.Echo \"no such object\", CStr(Err.Number <> 0)\r\n"
    "Err.Clear\r\n"
    "a = WScript.Arguments(99)\r\n"
    "WScript.Echo \"out of range\", CStr(Err.Number <> 0)\r\n"
    "On Error GoTo 0\r\n"
    "WScript.Quit 3\r\n";

const char kNamed[] =
    "Dim n, a\r\n"
    "Set n = WScript.Arguments.Named\r\n"
    "WScript.Echo n.Count, n.Length, CStr(n.Exists(\"SRC\")), CStr(n.Exists(\"nope\")), n(\"src\"), n.Item(\"N\")\r\n"
    "WScript.Echo CStr(IsEmpty(n(\"v\"))), CStr(n.Exists(\"v\"))\r\n"
    "For Each a In n: WScript.Echo \"named\", a: Next\r\n";

// Quit from inside a procedure, behind On Error Resume Next: nothing after it
// is carried out.
const char kQuitFromSub[] =
    "On Error Resume Next\r\n"
    "Sub Finish(code)\r\n"
    "  WScript.Echo \"finishing\"\r\n"
    "  WScript.Quit code\r\n"
    "  WScript.Echo \"not after quit\"\r\n"
    "End Sub\r\n"
    "WScript.Echo \"start\"\r\n"
    "Finish 7\r\n"
    "WScript.Echo \"not after the sub\"\r\n";

// JScript's names in any case, the default member with an index, an
// Enumerator over the collection, and Quit from a loop in a function.
const char kJScript[] =
    "var args = WScript.Arguments;\r\n"
    "WScript.echo(args.length, args.Count(), args(0), args.Item(1));\r\n"
    "WScript.Echo(WScript.arguments.unnamed.length, WScript.Arguments.Unnamed(0));\r\n"
    "for (var e = new Enumerator(args); !e.atEnd(); e.moveNext())\r\n"
    "  WScript.Echo('each', e.item());\r\n"
    "WScript.StdOut.WriteLine(WScript.scriptName);\r\n"
    "function work() {\r\n"
    "  for (var i = 0; ; i++)\r\n"
    "    if (i == 3)\r\n"
    "      WScript.Quit(i + 1);\r\n"
    "}\r\n"
    "work();\r\n"
    "WScript.Echo('not after quit');\r\n";

// A script without Quit: its code 0.
const char kPlain[] = "WScript.Echo \"plain\"\r\n";

std::string Utf16File(const std::u16string &text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

class WScriptTest : public BothHostsTest {
protected:
  // Runs the script in the pool: its printed lines (error output unmarked,
  // *errorLines counting the marked ones), and the run's result.
  long Pooled(const std::string &name, const std::string &arguments, std::vector<std::string> *lines,
              int *errorLines = nullptr) {
    relay.entries.clear();
    VARIANT value;
    VariantInit(&value);
    MurrelContext *context = QMR_RunScript(QMR_FLAG_POOLED, name.c_str(), arguments.c_str(), &value);
    EXPECT_TRUE(context) << name;
    qmtest::PumpPending();
    lines->clear();
    int marked = 0;
    for (const qmtest::RelayEntry &entry : relay.entries) {
      if (entry.message != RelayWindow::Print() || entry.lParam != 0)
        continue;
      std::string text = entry.text;
      if (text.rfind(kStdErrMark, 0) == 0) {
        text = text.substr(strlen(kStdErrMark));
        ++marked;
      }
      lines->push_back(text);
    }
    if (errorLines)
      *errorLines = marked;
    long code = -1;
    if (V_VT(&value) == VT_I4)
      code = V_I4(&value);
    VariantClear(&value);
    return code;
  }
};

// Wine's cscript.exe reports no script error and ends with code 0 at the
// first member it lacks (Echo without arguments, StdOut, StdErr, Unnamed,
// Named, FullName, enumerating Arguments): what it printed is then the
// beginning of what Windows prints.
bool WineStopsEarly(const std::vector<std::string> &console, int code, const std::vector<std::string> &windows) {
  return code == 0 && console.size() < windows.size() && std::equal(console.begin(), console.end(), windows.begin());
}

struct ConsoleCase {
  const char *name;
  std::string text;
  const char *arguments;
  std::vector<std::string> lines; // what the console host prints on Windows
  long code;
};

TEST_P(WScriptTest, ScriptsPrintAndEndAsUnderTheConsoleHost) {
  Script("StdLib.js", "function Bracket(s) { return s; }\r\n");
  std::string members = dir / "members.vbs";
  ConsoleCase cases[] = {
      {"members.vbs", kMembers, "one \"two words\" /src:C:\\in three",
       {"echo 1 2.5 x", "", "4 4", "each one", "each two words", "each /src:C:\\in", "each three", "one|two words",
        "3 3 two words", "unnamed one", "unnamed two words", "unnamed three", "members.vbs " + members,
        "c:\\windows\\system32\\cscript.exe c:\\windows\\system32", "String String Long", "timeout 0",
        "exists True", "part line", "whole", "", "", "to stderr", "no such object True", "out of range True"},
       3},
      {"quitsub.vbs", kQuitFromSub, "", {"start", "finishing"}, 7},
      {"args.js", kJScript, "a \"b c\" /flag:on",
       {"3 3 a b c", "2 a", "each a", "each b c", "each /flag:on", "args.js"}, 4},
      {"plain.vbs", kPlain, "", {"plain"}, 0},
      // Two characters, one outside every ANSI code page.
      {"utf16.vbs", Utf16File(u"s = \"\u0416\u00E9\"\r\nWScript.Echo Len(s)\r\nWScript.Quit 5\r\n"), "x", {"2"}, 5},
  };
  for (const ConsoleCase &c : cases) {
    Script(c.name, c.text);
    std::vector<std::string> pooled, console;
    int errorLines = 0;
    EXPECT_EQ(c.code, Pooled(c.name, c.arguments, &pooled, &errorLines)) << c.name;
    EXPECT_EQ(c.lines, pooled) << c.name;
    EXPECT_EQ(std::string(c.name) == "members.vbs" ? 1 : 0, errorLines) << c.name << ": error output is marked";
    int consoleCode = qmtest::RunUnderConsoleHost(dir / c.name, c.arguments, &console);
    EXPECT_TRUE((console == c.lines && consoleCode == c.code) ||
                qmtest::WineDiffers(WineStopsEarly(console, consoleCode, c.lines),
                                    "Wine's cscript lacks members and ends silently at the first"))
        << c.name << ": cscript printed " << ::testing::PrintToString(console) << " and ended with " << consoleCode;
  }
  qmtest::PumpFor(50);
  EXPECT_EQ(0u, Count(RelayWindow::Error())) << "no run failed";
}

TEST_P(WScriptTest, NamedArgumentsAreFoundByName) {
  Script("named.vbs", kNamed);
  const char arguments[] = "/src:C:\\in /v /n:1 plain /N:2";
  std::vector<std::string> pooled, console;
  EXPECT_EQ(0, Pooled("named.vbs", arguments, &pooled));
  const std::vector<std::string> windows = {"3 3 True False C:\\in 2", "True True", "named src", "named v",
                                            "named n"};
  EXPECT_EQ(windows, pooled);
  int consoleCode = qmtest::RunUnderConsoleHost(dir / "named.vbs", arguments, &console);
  EXPECT_TRUE((console == windows && consoleCode == 0) ||
              qmtest::WineDiffers(WineStopsEarly(console, consoleCode, windows), "Wine's cscript has no Named"))
      << ::testing::PrintToString(console);
}

INSTANTIATE_TEST_SUITE_P(Hosts, WScriptTest, ::testing::Values("ActiveScript", "ScriptControl"), qmtest::HostNameOf);

TEST_F(RuntimeTest, TopLevelErrorsAreReportsAndStopsEndSleep) {
  // An error in JScript global code is the run's report, as cscript reports
  // it; the program goes on (this once faulted inside the engine).
  Script("StdLib.js", "function Bracket(s) { return s; }\r\n");
  Script("crash.js", "var r = new ActiveXObject(\"Scripting.FileSystemObject\");\r\n"
                     "r.FileExists(NoSuchThing.Arguments(0));\r\n");
  EXPECT_TRUE(IsDone(QMR_RunScript(0, "crash.js", NULL, NULL)));
  qmtest::PumpFor(50);
  std::vector<std::string> console;
  int consoleCode = qmtest::RunUnderConsoleHost(dir / "crash.js", "", &console);
  EXPECT_TRUE((!console.empty() && console[0].find("NoSuchThing") != std::string::npos && consoleCode != 0) ||
              qmtest::WineDiffers(console.empty() && consoleCode == 0, "Wine's cscript reports no script error"))
      << ::testing::PrintToString(console) << " " << consoleCode;
  EXPECT_TRUE(TextSeen("Error: 'NoSuchThing' is undefined, ; in line 2"));
  EXPECT_EQ(1u, Count(RelayWindow::Error()));

  // Main beside WScript: the argument text reaches both; Quit in main is
  // the result; a UTF-8 file with its mark is read as UTF-8.
  Script("withmain.vbs", "\xEF\xBB\xBFWScript.Echo \"global \" & WScript.Arguments.Count\r\n"
                         "Function main(x)\r\n  WScript.Echo \"main \" & x & \" \" & Len(\"\xC3\xA9\")\r\n"
                         "  WScript.Quit 9\r\nEnd Function\r\n");
  VARIANT value;
  VariantInit(&value);
  relay.entries.clear();
  ASSERT_TRUE(IsDone(QMR_RunScript(0, "withmain.vbs", "a b", &value)));
  qmtest::PumpFor(50);
  EXPECT_TRUE(TextSeen("global 2"));
  EXPECT_TRUE(TextSeen("main a b 1")) << "one character in UTF-8";
  ASSERT_EQ(VT_I4, V_VT(&value));
  EXPECT_EQ(9, V_I4(&value));
  EXPECT_EQ(0u, Count(RelayWindow::Error()));

  // What the pool answers of itself, where it is not the console host:
  // never interactive, no input, no event sinks.
  Script("pool.vbs", "WScript.Echo CStr(WScript.Interactive), WScript.Timeout, CStr(WScript.StdIn.AtEndOfStream)\r\n"
                     "WScript.Interactive = True\r\nWScript.Echo CStr(WScript.Interactive)\r\n"
                     "On Error Resume Next\r\nWScript.ConnectObject WScript, \"x_\"\r\n"
                     "WScript.Echo Err.Description\r\n");
  relay.entries.clear();
  ASSERT_TRUE(IsDone(QMR_RunScript(0, "pool.vbs", "", NULL)));
  qmtest::PumpFor(50);
  EXPECT_TRUE(TextSeen("False 0 True"));
  EXPECT_TRUE(TextSeen("False")) << "setting Interactive changes nothing";
  EXPECT_TRUE(TextSeen("Event sinks are not available to pooled scripts (ConnectObject, CreateObject with a prefix)."));

  // A stop while the script sleeps ends it as Quit would; the history says
  // it was stopped.
  Script("sleeper.vbs", "WScript.Echo \"sleeping\"\r\nWScript.Sleep 60000\r\nWScript.Echo \"woke\"\r\n");
  relay.entries.clear();
  ASSERT_TRUE(QMR_RunScript(QMR_FLAG_ASYNC, "sleeper.vbs", NULL, NULL));
  ASSERT_TRUE(PumpUntil([&] { return TextSeen("sleeping"); }));
  EXPECT_TRUE(QMR_Stop());
  ASSERT_TRUE(PumpUntil([&] { return Count(RelayWindow::Exit()) == 1; }, 10000))
      << "the sleep ended at the stop: " << ::testing::PrintToString(relay.Texts());
  EXPECT_FALSE(TextSeen("woke"));
  EXPECT_EQ(0u, Count(RelayWindow::Error()));
  char folder[MAX_PATH] = "";
  ASSERT_TRUE(QMR_GetDataFolder(folder, sizeof folder, TRUE));
  std::string records;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((std::string(folder) + "History\\*.csv").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  do
    records += qmtest::ReadTextFile(std::string(folder) + "History\\" + found.cFileName);
  while (FindNextFileA(find, &found));
  FindClose(find);
  std::string sleeper;
  for (const std::string &line : qmtest::OutputLines(records))
    if (line.find("sleeper.vbs") != std::string::npos && line.find(dir.Path()) != std::string::npos)
      sleeper = line;
  EXPECT_NE(std::string::npos, sleeper.find(",stopped,")) << sleeper;
}

} // namespace
