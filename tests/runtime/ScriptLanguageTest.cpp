// The language of a script file and what follows from it (also built
// natively with the sanitizers).
#include <gtest/gtest.h>
#include <string.h>

#include "ScriptLanguage.h"

namespace {

TEST(ScriptLanguage, TheExtensionChoosesTheLanguageAndTheLibrary) {
  EXPECT_STREQ("VBScript", ScriptLanguageOf("AutoRun.vbs"));
  EXPECT_STREQ("VBScript", ScriptLanguageOf("C:\\Scripts\\JOB.VBS"));
  EXPECT_STREQ("JScript", ScriptLanguageOf("C:\\Scripts.vbs\\job.Js"));
  EXPECT_STREQ("", ScriptLanguageOf("job.json")) << "only the last extension counts";
  EXPECT_STREQ("", ScriptLanguageOf("tool.cmd"));
  EXPECT_STREQ("", ScriptLanguageOf("js"));
  EXPECT_STREQ("", ScriptLanguageOf(""));
  EXPECT_STREQ("JScript", ScriptLanguageOf(".js"));

  EXPECT_STREQ("StdLib.js", StandardLibraryFor("AutoRun.js"));
  EXPECT_STREQ("StdLib.vbs", StandardLibraryFor("AutoRun.vbs"));
  EXPECT_STREQ("StdLib.vbs", StandardLibraryFor("tool"));
  EXPECT_STREQ("StdLib.vbs", StandardLibraryFor("")) << "an empty name is reported by the load";
  EXPECT_STREQ("StdLib.vbs", StandardLibraryFor(NULL));
}

TEST(ScriptLanguage, TextsForTheOperator) {
  EXPECT_EQ("Error: Unknown VBScript error.", UnknownErrorText("VBScript"));
  EXPECT_EQ("Error: Unknown JScript error.", UnknownErrorText("JScript"));
  EXPECT_EQ("Error: Unknown VBScript error.", UnknownErrorText(""));
  // The worker keeps at most 256 bytes of an error line: the advice must
  // survive whole, its command included.
  EXPECT_LE(strlen(kVBScriptMissing), 256u);
  EXPECT_NE(nullptr, strstr(kVBScriptMissing, "\"VBScript\""));
  EXPECT_NE(nullptr, strstr(kVBScriptMissing, "DISM /Online /Add-Capability /CapabilityName:VBSCRIPT~~~~."));
}

} // namespace
