// Appending to files that every thread and process of the installation
// writes: each addition is one locked write, so additions never interleave.
#ifndef SHAREDAPPEND_H
#define SHAREDAPPEND_H

#include <windows.h>
#include <functional>
#include <string>

// How the file ends when the lock is held: its size and, when it is not
// empty, its last byte. The callback answers the bytes to append.
typedef std::function<std::string(unsigned long long size, char lastByte)> AppendBytesFor;

// Appends to the file (made when missing) what bytesFor answers, in one
// write under a lock of the whole file. False, with the system's error code
// set, when nothing was written.
bool AppendShared(const std::string &path, const AppendBytesFor &bytesFor);

// The same on a file already open (with GENERIC_READ | FILE_APPEND_DATA),
// which a frequent writer keeps open.
bool AppendSharedOpen(HANDLE file, const AppendBytesFor &bytesFor);
// Opens a file for AppendSharedOpen, shared with every other writer and
// reader; INVALID_HANDLE_VALUE on failure.
HANDLE OpenShared(const std::string &path);

// Appends bytes; when the file would grow past limitBytes, first calls
// rotate (with the file still locked, so no other writer appends meanwhile)
// and writes to the file made anew. A file is never rotated while empty.
bool AppendSharedRotating(const std::string &path, const std::string &bytes, unsigned long long limitBytes,
                          void (*rotate)(const std::string &path));

#endif
