// The script's own message loop: GetMessage and its accessors,
// DispatchMessage, PumpMessage, and thread timers.
#include "Core.h"

#include <stdlib.h>

#include <new>

#include "CoreModule.h"
#include "HandleTable.h"
#include "QuillmothRun.h"

namespace {

// The first and last message id taken before all others.
const UINT kFirstPreferred = 0x400;
const UINT kLastPreferred = 0x7FFF;

void CopyMessage(HandleRecord &record, void *out) { *static_cast<MSG *>(out) = *static_cast<MSG *>(record.payload); }

// A copy of the message of a live HT_MESSAGE handle.
bool ReadMessage(long handle, MSG &msg) { return HandleVisit(handle, HT_MESSAGE, CopyMessage, &msg); }

bool IsStopMessage(UINT id) {
  return id == WM_QUIT || id == QMR_CTL_SUSPEND || id == QMR_CTL_STOP || id == QMR_CTL_QUIT;
}

// One field of a message record into *pVal; a handle that is no message
// record leaves *pVal as it is.
template <typename Field> HRESULT ReadMessageField(long hMsg, long *pVal, Field field) {
  if (!pVal)
    return E_POINTER;
  MSG msg;
  if (!ReadMessage(hMsg, msg))
    return S_FALSE;
  *pVal = field(msg);
  return S_OK;
}

} // namespace

HRESULT CCore::GetMessage(long, long, long *pVal) {
  return CoreGuarded("GetMessage", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = 0;
    // The record exists before the wait, so a message once taken is never
    // lost for want of memory.
    MSG *copy = static_cast<MSG *>(calloc(1, sizeof(MSG)));
    if (!copy)
      return E_OUTOFMEMORY;
    long handle = HandleIssue(HT_MESSAGE, copy);
    if (!handle) {
      free(copy);
      return E_OUTOFMEMORY;
    }
    MSG msg;
    BOOL got = PeekMessageA(&msg, NULL, kFirstPreferred, kLastPreferred, PM_REMOVE);
    if (!got)
      got = GetMessageA(&msg, NULL, 0, 0);
    if (got == -1) {
      // The wait itself failed: no message to copy. The script is told to
      // quit, since a thread whose queue fails cannot go on waiting.
      DWORD error = GetLastError();
      try { // the handle is issued: a missing diagnostic must not lose it
        CORE_DEBUG("GetMessage", "GetMessage failed: %s", CoreErrorText(error).c_str());
      } catch (const std::bad_alloc &) {
      }
      copy->message = QMR_CTL_QUIT;
    } else if (got == 0 || msg.message == WM_QUIT) {
      copy->message = QMR_CTL_QUIT;
    } else {
      *copy = msg;
    }
    *pVal = handle;
    return S_OK;
  });
}

HRESULT CCore::GetMessageId(long hMsg, long *pVal) {
  return CoreGuarded("GetMessageId", [&]() -> HRESULT {
    if (pVal)
      *pVal = -1;
    return ReadMessageField(hMsg, pVal, [](const MSG &msg) { return static_cast<long>(msg.message); });
  });
}

HRESULT CCore::GetMessageWParam(long hMsg, long *pVal) {
  return CoreGuarded("GetMessageWParam", [&]() -> HRESULT {
    return ReadMessageField(hMsg, pVal, [](const MSG &msg) { return static_cast<long>(msg.wParam); });
  });
}

HRESULT CCore::GetMessageLParam(long hMsg, long *pVal) {
  return CoreGuarded("GetMessageLParam", [&]() -> HRESULT {
    return ReadMessageField(hMsg, pVal, [](const MSG &msg) { return static_cast<long>(msg.lParam); });
  });
}

HRESULT CCore::DispatchMessage(long hMsg) {
  return CoreGuarded("DispatchMessage", [&]() -> HRESULT {
    MSG msg;
    if (!ReadMessage(hMsg, msg))
      return S_FALSE;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return S_OK;
  });
}

HRESULT CCore::PumpMessage(long, long, long *pVal) {
  return CoreGuarded("PumpMessage", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = kTrue;
    MSG msg;
    if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      if (IsStopMessage(msg.message))
        *pVal = kFalse;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    return S_OK;
  });
}

HRESULT CCore::SetTimer(long uElapse, long *pVal) {
  return CoreGuarded("SetTimer", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    UINT_PTR id = ::SetTimer(NULL, 0, static_cast<UINT>(uElapse), NULL);
    *pVal = static_cast<long>(id);
    return id ? S_OK : S_FALSE;
  });
}

HRESULT CCore::KillTimer(short id, long *pVal) {
  return CoreGuarded("KillTimer", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    UINT widened = static_cast<UINT>(static_cast<int>(id));
    BOOL killed = ::KillTimer(NULL, widened);
    // Thread timer ids can exceed 32767 (the platform counts them up from
    // there), and such an id reaches this 16-bit parameter only as its
    // negative 16-bit form: id - 65536. Try that reading as well.
    if (!killed && id < 0)
      killed = ::KillTimer(NULL, static_cast<UINT>(static_cast<unsigned short>(id)));
    *pVal = killed ? kTrue : kFalse;
    return killed ? S_OK : S_FALSE;
  });
}
