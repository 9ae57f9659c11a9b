// Winsock's headers come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "FtpServer.h"

#include <ctype.h>
#include <stdio.h>
#include <vector>

namespace qmtest {

namespace {

const char kServerProgram[] = "/usr/sbin/vsftpd";
// Longest life of a server whose test never stopped it (a test program
// killed from outside): the whole group is killed by then.
const int kLifetimeSeconds = 600;

struct Winsock {
  Winsock() {
    WSADATA data;
    ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Winsock() {
    if (ready)
      WSACleanup();
  }
  bool ready;
};

sockaddr_in Loopback(unsigned short port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool PortIsFree(unsigned short port) {
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (probe == INVALID_SOCKET)
    return false;
  sockaddr_in address = Loopback(port);
  bool bound = bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  closesocket(probe);
  return bound && !FtpServer::Answers(port);
}

bool SendAll(SOCKET socket, const char *data, size_t size) {
  while (size > 0) {
    int sent = send(socket, data, static_cast<int>(size < 65536 ? size : 65536), 0);
    if (sent <= 0)
      return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool Reply(SOCKET control, const std::string &line) {
  std::string text = line + "\r\n";
  return SendAll(control, text.data(), text.size());
}

// The next command line (without its line end); false once the client is gone.
bool ReadLine(SOCKET control, std::string &pending, std::string &line) {
  for (;;) {
    size_t end = pending.find("\r\n");
    if (end != std::string::npos) {
      line = pending.substr(0, end);
      pending.erase(0, end + 2);
      return true;
    }
    char chunk[512];
    int got = recv(control, chunk, sizeof chunk, 0);
    if (got <= 0)
      return false;
    pending.append(chunk, got);
  }
}

} // namespace

CuttingFtpServer::CuttingFtpServer(const std::string &name, const std::string &content, size_t cutAfter)
    : m_name(name), m_content(content), m_cutAfter(cutAfter), m_listener(INVALID_SOCKET), m_control(INVALID_SOCKET) {
  InitializeCriticalSection(&m_lock);
}

CuttingFtpServer::~CuttingFtpServer() {
  Stop();
  DeleteCriticalSection(&m_lock);
}

bool CuttingFtpServer::Start(std::string *why) {
  WSADATA data;
  m_winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!m_winsock) {
    *why = "no Winsock";
    return false;
  }
  // A port below 32768, which scripts pass as a 16-bit number; another
  // test run may take it first.
  for (int attempt = 0; attempt < 5 && m_listener == INVALID_SOCKET; ++attempt) {
    unsigned short port = FtpServer::UnusedPort();
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(port);
    if (listener != INVALID_SOCKET && port &&
        bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && listen(listener, 4) == 0) {
      m_listener = listener;
      m_port = port;
    } else if (listener != INVALID_SOCKET) {
      closesocket(listener);
    }
  }
  if (m_listener == INVALID_SOCKET) {
    *why = "cannot listen on a loopback port";
    return false;
  }
  m_thread = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
  if (!m_thread) {
    *why = "cannot start the server's thread";
    Stop();
    return false;
  }
  return true;
}

void CuttingFtpServer::Stop() {
  InterlockedExchange(&m_stopping, 1);
  if (m_thread) {
    // A session ends when its connection is shut; the waiting accept when
    // someone connects, and the server then sees it is stopping.
    EnterCriticalSection(&m_lock);
    if (m_control != INVALID_SOCKET)
      shutdown(m_control, SD_BOTH);
    LeaveCriticalSection(&m_lock);
    FtpServer::Answers(m_port);
    WaitForSingleObject(m_thread, 30000);
    CloseHandle(m_thread);
    m_thread = nullptr;
  }
  if (m_listener != INVALID_SOCKET)
    closesocket(m_listener);
  m_listener = INVALID_SOCKET;
  m_port = 0;
  if (m_winsock)
    WSACleanup();
  m_winsock = false;
}

std::string CuttingFtpServer::Log() const {
  EnterCriticalSection(&m_lock);
  std::string log = m_log;
  LeaveCriticalSection(&m_lock);
  return log;
}

void CuttingFtpServer::Note(const std::string &line) {
  EnterCriticalSection(&m_lock);
  m_log += line + "\n";
  LeaveCriticalSection(&m_lock);
}

DWORD WINAPI CuttingFtpServer::Serve(void *self) {
  CuttingFtpServer *server = static_cast<CuttingFtpServer *>(self);
  for (;;) {
    SOCKET control = accept(server->m_listener, nullptr, nullptr);
    if (control == INVALID_SOCKET || server->m_stopping) {
      if (control != INVALID_SOCKET)
        closesocket(control);
      return 0;
    }
    EnterCriticalSection(&server->m_lock);
    server->m_control = control;
    LeaveCriticalSection(&server->m_lock);
    server->Session(control);
    EnterCriticalSection(&server->m_lock);
    server->m_control = INVALID_SOCKET;
    LeaveCriticalSection(&server->m_lock);
    closesocket(control);
  }
}

void CuttingFtpServer::Session(uintptr_t control) {
  SOCKET passive = INVALID_SOCKET;
  std::string pending, line;
  bool open = Reply(control, "220 Quillmoth cutting bench");
  while (open && ReadLine(control, pending, line)) {
    Note(line);
    std::string verb = line.substr(0, line.find(' '));
    for (char &c : verb)
      c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string argument = line.size() > verb.size() ? line.substr(verb.size() + 1) : std::string();
    std::string answer;
    if (verb == "USER")
      answer = "331 Any password will do.";
    else if (verb == "PASS")
      answer = "230 Logged in.";
    else if (verb == "TYPE" || verb == "NOOP")
      answer = "200 OK.";
    else if (verb == "PWD")
      answer = "257 \"/\" is the current directory.";
    else if (verb == "CWD")
      answer = "250 Directory changed.";
    else if (verb == "SIZE")
      answer = argument == m_name ? "213 " + std::to_string(m_content.size()) : "550 No such file.";
    else if (verb == "QUIT") {
      answer = "221 Goodbye.";
      open = false;
    } else if (verb == "PASV") {
      if (passive != INVALID_SOCKET)
        closesocket(passive);
      passive = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      sockaddr_in address = Loopback(0);
      int size = sizeof address;
      if (passive != INVALID_SOCKET && bind(passive, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
          listen(passive, 1) == 0 && getsockname(passive, reinterpret_cast<sockaddr *>(&address), &size) == 0) {
        unsigned port = ntohs(address.sin_port);
        answer = "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," +
                 std::to_string(port & 0xFF) + ").";
      } else {
        answer = "425 Cannot open a passive port.";
      }
    } else if (verb == "RETR") {
      if (argument != m_name)
        answer = "550 No such file.";
      else if (passive == INVALID_SOCKET)
        answer = "425 Use PASV first.";
      else if (Reply(control, "150 Opening BINARY mode data connection."))
        answer = Transfer(passive);
      else
        open = false;
      if (passive != INVALID_SOCKET)
        closesocket(passive);
      passive = INVALID_SOCKET;
    } else {
      answer = "502 Not implemented.";
    }
    if (!answer.empty() && !Reply(control, answer))
      open = false;
  }
  if (passive != INVALID_SOCKET)
    closesocket(passive);
}

std::string CuttingFtpServer::Transfer(uintptr_t passive) {
  // The client connects right after PASV's answer, or after RETR's 150.
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(passive, &ready);
  timeval wait = {30, 0};
  if (select(0, &ready, nullptr, nullptr, &wait) != 1)
    return "425 No data connection.";
  SOCKET data = accept(passive, nullptr, nullptr);
  if (data == INVALID_SOCKET)
    return "425 No data connection.";
  size_t part = m_cutAfter < m_content.size() ? m_cutAfter : m_content.size();
  bool sent = SendAll(data, m_content.data(), part);
  shutdown(data, SD_SEND);
  closesocket(data);
  if (part < m_content.size()) {
    Note("cut after " + std::to_string(part) + " of " + std::to_string(m_content.size()) + " bytes" +
         (sent ? "" : " (not all of them taken)"));
    return "426 Connection closed; transfer aborted.";
  }
  return sent ? "226 Transfer complete." : "426 Connection lost.";
}

std::string UnixPath(const std::string &windowsPath) {
  typedef char *(CDECL * ToUnix)(LPCWSTR);
  ToUnix toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix)
    return std::string();
  std::wstring wide(windowsPath.begin(), windowsPath.end());
  char *path = toUnix(wide.c_str());
  if (!path)
    return std::string();
  std::string unix(path);
  HeapFree(GetProcessHeap(), 0, path);
  return unix;
}

bool StartLinuxProgram(const std::string &commandLine) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
    return false;
  if (info.hProcess)
    CloseHandle(info.hProcess);
  if (info.hThread)
    CloseHandle(info.hThread);
  return true;
}

FtpServer::FtpServer() : m_files("ftpd") {}

FtpServer::~FtpServer() { Stop(); }

bool FtpServer::Answers(unsigned short port) {
  Winsock winsock;
  SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (client == INVALID_SOCKET)
    return false;
  sockaddr_in address = Loopback(port);
  bool connected = connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  closesocket(client);
  return connected;
}

unsigned short FtpServer::UnusedPort() {
  Winsock winsock;
  // Spread the processes of parallel test runs over the range.
  static unsigned next = 20000 + (GetCurrentProcessId() * 37u) % 10000u;
  for (int tries = 0; tries < 2000; ++tries) {
    unsigned short port = static_cast<unsigned short>(next);
    next = next >= 32000 ? 20000 : next + 1;
    if (PortIsFree(port))
      return port;
  }
  return 0;
}

// The first line the server says, or empty when nothing answers.
std::string FtpServer::Greeting(unsigned short port) {
  Winsock winsock;
  SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (client == INVALID_SOCKET)
    return std::string();
  DWORD timeout = 5000;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout), sizeof timeout);
  sockaddr_in address = Loopback(port);
  std::string said;
  if (connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
    char chunk[512];
    int got;
    while (said.find('\n') == std::string::npos && (got = recv(client, chunk, sizeof chunk, 0)) > 0)
      said.append(chunk, got);
  }
  closesocket(client);
  return said.substr(0, said.find_first_of("\r\n"));
}

bool FtpServer::Start(std::string *why) {
  if (GetFileAttributesA((std::string("Z:") + kServerProgram).c_str()) == INVALID_FILE_ATTRIBUTES) {
    *why = std::string(kServerProgram) + " is missing (tools/setup.sh installs vsftpd)";
    return false;
  }
  m_root = m_files / "served\\";
  if (!MakeDirectory(m_root) || !MakeDirectory(m_files / "empty")) {
    *why = "cannot make the served folder";
    return false;
  }
  // Another test run may take a free port first: try a few.
  for (int attempt = 0; attempt < 5; ++attempt) {
    unsigned short port = UnusedPort();
    if (port && Launch(port, why))
      return true;
    Stop();
  }
  return false;
}

bool FtpServer::Launch(unsigned short port, std::string *why) {
  std::string files = UnixPath(m_files.Path());
  std::string root = UnixPath(m_root);
  if (files.empty() || root.empty()) {
    *why = "not running under Wine: no Linux paths";
    return false;
  }
  char banner[64];
  snprintf(banner, sizeof banner, "Quillmoth bench %lu:%u", GetCurrentProcessId(), port);
  // Anonymous only, with one accepted password, writable, passive on
  // loopback; line ends converted in ASCII mode both ways; a directory's
  // .message file is sent as a multi-line reply on entering it. As the
  // launching user nothing is chrooted (vsftpd's deny_file refuses every
  // name then), so tests use names relative to the served folder only.
  char config[2048];
  snprintf(config, sizeof config,
           "listen=YES\nlisten_address=127.0.0.1\nlisten_port=%u\n"
           "anonymous_enable=YES\nlocal_enable=NO\nanon_root=%s\n"
           "secure_email_list_enable=YES\nemail_password_file=%spasswords\n"
           "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
           "anon_other_write_enable=YES\nanon_umask=022\nanon_world_readable_only=NO\n"
           "ascii_upload_enable=YES\nascii_download_enable=YES\ndirmessage_enable=YES\n"
           "pasv_enable=YES\npasv_address=127.0.0.1\nsecure_chroot_dir=%sempty\n"
           "background=NO\nseccomp_sandbox=NO\nallow_writeable_chroot=YES\n"
           "run_as_launching_user=YES\nftpd_banner=%s\n"
           "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\nvsftpd_log_file=%sprotocol.log\n",
           port, root.c_str(), files.c_str(), files.c_str(), banner, files.c_str());
  DeleteFileA((m_files / "pid").c_str());
  if (!WriteTextFile(m_files / "vsftpd.conf", config) ||
      !WriteTextFile(m_files / "passwords", std::string(Password()) + "\n")) {
    *why = "cannot write the server's configuration";
    return false;
  }
  // timeout makes itself the leader of a new process group that holds the
  // server and every session it forks: one kill ends them all, and the
  // group dies by itself should the test never get to it.
  char command[2048];
  snprintf(command, sizeof command,
           "/bin/sh -c \"echo $$ > '%spid'; exec timeout -s KILL %d %s '%svsftpd.conf' "
           "</dev/null >/dev/null 2>'%serrors'\"",
           files.c_str(), kLifetimeSeconds, kServerProgram, files.c_str(), files.c_str());
  if (!StartLinuxProgram(command)) {
    *why = "cannot start /bin/sh through Wine";
    return false;
  }
  for (int waited = 0; waited < 100; ++waited) {
    std::string pid = ReadTextFile(m_files / "pid");
    if (!m_group && !pid.empty())
      m_group = strtoul(pid.c_str(), nullptr, 10);
    std::string greeting = Greeting(port);
    if (greeting == std::string("220 ") + banner) {
      if (!m_group)
        m_group = strtoul(ReadTextFile(m_files / "pid").c_str(), nullptr, 10);
      m_port = port;
      return true;
    }
    std::string errors = ReadTextFile(m_files / "errors");
    if (!errors.empty()) {
      *why = "vsftpd: " + errors;
      return false;
    }
    Sleep(100);
  }
  *why = "vsftpd did not answer on its port";
  return false;
}

std::string FtpServer::Log() const { return ReadTextFile(m_files / "protocol.log"); }

void FtpServer::Stop() {
  if (!m_group)
    return;
  char command[128];
  snprintf(command, sizeof command, "/bin/kill -s KILL -- -%lu", m_group);
  StartLinuxProgram(command);
  for (int waited = 0; waited < 100 && m_port && Answers(m_port); ++waited)
    Sleep(100);
  m_group = 0;
  m_port = 0;
}

} // namespace qmtest
