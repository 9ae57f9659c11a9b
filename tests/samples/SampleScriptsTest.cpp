// The shipped sample scripts, each run by Quillmoth.exe as an operator runs
// it (loaded by its bare name, found in the Sample Scripts folder on the
// program's search path), with its settings given as the process variables
// the samples read: a schedule that is due at once, and the test's own
// folders, server, windows, counter and scheduler. Each test looks at what
// the sample did, not only at what it logged.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>
#include <lmat.h>
#include <map>
#include <string>
#include <vector>

#include "FtpServer.h"
#include "ProgramUnderTest.h"
#include "ScheduleService.h"
#include "WineTestSupport.h"

using qmtest::PumpUntil;
using qmtest::WaitUntil;

namespace {

const char kStoreKey[] = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";

// Settings of one sample as process variables "<sample>.<name>", which the
// program inherits; removed again when the object goes away.
class SampleSettings {
public:
  SampleSettings(const std::string &sample, const std::map<std::string, std::string> &values) {
    for (const auto &value : values) {
      std::string name = sample + "." + value.first;
      SetEnvironmentVariableA(name.c_str(), value.second.c_str());
      m_names.push_back(name);
    }
  }
  ~SampleSettings() {
    for (const std::string &name : m_names)
      SetEnvironmentVariableA(name.c_str(), nullptr);
  }

private:
  std::vector<std::string> m_names;
};

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Moves a file's last change the given number of days into the past.
bool Age(const std::string &path, int days) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000ULL;
  FILETIME past = {t.LowPart, t.HighPart};
  bool done = SetFileTime(file, nullptr, nullptr, &past) != 0;
  CloseHandle(file);
  return done;
}

void ForgetStored(const std::string &name) {
  qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kStoreKey, name);
  qmtest::DeleteRegistryValue(HKEY_CURRENT_USER, kStoreKey, name);
}

std::string Stored(const std::string &name) { return qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kStoreKey, name); }

class SampleScripts : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(program.Prepared()); }

  // Runs the program with the sample loaded by its bare name until the log
  // holds the text (false on time-out).
  bool RunUntilLogged(const std::string &sample, const std::string &text, DWORD milliseconds = 60000) {
    if (!program.Start("-load " + sample + ".vbs"))
      return false;
    return WaitUntil([&] { return Contains(Log(), text); }, milliseconds);
  }
  std::string Log() const { return qmtest::ReadTextFile(logFile); }
  std::string Describe() const { return "log:\n" + Log() + "\nconsole:\n" + program.Output(); }

  // The program is stopped before the folders its samples use go away.
  qmtest::TempDirectory work{"sample-work"};
  std::string logFile = work / "sample.log";
  std::string bin = qmtest::ProgramDirectory();
  qmtest::ProgramUnderTest program{"samples"};
};

TEST_F(SampleScripts, WeekdayRunStartsTheProgramAndLogsItsExitCode) {
  std::string command = "\"" + bin + "qmchild.exe\" exit 7";
  SampleSettings settings("WeekdayRun", {{"SCHEDULE", "* * * * *"}, {"COMMAND", command}, {"LOG_FILE", logFile}});
  ASSERT_TRUE(RunUntilLogged("WeekdayRun", "exit code")) << Describe();
  EXPECT_TRUE(Contains(Log(), "exit code 7 from " + command + " (due ")) << Describe();
  EXPECT_TRUE(Contains(program.Output(), "WeekdayRun: exit code 7")) << "and on the console: " << Describe();
  EXPECT_TRUE(program.Stop());
  EXPECT_TRUE(Contains(Log(), "stopped")) << "the loop ended on the stop request: " << Describe();
}

TEST_F(SampleScripts, FtpUploadSendsWhatItHasNotSentUnderATemporaryNameWithTheStoredPassword) {
  qmtest::FtpServer server;
  std::string why;
  ASSERT_TRUE(server.Start(&why)) << why;
  const char kPassPhraseKey[] = "software\\Brenlow Software\\Quillmoth\\Security";
  bool phraseBefore = false;
  qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase", &phraseBefore);
  // The password is kept enciphered, stored once by a script of its own.
  ASSERT_TRUE(qmtest::WriteTextFile(program.Folder() + "Scripts\\store.vbs",
                                    "Function main(x)\r\n"
                                    "  NewCore().SetEnvironmentVariable VAR_STORED + VAR_ENCRYPTED, \"FtpUpload.PASSWORD\", \"" +
                                        std::string(qmtest::FtpServer::Password()) + "\"\r\n"
                                    "  NewCore().Print \"password stored\"\r\n"
                                    "End Function\r\n"));
  ASSERT_TRUE(program.Start("-load store.vbs"));
  ASSERT_TRUE(WaitUntil([&] { return Contains(program.Output(), "password stored"); })) << program.Output();
  EXPECT_TRUE(program.Stop());
  EXPECT_NE(std::string(qmtest::FtpServer::Password()), Stored("FtpUpload.PASSWORD")) << "not as plain text";

  std::string outbox = work / "outbox\\";
  ASSERT_TRUE(qmtest::MakeDirectory(outbox));
  const std::string tonight = "id;amount\r\n1;" + std::string(5000, '7') + "\r\n";
  ASSERT_TRUE(qmtest::WriteTextFile(outbox + "tonight.csv", tonight));
  ASSERT_TRUE(qmtest::WriteTextFile(outbox + "lastweek.csv", "moved in with an old date\r\n"));
  ASSERT_TRUE(qmtest::WriteTextFile(outbox + "notes.txt", "not a csv\r\n"));
  ASSERT_TRUE(Age(outbox + "lastweek.csv", 3));
  SampleSettings settings("FtpUpload", {{"SCHEDULE", "* * * * *"},
                                        {"FOLDER", outbox},
                                        {"EXTENSIONS", "csv"},
                                        {"FTP_HOST", "127.0.0.1"},
                                        {"FTP_PORT", std::to_string(server.Port())},
                                        {"FTP_USER", "anonymous"},
                                        {"LOG_FILE", logFile}});
  ASSERT_TRUE(RunUntilLogged("FtpUpload", "file(s) sent")) << Describe();
  EXPECT_TRUE(program.Stop());
  EXPECT_TRUE(Contains(Log(), "sent tonight.csv (" + std::to_string(tonight.size()) + " bytes): 226")) << Describe();
  EXPECT_TRUE(Contains(Log(), "2 file(s) sent, 0 failed")) << Describe();
  EXPECT_EQ(tonight, qmtest::ReadTextFile(server.Root() + "tonight.csv")) << "the server holds the file";
  EXPECT_TRUE(Exists(server.Root() + "lastweek.csv")) << "never sent, whatever its date";
  EXPECT_FALSE(Exists(server.Root() + "tonight.csv.part")) << "renamed once complete";
  EXPECT_FALSE(Exists(server.Root() + "notes.txt")) << "not one of the extensions";

  // The next run sends what changed since, and nothing else.
  const std::string changed = tonight + "2;1\r\n";
  ASSERT_TRUE(qmtest::WriteTextFile(outbox + "tonight.csv", changed));
  ASSERT_TRUE(DeleteFileA(logFile.c_str()));
  ASSERT_TRUE(RunUntilLogged("FtpUpload", "file(s) sent")) << Describe();
  EXPECT_TRUE(program.Stop());
  EXPECT_TRUE(Contains(Log(), "1 file(s) sent, 0 failed")) << Describe();
  EXPECT_FALSE(Contains(Log(), "sent lastweek.csv")) << Describe();
  EXPECT_EQ(changed, qmtest::ReadTextFile(server.Root() + "tonight.csv"));
  ForgetStored("FtpUpload.PASSWORD");
  if (!phraseBefore)
    qmtest::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase");
}

TEST_F(SampleScripts, CleanOldFilesDeletesOnlyOldFilesOfTheListedKinds) {
  std::string folder = work / "reports\\";
  ASSERT_TRUE(qmtest::MakeDirectory(folder));
  ASSERT_TRUE(qmtest::MakeDirectory(folder + "inner\\"));
  for (const char *name : {"old.log", "new.log", "old.txt", "inner\\old.log"})
    ASSERT_TRUE(qmtest::WriteTextFile(folder + name, name));
  for (const char *name : {"old.log", "old.txt", "inner\\old.log"})
    ASSERT_TRUE(Age(folder + name, 10));
  std::map<std::string, std::string> values = {
      {"SCHEDULE", "* * * * *"}, {"FOLDER", folder}, {"EXTENSIONS", "log"}, {"LOG_FILE", logFile}};

  // A number of days that is not one deletes nothing.
  {
    values["DAYS"] = "a week";
    SampleSettings settings("CleanOldFiles", values);
    ASSERT_TRUE(RunUntilLogged("CleanOldFiles", "nothing will be deleted")) << Describe();
    EXPECT_TRUE(Contains(Log(), "DAYS \"a week\" is not a whole number of days")) << Describe();
    EXPECT_TRUE(program.Stop());
    EXPECT_TRUE(Exists(folder + "old.log"));
  }
  values["DAYS"] = "7";
  // "C:" is the current folder of drive C (the program's folder here, a
  // service's System32): refused, as is any path that is not a full one.
  for (const char *notFull : {"C:", "reports", "C:\\Windows\\..\\"}) {
    values["FOLDER"] = notFull;
    SampleSettings settings("CleanOldFiles", values);
    ASSERT_TRUE(RunUntilLogged("CleanOldFiles", std::string("refusing to clean \"") + notFull + "\": ")) << Describe();
    EXPECT_TRUE(program.Stop());
  }
  values["FOLDER"] = folder;
  SampleSettings settings("CleanOldFiles", values);
  ASSERT_TRUE(RunUntilLogged("CleanOldFiles", "file(s) deleted")) << Describe();
  EXPECT_TRUE(Contains(Log(), "deleted " + folder + "old.log (last changed ")) << Describe();
  EXPECT_TRUE(Contains(Log(), "1 file(s) deleted, 0 could not be deleted")) << Describe();
  EXPECT_FALSE(Exists(folder + "old.log"));
  EXPECT_TRUE(Exists(folder + "new.log")) << "changed today";
  EXPECT_TRUE(Exists(folder + "old.txt")) << "not one of the extensions";
  EXPECT_TRUE(Exists(folder + "inner\\old.log")) << "folders inside only when asked";
  EXPECT_TRUE(program.Stop());
}

// Top-level windows of this test; DefWindowProc destroys one on WM_CLOSE.
class TestWindows {
public:
  TestWindows() {
    for (const char *name : {"QmSampleNag", "QmSampleOther"}) {
      WNDCLASSA kind = {};
      kind.lpfnWndProc = DefWindowProcA;
      kind.hInstance = GetModuleHandleA(nullptr);
      kind.lpszClassName = name;
      RegisterClassA(&kind);
    }
  }
  ~TestWindows() {
    for (HWND window : m_windows)
      if (IsWindow(window))
        DestroyWindow(window);
  }
  HWND Open(const char *className, const char *title) {
    HWND window = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 80, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    m_windows.push_back(window);
    return window;
  }

private:
  std::vector<HWND> m_windows;
};

TEST_F(SampleScripts, WindowWatchClosesTheMatchingWindowOnly) {
  TestWindows windows;
  HWND nag = windows.Open("QmSampleNag", "Nag: licence expired");
  HWND mention = windows.Open("QmSampleNag", "Reminder - Nag: licence expired");
  HWND otherClass = windows.Open("QmSampleOther", "Nag: licence expired");
  ASSERT_TRUE(nag && mention && otherClass);
  std::map<std::string, std::string> values = {{"TITLE_PATTERN", "^Nag: ("},
                                               {"CLASS_PATTERN", "^QmSampleNag$"},
                                               {"INTERVAL", "1"},
                                               {"LOG_FILE", logFile}};
  // A pattern that does not compile closes nothing (it must not stand for
  // "any window").
  {
    SampleSettings settings("WindowWatch", values);
    ASSERT_TRUE(program.Start("-load WindowWatch.vbs"));
    EXPECT_TRUE(PumpUntil([&] { return Contains(Log(), "no window will be closed"); }, 60000)) << Describe();
    EXPECT_TRUE(Contains(Log(), "the patterns do not compile (unmatched ())")) << Describe();
    EXPECT_TRUE(IsWindow(nag));
    EXPECT_TRUE(program.Stop());
  }
  values["TITLE_PATTERN"] = "^Nag: ";
  {
    values["CLOSE_COMMAND"] = "\"" + bin + "qmchild.exe\" close {window}";
    SampleSettings settings("WindowWatch", values);
    ASSERT_TRUE(program.Start("-load WindowWatch.vbs"));
    // This thread owns the windows: it answers the program's questions for
    // their texts while it waits.
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(nag) && Contains(Log(), "close command ended"); }, 60000))
        << Describe();
    PumpUntil([] { return false; }, 2500);
    EXPECT_TRUE(IsWindow(mention)) << "the title only contains the pattern's text";
    EXPECT_TRUE(IsWindow(otherClass)) << "another class";
    EXPECT_TRUE(Contains(Log(), "window " + std::to_string(reinterpret_cast<LONG_PTR>(nag)) +
                                    " matched; the close command ended with code 0")) << Describe();
    EXPECT_FALSE(Contains(Log(), "still open")) << Describe();
    EXPECT_TRUE(program.Stop());
  }

  // Without a close command the sample asks the matched window itself to
  // close (WM_CLOSE), wherever it is: another window stays in front, and
  // the matched one goes.
  values.erase("CLOSE_COMMAND");
  HWND again = windows.Open("QmSampleNag", "Nag: trial ends");
  HWND front = windows.Open("QmSampleOther", "In front");
  SetForegroundWindow(front);
  SampleSettings settings("WindowWatch", values);
  ASSERT_TRUE(program.Start("-load WindowWatch.vbs"));
  std::string matched = "window " + std::to_string(reinterpret_cast<LONG_PTR>(again)) + " matched";
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(again) && Contains(Log(), matched + "; asked it to close"); }, 60000))
      << Describe();
  EXPECT_TRUE(IsWindow(front));
  EXPECT_TRUE(IsWindow(mention));
  EXPECT_TRUE(IsWindow(otherClass));
}

TEST_F(SampleScripts, StartCounterCountsAcrossRestarts) {
  const std::string counter = "QmSampleTest.COUNT";
  ForgetStored(counter + ".LAST");
  // What is stored is not a count: the sample says so and starts again.
  qmtest::WriteRegistryText(HKEY_LOCAL_MACHINE, kStoreKey, counter, "many");
  SampleSettings settings("StartCounter", {{"COUNTER", counter}, {"LOG_FILE", logFile}});

  ASSERT_TRUE(RunUntilLogged("StartCounter", "start number 1 ")) << Describe();
  EXPECT_TRUE(Contains(Log(), "the stored value \"many\" of " + counter + " is not a count")) << Describe();
  EXPECT_TRUE(Contains(Log(), "the previous one was at (none recorded)")) << Describe();
  EXPECT_TRUE(program.Stop());
  EXPECT_EQ("1", Stored(counter));

  ASSERT_TRUE(RunUntilLogged("StartCounter", "start number 2 ")) << Describe();
  EXPECT_TRUE(program.Stop());
  EXPECT_EQ("2", Stored(counter)) << "the count survived the restart";
  EXPECT_EQ(19u, Stored(counter + ".LAST").size()) << Stored(counter + ".LAST");
  EXPECT_TRUE(Contains(Log(), "start number 2 of Quillmoth; the previous one was at 20")) << Describe();
  ForgetStored(counter);
  ForgetStored(counter + ".LAST");
}

// The jobs of this computer's scheduler with this command, as netapi32
// lists them (independent of the Core object).
std::vector<DWORD> JobsWithCommand(const std::wstring &command) {
  std::vector<DWORD> ids;
  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0, resume = 0;
  if (NetScheduleJobEnum(nullptr, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume) == NERR_Success) {
    AT_ENUM *jobs = reinterpret_cast<AT_ENUM *>(buffer);
    for (DWORD i = 0; i < read; ++i)
      if (jobs[i].Command && command == jobs[i].Command)
        ids.push_back(jobs[i].JobId);
  }
  if (buffer)
    NetApiBufferFree(buffer);
  return ids;
}

TEST_F(SampleScripts, RemoteJobPlacesItsJobOnceInTheScheduler) {
  ASSERT_TRUE(qmtest::SetScheduleService(true)) << "Wine's schedule service started";
  std::string command = "cmd /c echo quillmoth sample job " + std::to_string(GetCurrentProcessId());
  std::wstring wideCommand(command.begin(), command.end());
  // The computer by its own name: the sample passes it as \\NAME.
  char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  SampleSettings settings("RemoteJob", {{"COMPUTER", name},
                                        {"SCHEDULE", "30 2 _ _ 2-6"},
                                        {"JOB_COMMAND", command},
                                        {"LOG_FILE", logFile}});

  ASSERT_TRUE(RunUntilLogged("RemoteJob", "job ")) << Describe();
  EXPECT_TRUE(program.Stop());
  std::vector<DWORD> jobs = JobsWithCommand(wideCommand);
  ASSERT_EQ(1u, jobs.size()) << Describe();
  EXPECT_TRUE(Contains(Log(), "added job " + std::to_string(jobs[0]) + " on \\\\" + name + ": \"30 2 _ _ 2-6\" " +
                                  command + "; next run ")) << Describe();

  // At the next start the job is there already: no second one.
  ASSERT_TRUE(RunUntilLogged("RemoteJob", "already runs")) << Describe();
  EXPECT_TRUE(program.Stop());
  EXPECT_EQ(jobs, JobsWithCommand(wideCommand));
  EXPECT_TRUE(Contains(Log(), "job " + std::to_string(jobs[0]) + " on \\\\" + name + " already runs " + command))
      << Describe();

  // A changed schedule replaces the job rather than being ignored.
  {
    SampleSettings changed("RemoteJob", {{"SCHEDULE", "0 4 1 _ _"}});
    ASSERT_TRUE(DeleteFileA(logFile.c_str()));
    ASSERT_TRUE(RunUntilLogged("RemoteJob", "added job ")) << Describe();
    EXPECT_TRUE(program.Stop());
  }
  EXPECT_TRUE(Contains(Log(), "removed job " + std::to_string(jobs[0]) + " on \\\\" + name + ", which ran " + command +
                                  " on another schedule (0 30 2 _ _ 2-6)")) << Describe();
  std::vector<DWORD> replaced = JobsWithCommand(wideCommand);
  ASSERT_EQ(1u, replaced.size()) << Describe();
  EXPECT_TRUE(Contains(Log(), "added job " + std::to_string(replaced[0]) + " on \\\\" + name + ": \"0 4 1 _ _\" " +
                                  command)) << Describe();
  EXPECT_EQ("0 0 4 1 _ _", Stored("RemoteJob.\\\\" + std::string(name) + "." + std::to_string(replaced[0])));
  for (DWORD id : replaced) {
    NetScheduleJobDel(nullptr, id, id);
    ForgetStored("RemoteJob.\\\\" + std::string(name) + "." + std::to_string(id));
  }
  qmtest::SetScheduleService(false); // asked for; Wine's ends with the bench's server
}

} // namespace
