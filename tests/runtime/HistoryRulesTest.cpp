// The run history's and the console transcript's rules: the CSV file written
// and read back, the cuts, retention of day files, the transcript's rotation
// and entries, the event throttle and the aligned console listings (also
// built natively with the sanitizers).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "EventThrottle.h"
#include "HistoryCsv.h"
#include "HistoryReader.h"
#include "HistoryRetention.h"
#include "HistorySettings.h"
#include "HistoryTime.h"
#include "TextColumns.h"
#include "TranscriptLine.h"
#include "TranscriptRotation.h"

namespace {

const std::string kFFFD = "\xEF\xBF\xBD"; // what a control character or a broken byte becomes
const std::string kBom = "\xEF\xBB\xBF";

// Characters as the test counts them: every byte that is not a UTF-8
// continuation byte starts one.
size_t Chars(const std::string &text) {
  size_t count = 0;
  for (char c : text)
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::string Repeat(const std::string &text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i)
    out += text;
  return out;
}

HistoryTime Time(int year, int month, int day, int hour, int minute, int second, int ms, int offset) {
  return HistoryTime{{year, month, day}, hour, minute, second, ms, offset};
}

RunRecord Record(const std::string &ran, const std::string &argument, RunOutcome outcome = RunOutcome::Returned) {
  RunRecord r;
  r.start = Time(2026, 12, 9, 20, 21, 5, 123, 60);
  r.end = Time(2026, 12, 9, 20, 21, 7, 9, 60);
  r.durationMs = 1886;
  r.ran = ran;
  r.argument = argument;
  r.language = "VBScript";
  r.host = "ActiveScript";
  r.threadId = 4242;
  r.pooled = true;
  r.outcome = outcome;
  r.exitCode = 0;
  r.returnValue = "0";
  r.error = "";
  return r;
}

void ExpectSame(const RunRecord &want, const RunRecord &got, const std::string &where) {
  EXPECT_EQ(FormatHistoryTime(want.start), FormatHistoryTime(got.start)) << where;
  EXPECT_EQ(FormatHistoryTime(want.end), FormatHistoryTime(got.end)) << where;
  EXPECT_EQ(want.durationMs, got.durationMs) << where;
  EXPECT_EQ(want.ran, got.ran) << where;
  EXPECT_EQ(want.argument, got.argument) << where;
  EXPECT_EQ(want.language, got.language) << where;
  EXPECT_EQ(want.host, got.host) << where;
  EXPECT_EQ(want.threadId, got.threadId) << where;
  EXPECT_EQ(want.pooled, got.pooled) << where;
  EXPECT_EQ(OutcomeText(want.outcome, want.exitCode), OutcomeText(got.outcome, got.exitCode)) << where;
  EXPECT_EQ(want.returnValue, got.returnValue) << where;
  EXPECT_EQ(want.error, got.error) << where;
}

// A day file as the history writes it: each record appended the way the
// file then ends.
std::string WriteFile(const std::vector<RunRecord> &records, std::string file = std::string()) {
  for (const RunRecord &r : records)
    file += HistoryAppendBytes(r, HistoryFileEndOf(file.size(), file.empty() ? '\0' : file.back()));
  return file;
}

TEST(HistoryCsv, HostileTextsComeBackFieldForField) {
  const std::vector<std::string> hostile = {
      "",
      "plain",
      "comma, and more,",
      "\"quoted\" and a lone \" quote",
      "\"",
      "\"\"",
      "line\r\nbreak",
      "bare\nLF and bare\rCR",
      "CR only\r",
      "\r\n",
      "ends with a line end\r\n",
      " blanks kept ",
      "\tTab\t",
      kBom + "BOM inside",
      "\r\n2026-12-09 20:21:05.123 +01:00,looks,like,a,record",
      "C:\\Program Files\\Scripts\\Ärger ½ 日本 😀.vbs",
  };
  std::vector<RunRecord> written;
  for (size_t i = 0; i < hostile.size(); ++i) {
    RunRecord r = Record(hostile[i], hostile[hostile.size() - 1 - i]);
    r.returnValue = hostile[i];
    r.error = hostile[i] + hostile[hostile.size() - 1 - i];
    r.language = i % 2 ? "JScript" : "";
    r.host = hostile[i];
    r.pooled = i % 2 == 0;
    r.threadId = i == 0 ? 4294967295u : static_cast<uint32_t>(i);
    r.durationMs = i == 0 ? 9007199254740993LL : static_cast<long long>(i);
    r.start = Time(2026, 3, 29, 1, 59, 59, 999, -(3 * 60 + 30));
    r.end = Time(2028, 2, 29, 0, 0, 0, 0, i == 0 ? 14 * 60 : 0);
    written.push_back(r);
  }
  // Every outcome, the exit code as Windows keeps it (an NTSTATUS here).
  const RunOutcome outcomes[] = {RunOutcome::Returned,
                                 RunOutcome::ScriptError,
                                 RunOutcome::LoadError,
                                 RunOutcome::Stopped,
                                 RunOutcome::TimedOut,
                                 RunOutcome::SkippedStillRunning,
                                 RunOutcome::StillRunningAtShutdown,
                                 RunOutcome::ExitCode};
  for (RunOutcome outcome : outcomes)
    written.push_back(Record("tool.exe /x", "", outcome));
  written.back().exitCode = 3221225477u;
  written.back().language = "";

  const std::string file = WriteFile(written);
  ASSERT_EQ(0u, file.find(kBom + "Start,Duration ms,"));
  EXPECT_EQ(std::string::npos, file.find("Start,Duration ms,", kBom.size() + 1)) << "one header row";
  // Outside quotes every CR and LF is a CRLF line end (a lone CR, too, is a
  // line break to other readers).
  bool quoted = false;
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && file[i] == '\r') {
      ASSERT_EQ('\n', file[i + 1]) << "byte " << i;
    } else if (!quoted && file[i] == '\n') {
      ASSERT_EQ('\r', file[i - 1]) << "byte " << i;
    }
  }
  EXPECT_FALSE(quoted);
  EXPECT_EQ("\r\n", file.substr(file.size() - 2));
  EXPECT_NE(std::string::npos, file.find(",exit code 3221225477,"));
  EXPECT_NE(std::string::npos, file.find(",skipped: still running,"));

  HistoryReadResult read = ReadHistory(file);
  EXPECT_EQ(0u, read.skippedLines);
  ASSERT_EQ(written.size(), read.records.size());
  for (size_t i = 0; i < written.size(); ++i)
    ExpectSame(written[i], read.records[i], "record " + std::to_string(i));

  // Appending to an existing file adds the record alone.
  const std::string more = HistoryAppendBytes(written[1], HistoryFileEnd::LineEnd);
  EXPECT_EQ(HistoryRecordLine(written[1]), more);
  EXPECT_EQ(written.size() + 1, ReadHistory(file + more).records.size());
}

TEST(HistoryCsv, ControlCharactersAndBrokenBytesAreReplacedWhereverTheyAre) {
  RunRecord r = Record("a\x01"
                       "b\x1b[31m\x7f",
                       "\x00z" + std::string("\xC2\x85"
                                             "next line"));
  r.argument = std::string("\0z", 2) + "\xC2\x85"
                                       "next line"; // a NUL and the C1 control NEL
  r.returnValue = "\xFF lone \x80 cut \xE6\x97";    // broken UTF-8
  r.error = "overlong \xC0\xAF \xE0\x80\xAF and surrogate \xED\xA0\x80, tab\tCR\rLF\n kept";
  r.host = "\xF4\x90\x80\x80"; // beyond U+10FFFF

  RunRecord want = r;
  want.ran = "a" + kFFFD + "b" + kFFFD + "[31m" + kFFFD;
  want.argument = kFFFD + "z" + kFFFD + "next line";
  want.returnValue = kFFFD + " lone " + kFFFD + " cut " + kFFFD + kFFFD;
  want.error = "overlong " + kFFFD + kFFFD + " " + kFFFD + kFFFD + kFFFD + " and surrogate " + kFFFD + kFFFD + kFFFD + ", tab\tCR\rLF\n kept";
  want.host = kFFFD + kFFFD + kFFFD + kFFFD;

  HistoryReadResult read = ReadHistory(WriteFile({r}));
  ASSERT_EQ(1u, read.records.size());
  ExpectSame(want, read.records[0], "cleaned");
}

TEST(HistoryCsv, CutsKeepWholeCharactersAndShowTheMark) {
  // Byte 1024 falls inside the euro sign, and inside an emoji in the other.
  const std::string euro = std::string(1020, 'a') + "€" + std::string(50, 'b');
  const std::string emoji = Repeat("😀", 2000);
  RunRecord r = Record("job.vbs", euro);
  r.returnValue = emoji;
  r.error = emoji; // not cut
  HistoryReadResult read = ReadHistory(WriteFile({r}));
  ASSERT_EQ(1u, read.records.size());
  const RunRecord &got = read.records[0];

  EXPECT_EQ(std::string(1020, 'a') + "€" + "...", got.argument);
  EXPECT_EQ(Repeat("😀", kHistoryCutChars - 3) + "...", got.returnValue);
  EXPECT_EQ(kHistoryCutChars, Chars(got.returnValue));
  EXPECT_EQ(emoji, got.error);

  // Exactly the limit is kept whole; one more is cut.
  r.argument = Repeat("日", kHistoryCutChars);
  r.returnValue = Repeat("日", kHistoryCutChars + 1);
  read = ReadHistory(WriteFile({r}));
  ASSERT_EQ(1u, read.records.size());
  EXPECT_EQ(r.argument, read.records[0].argument);
  EXPECT_EQ(Repeat("日", kHistoryCutChars - 3) + "...", read.records[0].returnValue);
}

TEST(HistoryReader, TornOrDamagedLinesAreSkippedNeverMisread) {
  std::vector<RunRecord> records = {Record("first.vbs", "1"), Record("second.js", "two,\r\nlines"),
                                    Record("third.vbs", "3")};
  records[2].error = "Error: \"x\" is undefined\r\nline 2";
  records[2].outcome = RunOutcome::ScriptError;
  const std::string whole = WriteFile(records);
  const size_t lastStart = WriteFile({records[0], records[1]}).size();
  RunRecord later = Record("later.vbs", "after the crash");

  // A write cut short at every byte of the last record, and the same file
  // with a record appended after the crash.
  for (size_t cut = lastStart; cut < whole.size(); ++cut) {
    const std::string torn = whole.substr(0, cut);
    const std::string where = "cut at " + std::to_string(cut - lastStart);
    HistoryReadResult read = ReadHistory(torn);
    ASSERT_EQ(2u, read.records.size()) << where;
    ExpectSame(records[1], read.records[1], where);
    if (cut == lastStart)
      EXPECT_EQ(0u, read.skippedLines) << where;
    else
      EXPECT_GE(read.skippedLines, 1u) << where;

    // With only its line end lost, the record was whole and is kept.
    const bool whole3 = cut >= whole.size() - 2;
    read = ReadHistory(WriteFile({later}, torn));
    ASSERT_EQ(whole3 ? 4u : 3u, read.records.size()) << where;
    ExpectSame(records[1], read.records[1], where);
    if (whole3)
      ExpectSame(records[2], read.records[2], where);
    ExpectSame(later, read.records.back(), where);
  }
  ASSERT_EQ(3u, ReadHistory(whole).records.size());

  // Lines changed by hand: each is dropped alone, the rest still read.
  const std::string good = HistoryRecordLine(records[0]);
  const std::string bad[] = {
      "2026-02-30 20:21:05.123 +01:00" + good.substr(30), // no such day
      "2026-12-09 20:21:05.123 +15:00" + good.substr(30), // no such offset
      good.substr(0, good.size() - 2) + ",extra\r\n",     // a column too many
      good.substr(0, good.find(",yes,") + 1) + "maybe" + good.substr(good.find(",yes,") + 4),
      good.substr(0, good.find(",returned,")) + ",exit code -1" + good.substr(good.find(",returned,") + 9),
      good.substr(0, good.find(",first.vbs,")) + ",fir\"st.vbs," + good.substr(good.find(",first.vbs,") + 11),
      "\"2026-12-09 20:21:05.123 +01:00\"x" + good.substr(30),
  };
  std::string file = WriteFile({records[0]});
  for (const std::string &line : bad)
    file += line + good;
  HistoryReadResult read = ReadHistory(file);
  EXPECT_EQ(1 + sizeof bad / sizeof bad[0], read.records.size());
  EXPECT_EQ(sizeof bad / sizeof bad[0], read.skippedLines);
}

TEST(HistoryRetention, DeletesOnlyOurOwnDayFilesOlderThanTheDaysKept) {
  const std::vector<std::string> foreign = {
      "notes.txt",       "2026-12-09.csv.bak",
      "2026-12-9.csv",   "2026-02-30.csv",
      "2025-02-29.csv",  "2026-12-09.txt",
      "x2026-12-09.csv", "2026-12-09 .csv",
      "2026-12-09",      ".csv",
      "1600-12-31.csv",  "+026-12-09.csv",
      "2026-13-01.csv",  "2026_12_09.csv",
      "Console.1.log",   "",
      "2026-12-09.csv ", "２０２６-12-09.csv",
  };
  HistoryDate date;
  for (const std::string &name : foreign)
    EXPECT_FALSE(ParseHistoryDayFileName(name, date)) << name;

  auto doomed = [&](const std::vector<std::string> &ours, HistoryDate today, int keep) {
    std::vector<std::string> names = foreign;
    names.insert(names.end(), ours.begin(), ours.end());
    return HistoryFilesToDelete(names, today, keep);
  };
  using Names = std::vector<std::string>;
  // Leap day: the two days kept on 1 March 2028 are 29 February and 1 March.
  EXPECT_EQ((Names{"2028-02-28.csv"}), doomed({"2028-02-28.csv", "2028-02-29.csv", "2028-03-01.csv"}, {2028, 3, 1}, 2));
  EXPECT_EQ((Names{"2027-02-27.csv"}), doomed({"2027-02-27.csv", "2027-02-28.csv", "2027-03-01.csv"}, {2027, 3, 1}, 2));
  // 2100 is no leap year, 2000 was.
  EXPECT_EQ((Names{"2100-02-27.csv"}), doomed({"2100-02-27.csv", "2100-02-28.csv"}, {2100, 3, 1}, 2));
  EXPECT_EQ((Names{"2000-02-28.csv"}), doomed({"2000-02-28.csv", "2000-02-29.csv"}, {2000, 3, 1}, 2));
  // Year end, today only, the extension in another case, and a file dated
  // after today (the clock was set back) kept.
  EXPECT_EQ((Names{"2026-12-31.csv", "2025-01-01.CSV"}),
            doomed({"2026-12-31.csv", "2027-01-01.csv", "2025-01-01.CSV", "2027-01-02.csv"}, {2027, 1, 1}, 1));
  // 30 days across a month end and a year end: 17 December to 15 January.
  EXPECT_EQ((Names{"2025-12-16.csv", "2024-12-17.csv"}),
            doomed({"2025-12-16.csv", "2025-12-17.csv", "2026-01-15.csv", "2024-12-17.csv"}, {2026, 1, 15}, 30));
  // Nonsense days to keep mean the default of 30, never "delete all".
  for (int keep : {0, -1, -2147483647 - 1})
    EXPECT_EQ((Names{"2025-12-16.csv"}), doomed({"2025-12-16.csv", "2025-12-17.csv"}, {2026, 1, 15}, keep)) << keep;
  EXPECT_EQ((Names{}), doomed({"2025-12-16.csv"}, {2026, 2, 30}, 1)) << "an invalid today deletes nothing";
  EXPECT_EQ("2028-02-29.csv", HistoryDayFileName({2028, 2, 29}));
  EXPECT_EQ("", HistoryDayFileName({2027, 2, 29}));

  for (const char *text : {"", "0", "-5", "abc", "30 days", "99999999999", "1e3", " "})
    EXPECT_EQ(kDefaultHistoryDays, ParseHistoryKeepDays(text)) << text;
  EXPECT_EQ(7, ParseHistoryKeepDays(" 7 "));
  EXPECT_EQ(kDefaultHistoryDays, HistoryKeepDays(4294967296LL + 7));
}

TEST(TranscriptRotation, RotatingKeepsFiveOldFilesAndNeverRenamesOntoOne) {
  using Steps = std::vector<std::pair<std::string, std::string>>;
  Steps steps;
  for (const RotationStep &step : TranscriptRotationPlan(kTranscriptName, kTranscriptOldFiles))
    steps.push_back({step.from, step.to});
  EXPECT_EQ((Steps{{"Console.5.log", ""},
                   {"Console.4.log", "Console.5.log"},
                   {"Console.3.log", "Console.4.log"},
                   {"Console.2.log", "Console.3.log"},
                   {"Console.1.log", "Console.2.log"},
                   {"Console.log", "Console.1.log"}}),
            steps);
  EXPECT_EQ("C:\\Quill.moth\\Console.3", RotatedName("C:\\Quill.moth\\Console", 3));

  // A folder where a rename onto an existing file fails, as MoveFile does:
  // lines are written with the real size checks, one KiB allowed.
  std::map<std::string, std::string> folder;
  int failures = 0;
  for (int n = 0; n < 400; ++n) {
    const std::string line = TranscriptLine(Time(2026, 12, 9, 20, 21, n % 60, 0, 60), "entry " + std::to_string(n));
    std::string &current = folder[kTranscriptName];
    if (TranscriptNeedsRotation(current.size(), line.size(), 1)) {
      for (const RotationStep &step : TranscriptRotationPlan(kTranscriptName, kTranscriptOldFiles)) {
        if (!folder.count(step.from))
          continue;
        if (!step.to.empty() && folder.count(step.to)) {
          ++failures;
          continue;
        }
        if (!step.to.empty())
          folder[step.to] = folder[step.from];
        folder.erase(step.from);
      }
    }
    folder[kTranscriptName] += line;
  }
  EXPECT_EQ(0, failures);
  EXPECT_EQ(6u, folder.size());
  for (const auto &file : folder)
    EXPECT_LE(file.second.size(), 1024u) << file.first;
  // Newest last in Console.log, and each older file ends where the next begins.
  EXPECT_NE(std::string::npos, folder["Console.log"].find("entry 399\r\n"));
  for (int number = 5; number >= 1; --number) {
    const std::string newer = number == 1 ? "Console.log" : RotatedName(kTranscriptName, number - 1);
    const std::string &older = folder[RotatedName(kTranscriptName, number)];
    size_t lastEntry = older.rfind("entry ");
    ASSERT_NE(std::string::npos, lastEntry);
    int n = std::stoi(older.substr(lastEntry + 6));
    EXPECT_NE(std::string::npos, folder[newer].find("entry " + std::to_string(n + 1) + "\r\n"))
        << RotatedName(kTranscriptName, number);
  }

  // The limit: up to it exactly is not rotated; bad limits mean 1024 KiB.
  EXPECT_FALSE(TranscriptNeedsRotation(1024 * 1024 - 10, 10, 1024));
  EXPECT_TRUE(TranscriptNeedsRotation(1024 * 1024 - 10, 11, 1024));
  EXPECT_FALSE(TranscriptNeedsRotation(0, 5u << 20, 1024)) << "a long line still goes into an empty file";
  EXPECT_FALSE(TranscriptNeedsRotation(1000 * 1024, 10, 0));
  EXPECT_FALSE(TranscriptNeedsRotation(1000 * 1024, 10, -1));
  EXPECT_EQ(kDefaultTranscriptKiB, ParseTranscriptLimitKiB("lots"));
  EXPECT_EQ(64, ParseTranscriptLimitKiB("64"));
}

TEST(TranscriptLine, EachEntryStartsWithItsTimeAndItsOtherLinesAreIndented) {
  const HistoryTime t = Time(2026, 12, 9, 20, 21, 5, 987, -300);
  EXPECT_EQ("2026-12-09 20:21:05 Started AutoRun.vbs\r\n", TranscriptLine(t, "Started AutoRun.vbs\n"));
  EXPECT_EQ("2026-12-09 20:21:05 one\r\n"
            "                    two\r\n"
            "                    three\r\n"
            "                    \r\n"
            "                    four\r\n",
            TranscriptLine(t, "one\r\ntwo\nthree\r\rfour\r\n"))
      << "CRLF, LF and CR each break once";
  EXPECT_EQ("2026-12-09 20:21:05 " + kFFFD + "[2J gone\r\n", TranscriptLine(t, "\x1b[2J gone"));
  EXPECT_EQ("2026-12-09 20:21:05 \r\n", TranscriptLine(t, ""));
}

TEST(EventThrottle, OneEventPerScriptPerTenMinutesThenTheCountHeldBack) {
  EventThrottle throttle;
  auto offer = [&](const std::string &key, long long ms) {
    ThrottleAnswer a = throttle.Offer(key, ms);
    return a.send ? "sent, " + std::to_string(a.heldBack) + " held back" : std::string("held");
  };
  const long long minute = 60 * 1000;
  EXPECT_EQ("sent, 0 held back", offer("C:\\Scripts\\Job.vbs", 0));
  EXPECT_EQ("held", offer("c:/scripts/JOB.VBS", 1));
  EXPECT_EQ("sent, 0 held back", offer("C:\\Scripts\\Other.vbs", 2)) << "each script has its own window";
  EXPECT_EQ("held", offer("C:\\SCRIPTS\\job.vbs", 10 * minute - 1));
  EXPECT_EQ("sent, 2 held back", offer("C:\\Scripts\\Job.vbs", 10 * minute));
  EXPECT_EQ("held", offer("C:\\Scripts\\Job.vbs", 10 * minute + 5));
  // A quiet hour: the one held back is told with the next event.
  EXPECT_EQ("sent, 1 held back", offer("C:\\Scripts\\Job.vbs", 70 * minute));
  EXPECT_EQ("sent, 0 held back", offer("C:\\Scripts\\Job.vbs", 90 * minute));
  // The clock went back an hour: a new window, not an hour of silence.
  EXPECT_EQ("sent, 0 held back", offer("C:\\Scripts\\Job.vbs", 30 * minute));
  EXPECT_EQ("held", offer("C:\\Scripts\\Job.vbs", 31 * minute));
  EXPECT_EQ("sent, 1 held back", offer("C:\\Scripts\\Job.vbs", 5 * minute)) << "back again, one held";

  // Case-blind beyond ASCII, as Windows names are.
  EXPECT_EQ("sent, 0 held back", offer("D:\\Über\\Ärger ŁÓDŹ ΣΩ ЖЁ.vbs", 0));
  EXPECT_EQ("held", offer("d:\\über\\ärger łódź σω жё.VBS", 1));
  EXPECT_EQ("sent, 0 held back", offer("d:\\über\\ärger łódź σω жё.VBS.bak", 2));
}

TEST(TextColumns, CellsAlignByCharactersNotBytes) {
  const std::vector<std::string> lines = AlignColumns({"Script", "Outcome", "Value"},
                                                      {{"Ärger.vbs", "returned", "0"},
                                                       {"日本.js", "exit code 1"},
                                                       {"a.vbs", "script\terror", "a\r\nb"},
                                                       {"longer-than-ten.vbs", "stopped", "x", "dropped"},
                                                       {"日本語のスクリプト.js", "returned", "1"}},
                                                      10);
  const std::vector<std::string> want = {
      "Script     Outcome    Value",
      "========== ========== =====",
      "Ärger.vbs  returned   0",
      "日本.js      exit co...",
      "a.vbs      script ... a  b",
      "longer-... stopped    x",
      "日本語のスクリ... returned   1",
  };
  EXPECT_EQ(want, lines);
  for (const std::string &line : lines)
    EXPECT_NE(' ', line.back()) << line;
  EXPECT_EQ(Chars(lines[0]), Chars(lines[1]));
}

} // namespace
