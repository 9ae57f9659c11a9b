// The entries that let a logon use the interactive window station and its
// desktop: appended to their access lists before a start, removed again
// when the started program has ended, so the lists (at most 64 KiB) never
// fill up with the entries of logons that are long gone.
#include "CoreProcess.h"

#include <new>
#include <vector>

namespace {

struct AccessEntry {
  BYTE flags;
  DWORD mask;
};

const AccessEntry kStationEntries[] = {
    {OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, kWindowStationInheritedAccess},
    {NO_PROPAGATE_INHERIT_ACE, kWindowStationAccess},
};
const AccessEntry kDesktopEntries[] = {{0, kDesktopAccess}};

SRWLOCK g_lock = SRWLOCK_INIT;

// Grants of starts that were not waited for: kept until their program has
// ended (guarded by g_lock).
struct KeptGrant {
  std::vector<BYTE> sid;
  HANDLE process;
};
std::vector<KeptGrant> *g_kept = nullptr;

bool IsEntry(const void *ace, const AccessEntry &entry, PSID sid) {
  const ACCESS_ALLOWED_ACE *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
  return allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && allowed->Header.AceFlags == entry.flags &&
         allowed->Mask == entry.mask && EqualSid(const_cast<DWORD *>(&allowed->SidStart), sid);
}

bool IsAnyEntry(const void *ace, const AccessEntry *entries, size_t count, PSID sid) {
  for (size_t i = 0; i < count; ++i)
    if (IsEntry(ace, entries[i], sid))
      return true;
  return false;
}

bool HoldsEntry(PACL acl, DWORD count, const AccessEntry &entry, PSID sid) {
  for (DWORD i = 0; i < count; ++i) {
    void *ace = NULL;
    if (GetAce(acl, i, &ace) && IsEntry(ace, entry, sid))
      return true;
  }
  return false;
}

// Rewrites the object's access list: every old entry that `drop` does not
// name, then `add` of those entries the list does not hold yet. Nothing is
// set when nothing changes; an object without a list (everyone admitted) is
// left alone. 0 or the error of the failed call.
DWORD ChangeAccess(HANDLE object, PSID sid, const AccessEntry *entries, size_t count, bool add) {
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  if (!g_processCalls.GetUserObjectSecurity(object, &what, NULL, 0, &needed) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return GetLastError();
  if (needed < sizeof(SECURITY_DESCRIPTOR_RELATIVE))
    return ERROR_INVALID_SECURITY_DESCR;
  std::vector<BYTE> old(needed);
  if (!g_processCalls.GetUserObjectSecurity(object, &what, old.data(), needed, &needed))
    return GetLastError();
  BOOL present = FALSE, defaulted = FALSE;
  PACL oldList = NULL;
  if (!GetSecurityDescriptorDacl(old.data(), &present, &oldList, &defaulted))
    return GetLastError();
  // No list at all lets everyone in: a list of the old entries (none) plus
  // ours would shut everyone else out, so there is nothing to grant.
  if (!present || !oldList)
    return 0;
  ACL_SIZE_INFORMATION sizes = {};
  if (!GetAclInformation(oldList, &sizes, sizeof sizes, AclSizeInformation))
    return GetLastError();

  DWORD entrySize = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
  DWORD size = sizes.AclBytesInUse + (add ? static_cast<DWORD>(count) * entrySize : 0);
  std::vector<DWORD> listBuffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
  PACL list = reinterpret_cast<PACL>(listBuffer.data());
  DWORD revision = oldList->AclRevision > ACL_REVISION ? oldList->AclRevision : ACL_REVISION;
  if (!InitializeAcl(list, size, revision))
    return GetLastError();
  size_t changed = 0;
  for (DWORD i = 0; i < sizes.AceCount; ++i) {
    void *ace = NULL;
    if (!GetAce(oldList, i, &ace))
      return GetLastError();
    if (!add && IsAnyEntry(ace, entries, count, sid)) {
      ++changed;
      continue;
    }
    if (!AddAce(list, revision, MAXDWORD, ace, static_cast<const ACE_HEADER *>(ace)->AceSize))
      return GetLastError();
  }
  for (size_t i = 0; add && i < count; ++i) {
    if (HoldsEntry(oldList, sizes.AceCount, entries[i], sid))
      continue;
    if (!AddAccessAllowedAceEx(list, revision, entries[i].flags, entries[i].mask, sid))
      return GetLastError();
    ++changed;
  }
  if (changed == 0)
    return 0;
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE))
    return GetLastError();
  if (!g_processCalls.SetUserObjectSecurity(object, &what, &descriptor))
    return GetLastError();
  return 0;
}

// Whether a kept grant of a program that still runs holds `sid`.
bool StillInUse(PSID sid) {
  if (!g_kept)
    return false;
  for (const KeptGrant &kept : *g_kept)
    if (EqualSid(const_cast<BYTE *>(kept.sid.data()), sid) && WaitForSingleObject(kept.process, 0) == WAIT_TIMEOUT)
      return true;
  return false;
}

DWORD Revoke(HWINSTA station, HDESK desktop, PSID sid) {
  if (StillInUse(sid))
    return 0;
  DWORD error = ChangeAccess(station, sid, kStationEntries, 2, false);
  DWORD desktopError = ChangeAccess(desktop, sid, kDesktopEntries, 1, false);
  return error ? error : desktopError;
}

// The grants kept for programs that have ended since go.
void PruneEnded(HWINSTA station, HDESK desktop) {
  if (!g_kept)
    return;
  for (size_t i = 0; i < g_kept->size();) {
    KeptGrant &kept = (*g_kept)[i];
    if (WaitForSingleObject(kept.process, 0) == WAIT_TIMEOUT) {
      ++i;
      continue;
    }
    std::vector<BYTE> sid;
    sid.swap(kept.sid);
    CloseHandle(kept.process);
    g_kept->erase(g_kept->begin() + static_cast<std::ptrdiff_t>(i));
    Revoke(station, desktop, sid.data());
  }
}

} // namespace

DesktopAccessLock::DesktopAccessLock() { AcquireSRWLockExclusive(&g_lock); }
DesktopAccessLock::~DesktopAccessLock() { ReleaseSRWLockExclusive(&g_lock); }

// Called with the logon's token and both objects held: running out of memory
// is an error code here, so the caller releases them.
DWORD GrantDesktopAccess(HWINSTA station, HDESK desktop, PSID sid) try {
  PruneEnded(station, desktop);
  DWORD error = ChangeAccess(station, sid, kStationEntries, 2, true);
  if (error == 0)
    error = ChangeAccess(desktop, sid, kDesktopEntries, 1, true);
  return error;
} catch (const std::bad_alloc &) {
  return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD RevokeDesktopAccess(HWINSTA station, HDESK desktop, PSID sid) try {
  return Revoke(station, desktop, sid);
} catch (const std::bad_alloc &) {
  return ERROR_NOT_ENOUGH_MEMORY;
}

bool KeepDesktopAccess(PSID sid, HANDLE process) try {
  HANDLE copy = NULL;
  if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0))
    return false;
  KeptGrant kept;
  kept.sid.assign(static_cast<BYTE *>(sid), static_cast<BYTE *>(sid) + GetLengthSid(sid));
  kept.process = copy;
  if (!g_kept)
    g_kept = new std::vector<KeptGrant>();
  g_kept->push_back(kept);
  return true;
} catch (const std::bad_alloc &) {
  return false;
}
