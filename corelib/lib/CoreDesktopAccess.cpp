// GrantDesktopAccess: the entries that let a logon use the interactive
// window station and its desktop, appended to their access lists.
#include "CoreProcess.h"

#include <new>
#include <vector>

namespace {

struct AccessEntry {
  BYTE flags;
  DWORD mask;
};

bool HoldsEntry(PACL acl, DWORD count, const AccessEntry &entry, PSID sid) {
  for (DWORD i = 0; i < count; ++i) {
    void *ace = NULL;
    if (!GetAce(acl, i, &ace))
      continue;
    const ACCESS_ALLOWED_ACE *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
    if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && allowed->Header.AceFlags == entry.flags &&
        allowed->Mask == entry.mask && EqualSid(const_cast<DWORD *>(&allowed->SidStart), sid))
      return true;
  }
  return false;
}

// Appends the entries for `sid` to the object's access list, keeping every
// old entry; 0 or the error of the failed call.
DWORD AppendAccess(HANDLE object, PSID sid, const AccessEntry *entries, size_t count) {
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
  DWORD size = sizes.AclBytesInUse + static_cast<DWORD>(count) * entrySize;
  std::vector<DWORD> listBuffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
  PACL list = reinterpret_cast<PACL>(listBuffer.data());
  DWORD revision = oldList->AclRevision > ACL_REVISION ? oldList->AclRevision : ACL_REVISION;
  if (!InitializeAcl(list, size, revision))
    return GetLastError();
  for (DWORD i = 0; i < sizes.AceCount; ++i) {
    void *ace = NULL;
    if (!GetAce(oldList, i, &ace) ||
        !AddAce(list, revision, MAXDWORD, ace, static_cast<const ACE_HEADER *>(ace)->AceSize))
      return GetLastError();
  }
  size_t added = 0;
  for (size_t i = 0; i < count; ++i) {
    if (HoldsEntry(oldList, sizes.AceCount, entries[i], sid))
      continue;
    if (!AddAccessAllowedAceEx(list, revision, entries[i].flags, entries[i].mask, sid))
      return GetLastError();
    ++added;
  }
  if (added == 0)
    return 0;
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE))
    return GetLastError();
  if (!g_processCalls.SetUserObjectSecurity(object, &what, &descriptor))
    return GetLastError();
  return 0;
}

} // namespace

// Called with the logon's token and both objects held: running out of memory
// is an error code here, so the caller releases them.
DWORD GrantDesktopAccess(HWINSTA station, HDESK desktop, PSID sid) try {
  const AccessEntry stationEntries[] = {
      {OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, kWindowStationInheritedAccess},
      {NO_PROPAGATE_INHERIT_ACE, kWindowStationAccess},
  };
  const AccessEntry desktopEntries[] = {{0, kDesktopAccess}};
  DWORD error = AppendAccess(station, sid, stationEntries, 2);
  if (error == 0)
    error = AppendAccess(desktop, sid, desktopEntries, 1);
  return error;
} catch (const std::bad_alloc &) {
  return ERROR_NOT_ENOUGH_MEMORY;
}

