// JScript beside VBScript: a script's language follows its extension, with
// StdLib.js before a .js script; and a computer without VBScript, where
// JScript scripts still run and the operator is told what to do once.
#include "RuntimeFixture.h"

using qmtest::BothHostsTest;
using qmtest::IsDone;
using qmtest::PumpUntil;
using qmtest::RelayWindow;
using qmtest::RuntimeTest;

namespace {

const char kJsLibrary[] = "function Bracket(s) {\r\n  return \"[\" + s + \"]\";\r\n}\r\n";

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST_P(BothHostsTest, JScriptRunsWithItsOwnLibraryAndMainInAnyCase) {
  Script("StdLib.js", kJsLibrary);
  Script("echo.js", "function Main(arg) {\r\n  return Bracket(arg) + typeof arg;\r\n}\r\n");
  EXPECT_EQ("[abc def]string", RunForValue("echo.js", "abc def"));
  EXPECT_EQ("[]string", RunForValue("echo.js", NULL)) << "no argument is one empty string";

  // One pooled worker takes VBScript, JScript and VBScript again in turn,
  // each into an empty engine of its own language.
  Script("vb.vbs", "Dim shared\r\nFunction main(x)\r\n  main = \"vb \" & IsEmpty(shared) & Bracket(x)\r\n"
                   "  shared = 1\r\nEnd Function\r\n");
  Script("js.js", "var shared;\r\nfunction main(x) {\r\n  var was = typeof shared;\r\n  shared = 2;\r\n"
                  "  return \"js \" + was + Bracket(x);\r\n}\r\n");
  const char *expected[] = {"vb True[1]", "js undefined[2]", "vb True[3]", "js undefined[4]"};
  const char *scripts[] = {"vb.vbs", "js.js", "vb.vbs", "js.js"};
  MurrelContext *first = NULL;
  for (int i = 0; i < 4; ++i) {
    VARIANT value;
    VariantInit(&value);
    MurrelContext *context = QMR_RunScript(QMR_FLAG_POOLED, scripts[i], std::to_string(i + 1).c_str(), &value);
    ASSERT_TRUE(context);
    if (!first)
      first = context;
    EXPECT_EQ(first, context) << "the idle worker was claimed";
    ASSERT_EQ(VT_BSTR, V_VT(&value)) << scripts[i];
    std::wstring text(V_BSTR(&value));
    EXPECT_EQ(std::string(expected[i]), std::string(text.begin(), text.end()));
    VariantClear(&value);
  }
  qmtest::PumpFor(50);
  EXPECT_EQ(0u, Count(RelayWindow::Error()));
}

TEST_P(BothHostsTest, JScriptErrorsAreReportedLikeVBScriptOnes) {
  Script("StdLib.js", kJsLibrary);
  Script("fails.js", "// a job\r\nfunction main(x) {\r\n  return noSuchFunction(x);\r\n}\r\n");
  EXPECT_TRUE(IsDone(QMR_RunScript(0, "fails.js", NULL, NULL)));
  qmtest::PumpFor(50);
  std::vector<std::string> texts = relay.Texts();
  auto error = std::find_if(texts.begin(), texts.end(),
                            [](const std::string &t) { return t.rfind("Error: ", 0) == 0; });
  ASSERT_NE(texts.end(), error);
  EXPECT_EQ(error->size() - 11, error->rfind("; in line 3")) << *error;
  EXPECT_EQ(std::string::npos, error->find("Unknown")) << "the engine's own description: " << *error;
  EXPECT_EQ(1u, Count(RelayWindow::Error()));

  // A syntax error is told once: without main, the file's code is the job
  // and its error the run's.
  relay.entries.clear();
  Script("broken.js", "function main(x) {\r\n  return (;\r\n}\r\n");
  EXPECT_TRUE(IsDone(QMR_RunScript(0, "broken.js", NULL, NULL)));
  qmtest::PumpFor(50);
  texts = relay.Texts();
  ASSERT_GE(texts.size(), 2u);
  auto load = std::find_if(texts.begin(), texts.end(), [](const std::string &t) {
    return t.rfind("Error: ", 0) == 0 && t != "Error: Unknown JScript error.";
  });
  ASSERT_NE(texts.end(), load);
  EXPECT_FALSE(TextSeen("Error: Unknown JScript error.")) << "no second report of a missing main";
  EXPECT_EQ(1u, Count(RelayWindow::Error()));
}

TEST_F(RuntimeTest, CodeOfAnotherLanguageIsRefusedBesideLoadedCode) {
  Script("a.vbs", "Function main(x)\r\n  main = \"vb\"\r\nEnd Function\r\n");
  Script("b.js", "function main(x) { return \"js\"; }\r\n");
  hostRules = false;
  MurrelContext *context = QMR_Create(0);
  ASSERT_TRUE(context);
  const UINT load = RegisterWindowMessageA(QMR_MSG_LOAD), run = RegisterWindowMessageA(QMR_MSG_RUN);
  ASSERT_TRUE(QMR_Message(context, RegisterWindowMessageA(QMR_MSG_STARTUP), 0, 10000));
  ASSERT_TRUE(QMR_Message(context, load, GlobalAddAtomA("a.vbs"), 10000));
  ASSERT_TRUE(QMR_Message(context, load, GlobalAddAtomA("b.js"), 10000));
  ASSERT_TRUE(QMR_Message(context, run, 0, 10000));
  VARIANT value;
  VariantInit(&value);
  ASSERT_TRUE(QMR_GetReturnValue(context, &value));
  ASSERT_EQ(VT_BSTR, V_VT(&value));
  EXPECT_EQ(std::wstring(L"vb"), std::wstring(V_BSTR(&value))) << "the VBScript code stayed as it was";
  VariantClear(&value);
  qmtest::PumpFor(50);
  EXPECT_TRUE(TextSeen("Error: " + dir.Path() + "b.js is not VBScript like the code loaded before it."));
  EXPECT_EQ(0u, Count(RelayWindow::Error()));
  QMR_Message(context, qmtest::kShutdown, 0, 10000);
  QMR_Destroy(context);
}

TEST_F(RuntimeTest, WithoutVBScriptJScriptRunsAndTheOperatorIsToldOnce) {
  Script("StdLib.js", kJsLibrary);
  Script("job.js", "function main(x) {\r\n  return Bracket(x);\r\n}\r\n");
  Script("job.vbs", "Function main(x)\r\n  main = x\r\nEnd Function\r\n");
  const std::string logPath = qmtest::ProgramDirectory() + "runtime_test.log";
  const size_t logBefore = qmtest::ReadTextFile(logPath).size();
  qmtest::HiddenProgId vbscript("VBScript");
  ASSERT_TRUE(vbscript.WasRegistered());

  EXPECT_EQ("[still runs]", RunForValue("job.js", "still runs"));
  EXPECT_EQ("", RunForValue("job.vbs", "x")) << "a VBScript script can't run";
  MurrelContext *pooled = QMR_RunScript(QMR_FLAG_POOLED, "job.vbs", NULL, NULL);
  ASSERT_TRUE(pooled);
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(pooled, QMR_RunScript(QMR_FLAG_POOLED, "job.js", "pooled", &value))
      << "the worker that met the missing VBScript still takes JScript";
  ASSERT_EQ(VT_BSTR, V_VT(&value));
  EXPECT_EQ(std::wstring(L"[pooled]"), std::wstring(V_BSTR(&value)));
  VariantClear(&value);
  qmtest::PumpFor(50);

  std::vector<std::string> texts = relay.Texts();
  std::vector<std::string> told;
  for (const std::string &text : texts)
    if (text.find("optional Windows feature \"VBScript\"") != std::string::npos)
      told.push_back(text);
  ASSERT_EQ(1u, told.size()) << "the console shows it once, not for every worker and run";
  EXPECT_EQ(0u, told[0].rfind("Error: VBScript is not installed", 0)) << told[0];
  EXPECT_LE(told[0].size(), 256u);
  EXPECT_EQ(2u, Count(RelayWindow::Error())) << "both VBScript runs failed";
  size_t logged = 0;
  for (const std::string &line : Lines(qmtest::ReadTextFile(logPath).substr(logBefore)))
    logged += line.find("Exec error 3: " + told[0]) != std::string::npos;
  EXPECT_EQ(2u, logged) << "each failed run's error line says why";
}

} // namespace
