// Notifications to a real relay window and the worker-window probe, with
// real windows on real threads.
#include <gtest/gtest.h>
#include <process.h>

#include <map>
#include <stdio.h>

#include "FakeWorkerWindow.h"
#include "RelayFixture.h"
#include "RuntimeInternal.h"
#include "WineTestSupport.h"

using qmtest::FakeWorkerWindow;
using qmtest::RelayWindow;

namespace {

class RelayTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { RegisterRuntimeMessages(); }
};

TEST_F(RelayTest, NotificationReachesTheRelayWithItsCategory) {
  RelayWindow relay;
  ASSERT_TRUE(relay.Handle());
  EXPECT_EQ(relay.Handle(), QMR_GetNotificationWindow());
  EXPECT_TRUE(QMR_NotifyMessage(1, "RunScript: %s %d", "worker", 7));
  ASSERT_EQ(1u, relay.entries.size());
  EXPECT_EQ(g_qmrMsg.print, relay.entries[0].message);
  EXPECT_EQ("RunScript: worker 7", relay.entries[0].text);
  EXPECT_EQ(1, relay.entries[0].lParam);
}

TEST_F(RelayTest, TextsPassedAsDataAreNeverFormats) {
  RelayWindow relay;
  EXPECT_TRUE(QMR_NotifyMessage(0, "%s", "100% done %s %n %x"));
  ASSERT_EQ(1u, relay.entries.size());
  EXPECT_EQ("100% done %s %n %x", relay.entries[0].text);
}

TEST_F(RelayTest, TextsTooLongForAnAtomArriveAsAtomZero) {
  RelayWindow relay;
  std::string text(300, 'n');
  EXPECT_TRUE(QMR_NotifyMessage(0, "%s", text.c_str()));
  ASSERT_EQ(1u, relay.entries.size());
  EXPECT_EQ(0u, relay.entries[0].wParam);
  // Even a text far past the 1,023-character buffer is cut, not overrun.
  std::string huge(5000, 'h');
  EXPECT_TRUE(QMR_NotifyMessage(0, "%s", huge.c_str()));
  ASSERT_EQ(2u, relay.entries.size());
  EXPECT_EQ(0u, relay.entries[1].wParam);
}

struct SenderArgs {
  DWORD category;
  BOOL result;
};

unsigned __stdcall SendFromOtherThread(void *param) {
  SenderArgs *args = static_cast<SenderArgs *>(param);
  args->result = QMR_NotifyMessage(args->category, "from thread %lu", GetCurrentThreadId());
  return 0;
}

TEST_F(RelayTest, WorkerThreadsNotifyTheRelayOnItsOwnThread) {
  RelayWindow relay;
  SenderArgs args = {6, FALSE};
  unsigned id = 0;
  HANDLE thread =
      reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, SendFromOtherThread, &args, 0, &id));
  ASSERT_TRUE(thread);
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
    qmtest::PumpFor(0);
  CloseHandle(thread);
  qmtest::PumpFor(50);
  EXPECT_TRUE(args.result);
  ASSERT_EQ(1u, relay.entries.size());
  EXPECT_EQ("from thread " + std::to_string(id), relay.entries[0].text);
  EXPECT_EQ(6, relay.entries[0].lParam);
}

TEST_F(RelayTest, BusyRelayGetsTheTextLater) {
  RelayWindow relay;
  SenderArgs args = {0, FALSE};
  HANDLE thread =
      reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, SendFromOtherThread, &args, 0, NULL));
  ASSERT_TRUE(thread);
  // The relay's thread does not answer: the sender waits 250 ms for it and
  // goes on, its text left queued for the relay.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
  CloseHandle(thread);
  EXPECT_TRUE(args.result);
  EXPECT_TRUE(relay.entries.empty());
  qmtest::PumpFor(100);
  ASSERT_GE(relay.entries.size(), 1u);
  EXPECT_EQ(0, relay.entries[0].text.rfind("from thread ", 0)) << relay.entries[0].text;
}

unsigned __stdcall PrintNumberedLines(void *) {
  for (int i = 1; i <= 10; ++i)
    QMR_NotifyMessage(0, "%lu %d", GetCurrentThreadId(), i);
  return 0;
}

// A relay that has taken a text and stalls past a sender's limit before
// reading it: the sender cannot tell this from a text never taken. Every
// text must still arrive once, each thread's in its order.
TEST_F(RelayTest, EachTextArrivesOnceAndInOrderPastARelaySlowerThanASend) {
  RelayWindow relay;
  bool stalled = false;
  relay.onPrintArrived = [&stalled] {
    if (!stalled) {
      stalled = true;
      Sleep(400); // the stall under test: longer than a sender waits
    }
  };
  HANDLE threads[2];
  for (HANDLE &thread : threads) {
    thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, PrintNumberedLines, NULL, 0, NULL));
    ASSERT_TRUE(thread);
  }
  DWORD start = GetTickCount();
  while (WaitForMultipleObjects(2, threads, TRUE, 0) == WAIT_TIMEOUT && GetTickCount() - start < 20000)
    qmtest::PumpFor(10);
  for (HANDLE thread : threads)
    CloseHandle(thread);
  qmtest::PumpFor(300); // anything queued late, a second copy included, shows up here
  std::map<unsigned long, int> last;
  for (const std::string &text : relay.Texts()) {
    unsigned long thread = 0;
    int line = 0;
    ASSERT_EQ(2, sscanf(text.c_str(), "%lu %d", &thread, &line)) << "\"" << text << "\" is no text of ours";
    EXPECT_EQ(last[thread] + 1, line) << "thread " << thread << ": line " << line << " after " << last[thread];
    last[thread] = line;
  }
  ASSERT_EQ(2u, last.size());
  for (const auto &entry : last)
    EXPECT_EQ(10, entry.second) << "thread " << entry.first;
  EXPECT_EQ(20u, relay.Texts().size());
}

TEST_F(RelayTest, WorkerWindowsAreKnownByClassPrefixAndText) {
  RelayWindow relay;
  FakeWorkerWindow worker("WORKER:1A2B", "Worker");
  FakeWorkerWindow noColon("WORKER", "WORKER");
  FakeWorkerWindow otherText("WORKER:FFFF", "Something else");
  FakeWorkerWindow lowerClass("worker:1234", "WORKER");
  EXPECT_TRUE(IsSignalWnd(worker.Handle(), 1)) << "the text is compared without regard to case";
  EXPECT_FALSE(IsSignalWnd(noColon.Handle(), 1)) << "the class must begin with WORKER:";
  EXPECT_FALSE(IsSignalWnd(otherText.Handle(), 1));
  EXPECT_FALSE(IsSignalWnd(lowerClass.Handle(), 1)) << "the class prefix is case-sensitive";
  EXPECT_FALSE(IsSignalWnd(relay.Handle(), 1));
  EXPECT_TRUE(relay.entries.empty()) << "responsive windows cause no notification";
}

TEST_F(RelayTest, LateWorkerAnswersTheSecondAttempt) {
  RelayWindow relay;
  FakeWorkerWindow worker("WORKER:BEEF", "WORKER");
  worker.BusyFor(400);
  EXPECT_TRUE(IsSignalWnd(worker.Handle(), 1));
  ASSERT_EQ(1u, relay.entries.size());
  EXPECT_EQ("Thread not responding for 500 milliseconds", relay.entries[0].text);
  EXPECT_EQ(6, relay.entries[0].lParam) << "a short probe reports in category 6";
}

TEST_F(RelayTest, SilentWorkerIsNotRecognised) {
  RelayWindow relay;
  FakeWorkerWindow worker("WORKER:CAFE", "WORKER");
  worker.BusyFor(1500);
  EXPECT_FALSE(IsSignalWnd(worker.Handle(), 1)) << "a window that never answered has no text";
  ASSERT_EQ(1u, relay.entries.size());
  EXPECT_EQ("Thread not responding for 500 milliseconds", relay.entries[0].text);
}

TEST_F(RelayTest, LongProbesReportInCategoryZero) {
  RelayWindow relay;
  FakeWorkerWindow worker("WORKER:D00D", "WORKER");
  worker.BusyFor(3000);
  EXPECT_FALSE(IsSignalWnd(worker.Handle(), 6));
  ASSERT_EQ(1u, relay.entries.size()) << "seven attempts of 250 ms were made";
  EXPECT_EQ("Thread not responding for 1750 milliseconds", relay.entries[0].text);
  EXPECT_EQ(0, relay.entries[0].lParam);
}

} // namespace
