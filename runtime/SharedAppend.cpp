#include "SharedAppend.h"

namespace {

// Readers (the monitor, -history) and rotation (a rename) may act while a
// writer has the file open.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Lock(HANDLE file, OVERLAPPED *whole) {
  *whole = OVERLAPPED();
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, whole) != FALSE;
}

HANDLE OpenLocked(const std::string &path, OVERLAPPED *whole) {
  HANDLE file = OpenShared(path);
  if (file == INVALID_HANDLE_VALUE)
    return file;
  *whole = OVERLAPPED();
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, whole)) {
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

void UnlockAndClose(HANDLE file, OVERLAPPED *whole) {
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, whole);
  CloseHandle(file);
}

bool WriteAll(HANDLE file, const std::string &bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) &&
         written == bytes.size();
}

unsigned long long SizeOf(HANDLE file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(file, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
}

char LastByte(HANDLE file, unsigned long long size) {
  char last = 0;
  DWORD got = 0;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size) - 1;
  if (size == 0 || !SetFilePointerEx(file, at, NULL, FILE_BEGIN) || !ReadFile(file, &last, 1, &got, NULL))
    return 0;
  return got == 1 ? last : 0;
}

} // namespace

HANDLE OpenShared(const std::string &path) {
  return CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, kShareAll, NULL, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

bool AppendSharedOpen(HANDLE file, const AppendBytesFor &bytesFor) {
  OVERLAPPED whole;
  if (!Lock(file, &whole))
    return false;
  unsigned long long size = SizeOf(file);
  bool ok = false;
  try {
    ok = WriteAll(file, bytesFor(size, LastByte(file, size)));
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  DWORD error = GetLastError();
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  SetLastError(ok ? ERROR_SUCCESS : error);
  return ok;
}

bool AppendShared(const std::string &path, const AppendBytesFor &bytesFor) {
  HANDLE file = OpenShared(path);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bool ok = AppendSharedOpen(file, bytesFor);
  DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok;
}

bool AppendSharedRotating(const std::string &path, const std::string &bytes, unsigned long long limitBytes,
                          void (*rotate)(const std::string &path)) {
  OVERLAPPED whole;
  HANDLE file = OpenLocked(path, &whole);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  unsigned long long size = SizeOf(file);
  if (size > 0 && size + bytes.size() > limitBytes) {
    // The lock stays held on the old file while it is renamed away, so a
    // writer waiting for it appends at worst to the file just rotated.
    rotate(path);
    OVERLAPPED freshWhole;
    HANDLE fresh = OpenLocked(path, &freshWhole);
    UnlockAndClose(file, &whole);
    if (fresh == INVALID_HANDLE_VALUE)
      return false;
    file = fresh;
    whole = freshWhole;
  }
  bool ok = WriteAll(file, bytes);
  DWORD error = GetLastError();
  UnlockAndClose(file, &whole);
  SetLastError(ok ? ERROR_SUCCESS : error);
  return ok;
}
