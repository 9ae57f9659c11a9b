// The choice of script host on a worker's thread: our own Active Scripting
// host unless it can't be created or QM.SCRIPT_HOST asks for the Script
// Control; either way an engine that really runs code.
#include <gtest/gtest.h>

#include "ScriptEngine.h"

namespace {

ScriptEngine *CannotCreate(const std::string &, HRESULT *failure) {
  *failure = REGDB_E_CLASSNOTREG;
  return NULL;
}

class ScriptHostChoice : public ::testing::Test {
protected:
  void SetUp() override {
    saved = g_scriptHostCalls;
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)));
    SetEnvironmentVariableA("QM.SCRIPT_HOST", NULL);
  }
  void TearDown() override {
    g_scriptHostCalls = saved;
    SetEnvironmentVariableA("QM.SCRIPT_HOST", NULL);
    CoUninitialize();
  }

  // Loads a procedure, lists it and calls it: the answer of Twice("ab").
  static std::wstring RunTwice(ScriptEngine *engine) {
    BSTR code = SysAllocString(L"Function Twice(x)\r\n  Twice = x & x\r\nEnd Function\r\n");
    HRESULT hr = engine->AddCode(code);
    SysFreeString(code);
    if (FAILED(hr))
      return L"AddCode failed";
    std::vector<std::string> names;
    if (FAILED(engine->ListProcedures(&names)) || names != std::vector<std::string>{"Twice"})
      return L"not listed";
    SAFEARRAYBOUND bound = {1, 0};
    SAFEARRAY *arguments = SafeArrayCreate(VT_VARIANT, 1, &bound);
    VARIANT argument;
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = SysAllocString(L"ab");
    LONG index = 0;
    SafeArrayPutElement(arguments, &index, &argument);
    VariantClear(&argument);
    VARIANT result;
    VariantInit(&result);
    hr = engine->Run("Twice", arguments, &result);
    SafeArrayDestroy(arguments);
    std::wstring text = SUCCEEDED(hr) && V_VT(&result) == VT_BSTR ? V_BSTR(&result) : L"Run failed";
    VariantClear(&result);
    return text;
  }

  ScriptHostCalls saved;
};

TEST_F(ScriptHostChoice, OwnHostFirstTheScriptControlWhenOursCannotBeMade) {
  HRESULT failure = S_OK;
  ScriptEngine *engine = CreateScriptEngine("VBScript", &failure);
  ASSERT_TRUE(engine);
  EXPECT_STREQ("Active Scripting", engine->HostName());
  EXPECT_EQ(L"abab", RunTwice(engine));
  delete engine;

  g_scriptHostCalls.createActiveScript = CannotCreate;
  engine = CreateScriptEngine("VBScript", &failure);
  ASSERT_TRUE(engine) << "the Script Control stands in";
  EXPECT_STREQ("Script Control", engine->HostName());
  EXPECT_EQ(L"abab", RunTwice(engine));
  delete engine;

  g_scriptHostCalls.createScriptControl = CannotCreate;
  failure = S_OK;
  EXPECT_EQ(nullptr, CreateScriptEngine("VBScript", &failure));
  EXPECT_EQ(REGDB_E_CLASSNOTREG, failure) << "the preferred host's reason is kept";
}

TEST_F(ScriptHostChoice, TheAdministratorMayAskForTheScriptControl) {
  SetEnvironmentVariableA("QM.SCRIPT_HOST", "scriptcontrol");
  HRESULT failure = S_OK;
  ScriptEngine *engine = CreateScriptEngine("VBScript", &failure);
  ASSERT_TRUE(engine);
  EXPECT_STREQ("Script Control", engine->HostName());
  delete engine;

  // Where the Script Control is missing (64-bit Windows), ours runs anyway.
  g_scriptHostCalls.createScriptControl = CannotCreate;
  engine = CreateScriptEngine("VBScript", &failure);
  ASSERT_TRUE(engine);
  EXPECT_STREQ("Active Scripting", engine->HostName());
  EXPECT_EQ(L"abab", RunTwice(engine));
  delete engine;

  SetEnvironmentVariableA("QM.SCRIPT_HOST", "something else");
  g_scriptHostCalls = saved;
  engine = CreateScriptEngine("VBScript", &failure);
  ASSERT_TRUE(engine);
  EXPECT_STREQ("Active Scripting", engine->HostName()) << "an unknown value keeps our own host";
  delete engine;
}

} // namespace
