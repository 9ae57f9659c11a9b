// Handle records of the Core object: {type tag, payload} on the heap, seen
// by scripts as a 32-bit number. Live records are kept in a process-wide
// table, so a number that names no live record (never handed out, already
// freed, or forged) is recognised and never dereferenced. Numbers are not
// addresses: they are issued in sequence and not reused while the sequence
// lasts, so a stale number cannot reach a newer record.
#ifndef HANDLETABLE_H
#define HANDLETABLE_H

#include <stdint.h>

enum HandleType {
  HT_MESSAGE = 205,
  HT_JOB = 206,
  HT_JOB_LIST = 207,
  HT_TOKEN = 208,
  HT_FTP_SESSION = 209,
};

struct HandleRecord {
  int32_t type;
  void *payload; // owned by the record
};

// A new handle for a record of `type` that owns `payload`; 0 when memory
// runs out (the payload then stays the caller's).
long HandleIssue(int32_t type, void *payload);

// Calls `visit(record, context)` with the table locked when `handle` names a
// live record of `type` (any type when `type` is 0). False when it does not.
bool HandleVisit(long handle, int32_t type, void (*visit)(HandleRecord &, void *), void *context);

// The type of a live record, or 0.
int32_t HandleTypeOf(long handle);

// Removes a live record from the table and gives it to the caller, who
// releases the payload and then the record with HandleDeleteRecord. Null
// when `handle` names no live record of `type` (any type when `type` is 0).
HandleRecord *HandleTake(long handle, int32_t type);
void HandleDeleteRecord(HandleRecord *record);

// Number of live records (for tests and diagnostics).
long HandleLiveCount();

#endif
