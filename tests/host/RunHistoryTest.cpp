// What ran, as an administrator reads it afterwards: the run history's day
// file (parsed here as a spreadsheet would), the transcript, -history and
// -status, written by the real program; and the day file written by two
// processes with sixteen threads each at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "HistoryReader.h"
#include "HistoryRetention.h"
#include "ProgramUnderTest.h"
#include "QuillmothRun.h"
#include "WineTestSupport.h"

using qmtest::WaitUntil;

namespace {

std::string DayFilePath(const std::string &dataFolder) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return dataFolder + "History\\" + HistoryDayFileName({now.wYear, now.wMonth, now.wDay});
}

// The day's records (and how many lines held none).
HistoryReadResult DayRecords(const std::string &dataFolder) {
  return ReadHistory(qmtest::ReadTextFile(DayFilePath(dataFolder)));
}

const RunRecord *Find(const std::vector<RunRecord> &records, const std::string &ranEnd) {
  for (const RunRecord &record : records)
    if (record.ran.size() >= ranEnd.size() && record.ran.compare(record.ran.size() - ranEnd.size(), ranEnd.size(), ranEnd) == 0)
      return &record;
  return nullptr;
}

const char kGood[] = "Function main(x)\r\n"
                     "  main = \"got \" & x & \", \"\"quoted\"\"\" & vbCrLf & \"second line\"\r\n"
                     "End Function\r\n";
const char kBad[] = "Function main(x)\r\n"
                    "  Err.Raise 5, \"qm\", \"bad, \"\"really\"\"\"\r\n"
                    "End Function\r\n";

std::string AutoRun(const std::string &child) {
  return "Function main(x)\r\n"
         "  Dim core, suspended\r\n"
         "  Set core = NewCore()\r\n"
         "  core.Print \"good gave \" & core.Run(0, \"Good.vbs\", \"a,b\")\r\n"
         "  core.Print \"child gave \" & core.CreateProcess(0, \"\"\"" + child + "\"\" exit 3\")\r\n"
         "  core.Run 0, \"Bad.vbs\", \"\"\r\n"
         "  suspended = False\r\n"
         "  Do While NextTick(core, suspended)\r\n"
         "  Loop\r\n"
         "End Function\r\n";
}

TEST(RunHistory, EachOutcomeIsOneRecordAndTheCommandsShowThem) {
  qmtest::ProgramUnderTest program("history");
  ASSERT_TRUE(program.Prepared());
  const std::string scripts = program.Folder() + "Scripts\\";
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "Good.vbs", kGood));
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "Bad.vbs", kBad));
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "AutoRun.vbs", AutoRun(qmtest::ProgramDirectory() + "qmchild.exe")));

  ASSERT_TRUE(program.Start(""));
  // The script error stops every schedule, AutoRun's loop among them.
  ASSERT_TRUE(WaitUntil([&] { return Find(DayRecords(program.DataFolder()).records, "AutoRun.vbs") != nullptr; }))
      << program.Output();
  std::string console = program.Output();
  EXPECT_NE(std::string::npos, console.find("child gave 3")) << console;

  std::string bytes = qmtest::ReadTextFile(DayFilePath(program.DataFolder()));
  ASSERT_EQ(0u, bytes.rfind("\xEF\xBB\xBFStart,", 0)) << "a byte-order mark, then the header row";
  HistoryReadResult day = DayRecords(program.DataFolder());
  EXPECT_EQ(0u, day.skippedLines);
  ASSERT_EQ(4u, day.records.size()) << bytes;

  const RunRecord *good = Find(day.records, "\\Good.vbs");
  ASSERT_NE(nullptr, good) << bytes;
  EXPECT_EQ(RunOutcome::Returned, good->outcome);
  EXPECT_EQ("a,b", good->argument);
  EXPECT_EQ("got a,b, \"quoted\"\r\nsecond line", good->returnValue) << "commas, quotes and a line break whole";
  EXPECT_EQ("VBScript", good->language);
  EXPECT_TRUE(good->pooled);

  const RunRecord *child = Find(day.records, " exit 3");
  ASSERT_NE(nullptr, child) << bytes;
  EXPECT_EQ(RunOutcome::ExitCode, child->outcome);
  EXPECT_EQ(3u, child->exitCode);
  EXPECT_EQ("", child->language);

  const RunRecord *bad = Find(day.records, "\\Bad.vbs");
  ASSERT_NE(nullptr, bad) << bytes;
  EXPECT_EQ(RunOutcome::ScriptError, bad->outcome);
  EXPECT_NE(std::string::npos, bad->error.find("bad, \"really\"")) << bad->error;

  const RunRecord *autoRun = Find(day.records, "\\AutoRun.vbs");
  EXPECT_EQ(RunOutcome::Stopped, autoRun->outcome) << "it left main on the stop request";
  for (const RunRecord &record : day.records) {
    EXPECT_EQ(0, FormatHistoryTime(record.start).compare(0, 10, FormatHistoryTime(record.end), 0, 10));
    EXPECT_GE(record.durationMs, 0);
  }

  // Every console line is in the transcript, with its time.
  std::string transcript = qmtest::ReadTextFile(program.DataFolder() + "Console.log");
  EXPECT_NE(std::string::npos, transcript.find(" child gave 3\r\n")) << transcript;

  // A command typed meanwhile leaves the engine's log whole.
  std::string logBefore = qmtest::ReadTextFile(program.Folder() + "Quillmoth.log");
  ASSERT_FALSE(logBefore.empty());
  std::string output;
  EXPECT_EQ(1, program.Command("-history 2", &output)) << "the last run failed: " << output;
  EXPECT_NE(std::string::npos, output.find("Outcome")) << output;
  EXPECT_NE(std::string::npos, output.find("script error")) << output;
  EXPECT_NE(std::string::npos, output.find("stopped")) << output;
  EXPECT_EQ(std::string::npos, output.find("exit code 3")) << "two runs asked for: " << output;
  EXPECT_EQ(1, program.Command("-history Good", &output));
  EXPECT_NE(std::string::npos, output.find("Good.vbs")) << output;
  EXPECT_EQ(std::string::npos, output.find("Bad.vbs")) << "a filter: " << output;
  EXPECT_EQ(1, program.Command("-status", &output)) << output;
  EXPECT_NE(std::string::npos, output.find("Engine:      stopped as application")) << output;
  EXPECT_NE(std::string::npos, output.find("Last failure:")) << output;
  EXPECT_EQ(0u, qmtest::ReadTextFile(program.Folder() + "Quillmoth.log").rfind(logBefore, 0))
      << "the log kept every line it had";
  EXPECT_TRUE(program.Stop());

  // The next start that runs the engine keeps the previous log as .old.
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "AutoRun.vbs", "Function main(x)\r\n"
                                                             "  Dim core, suspended\r\n"
                                                             "  Set core = NewCore()\r\n"
                                                             "  core.Run 0, \"Good.vbs\", \"\"\r\n"
                                                             "  Do While NextTick(core, suspended)\r\n"
                                                             "  Loop\r\n"
                                                             "End Function\r\n"));
  ASSERT_TRUE(program.Start(""));
  EXPECT_TRUE(WaitUntil([&] { return DayRecords(program.DataFolder()).records.size() == 5; }));
  EXPECT_EQ(0, program.Command("-status", &output)) << "running, and the last run returned: " << output;
  EXPECT_TRUE(program.Stop());
  EXPECT_EQ(logBefore, qmtest::ReadTextFile(program.Folder() + "Quillmoth.log.old").substr(0, logBefore.size()));
}

// Started as a writer by the test below: sixteen threads recording at once.
TEST(RunHistory, DISABLED_WriterProcess) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t)
    threads.emplace_back([t] {
      FILETIME start;
      GetSystemTimeAsFileTime(&start);
      for (int i = 0; i < 40; ++i) {
        std::string what = "writer " + std::to_string(GetCurrentProcessId()) + " thread " + std::to_string(t) +
                           " run " + std::to_string(i) + std::string(200, 'x');
        QMR_RecordProgramRun(what.c_str(), &start, 1, static_cast<DWORD>(i), FALSE);
      }
    });
  for (std::thread &thread : threads)
    thread.join();
}

TEST(RunHistory, TwoProcessesOfSixteenThreadsLoseAndSplitNoRecord) {
  qmtest::TempDirectory data("history-writers");
  SetEnvironmentVariableA("QM.DATA_DIR", data.Path().c_str());
  std::string self = qmtest::ProgramDirectory() + "history_program_test.exe";
  qmtest::ChildProcess first, second;
  std::string arguments = "--gtest_also_run_disabled_tests --gtest_filter=RunHistory.DISABLED_WriterProcess";
  ASSERT_TRUE(first.Start(self, arguments, std::string(), true));
  ASSERT_TRUE(second.Start(self, arguments, std::string(), true));
  SetEnvironmentVariableA("QM.DATA_DIR", NULL);
  DWORD code = 1;
  ASSERT_TRUE(first.WaitExit(120000, &code));
  EXPECT_EQ(0u, code) << first.ReadOutput();
  ASSERT_TRUE(second.WaitExit(120000, &code));
  EXPECT_EQ(0u, code) << second.ReadOutput();

  std::string bytes = qmtest::ReadTextFile(DayFilePath(data.Path()));
  HistoryReadResult day = ReadHistory(bytes);
  EXPECT_EQ(0u, day.skippedLines) << "no record split by another";
  ASSERT_EQ(2u * 16 * 40, day.records.size()) << "none lost";
  EXPECT_EQ(bytes.find("Start,"), bytes.rfind("Start,")) << "one header row";
  for (const RunRecord &record : day.records) {
    EXPECT_EQ(RunOutcome::ExitCode, record.outcome);
    EXPECT_NE(std::string::npos, record.ran.find(" run " + std::to_string(record.exitCode) + "x")) << record.ran;
  }
}

} // namespace

// Declared jobs seen and driven from outside the running engine: -jobs lists
// what AddJob declared, -run-job runs one at the schedule's next tick,
// -disable-job and -enable-job switch it.
TEST(RunHistory, JobCommandsListAndActOnTheRunningSchedule) {
  qmtest::ProgramUnderTest program("jobs");
  ASSERT_TRUE(program.Prepared());
  const std::string scripts = program.Folder() + "Scripts\\";
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "Ping.vbs", "Function main(x)\r\n  NewCore().Print \"ping ran\"\r\n"
                                                          "End Function\r\n"));
  ASSERT_TRUE(qmtest::WriteTextFile(scripts + "AutoRun.vbs",
                                    "Function main(x)\r\n  Dim core, suspended\r\n  Set core = NewCore()\r\n"
                                    "  AddJob core, \"ping\", \"0 0 1 1 _ 2001\", \"Ping.vbs\", \"timeout=60\"\r\n"
                                    "  core.SetTimer 200\r\n  suspended = False\r\n"
                                    "  Do While NextTick(core, suspended)\r\n  Loop\r\nEnd Function\r\n"));
  ASSERT_TRUE(program.Start(""));
  std::string output;
  ASSERT_TRUE(WaitUntil([&] { return program.Command("-jobs", &output) == 0 && output.find("ping") != std::string::npos; }))
      << output;
  EXPECT_NE(std::string::npos, output.find("0 0 1 1 _ 2001")) << output;
  EXPECT_NE(std::string::npos, output.find("enabled")) << output;

  EXPECT_EQ(1, program.Command("-run-job nosuch", &output)) << output;
  EXPECT_EQ(0, program.Command("-run-job PING", &output)) << "names are case-blind: " << output;
  EXPECT_TRUE(WaitUntil([&] { return program.Output().find("ping ran") != std::string::npos; })) << program.Output();
  EXPECT_EQ(0, program.Command("-jobs", &output));
  EXPECT_NE(std::string::npos, output.find("returned")) << "the last result: " << output;

  EXPECT_EQ(0, program.Command("-disable-job ping", &output)) << output;
  EXPECT_EQ(0, program.Command("-jobs", &output));
  EXPECT_NE(std::string::npos, output.find("disabled")) << output;
  EXPECT_EQ(0, program.Command("-enable-job ping", &output)) << output;
  EXPECT_EQ(0, program.Command("-jobs", &output));
  EXPECT_EQ(std::string::npos, output.find("disabled")) << output;
}
