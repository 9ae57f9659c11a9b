#include "LiveContexts.h"
#include "MurrelContext.h"

#include <windows.h>
#include <set>

namespace {

class ContextSet {
public:
  ContextSet() { InitializeCriticalSection(&m_lock); }
  ~ContextSet() { DeleteCriticalSection(&m_lock); }

  void Add(MurrelContext *context) {
    EnterCriticalSection(&m_lock);
    try {
      m_live.insert(context);
    } catch (...) {
      // Out of memory: the context simply counts as unknown.
    }
    LeaveCriticalSection(&m_lock);
  }
  bool Remove(MurrelContext *context) {
    EnterCriticalSection(&m_lock);
    bool removed = m_live.erase(context) != 0;
    LeaveCriticalSection(&m_lock);
    return removed;
  }
  bool Contains(const MurrelContext *context) {
    EnterCriticalSection(&m_lock);
    bool found = m_live.count(const_cast<MurrelContext *>(context)) != 0;
    LeaveCriticalSection(&m_lock);
    return found;
  }

  bool Hold(MurrelContext *context) {
    EnterCriticalSection(&m_lock);
    bool found = m_live.count(context) != 0;
    if (found)
      InterlockedIncrement(&context->holds);
    LeaveCriticalSection(&m_lock);
    return found;
  }

private:
  CRITICAL_SECTION m_lock;
  std::set<MurrelContext *> m_live;
};

ContextSet g_contexts;

} // namespace

void RememberContext(MurrelContext *context) { g_contexts.Add(context); }
bool ForgetContext(MurrelContext *context) { return g_contexts.Remove(context); }
bool IsLiveContext(const MurrelContext *context) { return context && g_contexts.Contains(context); }
bool HoldLiveContext(MurrelContext *context) { return context && g_contexts.Hold(context); }
