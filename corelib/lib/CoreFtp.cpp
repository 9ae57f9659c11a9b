// FTP sessions on the internet client library (WinINet). Outcomes reach the
// script through the FTP.* variables of the process environment and, for a
// failure, the last-error variable; no FTP method prints a notice.
#include "Core.h"
#include "CoreFtp.h"

#include <new>
#include <string>
#include <vector>

#include <wininet.h>

#include "CoreModule.h"
#include "CoreText.h"
#include "FtpReply.h"
#include "HandleTable.h"
#include "VariableManager.h"

const char kFtpLastLine[] = "FTP.LASTLINE";
const char kFtpWinsock[] = "FTP.WINSOCK";
const char kFtpLastMessage[] = "FTP.LASTMSG";
const char kFtpReplyCode[] = "FTP.REPLY_CODE";

namespace {

// The agent name given to the library: this module's name.
const char kAgentName[] = "QuillmothLib";
const DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
const DWORD kConnectFlags = kOpenFlags | INTERNET_FLAG_PASSIVE;
const DWORD_PTR kConnectContext = 1;

struct FtpSession {
  HINTERNET internet;
  HINTERNET connection;
};

// The FTP variables live in this process's environment only; an empty or
// absent value deletes the variable.
void SetFtpVariable(const char *name, const char *value) {
  CoreVariables().SetVariable(nullptr, name, value, VAR_MODE_PROCESS);
}

// The system's text for `code` exactly as the message table gives it (line
// break included); empty when there is none.
std::string SystemMessage(DWORD code) {
  char *text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<char *>(&text), 0, nullptr);
  std::string message;
  if (length && text)
    message.assign(text, length);
  if (text)
    LocalFree(text);
  return message;
}

// Publishes the last line the server said on this thread; that line, or
// empty when the library holds none.
std::string RecordServerResponse() {
  SetFtpVariable(kFtpLastLine, nullptr);
  DWORD error = 0;
  DWORD needed = 0;
  char probe[1] = {'\0'};
  InternetGetLastResponseInfoA(&error, probe, &needed);
  if (needed == 0)
    return std::string();
  // Room for the text, its terminating zero and one more byte, so a library
  // that leaves the zero out is still read within the buffer.
  std::vector<char> text(static_cast<size_t>(needed) + 2, '\0');
  DWORD length = needed + 1;
  if (!InternetGetLastResponseInfoA(&error, text.data(), &length))
    return std::string();
  if (length > needed + 1)
    length = needed + 1;
  std::string line = FtpLastReplyLine(text.data(), length);
  SetFtpVariable(kFtpLastLine, line.c_str());
  SetFtpVariable(kFtpWinsock, FtpDecimal(static_cast<long>(error)).c_str());
  return line;
}

// Whether a failure with `code` can carry a reply of this call: the library
// keeps the last line of any earlier call on this thread, and a failure with
// a system error (a local file that cannot be opened, a full disk) was decided
// here, whatever the server said before.
bool FromTheConversation(DWORD code) { return code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST; }

// `serverMayHaveSpoken` is false where the failure proves the server said
// nothing in this call: the library still holds the line of an earlier
// session on this thread, which is no answer to this one.
void RecordFailure(bool serverMayHaveSpoken = true) {
  DWORD code = GetLastError(); // before anything else can change it
  SetFtpVariable(kFtpLastLine, nullptr);
  CoreVariables().SetLastErrorText(nullptr);
  SetFtpVariable(kFtpLastMessage, nullptr);
  SetFtpVariable(kFtpWinsock, nullptr);
  if (code != 0) {
    std::string message = SystemMessage(code);
    SetFtpVariable(kFtpLastMessage, message.c_str());
    SetFtpVariable(kFtpReplyCode, FtpDecimal(static_cast<long>(code)).c_str());
  }
  std::string line = serverMayHaveSpoken && FromTheConversation(code) ? RecordServerResponse() : std::string();
  CoreVariables().SetLastErrorText(line.empty() ? nullptr : line.c_str());
}

// Copies the connection handle of a live session record (used while the
// table is locked; the handle itself stays the session's).
void ReadConnection(HandleRecord &record, void *context) {
  FtpSession *session = static_cast<FtpSession *>(record.payload);
  *static_cast<HINTERNET *>(context) = session ? session->connection : nullptr;
}

// The connection of `hSession`, or null when it names no live session.
HINTERNET SessionConnection(long hSession) {
  if (hSession == 0)
    return nullptr;
  HINTERNET connection = nullptr;
  if (!HandleVisit(hSession, HT_FTP_SESSION, ReadConnection, &connection))
    return nullptr;
  return connection;
}

// The result of one call on the connection, recorded the common way.
long Outcome(BOOL succeeded) {
  if (!succeeded) {
    RecordFailure();
    return kFalse;
  }
  RecordServerResponse();
  return kTrue;
}

// One text argument of an FTP method: a missing text is no name (null).
struct FtpText {
  TextArg<kTextBuffer> arg;
  // A name that does not fit is refused whole, never cut to another name.
  bool Take(const char *method, const char *what, BSTR value) {
    return arg.TakeQuietly(method, what, value, kOptionalText);
  }
  const char *Name() const { return arg.OrNull(); }
};

// The call shape of the one-name operations (cd, delete, mkdir, rmdir).
typedef BOOL(WINAPI *NameCall)(HINTERNET, LPCSTR);

// An operation on one remote name: call(connection, name) answers the
// method's result.
template <typename Call>
HRESULT NameOperation(const char *method, long hSession, BSTR name, long *pVal, Call call) {
  if (!pVal)
    return E_POINTER;
  *pVal = kFalse;
  HINTERNET connection = SessionConnection(hSession);
  if (!connection)
    return S_FALSE;
  FtpText remote;
  if (!remote.Take(method, "the remote name", name))
    return S_FALSE;
  *pVal = call(connection, remote.Name());
  return *pVal ? S_OK : S_FALSE;
}

HRESULT OneNameOperation(const char *method, long hSession, BSTR name, NameCall call, long *pVal) {
  return NameOperation(method, hSession, name, pVal,
                       [call](HINTERNET connection, LPCSTR remote) { return Outcome(call(connection, remote)); });
}

// The shape of the two-name operations (rename, put, get): call(connection,
// first, second) answers the method's result.
template <typename Call>
HRESULT TwoNameOperation(const char *method, const char *firstWhat, const char *secondWhat, long hSession, BSTR first,
                         BSTR second, long *pVal, Call call) {
  if (!pVal)
    return E_POINTER;
  *pVal = kFalse;
  HINTERNET connection = SessionConnection(hSession);
  if (!connection)
    return S_FALSE;
  FtpText one, two;
  if (!one.Take(method, firstWhat, first) || !two.Take(method, secondWhat, second))
    return S_FALSE;
  *pVal = call(connection, one.Name(), two.Name());
  return *pVal ? S_OK : S_FALSE;
}

DWORD TransferType(VARIANT_BOOL binary) { return binary ? FTP_TRANSFER_TYPE_BINARY : FTP_TRANSFER_TYPE_ASCII; }

// The download goes to a new file beside the local name and replaces that
// name only once it is complete: the library removes its target when a
// download fails, which would otherwise destroy the file being replaced. The
// new file is made here under a name no one else holds (GetTempFileName
// creates it), so the library writes over our own empty file.
bool TemporaryBeside(const char *localName, std::string &temporary) {
  char full[MAX_PATH];
  char *filePart = nullptr;
  DWORD length = GetFullPathNameA(localName, MAX_PATH, full, &filePart);
  if (length == 0 || length >= MAX_PATH || !filePart) {
    if (length >= MAX_PATH || (length && !filePart))
      SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  *filePart = '\0';
  char name[MAX_PATH];
  if (!GetTempFileNameA(full, "qmf", 0, name))
    return false;
  temporary = name;
  return true;
}

// Removes the temporary file, keeping the error that failed the download.
BOOL Abandon(const std::string &temporary) {
  DWORD code = GetLastError();
  DeleteFileA(temporary.c_str());
  SetLastError(code ? code : ERROR_GEN_FAILURE);
  return FALSE;
}

// Puts the complete download in place of `localName`. An existing file is
// replaced by the system's replace call, which keeps its security (owner,
// permissions), attributes and streams, and works while others hold it open
// for reading and writing; a plain move only where there is no file yet.
BOOL PutInPlace(const std::string &temporary, const char *localName) {
  DWORD attributes = GetFileAttributesA(localName);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (MoveFileExA(temporary.c_str(), localName, 0))
      return TRUE;
    return Abandon(temporary);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_ACCESS_DENIED); // as a move onto a folder answers
    return Abandon(temporary);
  }
  if (ReplaceFileA(localName, temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
    return TRUE;
  DWORD code = GetLastError();
  if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT && GetFileAttributesA(localName) == INVALID_FILE_ATTRIBUTES) {
    // The system removed the old file but could not rename ours: the
    // download is all there is, so it takes the name.
    if (MoveFileExA(temporary.c_str(), localName, 0))
      return TRUE;
  }
  SetLastError(code);
  return Abandon(temporary);
}

BOOL Download(HINTERNET connection, const char *remoteName, const char *localName, DWORD flags) {
  if (!localName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string temporary;
  if (!TemporaryBeside(localName, temporary))
    return FALSE; // never the library's own way, which destroys the file
  if (!FtpGetFileA(connection, remoteName, temporary.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL, flags, 0))
    return Abandon(temporary);
  return PutInPlace(temporary, localName);
}

// A session not yet handed to the handle table: closed and freed on every
// way out of the connect, an exception's included.
struct SessionOwner {
  FtpSession *session;
  ~SessionOwner() {
    if (!session)
      return;
    if (session->connection)
      InternetCloseHandle(session->connection);
    if (session->internet)
      InternetCloseHandle(session->internet);
    delete session;
  }
  SessionOwner(const SessionOwner &) = delete;
  SessionOwner &operator=(const SessionOwner &) = delete;
};

} // namespace

bool CloseFtpSession(HandleRecord *record) {
  if (!record)
    return false;
  FtpSession *session = static_cast<FtpSession *>(record->payload);
  if (!session) {
    HandleDeleteRecord(record);
    return false;
  }
  if (session->connection) {
    InternetCloseHandle(session->connection); // ends the FTP conversation
    // The goodbye is recorded when memory allows; the session goes anyway.
    try {
      RecordServerResponse();
    } catch (const std::bad_alloc &) {
    }
  }
  if (session->internet)
    InternetCloseHandle(session->internet);
  delete session;
  HandleDeleteRecord(record);
  return true;
}

HRESULT CCore::FtpConnect(BSTR szHostName, short port, BSTR szUserID, BSTR szPassword, long *pVal) {
  return CoreGuarded("FtpConnect", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = 0;
    FtpText host, user, password;
    if (!host.Take("FtpConnect", "the host name", szHostName) || !user.Take("FtpConnect", "the user name", szUserID) ||
        !password.Take("FtpConnect", "the password", szPassword))
      return S_FALSE;

    SessionOwner owner{new (std::nothrow) FtpSession{nullptr, nullptr}};
    FtpSession *session = owner.session;
    if (!session)
      return E_OUTOFMEMORY;
    session->internet = InternetOpenA(kAgentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, kOpenFlags);
    if (!session->internet) {
      RecordFailure();
      return S_FALSE;
    }
    // The script's I2 carries ports above 32767 as negative numbers.
    INTERNET_PORT serverPort = static_cast<INTERNET_PORT>(static_cast<unsigned short>(port));
    session->connection = InternetConnectA(session->internet, host.Name(), serverPort, user.Name(), password.Name(),
                                           INTERNET_SERVICE_FTP, kConnectFlags, kConnectContext);
    if (!session->connection) {
      DWORD code = GetLastError();
      // No name, or no listener: no server took part in this connect.
      bool reached = code != ERROR_INTERNET_NAME_NOT_RESOLVED && code != ERROR_INTERNET_CANNOT_CONNECT;
      SetLastError(code);
      RecordFailure(reached);
      return S_FALSE;
    }
    RecordServerResponse();
    long handle = HandleIssue(HT_FTP_SESSION, session);
    if (!handle)
      return E_OUTOFMEMORY;
    owner.session = nullptr; // the table's now
    *pVal = handle;
    return S_OK;
  });
}

HRESULT CCore::FtpClose(long hSession, long *pVal) {
  return CoreGuarded("FtpClose", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = kFalse;
    if (hSession == 0)
      return S_FALSE;
    if (!CloseFtpSession(HandleTake(hSession, HT_FTP_SESSION)))
      return S_FALSE;
    *pVal = kTrue;
    return S_OK;
  });
}

HRESULT CCore::FtpCd(long hSession, BSTR pRemoteName, long *pVal) {
  return CoreGuarded("FtpCd", [&]() -> HRESULT {
    return OneNameOperation("FtpCd", hSession, pRemoteName, FtpSetCurrentDirectoryA, pVal);
  });
}

HRESULT CCore::FtpDel(long hSession, BSTR pRemoteName, long *pVal) {
  return CoreGuarded("FtpDel", [&]() -> HRESULT {
    return OneNameOperation("FtpDel", hSession, pRemoteName, FtpDeleteFileA, pVal);
  });
}

HRESULT CCore::FtpMkDir(long hSession, BSTR pRemoteName, long *pVal) {
  return CoreGuarded("FtpMkDir", [&]() -> HRESULT {
    return OneNameOperation("FtpMkDir", hSession, pRemoteName, FtpCreateDirectoryA, pVal);
  });
}

HRESULT CCore::FtpRmDir(long hSession, BSTR pRemoteName, long *pVal) {
  return CoreGuarded("FtpRmDir", [&]() -> HRESULT {
    return OneNameOperation("FtpRmDir", hSession, pRemoteName, FtpRemoveDirectoryA, pVal);
  });
}

HRESULT CCore::FtpRename(long hSession, BSTR oldname, BSTR newname, long *pVal) {
  return CoreGuarded("FtpRename", [&]() -> HRESULT {
    return TwoNameOperation("FtpRename", "the old name", "the new name", hSession, oldname, newname, pVal,
                            [](HINTERNET connection, LPCSTR from, LPCSTR to) {
                              return Outcome(FtpRenameFileA(connection, from, to));
                            });
  });
}

HRESULT CCore::FtpPut(long hSession, BSTR pLocalName, BSTR pRemoteName, VARIANT_BOOL bBinary, long *pVal) {
  return CoreGuarded("FtpPut", [&]() -> HRESULT {
    return TwoNameOperation("FtpPut", "the local name", "the remote name", hSession, pLocalName, pRemoteName, pVal,
                            [bBinary](HINTERNET connection, LPCSTR local, LPCSTR remote) {
                              return Outcome(FtpPutFileA(connection, local, remote, TransferType(bBinary), 0));
                            });
  });
}

HRESULT CCore::FtpGet(long hSession, BSTR pRemoteName, BSTR pLocalName, VARIANT_BOOL bBinary, long *pVal) {
  return CoreGuarded("FtpGet", [&]() -> HRESULT {
    return TwoNameOperation("FtpGet", "the remote name", "the local name", hSession, pRemoteName, pLocalName, pVal,
                            [bBinary](HINTERNET connection, LPCSTR remote, LPCSTR local) {
                              if (!Download(connection, remote, local, TransferType(bBinary) | kOpenFlags)) {
                                RecordFailure();
                                return kFalse;
                              }
                              // A finished download leaves the variables as the
                              // previous operation set them.
                              return kTrue;
                            });
  });
}

HRESULT CCore::FtpTest(long hSession, BSTR pRemoteName, long *pVal) {
  return CoreGuarded("FtpTest", [&]() -> HRESULT {
    return NameOperation("FtpTest", hSession, pRemoteName, pVal, [](HINTERNET connection, LPCSTR remote) {
      WIN32_FIND_DATAA found;
      HINTERNET find = FtpFindFirstFileA(connection, remote, &found, INTERNET_FLAG_RESYNCHRONIZE, 0);
      if (!find)
        return kFalse;
      InternetCloseHandle(find);
      return kTrue;
    });
  });
}
