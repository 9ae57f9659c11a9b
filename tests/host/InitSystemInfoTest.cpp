// Start-up's directories, search path and system variables, in this process,
// against the real registry and environment of the test prefix.
#include <gtest/gtest.h>

#include "QuillmothApp.h"
#include "WineTestSupport.h"

using qmtest::EnvironmentValue;
using qmtest::ReadRegistryText;

namespace {

const char kSectionKey[] = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";

class InitSystemInfoTest : public ::testing::Test {
protected:
  InitSystemInfoTest() : dir("startup") {}
  void SetUp() override {
    savedPath = EnvironmentValue("PATH");
    savedDefault = ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.DEFAULT_DIR", &hadDefault);
    SetEnvironmentVariableA("QM.DEFAULT_DIR", NULL);
    qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSectionKey, "QM.DEFAULT_DIR");
  }
  void TearDown() override {
    SetEnvironmentVariableA("PATH", savedPath.c_str());
    if (hadDefault)
      qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.DEFAULT_DIR", savedDefault);
  }

  // Runs start-up as if the program were installed at dir\<where>\Quillmoth.exe.
  void StartFrom(const std::string &where) {
    app.SetProgramPath(dir / where + "\\Quillmoth.exe");
    app.InitSystemInfo();
  }
  // The held start-up lines but the version one: these programs don't exist,
  // so their version can't be read.
  std::vector<std::pair<int, std::string>> Diagnostics() const {
    std::vector<std::pair<int, std::string>> lines;
    for (const auto &line : app.PendingDiagnostics())
      if (line.first != 438)
        lines.push_back(line);
    return lines;
  }
  std::string Stored(const char *name, bool *found = NULL) {
    return ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, name, found);
  }

  qmtest::TempDirectory dir;
  CQuillmothApp app;
  std::string savedPath, savedDefault;
  bool hadDefault = false;
};

TEST_F(InitSystemInfoTest, ScriptsBesideTheProgram) {
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "A"));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "A\\Scripts"));
  SetEnvironmentVariableA("PATH", "C:\\windows\\system32;C:\\old");
  StartFrom("A");

  std::string a = dir / "A\\";
  EXPECT_EQ(a, EnvironmentValue("QM.ROOT_DIR"));
  EXPECT_EQ(a, Stored("QM.ROOT_DIR"));
  EXPECT_EQ(a + "Scripts\\", EnvironmentValue("QM.DEFAULT_DIR"));
  EXPECT_EQ(a + "Scripts\\", Stored("QM.DEFAULT_DIR"));
  EXPECT_EQ(a + "Scripts\\;" + a + "Sample Scripts\\;" + a + "Diag\\;C:\\windows\\system32;C:\\old",
            EnvironmentValue("PATH"));
  EXPECT_TRUE(Diagnostics().empty());
}

TEST_F(InitSystemInfoTest, StoredDefaultDirectoryWhenNoScriptsBesideTheProgram) {
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "B"));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "Data"));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "Data\\Jobs"));
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.DEFAULT_DIR", dir / "Data\\Jobs\\");
  SetEnvironmentVariableA("PATH", "C:\\old");
  StartFrom("B");

  std::string data = dir / "Data\\";
  EXPECT_EQ(data + "Scripts\\;" + data + "Sample Scripts\\;" + data + "Diag\\;C:\\old",
            EnvironmentValue("PATH"))
      << "the parent's own Scripts is used although the stored directory is Jobs";
  EXPECT_EQ(dir / "Data\\Jobs\\", EnvironmentValue("QM.DEFAULT_DIR"));
  EXPECT_TRUE(Diagnostics().empty());
}

TEST_F(InitSystemInfoTest, NoScriptsDirectoryLeavesThePathAlone) {
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "C"));
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.DEFAULT_DIR", dir / "Gone\\");
  SetEnvironmentVariableA("PATH", "C:\\old");
  StartFrom("C");

  EXPECT_EQ("C:\\old", EnvironmentValue("PATH"));
  ASSERT_EQ(1u, Diagnostics().size());
  EXPECT_EQ(305, Diagnostics()[0].first);
  EXPECT_EQ("Can't find Scripts directory from: " + dir / "C\\Scripts\\",
            Diagnostics()[0].second);
}

TEST_F(InitSystemInfoTest, PoolSizeAndThresholdAreResetAtEveryStart) {
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "D"));
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.POOL_SIZE", "0");
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.TCHANGE_THRESHOLD", "5");
  SetEnvironmentVariableA("QM.POOL_SIZE", "3");
  StartFrom("D");

  EXPECT_EQ("16", EnvironmentValue("QM.POOL_SIZE"));
  EXPECT_EQ("16", Stored("QM.POOL_SIZE"));
  EXPECT_EQ("1024", EnvironmentValue("QM.TCHANGE_THRESHOLD"));
  EXPECT_EQ("1024", Stored("QM.TCHANGE_THRESHOLD"));

  char user[128];
  DWORD length = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &length));
  EXPECT_EQ(user, EnvironmentValue("QM.ACCOUNT"));
  bool found = true;
  Stored("QM.ACCOUNT", &found);
  EXPECT_FALSE(found) << "the account is a process variable";
  EXPECT_EQ(PLATFORM_NT, static_cast<int>(app.m_platform));
}

TEST_F(InitSystemInfoTest, PathLongerThanTheReadBufferIsKeptWhole) {
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "E"));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "E\\Scripts"));
  std::string old = "C:\\" + std::string(9000, 'p') + ";C:\\end";
  ASSERT_TRUE(SetEnvironmentVariableA("PATH", old.c_str()));
  StartFrom("E");
  std::string e = dir / "E\\";
  EXPECT_EQ(e + "Scripts\\;" + e + "Sample Scripts\\;" + e + "Diag\\;" + old,
            EnvironmentValue("PATH"));
}

TEST_F(InitSystemInfoTest, PathThatCannotGrowIsLeftAsItWas) {
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "F"));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "F\\Scripts"));
  std::string old = "C:\\" + std::string(32700, 'q');
  ASSERT_TRUE(SetEnvironmentVariableA("PATH", old.c_str()));
  StartFrom("F");
  EXPECT_EQ(old, EnvironmentValue("PATH")) << "never cut";
  ASSERT_EQ(1u, Diagnostics().size());
  EXPECT_EQ(0u, Diagnostics()[0].second.find("Can't extend PATH"));
}

TEST_F(InitSystemInfoTest, UnreadableVersionKeepsTheMarker) {
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "G"));
  ASSERT_TRUE(qmtest::MakeDirectory(dir / "G\\Scripts"));
  g_versionMS = g_versionLS = 0xDEADBEEF;
  StartFrom("G"); // no program file there, so no version resource
  EXPECT_EQ(57005, VersionMajor());
  EXPECT_EQ(48879, VersionMinor());
  EXPECT_EQ(0u, CQuillmothApp::HelpText().find("Quillmoth Version 57005.48879\n"));
  // Held with the other start-up lines until the log has begun afresh.
  ASSERT_EQ(1u, app.PendingDiagnostics().size());
  EXPECT_EQ(438, app.PendingDiagnostics()[0].first);
  EXPECT_EQ("Can't get version information for " + dir / "G\\Quillmoth.exe",
            app.PendingDiagnostics()[0].second);
}

} // namespace
