// Notifications to a real relay window and the worker-window probe, with
// real windows on real threads.
#include <gtest/gtest.h>
#include <process.h>

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

TEST_F(RelayTest, RefusedTextLosesItsAtom) {
  RelayWindow relay;
  relay.SetPrintReply(0);
  const char text[] = "QuillmothRefusedNotification";
  EXPECT_TRUE(QMR_NotifyMessage(0, "%s", text));
  ASSERT_EQ(1u, relay.entries.size());
  EXPECT_EQ(0, GlobalFindAtomA(text)) << "the sender deletes the atom of a refused text";
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

TEST_F(RelayTest, BusyRelayGetsTheTextPostedLater) {
  RelayWindow relay;
  SenderArgs args = {0, FALSE};
  HANDLE thread =
      reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, SendFromOtherThread, &args, 0, NULL));
  ASSERT_TRUE(thread);
  // The relay's thread does not answer: the send times out after 250 ms and
  // the text is posted instead.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
  CloseHandle(thread);
  EXPECT_TRUE(args.result);
  EXPECT_TRUE(relay.entries.empty());
  qmtest::PumpFor(100);
  ASSERT_GE(relay.entries.size(), 1u);
  EXPECT_EQ(0, relay.entries[0].text.rfind("from thread ", 0)) << relay.entries[0].text;
}

TEST_F(RelayTest, DeliverMessageToNoWindowIsZero) {
  HWND gone = CreateWindowExA(0, "STATIC", "gone", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
  DestroyWindow(gone);
  EXPECT_EQ(0, DeliverMessage(gone, g_qmrMsg.relayPing, 0, 0));
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
