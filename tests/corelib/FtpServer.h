// A real FTP server (vsftpd) on the loopback address for the tests that
// need one: started by the test as a Linux process through Wine, serving a
// fresh folder, and stopped (with every session it forked) when the object
// goes away, whatever the test's outcome.
#ifndef FTPSERVER_H
#define FTPSERVER_H

#include <stdint.h>
#include <string>

#include "WineTestSupport.h"

namespace qmtest {

class FtpServer {
public:
  // The password the server accepts for the anonymous user.
  static const char *Password() { return "bench@quillmoth"; }

  FtpServer();
  ~FtpServer();

  // Starts the server on a free loopback port; false with the reason when
  // it does not answer.
  bool Start(std::string *why);
  // Kills the server and its sessions at once and waits until the port no
  // longer answers. Safe to call again.
  void Stop();

  unsigned short Port() const { return m_port; }
  // The folder the server serves, as Windows sees it (trailing backslash).
  const std::string &Root() const { return m_root; }

  // The server's record of the conversation: every command and reply.
  std::string Log() const;

  // A loopback port below 32768 (so scripts can pass it as a 16-bit
  // number) on which nothing listens.
  static unsigned short UnusedPort();
  // Whether something accepts connections on this loopback port.
  static bool Answers(unsigned short port);

private:
  FtpServer(const FtpServer &) = delete;
  FtpServer &operator=(const FtpServer &) = delete;

  bool Launch(unsigned short port, std::string *why);
  std::string Greeting(unsigned short port);

  TempDirectory m_files; // configuration, pid, messages
  std::string m_root;
  unsigned short m_port = 0;
  unsigned long m_group = 0; // process group of the server and its sessions
};

// An FTP server of the test's own on the loopback address, for what vsftpd
// cannot be made to do: it serves one file and cuts every download of it
// short, closing the data connection after `cutAfter` bytes and answering
// 426. It speaks just enough of the protocol for WinINet (any user, passive
// mode, one session at a time) on a thread of its own.
class CuttingFtpServer {
public:
  CuttingFtpServer(const std::string &name, const std::string &content, size_t cutAfter);
  ~CuttingFtpServer();

  // Listens on a free loopback port; false with the reason when it cannot.
  bool Start(std::string *why);
  // Ends the session in progress and the server. Safe to call again.
  void Stop();
  unsigned short Port() const { return m_port; }
  // The commands received and the transfers cut, one a line.
  std::string Log() const;

private:
  CuttingFtpServer(const CuttingFtpServer &) = delete;
  CuttingFtpServer &operator=(const CuttingFtpServer &) = delete;

  static DWORD WINAPI Serve(void *self);
  void Session(uintptr_t control);
  // Sends the file, or its first part, on the passive data connection.
  std::string Transfer(uintptr_t passive);
  void Note(const std::string &line);

  std::string m_name, m_content;
  size_t m_cutAfter;
  unsigned short m_port = 0;
  uintptr_t m_listener; // SOCKETs, whose header must come before windows.h
  uintptr_t m_control;  // the session's, while one runs
  HANDLE m_thread = nullptr;
  volatile LONG m_stopping = 0;
  mutable CRITICAL_SECTION m_lock;
  std::string m_log;
  bool m_winsock = false;
};

// The Linux path of a Windows path (Wine's own mapping); empty outside Wine.
std::string UnixPath(const std::string &windowsPath);

// Runs a Linux program through Wine, its streams going nowhere. Wine hands
// back no process handle for such a program, so callers watch its effect.
bool StartLinuxProgram(const std::string &commandLine);

} // namespace qmtest

#endif
