// The Core object in the running program: Quillmoth.exe as a desktop
// application under Wine, with QuillmothLib.dll registered in the test
// prefix. Its scripts print through the console; the Stop button ends their
// message loops.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>

#include "WineTestSupport.h"

using qmtest::WaitUntil;

namespace {

enum { IDC_STOP = 1001, IDC_OUTPUT = 1003, IDC_COUNT = 1081 };

typedef HRESULT(STDAPICALLTYPE *RegisterFn)();

HRESULT CallExport(HMODULE module, const char *name) {
  RegisterFn fn = module ? reinterpret_cast<RegisterFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                         : nullptr;
  return fn ? fn() : E_FAIL;
}


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
  std::string bin = qmtest::ProgramDirectory();
  HMODULE library = LoadLibraryA((bin + "QuillmothLib.dll").c_str());
  ASSERT_EQ(S_OK, CallExport(library, "DllRegisterServer"));

  qmtest::TempDirectory dir("core-program");
  ASSERT_TRUE(qmtest::CopyInto(bin + "Quillmoth.exe", dir.Path()));
  ASSERT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\AutoRun.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "Scripts\\ticks.vbs", kTicks));

  qmtest::ChildProcess child;
  ASSERT_TRUE(child.Start(dir / "Quillmoth.exe", "-application -load \"" + dir / "Scripts\\ticks.vbs\"", dir.Path()));
  HWND console = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth", 30000);
  ASSERT_TRUE(console);
  auto output = [&] { return qmtest::ControlText(console, IDC_OUTPUT); };
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

  PostMessageA(console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
  EXPECT_TRUE(child.WaitExit(60000));
  EXPECT_EQ(S_OK, CallExport(library, "DllUnregisterServer"));
  FreeLibrary(library);
}

const char kJsTicks[] =
    "function main(x) {\r\n"
    "  var core = NewCore();\r\n"
    "  core.DestroyCronContext(1, 1);\r\n"
    "  var timer = core.SetTimer(200);\r\n"
    "  for (var running = true; running; ) {\r\n"
    "    var h = core.GetMessage(0, 0);\r\n"
    "    switch (core.GetMessageId(h)) {\r\n"
    "      case WM_TIMER:\r\n"
    "        if (core.CheckTime(1, false, \"* * * * * * * *\")) core.Print(\"tick \" + FormatIsoTime(new Date()));\r\n"
    "        break;\r\n"
    "      case QMR_CTL_STOP: case QMR_CTL_QUIT:\r\n"
    "        running = false;\r\n"
    "        break;\r\n"
    "      default:\r\n"
    "        core.DispatchMessage(h);\r\n"
    "    }\r\n"
    "    core.FreeHandle(h);\r\n"
    "  }\r\n"
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

  std::string bin = qmtest::ProgramDirectory();
  HMODULE library = LoadLibraryA((bin + "QuillmothLib.dll").c_str());
  ASSERT_EQ(S_OK, CallExport(library, "DllRegisterServer"));
  qmtest::TempDirectory dir("js-program");
  ASSERT_TRUE(qmtest::CopyInto(bin + "Quillmoth.exe", dir.Path()));
  ASSERT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.js", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::CopyInto(bin + "Scripts\\StdLib.vbs", dir / "Scripts\\"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "Scripts\\AutoRun.js", kJsTicks));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "Scripts\\second.js",
                                    "function main(x) {\r\n  NewCore().Print(\"second ran\");\r\n}\r\n"));

  qmtest::ChildProcess child;
  ASSERT_TRUE(child.Start(dir / "Quillmoth.exe", "-application -load \"" + dir / "Scripts\\second.js\"", dir.Path()));
  HWND console = qmtest::WaitForWindow(child.Id(), "#32770", "Quillmoth", 30000);
  ASSERT_TRUE(console);
  auto output = [&] { return qmtest::ControlText(console, IDC_OUTPUT); };
  auto count = [&](const std::string &prefix) {
    size_t n = 0;
    for (const std::string &line : Lines(output()))
      n += line.rfind(prefix, 0) == 0;
    return n;
  };
  EXPECT_TRUE(WaitUntil([&] { return count("tick ") >= 3; })) << output();
  EXPECT_TRUE(WaitUntil([&] { return count("second ran") == 1; })) << output();
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

  PostMessageA(console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
  EXPECT_TRUE(child.WaitExit(60000));
  EXPECT_EQ(S_OK, CallExport(library, "DllUnregisterServer"));
  FreeLibrary(library);
}

INSTANTIATE_TEST_SUITE_P(VBScript, JScriptInTheProgram, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "Missing" : "Present");
                         });

} // namespace
