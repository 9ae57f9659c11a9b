// The runtime's registered messages, obtained by name.
#include "QuillmothRun.h"
#include "RuntimeInternal.h"

QmrMessageIds g_qmrMsg;

void RegisterRuntimeMessages() {
  g_qmrMsg.startup = RegisterWindowMessageA(QMR_MSG_STARTUP);
  g_qmrMsg.load = RegisterWindowMessageA(QMR_MSG_LOAD);
  g_qmrMsg.run = RegisterWindowMessageA(QMR_MSG_RUN);
  g_qmrMsg.shutdown = RegisterWindowMessageA(QMR_MSG_SHUTDOWN);
  g_qmrMsg.reset = RegisterWindowMessageA(QMR_MSG_RESET);
  g_qmrMsg.emptyPool = RegisterWindowMessageA(QMR_MSG_EMPTY_POOL);
  g_qmrMsg.handle = RegisterWindowMessageA(QMR_MSG_HANDLE);
  g_qmrMsg.exit = RegisterWindowMessageA(QMR_MSG_EXIT);
  g_qmrMsg.error = RegisterWindowMessageA(QMR_MSG_ERROR);
  g_qmrMsg.thread = RegisterWindowMessageA(QMR_MSG_THREAD);
  g_qmrMsg.print = RegisterWindowMessageA(QMR_MSG_PRINT);
  g_qmrMsg.relayPing = RegisterWindowMessageA(QMR_MSG_RELAY_PING);
}
