// The Core object's own logic, called directly (early binding) so that the
// clock and the pass phrase can be injected: CheckTime and its latches,
// DestroyCronContext, enciphered values, argument conversion and the handle
// table. The relay window on the test thread records the notices.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>
#include <sddl.h>
#include <climits>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "Core.h"
#include "CoreCron.h"
#include "CoreCrypto.h"
#include "PassPhraseCreation.h"
#include "CoreModule.h"
#include "CoreText.h"
#include "FtpServer.h"
#include "HandleTable.h"
#include "RelayFixture.h"
#include "VariableManager.h"
#include "WineTestSupport.h"

namespace {

// A BSTR that frees itself.
class Text {
public:
  explicit Text(const wchar_t *text) : m_text(SysAllocString(text)) {}
  explicit Text(const std::string &text) : m_text(SysAllocStringLen(nullptr, static_cast<UINT>(text.size()))) {
    for (size_t i = 0; i < text.size(); ++i)
      m_text[i] = static_cast<unsigned char>(text[i]);
  }
  ~Text() { SysFreeString(m_text); }
  operator BSTR() const { return m_text; }
private:
  BSTR m_text;
};

std::string Narrow(BSTR text) {
  std::string out;
  for (UINT i = 0; text && i < SysStringLen(text); ++i)
    out += static_cast<char>(text[i]);
  return out;
}

std::string LogText() {
  std::string p = qmtest::ProgramDirectory() + "core_unit_test.log";
  return qmtest::ReadTextFile(p);
}

// The injected clock.
SYSTEMTIME g_now;
bool g_clockWorks = true;
bool FakeClock(SYSTEMTIME *now) {
  *now = g_now;
  return g_clockWorks;
}
void SetNow(int year, int month, int day, int hour, int minute, int second) {
  g_now = SYSTEMTIME{};
  g_now.wYear = static_cast<WORD>(year);
  g_now.wMonth = static_cast<WORD>(month);
  g_now.wDay = static_cast<WORD>(day);
  g_now.wHour = static_cast<WORD>(hour);
  g_now.wMinute = static_cast<WORD>(minute);
  g_now.wSecond = static_cast<WORD>(second);
}

class CoreUnitTest : public ::testing::Test {
protected:
  void SetUp() override {
    g_coreClock = FakeClock;
    g_clockWorks = true;
    SetNow(2026, 12, 8, 12, 0, 0); // a Tuesday
    RemoveCronLatches(GetCurrentThreadId(), INT_MIN, INT_MAX);
  }
  void TearDown() override {
    g_coreClock = SystemLocalClock;
    RemoveCronLatches(GetCurrentThreadId(), INT_MIN, INT_MAX);
    core->Release();
  }

  // CheckTime's answer: 1 fired, 0 not, -1 refused (S_FALSE).
  int Check(short id, const wchar_t *spec, VARIANT_BOOL reset = VARIANT_FALSE) {
    Text text(spec);
    long fired = 99;
    HRESULT hr = core->CheckTime(id, reset, spec ? static_cast<BSTR>(text) : nullptr, &fired);
    if (hr == S_FALSE) {
      EXPECT_EQ(kFalse, fired);
      return -1;
    }
    EXPECT_EQ(S_OK, hr);
    return fired == kTrue ? 1 : 0;
  }

  std::string Latch(short id) { return qmtest::EnvironmentValue(CronLatchKey(GetCurrentThreadId(), id).c_str()); }

  qmtest::RelayWindow relay;
  CCore *core = new CCore(nullptr);
};

TEST_F(CoreUnitTest, CheckTimeFiresOncePerUnitAndKeepsItsLatchInTheEnvironment) {
  EXPECT_EQ(1, Check(1, L"* * * * *")) << "a fresh latch fires at the first check";
  EXPECT_EQ("248 0 12 8 12 3 2026 342 0", Latch(1)) << "mask of five fields, then the reading";
  SetNow(2026, 12, 8, 12, 0, 59);
  EXPECT_EQ(0, Check(1, L"* * * * *")) << "same minute";
  SetNow(2026, 12, 8, 12, 1, 0);
  EXPECT_EQ(1, Check(1, L"* * * * *")) << "next minute";
  EXPECT_EQ(1, Check(2, L"* * * * *")) << "another id has its own latch";

  // bReset: only True (-1) resets; 1 behaves like False.
  EXPECT_EQ(0, Check(1, L"* * * * *", 1));
  EXPECT_EQ(1, Check(1, L"* * * * *", VARIANT_TRUE));
  EXPECT_EQ(1, Check(1, L"* * * * *", VARIANT_TRUE));

  // The latch compares calendar components, not elapsed time: a clock set
  // back fires again in a minute that differs from the latch's.
  SetNow(2026, 12, 8, 12, 2, 0);
  EXPECT_EQ(1, Check(3, L"0,2 12"));
  SetNow(2026, 12, 8, 12, 0, 30);
  EXPECT_EQ(1, Check(3, L"0,2 12")) << "minute 0 differs from the latch's minute 2";
  SetNow(2026, 12, 8, 12, 2, 40);
  EXPECT_EQ(1, Check(3, L"0,2 12"));
  EXPECT_EQ(0, Check(3, L"0,2 12"));
}

TEST_F(CoreUnitTest, CheckTimeExamplesAgainstTheClock) {
  SetNow(2026, 12, 8, 8, 30, 5); // Tuesday 8:30
  EXPECT_EQ(1, Check(1, L"30 8 * * 2-6"));
  EXPECT_EQ(1, Check(2, L"_ 8"));
  EXPECT_EQ(0, Check(3, L"* * * * 1")) << "Sunday is 1";
  EXPECT_EQ(0, Check(4, L"* * * * 0"));
  EXPECT_EQ(0, Check(5, L"0 24"));
  EXPECT_EQ(0, Check(6, L"_ _ _")) << "no field given";
  EXPECT_EQ(0, Check(7, L"59-0 * * * *"));
  EXPECT_EQ(1, Check(8, L"_ _ _ _ _ 2026 342 5"));
  EXPECT_EQ(1, Check(9, L"\"30\"\t8"));
  SetNow(2026, 12, 8, 8, 8, 0);
  EXPECT_EQ(1, Check(10, L"08 * * * *"));
  EXPECT_EQ(0, Check(11, L"1234567890123456 * * * *")) << "more than 15 digits matches nothing";
}

TEST_F(CoreUnitTest, CheckTimeRefusesBadSpecificationsWithoutTouchingLatches) {
  EXPECT_EQ(-1, Check(1, nullptr));
  EXPECT_TRUE(Latch(1).empty()) << "a null specification touches no latch";
  EXPECT_EQ(-1, Check(1, L""));
  EXPECT_EQ(-1, Check(1, L"\x4E00 * *")) << "not convertible to the ANSI code page";
  EXPECT_TRUE(Latch(1).empty());
  EXPECT_EQ(-1, Check(1, L"   \t")) << "no field";
  EXPECT_EQ("0 0 12 8 12 3 2026 342 0", Latch(1)) << "the latch was made before the text was split";

  EXPECT_EQ(-1, Check(2, L"1 2 3 4 5 6 7 8 9"));
  EXPECT_NE(std::string::npos, LogText().find("[CCore::CheckTime]") );
  EXPECT_NE(std::string::npos, LogText().find("Bad Cron format: (1 2 3 4 5 6 7 8 9)"));

  // 300 characters are cut to 255 before splitting: eight fields survive.
  std::wstring spec = L"* * * * * * * " + std::wstring(300 - 14, L'*');
  std::wstring nine = std::wstring(L"* * * * * * * ") + std::wstring(255 - 14, L'*') + L" 9";
  EXPECT_EQ(1, Check(3, spec.c_str()));
  EXPECT_EQ(1, Check(4, nine.c_str())) << "the ninth field lies beyond byte 255";
}

TEST_F(CoreUnitTest, ClockThatCannotBeReadLeavesItsTextAndNoLatch) {
  g_clockWorks = false;
  SetEnvironmentVariableA(kTimeErrorVariable, NULL);
  EXPECT_EQ(-1, Check(1, L"* * * * *"));
  EXPECT_EQ(kTimeErrorText, qmtest::EnvironmentValue(kTimeErrorVariable));
  EXPECT_TRUE(Latch(1).empty());
  g_clockWorks = true;
  EXPECT_EQ(1, Check(1, L"* * * * *"));
  SetEnvironmentVariableA(kTimeErrorVariable, NULL);
}

TEST_F(CoreUnitTest, BrokenLatchTextsReadAsZero) {
  std::string key = CronLatchKey(GetCurrentThreadId(), 5);
  SetEnvironmentVariableA(key.c_str(), "garbage");
  EXPECT_EQ(1, Check(5, L"* * * * *")) << "a latch of zeros differs from now";
  SetEnvironmentVariableA(key.c_str(), std::string(5000, '7').c_str());
  EXPECT_EQ(1, Check(5, L"* * * * *"));
  EXPECT_EQ("248 0 12 8 12 3 2026 342 0", Latch(5));
}

TEST_F(CoreUnitTest, DestroyCronContextRemovesOnlyThisThreadsLatchesInRange) {
  Check(1, L"*");
  Check(3, L"*");
  Check(-1, L"*");
  Check(32767, L"*");
  std::string otherThread = CronLatchKey(GetCurrentThreadId() + 4, 2);
  SetEnvironmentVariableA(otherThread.c_str(), "0 0 0 0 0 0 0 0 0");
  std::string otherSpelling = "cron:" + std::to_string(GetCurrentThreadId()) + ":02";
  SetEnvironmentVariableA(otherSpelling.c_str(), "0 0 0 0 0 0 0 0 0");
  std::string wide = CronLatchKey(GetCurrentThreadId(), 70000);
  SetEnvironmentVariableA(wide.c_str(), "0 0 0 0 0 0 0 0 0");

  long removed = -5;
  EXPECT_EQ(S_OK, core->DestroyCronContext(3, 1, &removed));
  EXPECT_EQ(0, removed) << "an empty range";
  EXPECT_EQ(S_OK, core->DestroyCronContext(1, 3, &removed));
  EXPECT_EQ(2, removed);
  EXPECT_TRUE(Latch(1).empty());
  EXPECT_TRUE(Latch(3).empty());
  EXPECT_FALSE(Latch(-1).empty());
  EXPECT_EQ(S_OK, core->DestroyCronContext(INT_MIN, INT_MAX, &removed));
  EXPECT_EQ(3, removed) << "-1, 32767 and 70000, and the call ends after the largest id";
  EXPECT_EQ("0 0 0 0 0 0 0 0 0", qmtest::EnvironmentValue(otherThread.c_str()));
  EXPECT_EQ("0 0 0 0 0 0 0 0 0", qmtest::EnvironmentValue(otherSpelling.c_str()))
      << "not a key CheckTime builds";
  SetEnvironmentVariableA(otherThread.c_str(), NULL);
  SetEnvironmentVariableA(otherSpelling.c_str(), NULL);
}

// --- enciphered values ---

std::string g_phrase;
bool FakePassPhrase(std::string &phrase) {
  phrase = g_phrase;
  return !phrase.empty();
}

// Stands in for the making of a missing pass phrase: counts the calls and
// makes none, as where the machine's key may not be written.
int g_creations = 0;
bool RefusedCreation() {
  ++g_creations;
  return false;
}

class CipherTest : public ::testing::Test {
protected:
  void SetUp() override {
    g_passPhraseSource = FakePassPhrase;
    g_passPhraseCreator = RefusedCreation;
    g_creations = 0;
    g_phrase = "correct horse";
  }
  void TearDown() override {
    g_passPhraseSource = RegistryPassPhrase;
    g_passPhraseCreator = CreateRegistryPassPhrase;
  }
};

// The same cipher made here with the platform directly, from the given key
// material.
std::string DirectCipher(const std::string &material, const std::string &text) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  HCRYPTKEY key = 0;
  std::string hex;
  if (CryptAcquireContextA(&provider, NULL, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
      CryptHashData(hash, reinterpret_cast<const BYTE *>(material.data()), static_cast<DWORD>(material.size()), 0) &&
      CryptDeriveKey(provider, CALG_RC2, hash, 0, &key)) {
    BYTE buffer[64] = {};
    memcpy(buffer, text.data(), text.size());
    DWORD size = static_cast<DWORD>(text.size());
    if (CryptEncrypt(key, 0, TRUE, 0, buffer, &size, sizeof buffer))
      for (DWORD i = 0; i < size; ++i) {
        char digits[3];
        snprintf(digits, sizeof digits, "%02X", buffer[i]);
        hex += digits;
      }
  }
  if (key)
    CryptDestroyKey(key);
  if (hash)
    CryptDestroyHash(hash);
  if (provider)
    CryptReleaseContext(provider, 0);
  return hex;
}

TEST_F(CipherTest, HexFormAndLengths) {
  std::string cipher;
  ASSERT_EQ(kCipherDone, EncryptValue("abc", cipher));
  EXPECT_EQ(16u, cipher.size());
  EXPECT_EQ(std::string::npos, cipher.find_first_not_of("0123456789ABCDEF")) << cipher;
  EXPECT_EQ(DirectCipher("esroh tcerroc", "abc"), cipher) << "the key comes from the reversed pass phrase";
  std::string plain;
  ASSERT_EQ(kCipherDone, DecryptValue(cipher.c_str(), plain));
  EXPECT_EQ("abc", plain);

  ASSERT_EQ(kCipherDone, EncryptValue("12345678", cipher));
  EXPECT_EQ(32u, cipher.size()) << "a whole block is added";
  ASSERT_EQ(kCipherDone, EncryptValue("1234567", cipher));
  EXPECT_EQ(16u, cipher.size());

  std::string longest(kCipherValueMax, 'v');
  ASSERT_EQ(kCipherDone, EncryptValue(longest.c_str(), cipher));
  EXPECT_EQ(8176u, cipher.size());
  ASSERT_EQ(kCipherDone, DecryptValue(cipher.c_str(), plain));
  EXPECT_EQ(longest, plain);
  EXPECT_EQ(kCipherTooLong, EncryptValue((longest + "v").c_str(), cipher));
  EXPECT_TRUE(cipher.empty());
}

TEST_F(CipherTest, TextsThatAreNotCipherAreRefused) {
  std::string plain = "untouched";
  EXPECT_EQ(kCipherFailed, DecryptValue("abc", plain)) << "one byte is no whole block";
  EXPECT_EQ(kCipherFailed, DecryptValue("hello", plain));
  EXPECT_EQ(kCipherFailed, DecryptValue("", plain));
  EXPECT_EQ(kCipherFailed, DecryptValue(nullptr, plain));
  EXPECT_EQ(kCipherFailed, DecryptValue(std::string(kCipherTextMax + 2, 'A').c_str(), plain));

  std::string cipher;
  ASSERT_EQ(kCipherDone, EncryptValue("secret", cipher));
  ASSERT_EQ(kCipherDone, DecryptValue((cipher + "F").c_str(), plain)) << "a trailing odd digit is ignored";
  EXPECT_EQ("secret", plain);

  EXPECT_EQ(0, g_creations) << "an existing pass phrase is used as it is";
  g_phrase.clear();
  EXPECT_EQ(kCipherNoPassPhrase, DecryptValue(cipher.c_str(), plain));
  EXPECT_EQ(0, g_creations) << "deciphering never makes a pass phrase";
  EXPECT_EQ(kCipherNoPassPhrase, EncryptValue("secret", cipher));
  EXPECT_EQ(1, g_creations) << "enciphering asks for one, and is refused when none could be made";
  EXPECT_TRUE(cipher.empty());
}

TEST_F(CipherTest, SetEnvironmentVariableRefusesWhatItCannotEncipher) {
  qmtest::RelayWindow relay;
  CCore *core = new CCore(nullptr);
  SetEnvironmentVariableA("QM.UNIT_SECRET", "old");
  Text name(L"QM.UNIT_SECRET");
  long result = 5;
  Text tooLong(std::string(kCipherValueMax + 1, 'x'));
  EXPECT_EQ(S_FALSE, core->SetEnvironmentVariable(VAR_MODE_PROCESS | VAR_MODE_ENCRYPTED, name, tooLong, &result));
  EXPECT_EQ(kFalse, result);
  EXPECT_EQ("old", qmtest::EnvironmentValue("QM.UNIT_SECRET")) << "nothing is stored in plain text";
  ASSERT_FALSE(relay.Texts().empty());
  EXPECT_EQ("SetEnvironmentVariable: A value to encipher may have at most 4087 characters. The value was not "
            "stored.",
            relay.Texts().back());

  g_phrase.clear();
  Text value(L"secret");
  EXPECT_EQ(S_FALSE, core->SetEnvironmentVariable(VAR_MODE_PROCESS | VAR_MODE_ENCRYPTED, name, value, &result));
  EXPECT_EQ("old", qmtest::EnvironmentValue("QM.UNIT_SECRET"));
  EXPECT_EQ("SetEnvironmentVariable: No pass phrase is set for this installation. The value was not stored.",
            relay.Texts().back());
  // What cannot be deciphered reads as empty text, never as the stored text
  // a script would send on as a password.
  auto readBack = [&](const char *stored) {
    SetEnvironmentVariableA("QM.UNIT_SECRET", stored);
    BSTR read = nullptr;
    HRESULT hr = core->GetEnvironmentVariable(VAR_MODE_PROCESS | VAR_MODE_ENCRYPTED, name, &read);
    std::string text = (hr == S_OK ? "" : "(failed)") + Narrow(read) + "|" + relay.Texts().back();
    SysFreeString(read);
    return text;
  };
  EXPECT_EQ("|GetEnvironmentVariable: No pass phrase is set for this installation. The value cannot be deciphered; "
            "empty text is returned.",
            readBack("0011223344556677"));
  g_phrase = "p";
  EXPECT_EQ("|GetEnvironmentVariable: The stored value is no cipher text of this installation's pass phrase (error "
            "80090005). Empty text is returned.",
            readBack("plain password"));
  std::string cipher;
  ASSERT_EQ(kCipherDone, EncryptValue("secret", cipher));
  g_phrase = "another phrase";
  std::string other = readBack(cipher.c_str());
  EXPECT_EQ(0u, other.find("|GetEnvironmentVariable: The stored value is no cipher text")) << other;

  // A pass phrase that is there but closed to this account is told apart
  // from none, and not made again.
  g_passPhraseSource = RegistryPassPhrase;
  const char kUnitKey[] = "software\\Brenlow Software\\Quillmoth\\Security";
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kUnitKey, "PassPhrase", "closed phrase");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUnitKey, 0, READ_CONTROL | WRITE_DAC, &key));
  BYTE original[4096];
  DWORD originalSize = sizeof original;
  ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, original, &originalSize));
  PSECURITY_DESCRIPTOR closed = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P", SDDL_REVISION_1, &closed, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, closed));
  std::string unreadable = readBack(cipher.c_str());
  g_creations = 0;
  EXPECT_EQ(S_FALSE, core->SetEnvironmentVariable(VAR_MODE_PROCESS | VAR_MODE_ENCRYPTED, name, value, &result));
  std::string refused = relay.Texts().back();
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, original));
  RegCloseKey(key);
  LocalFree(closed);
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kUnitKey, "PassPhrase");
  EXPECT_EQ("|GetEnvironmentVariable: The pass phrase of this installation cannot be read by this account: only "
            "administrators and the account the service runs as can read it. Empty text is returned.",
            unreadable);
  EXPECT_EQ("SetEnvironmentVariable: The pass phrase of this installation cannot be read by this account: only "
            "administrators and the account the service runs as can read it. The value was not stored.",
            refused);
  EXPECT_EQ(0, g_creations) << "an unreadable pass phrase is not made again";
  g_passPhraseSource = FakePassPhrase;

  g_phrase = "p";
  Text empty(L"");
  EXPECT_EQ(S_OK, core->SetEnvironmentVariable(VAR_MODE_PROCESS | VAR_MODE_ENCRYPTED, name, empty, &result));
  EXPECT_EQ(kTrue, result);
  bool found = true;
  qmtest::EnvironmentValue("QM.UNIT_SECRET", &found);
  EXPECT_FALSE(found) << "an empty value removes the variable, enciphered or not";
  core->Release();
}

// --- argument conversion and handles ---

TEST(CoreTextTest, RequiredAndOptionalTextInFixedBuffers) {
  char buffer[8];
  EXPECT_FALSE(ConvertText(nullptr, buffer, sizeof buffer, kRequiredText));
  EXPECT_TRUE(ConvertText(nullptr, buffer, sizeof buffer, kOptionalText));
  EXPECT_STREQ("", buffer);
  Text empty(L"");
  EXPECT_FALSE(ConvertText(empty, buffer, sizeof buffer, kRequiredText));
  Text longer(L"abcdefghij");
  EXPECT_TRUE(ConvertText(longer, buffer, sizeof buffer, kRequiredText));
  EXPECT_STREQ("abcdefg", buffer) << "cut at the buffer's size minus one";
  Text foreign(L"a\x4E00");
  memset(buffer, 'z', sizeof buffer);
  EXPECT_FALSE(ConvertText(foreign, buffer, sizeof buffer, kOptionalText));
  EXPECT_STREQ("", buffer) << "an unconvertible text leaves an empty buffer";
  Text latin(L"caf\xE9");
  EXPECT_TRUE(ConvertText(latin, buffer, sizeof buffer, kRequiredText));
  EXPECT_STREQ("caf\xE9", buffer);
}

TEST_F(CoreUnitTest, NamesAndCommandLinesThatDoNotFitAreRefusedNotCut) {
  // Whole or not at all: a cut command line or name would be acted on.
  char buffer[8];
  size_t length = 0;
  Text seven(L"abcdefg"), eight(L"abcdefgh");
  EXPECT_EQ(kTextTaken, TakeText(seven, buffer, sizeof buffer, kRequiredText, &length));
  EXPECT_STREQ("abcdefg", buffer);
  EXPECT_EQ(kTextTooLong, TakeText(eight, buffer, sizeof buffer, kOptionalText, &length));
  EXPECT_EQ(8u, length);
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(kTextEmpty, TakeText(nullptr, buffer, sizeof buffer, kRequiredText));
  EXPECT_EQ(kTextTaken, TakeText(nullptr, buffer, sizeof buffer, kOptionalText));
  Text foreign(L"a\x4E00");
  EXPECT_EQ(kTextUnconvertible, TakeText(foreign, buffer, sizeof buffer, kOptionalText));

  // Refused before any server is asked, with the method's failure value.
  long value = 99;
  EXPECT_EQ(S_FALSE, core->FtpConnect(Text(std::string(1024, 'h')), 21, nullptr, nullptr, &value));
  EXPECT_EQ(0, value);
  ASSERT_FALSE(relay.Texts().empty());
  EXPECT_EQ("FtpConnect: The host name is too long (1024 characters, at most 1023)", relay.Texts().back());
  value = 99;
  EXPECT_EQ(S_FALSE, core->NetScheduleJobAdd(0, nullptr, Text(L"0 3 * * *"),
                                             Text("robocopy /MIR C:\\a D:\\b /XD " + std::string(1200, 'x')), &value));
  EXPECT_EQ(-1, value);
  EXPECT_EQ("NetScheduleJobAdd: The command line is too long (1228 characters, at most 1023)", relay.Texts().back());
  value = 99;
  EXPECT_EQ(S_FALSE, core->NetCreateProcess(0, Text(std::string(1500, 's')), Text(L"cmd /c exit"), &value));
  EXPECT_EQ(-1, value);
  EXPECT_EQ("NetCreateProcess: The server name is too long (1500 characters, at most 1023)", relay.Texts().back());
}

void CountVisit(HandleRecord &record, void *count) {
  ++*static_cast<int *>(count);
  EXPECT_EQ(HT_MESSAGE, record.type);
}

TEST(HandleTableTest, OnlyLiveRecordsOfTheRightTypeAreReached) {
  long before = HandleLiveCount();
  MSG *copy = static_cast<MSG *>(calloc(1, sizeof(MSG)));
  long handle = HandleIssue(HT_MESSAGE, copy);
  ASSERT_NE(0, handle);
  EXPECT_EQ(before + 1, HandleLiveCount());
  int visits = 0;
  EXPECT_TRUE(HandleVisit(handle, HT_MESSAGE, CountVisit, &visits));
  EXPECT_FALSE(HandleVisit(handle, HT_TOKEN, CountVisit, &visits)) << "wrong type";
  EXPECT_FALSE(HandleVisit(0, 0, CountVisit, &visits));
  EXPECT_FALSE(HandleVisit(handle + 1000, 0, CountVisit, &visits)) << "never handed out";
  EXPECT_EQ(1, visits);
  HandleRecord *record = HandleTake(handle, HT_MESSAGE);
  ASSERT_TRUE(record);
  EXPECT_EQ(copy, record->payload);
  free(record->payload);
  HandleDeleteRecord(record);
  EXPECT_EQ(nullptr, HandleTake(handle, 0)) << "already freed";
  EXPECT_FALSE(HandleVisit(handle, HT_MESSAGE, CountVisit, &visits));
  long next = HandleIssue(HT_MESSAGE, calloc(1, sizeof(MSG)));
  EXPECT_NE(handle, next) << "a freed number is not handed out again";
  record = HandleTake(next, 0);
  free(record->payload);
  HandleDeleteRecord(record);
  EXPECT_EQ(before, HandleLiveCount());
}

TEST(FreeHandleTest, EachTypeIsReleasedAndUnknownTypesAreReported) {
  qmtest::RelayWindow relay;
  CCore *core = new CCore(nullptr);
  long result = 7;
  EXPECT_EQ(S_FALSE, core->FreeHandle(0, &result));
  EXPECT_EQ(kFalse, result);

  // A token record closes its token.
  HANDLE token = NULL;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  long tokenHandle = HandleIssue(HT_TOKEN, token);
  long id = 0;
  EXPECT_EQ(S_FALSE, core->GetMessageId(tokenHandle, &id)) << "not a message handle";
  EXPECT_EQ(-1, id);
  EXPECT_EQ(S_OK, core->FreeHandle(tokenHandle, &result));
  EXPECT_EQ(kTrue, result);
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(token, &flags)) << "the token is closed";

  // An unknown tag: reported, nothing released.
  int payload = 0;
  long odd = HandleIssue(210, &payload);
  EXPECT_EQ(S_FALSE, core->FreeHandle(odd, &result));
  EXPECT_EQ(kFalse, result);
  ASSERT_FALSE(relay.Texts().empty());
  EXPECT_EQ("CCore::FreeHandle: Unknown handle type D2", relay.Texts().back());
  EXPECT_NE(std::string::npos, LogText().find("Unknown handle type D2"));
  EXPECT_EQ(210, HandleTypeOf(odd)) << "the record stays";
  HandleDeleteRecord(HandleTake(odd, 210));
  core->Release();
}

// Running out of memory inside a method: the test program's operator new
// refuses while a count of allowed allocations is used up on this thread.
thread_local long t_allocationsLeft = -1; // -1: no limit
thread_local bool t_refused = false;

} // namespace

void *operator new(size_t size) {
  if (t_allocationsLeft == 0) {
    t_refused = true;
    throw std::bad_alloc();
  }
  if (t_allocationsLeft > 0)
    --t_allocationsLeft;
  if (void *block = std::malloc(size ? size : 1))
    return block;
  throw std::bad_alloc();
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, size_t) noexcept { std::free(block); }

namespace {

// Calls `call` again and again with the failure moved to its 1st, 2nd...
// allocation until it gets through; every failing run must answer
// E_OUTOFMEMORY (an exception that escapes fails the test).
void SweepAllocations(const char *what, const std::function<HRESULT()> &call) {
  for (long allowed = 0; allowed < 2048; ++allowed) {
    t_allocationsLeft = allowed;
    t_refused = false;
    HRESULT hr = call();
    bool ranOut = t_refused;
    t_allocationsLeft = -1;
    if (!ranOut)
      return; // the call needed fewer allocations: done
    EXPECT_EQ(E_OUTOFMEMORY, hr) << what << " with " << allowed << " allocations allowed";
  }
  ADD_FAILURE() << what << " never got through";
}

// Every method that allocates answers E_OUTOFMEMORY when memory runs out at
// any of its allocations and leaves no exception to end the script's thread.
TEST(OutOfMemoryTest, MethodsAnswerOutOfMemoryInsteadOfThrowing) {
  qmtest::RelayWindow relay;
  CCore *core = new CCore(nullptr);
  Text spec(L"* * * * *"), name(L"QM.OOM_TEST"), value(L"v"), pattern(L"^QmNoSuchWindow$");
  long result = 0;
  BSTR text = nullptr;
  SweepAllocations("CheckTime", [&] { return core->CheckTime(1, VARIANT_FALSE, spec, &result); });
  SweepAllocations("DestroyCronContext", [&] { return core->DestroyCronContext(INT_MIN, INT_MAX, &result); });
  SweepAllocations("SetEnvironmentVariable", [&] { return core->SetEnvironmentVariable(1, name, value, &result); });
  SweepAllocations("GetEnvironmentVariable", [&] {
    HRESULT hr = core->GetEnvironmentVariable(1, name, &text);
    SysFreeString(text);
    text = nullptr;
    return hr;
  });
  SweepAllocations("FindWindow", [&] { return core->FindWindow(pattern, nullptr, &result); });

  SetEnvironmentVariableA("QM.OOM_TEST", NULL);
  core->Release();
}

// The process, job and FTP families, each on a path that ends in a failure
// here: no program, no cron time, no listener (port 1 on loopback refuses).
// No relay window here: its own recording, on this thread, would run out too.
TEST(OutOfMemoryTest, ProcessJobAndFtpMethodsAnswerOutOfMemoryInsteadOfThrowing) {
  CCore *core = new CCore(nullptr);
  long result = 0;
  Text missingProgram(L"qm-no-such-program-7f3a.exe /x"), server(L""), badSpec(L"61 * * * *"), host(L"127.0.0.1"),
      user(L"anonymous"), password(L"x");
  SweepAllocations("CreateProcess", [&] { return core->CreateProcess(0, missingProgram, &result); });
  SweepAllocations("NetScheduleJobAdd",
                   [&] { return core->NetScheduleJobAdd(0, server, badSpec, missingProgram, &result); });
  SweepAllocations("FtpConnect", [&] { return core->FtpConnect(host, 1, user, password, &result); });

  // Freeing a session records the server's goodbye: when memory runs out
  // there, the session still goes and no exception leaves the method.
  qmtest::CuttingFtpServer ftp("f.txt", "x", 1);
  ASSERT_TRUE(ftp.Start(nullptr));
  bool refused = true;
  for (long allowed = 0; refused && allowed < 256; ++allowed) {
    long session = 0, freed = 0;
    ASSERT_EQ(S_OK, core->FtpConnect(host, static_cast<short>(ftp.Port()), user, password, &session));
    t_allocationsLeft = allowed;
    t_refused = false;
    HRESULT hr = core->FreeHandle(session, &freed);
    refused = t_refused;
    t_allocationsLeft = -1;
    EXPECT_EQ(S_OK, hr) << allowed << " allocations allowed";
    EXPECT_EQ(kTrue, freed);
    EXPECT_EQ(0, HandleTypeOf(session)) << "the session is gone";
  }
  EXPECT_FALSE(refused) << "freeing got through";
  for (const char *variable : {"FTP.LASTLINE", "FTP.WINSOCK", "FTP.REPLY_CODE", "FTP.LASTMSG", "QM.LAST_ERROR"})
    SetEnvironmentVariableA(variable, NULL);
  core->Release();
}

} // namespace
