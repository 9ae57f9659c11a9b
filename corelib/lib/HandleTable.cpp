#include "HandleTable.h"

#include <windows.h>
#include <new>
#include <unordered_map>

namespace {

// First number handed out; small numbers are left alone so that a count or
// an id passed by mistake is less likely to name a live record.
const uint32_t kFirstHandle = 0x10000;
const uint32_t kLastHandle = 0x7FFFFFFF;

struct Table {
  SRWLOCK lock = SRWLOCK_INIT;
  std::unordered_map<long, HandleRecord *> live;
  uint32_t next = kFirstHandle;
};

Table &TheTable() {
  static Table table;
  return table;
}

class Exclusive {
public:
  explicit Exclusive(SRWLOCK &lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
  ~Exclusive() { ReleaseSRWLockExclusive(&m_lock); }
private:
  SRWLOCK &m_lock;
};

HandleRecord *FindLive(Table &table, long handle, int32_t type) {
  if (handle == 0)
    return nullptr;
  auto found = table.live.find(handle);
  if (found == table.live.end())
    return nullptr;
  if (type != 0 && found->second->type != type)
    return nullptr;
  return found->second;
}

} // namespace

long HandleIssue(int32_t type, void *payload) {
  HandleRecord *record = new (std::nothrow) HandleRecord{type, payload};
  if (!record)
    return 0;
  Table &table = TheTable();
  Exclusive hold(table.lock);
  if (table.live.size() >= kLastHandle - kFirstHandle) {
    delete record;
    return 0;
  }
  // The sequence wraps after two thousand million handles; numbers still
  // live then are skipped.
  long handle;
  do {
    handle = static_cast<long>(table.next);
    table.next = table.next == kLastHandle ? kFirstHandle : table.next + 1;
  } while (table.live.count(handle));
  try {
    table.live.emplace(handle, record);
  } catch (const std::bad_alloc &) {
    delete record;
    return 0;
  }
  return handle;
}

bool HandleVisit(long handle, int32_t type, void (*visit)(HandleRecord &, void *), void *context) {
  Table &table = TheTable();
  Exclusive hold(table.lock);
  HandleRecord *record = FindLive(table, handle, type);
  if (!record)
    return false;
  visit(*record, context);
  return true;
}

int32_t HandleTypeOf(long handle) {
  Table &table = TheTable();
  Exclusive hold(table.lock);
  HandleRecord *record = FindLive(table, handle, 0);
  return record ? record->type : 0;
}

HandleRecord *HandleTake(long handle, int32_t type) {
  Table &table = TheTable();
  Exclusive hold(table.lock);
  HandleRecord *record = FindLive(table, handle, type);
  if (record)
    table.live.erase(handle);
  return record;
}

void HandleDeleteRecord(HandleRecord *record) { delete record; }

long HandleLiveCount() {
  Table &table = TheTable();
  Exclusive hold(table.lock);
  return static_cast<long>(table.live.size());
}
