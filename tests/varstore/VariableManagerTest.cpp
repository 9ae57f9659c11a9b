// The variable store against the real registry and process environment of
// the test's Wine prefix.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <process.h>
#include <stdio.h>
#include <string>

#include "VariableManager.h"
#include "WineTestSupport.h"

using qmtest::EnvironmentValue;
using qmtest::ReadRegistryText;

namespace {

const char kSectionKey[] = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";

class VariableStoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    store.InitVariableStore("Brenlow Software", "Quillmoth", "QM.ENVIRONMENT", "QM.LAST_ERROR");
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    name = std::string("TEST.") + info->name();
    Forget();
  }
  void TearDown() override { Forget(); }

  // Leaves neither an environment variable nor a registry value behind.
  void Forget() {
    SetEnvironmentVariableA(name.c_str(), NULL);
    qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSectionKey, name);
    qmtest::DeleteRegistryValue(HKEY_CURRENT_USER, kSectionKey, name);
  }

  std::string Get(int mode, bool *isNull = NULL) {
    char *value = store.GetVariable(NULL, name.c_str(), mode);
    if (isNull)
      *isNull = value == NULL;
    std::string text = value ? value : "";
    CVariableManager::FreeText(value);
    return text;
  }

  std::string Machine(bool *found) { return ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, name, found); }

  CVariableManager store;
  std::string name;
};

TEST_F(VariableStoreTest, ProcessModeStaysOutOfTheRegistry) {
  ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), "env-only", 1));
  EXPECT_EQ("env-only", EnvironmentValue(name.c_str()));
  bool isNull = true;
  EXPECT_EQ("env-only", Get(2, &isNull)) << "mode 2 answers from the environment first";
  EXPECT_FALSE(isNull);
  bool found = true;
  Machine(&found);
  EXPECT_FALSE(found) << "neither the write nor the read may touch the registry";
}

TEST_F(VariableStoreTest, ModesOtherThanTwoWriteTheEnvironmentOnly) {
  for (int mode : {0, 3, 4, 6, -1}) {
    ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), "x", mode)) << "mode " << mode;
    bool found = true;
    Machine(&found);
    EXPECT_FALSE(found) << "mode " << mode << " wrote the registry";
    EXPECT_EQ("x", EnvironmentValue(name.c_str())) << "mode " << mode;
    SetEnvironmentVariableA(name.c_str(), NULL);
  }
}

TEST_F(VariableStoreTest, StoredModeWritesBothLayers) {
  ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), "persisted", 2));
  EXPECT_EQ("persisted", EnvironmentValue(name.c_str()));
  bool found = false;
  DWORD type = 0;
  EXPECT_EQ("persisted", ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, name, &found, &type));
  EXPECT_TRUE(found);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(VariableStoreTest, RegistryModeIgnoresTheEnvironmentAndRefreshesIt) {
  ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), "from-registry", 2));
  SetEnvironmentVariableA(name.c_str(), "stale");
  EXPECT_EQ("stale", Get(2)) << "mode 2 alone prefers the environment";
  EXPECT_EQ("from-registry", Get(6)) << "mode 6 reads the registry";
  EXPECT_EQ("from-registry", EnvironmentValue(name.c_str())) << "and copies it into the environment";
}

TEST_F(VariableStoreTest, ReadModesWithoutTwoAnswerNull) {
  SetEnvironmentVariableA(name.c_str(), "present");
  for (int mode : {0, 4, 8, 16}) {
    bool isNull = false;
    Get(mode, &isNull);
    EXPECT_TRUE(isNull) << "mode " << mode;
  }
  EXPECT_EQ("present", Get(1));
}

TEST_F(VariableStoreTest, EmptyValueRemovesTheVariableButStoresAnEmptyValue) {
  ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), "before", 2));
  ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), "", 2));
  bool inEnvironment = true;
  EnvironmentValue(name.c_str(), &inEnvironment);
  EXPECT_FALSE(inEnvironment);
  bool found = false;
  EXPECT_EQ("", Machine(&found));
  EXPECT_TRUE(found) << "an empty text is stored as an empty value";

  ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), NULL, 2));
  Machine(&found);
  EXPECT_FALSE(found) << "a null value deletes the registry value";
}

TEST_F(VariableStoreTest, MissingEverywhereAnswersNullAndLeavesAnEmptyValue) {
  bool isNull = false;
  Get(2, &isNull);
  EXPECT_TRUE(isNull);
  bool found = false;
  EXPECT_EQ("", Machine(&found));
  EXPECT_TRUE(found) << "the writable machine store keeps an empty value of that name";
}

TEST_F(VariableStoreTest, OwnSectionsLiveBesideTheDefaultOne) {
  const char section[] = "QM.TEST_SECTION";
  ASSERT_EQ(0, store.SetVariable(section, name.c_str(), "sectioned", 2));
  bool found = false;
  EXPECT_EQ("sectioned", ReadRegistryText(HKEY_LOCAL_MACHINE,
                                          "software\\Brenlow Software\\Quillmoth\\QM.TEST_SECTION",
                                          name, &found));
  EXPECT_TRUE(found);
  Machine(&found);
  EXPECT_FALSE(found);
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE,
                              "software\\Brenlow Software\\Quillmoth\\QM.TEST_SECTION", name);
}

TEST_F(VariableStoreTest, LastErrorTextIsProcessOnly) {
  std::string before = ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.LAST_ERROR");
  EXPECT_EQ(1, store.SetLastErrorText("CreateProcess: The system cannot find the file specified."));
  EXPECT_EQ("CreateProcess: The system cannot find the file specified.",
            EnvironmentValue("QM.LAST_ERROR"));
  bool found = false;
  std::string after = ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, "QM.LAST_ERROR", &found);
  EXPECT_EQ(before, after) << "the last error never reaches the registry";
  SetEnvironmentVariableA("QM.LAST_ERROR", NULL);
}

TEST_F(VariableStoreTest, LongValuesAreKeptWholeOrRefusedWhole) {
  for (size_t length : {2046u, 2047u, 2048u, 5000u, 32766u}) {
    std::string value(length, 'v');
    value[length - 1] = 'z';
    ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), value.c_str(), 2)) << length;
    EXPECT_EQ(value, EnvironmentValue(name.c_str())) << length;
    EXPECT_EQ(value, Get(2)) << length << " from the environment";
    EXPECT_EQ(value, Get(6)) << length << " from the registry";
  }
  // Past what the environment holds: refused, and nothing changes.
  ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), "kept", 2));
  std::string tooLong(32767, 'w');
  EXPECT_EQ(-1, store.SetVariable(NULL, name.c_str(), tooLong.c_str(), 2));
  EXPECT_EQ(-1, store.SetVariable(NULL, name.c_str(), tooLong.c_str(), 1));
  EXPECT_EQ("kept", EnvironmentValue(name.c_str()));
  bool found = false;
  EXPECT_EQ("kept", Machine(&found));
}

TEST_F(VariableStoreTest, BadNamesAreRefused) {
  EXPECT_EQ(-1, store.SetVariable(NULL, NULL, "x", 2));
  EXPECT_EQ(-1, store.SetVariable(NULL, "", "x", 2));
  EXPECT_EQ(NULL, store.GetVariable(NULL, NULL, 2));
  EXPECT_EQ(NULL, store.GetVariable(NULL, "", 2));
}

// Threads that share names: each writes its own numbered values to the
// name of its group (environment and registry) and reads the registry back.
const int kThreads = 8, kNames = 2, kRounds = 100;

struct Worker {
  CVariableManager *store;
  int index;
  const std::string *name;
  int failures;
  std::string wrong; // the first value read that no thread of the group wrote
};

// Whether the text is "t:r" for a thread t of the group and a round r.
bool WrittenByGroup(const char *text, int group) {
  int thread = -1, round = -1;
  char end = 0;
  return text && sscanf(text, "%d:%d%c", &thread, &round, &end) == 2 && thread >= 0 && thread < kThreads &&
         thread % kNames == group && round >= 0 && round < kRounds;
}

unsigned __stdcall Hammer(void *param) {
  Worker *w = static_cast<Worker *>(param);
  char value[64];
  for (int i = 0; i < kRounds; ++i) {
    snprintf(value, sizeof value, "%d:%d", w->index, i);
    if (w->store->SetVariable(NULL, w->name->c_str(), value, 2) != 0)
      ++w->failures;
    char *read = w->store->GetVariable(NULL, w->name->c_str(), 6);
    if (!WrittenByGroup(read, w->index % kNames)) {
      ++w->failures;
      if (w->wrong.empty())
        w->wrong = read ? read : "(none)";
    }
    CVariableManager::FreeText(read);
  }
  return 0;
}

TEST_F(VariableStoreTest, ManyThreadsShareOneStore) {
  std::string names[kNames];
  for (int n = 0; n < kNames; ++n)
    names[n] = name + "." + std::to_string(n);
  // The shared names go again however the test ends.
  struct Forgotten {
    const std::string *names;
    ~Forgotten() {
      for (int n = 0; n < kNames; ++n) {
        SetEnvironmentVariableA(names[n].c_str(), NULL);
        qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSectionKey, names[n]);
      }
    }
  } forgotten{names};

  Worker workers[kThreads];
  HANDLE threads[kThreads];
  int started = 0;
  for (int i = 0; i < kThreads; ++i) {
    workers[i] = {&store, i, &names[i % kNames], 0, std::string()};
    threads[started] = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, Hammer, &workers[i], 0, NULL));
    EXPECT_NE(threads[started], (HANDLE)0);
    if (threads[started])
      ++started;
  }
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(started, threads, TRUE, 120000));
  for (int i = 0; i < started; ++i)
    CloseHandle(threads[i]);
  ASSERT_EQ(kThreads, started);
  for (int i = 0; i < kThreads; ++i)
    EXPECT_EQ(0, workers[i].failures) << "thread " << i << " read " << workers[i].wrong;

  // Each write and each read-back changes the environment and the registry
  // together: at the end both hold the last round of one of the group.
  for (int n = 0; n < kNames; ++n) {
    std::string process = EnvironmentValue(names[n].c_str());
    bool found = false;
    std::string stored = ReadRegistryText(HKEY_LOCAL_MACHINE, kSectionKey, names[n], &found);
    EXPECT_TRUE(found) << names[n];
    EXPECT_EQ(process, stored) << names[n];
    int thread = -1, round = -1;
    char end = 0;
    EXPECT_TRUE(WrittenByGroup(process.c_str(), n) && sscanf(process.c_str(), "%d:%d%c", &thread, &round, &end) == 2 &&
                round == kRounds - 1)
        << names[n] << " = " << process;
  }
}

// Without write access to HKEY_LOCAL_MACHINE\software the store falls back
// to the current user. The process's HKEY_LOCAL_MACHINE is redirected
// (RegOverridePredefKey) to a key of ours whose "software" subkey grants
// read access only, so the real machine store refuses writes.
class ReadOnlyMachineTest : public VariableStoreTest {
protected:
  void SetUp() override {
    VariableStoreTest::SetUp();
    RegDeleteTreeA(HKEY_CURRENT_USER, kFakeMachine);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kFakeMachine, 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &fakeMachine, NULL));
    qmtest::WriteRegistryText(fakeMachine, kSectionKey, name, "machine-only");
    HKEY software;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(fakeMachine, "software", 0, KEY_ALL_ACCESS, &software));
    // Everyone may read; nobody may create subkeys or set values.
    EXPLICIT_ACCESS_A readOnly = {};
    readOnly.grfAccessPermissions = KEY_READ;
    readOnly.grfAccessMode = SET_ACCESS;
    readOnly.grfInheritance = NO_INHERITANCE;
    readOnly.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    readOnly.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    readOnly.Trustee.ptstrName = const_cast<char *>("EVERYONE");
    PACL acl = NULL;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), SetEntriesInAclA(1, &readOnly, NULL, &acl));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              SetSecurityInfo(software, SE_REGISTRY_KEY,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              NULL, NULL, acl, NULL));
    LocalFree(acl);
    RegCloseKey(software);
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_LOCAL_MACHINE, fakeMachine));
    HKEY probe;
    ASSERT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software", 0, 0x2001F, &probe))
        << "the redirected machine store must refuse write access";
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, NULL);
    RegCloseKey(fakeMachine);
    RegDeleteTreeA(HKEY_CURRENT_USER, kFakeMachine);
    VariableStoreTest::TearDown();
  }
  std::string User(bool *found) { return ReadRegistryText(HKEY_CURRENT_USER, kSectionKey, name, found); }

  static constexpr const char *kFakeMachine = "Software\\QuillmothTest\\ReadOnlyMachine";
  HKEY fakeMachine = NULL;
};

TEST_F(ReadOnlyMachineTest, WritesLandUnderTheCurrentUser) {
  qmtest::DeleteRegistryValue(HKEY_CURRENT_USER, kSectionKey, name);
  ASSERT_EQ(0, store.SetVariable(NULL, name.c_str(), "user-value", 2));
  bool found = false;
  EXPECT_EQ("user-value", User(&found));
  EXPECT_TRUE(found);
}

TEST_F(ReadOnlyMachineTest, MachineValueIsReadAndCopiedToTheUser) {
  bool found = true;
  User(&found);
  ASSERT_FALSE(found);
  EXPECT_EQ("machine-only", Get(2));
  EXPECT_EQ("machine-only", User(&found)) << "the value read from the machine store is copied";
  EXPECT_TRUE(found);
  EXPECT_EQ("machine-only", EnvironmentValue(name.c_str()));
}

TEST_F(ReadOnlyMachineTest, MissingEverywhereLeavesNothingBehind) {
  const std::string missing = name + ".MISSING";
  char *value = store.GetVariable(NULL, missing.c_str(), 2);
  EXPECT_EQ(NULL, value);
  CVariableManager::FreeText(value);
  bool found = true;
  ReadRegistryText(HKEY_CURRENT_USER, kSectionKey, missing, &found);
  EXPECT_FALSE(found) << "with a read-only machine store nothing is written for a missing value";
}

} // namespace
