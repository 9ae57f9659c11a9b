// FTP sessions as scripts use them: QuillmothLib.dll registered in the test
// prefix, VBScript on the runtime's worker threads, WinINet talking to a
// real vsftpd on 127.0.0.1 that each test starts and stops itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <wininet.h>

#include "FtpServer.h"
#include "RelayFixture.h"
#include "WineTestSupport.h"

using qmtest::FtpServer;
using qmtest::PumpUntil;
using qmtest::RelayEntry;
using qmtest::RelayWindow;

namespace {

using qmtest::Narrow;

// What a script sees of the outcome: the FTP variables and the last error
// (the system message only as present or not: its wording is the system's).
const char kScriptHelpers[] =
    "Dim core\r\n"
    "Function V(name)\r\n"
    "  V = core.GetEnvironmentVariable(1, name)\r\n"
    "End Function\r\n"
    "Function State()\r\n"
    "  State = \"[\" & V(\"FTP.LASTLINE\") & \"|\" & V(\"FTP.WINSOCK\") & \"|\" & V(\"FTP.REPLY_CODE\") & \"|\" & _\r\n"
    "    V(\"QM.LAST_ERROR\") & \"|\" & (V(\"FTP.LASTMSG\") <> \"\") & \"]\"\r\n"
    "End Function\r\n"
    "Sub Mark()\r\n"
    "  core.SetEnvironmentVariable 1, \"FTP.LASTLINE\", \"mark line\"\r\n"
    "  core.SetEnvironmentVariable 1, \"FTP.WINSOCK\", \"mark winsock\"\r\n"
    "  core.SetEnvironmentVariable 1, \"FTP.REPLY_CODE\", \"mark code\"\r\n"
    "  core.SetEnvironmentVariable 1, \"FTP.LASTMSG\", \"mark message\"\r\n"
    "  core.SetEnvironmentVariable 1, \"QM.LAST_ERROR\", \"mark error\"\r\n"
    "End Sub\r\n";

const char kMarked[] = "[mark line|mark winsock|mark code|mark error|True]";

const char *const kVariables[] = {"FTP.LASTLINE", "FTP.WINSOCK", "FTP.REPLY_CODE", "FTP.LASTMSG", "QM.LAST_ERROR"};

std::string Decimal(unsigned long value) { return std::to_string(value); }

class FtpSessionTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    library = LoadLibraryA((qmtest::ProgramDirectory() + "QuillmothLib.dll").c_str());
    ASSERT_EQ(S_OK, qmtest::CallExport(library, "DllRegisterServer"));
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(S_OK, qmtest::CallExport(library, "DllUnregisterServer"));
    FreeLibrary(library);
    library = nullptr;
  }

  FtpSessionTest() : dir("ftp"), path(dir.Path()) {}

  void SetUp() override {
    for (const char *name : kVariables)
      SetEnvironmentVariableA(name, NULL);
    std::string why;
    if (withVsftpd) {
      ASSERT_TRUE(server.Start(&why)) << why;
    }
    ASSERT_TRUE(relay.Handle());
    ASSERT_TRUE(QMR_Own());
    ASSERT_TRUE(qmtest::CopyInto(qmtest::ProgramDirectory() + "Scripts\\StdLib.vbs", dir.Path()));
    relay.onMessage = [](const RelayEntry &entry) { RelayWindow::DisposeLikeTheHost(entry); };
  }

  void TearDown() override {
    qmtest::StopAllWorkers();
    server.Stop();
  }

  // The script's connect call with the bench's credentials.
  std::string Connect(unsigned short port = 0) const {
    return "core.FtpConnect(\"127.0.0.1\", " + std::to_string(port ? port : server.Port()) + ", \"anonymous\", \"" +
           FtpServer::Password() + "\")";
  }

  // Runs `body` as main of a new script on a new worker while this thread
  // keeps answering, and answers main's value as text.
  std::string Run(const std::string &body) {
    EXPECT_TRUE(qmtest::WriteTextFile(dir / "t.vbs", std::string(kScriptHelpers) +
                                                          "Function main(arg)\r\n"
                                                          "  Set core = CreateObject(\"QuillmothLib.Core\")\r\n" +
                                                          body + "End Function\r\n"));
    relay.entries.clear();
    MurrelContext *context = QMR_RunScript(QMR_FLAG_ASYNC, "t.vbs", nullptr, nullptr);
    EXPECT_TRUE(context);
    if (!context)
      return "(no worker)";
    std::string text = "(no exit)";
    bool exited = false;
    relay.onMessage = [&](const RelayEntry &entry) {
      if (entry.message == RelayWindow::Exit() && entry.lParam == reinterpret_cast<LPARAM>(context)) {
        VARIANT result;
        VariantInit(&result);
        text = "(no value)";
        if (QMR_GetReturnValue(context, &result) && SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR)))
          text = Narrow(V_BSTR(&result));
        VariantClear(&result);
        exited = true;
      }
      if (entry.message == RelayWindow::Print())
        printed.push_back(entry.text);
      RelayWindow::DisposeLikeTheHost(entry);
    };
    EXPECT_TRUE(PumpUntil(
        [&] {
          if (onPump)
            onPump();
          return exited;
        },
        60000))
        << "the script ended";
    relay.onMessage = [](const RelayEntry &entry) { RelayWindow::DisposeLikeTheHost(entry); };
    for (const RelayEntry &entry : relay.entries)
      EXPECT_NE(RelayWindow::Error(), entry.message) << "the script ran without a script error";
    return text;
  }

  std::string Served(const std::string &name) const { return qmtest::ReadTextFile(server.Root() + name); }
  bool ServedExists(const std::string &name) const {
    return GetFileAttributesA((server.Root() + name).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  static HMODULE library;
  bool withVsftpd = true;
  std::function<void()> onPump;
  std::vector<std::string> printed; // called while a script runs, outside any message
  qmtest::TempDirectory dir;
  qmtest::ScriptsFolder path;
  RelayWindow relay;
  FtpServer server;
};

HMODULE FtpSessionTest::library = nullptr;

// Every byte value, in runs that also hold CR, LF and CR LF pairs.
std::string EveryByte() {
  std::string bytes;
  for (int round = 0; round < 4; ++round)
    for (int b = 0; b < 256; ++b)
      bytes += static_cast<char>(round % 2 ? 255 - b : b);
  return bytes + "\r\n\n\r\x1a";
}

TEST_F(FtpSessionTest, ConnectChangeDirectoryAndCloseRecordTheServersLastLine) {
  // Each folder's .message is sent as the first lines of a multi-line reply.
  ASSERT_TRUE(qmtest::WriteTextFile(server.Root() + ".message", "welcome to the bench\nsecond line\n"));
  ASSERT_TRUE(qmtest::MakeDirectory(server.Root() + "notes"));
  ASSERT_TRUE(qmtest::WriteTextFile(server.Root() + "notes\\.message", "note one\nnote two\n"));
  ASSERT_TRUE(qmtest::MakeDirectory(server.Root() + "notes\\inner"));

  std::string out = Run("  Dim h, after\r\n"
                        "  h = " + Connect() + "\r\n"
                        "  main = (h <> 0) & State()\r\n"
                        "  main = main & core.FtpCd(h, \"notes\") & State()\r\n"
                        "  main = main & core.FtpCd(h, \"no such folder\") & State()\r\n"
                        "  main = main & core.FtpCd(h, \"inner\") & State()\r\n"
                        "  main = main & core.FtpClose(h) & \"|\" & V(\"FTP.LASTLINE\")\r\n"
                        "  after = State()\r\n"
                        "  main = main & \"|\" & core.FtpCd(h, \"notes\") & \"|\" & (State() = after)\r\n"
                        "  main = main & \"|\" & core.FtpClose(h) & \"|\" & core.FreeHandle(h)\r\n");
  // Windows ends the conversation with QUIT and records the goodbye; Wine's
  // library just closes the connection, so the previous reply stays.
  std::string log = server.Log();
  std::string closing = log.find("\"QUIT\"") != std::string::npos ? "221 Goodbye." : "250 Directory successfully changed.";
  EXPECT_NE(std::string::npos, log.find("\"250-note two\"")) << "the server sent a multi-line reply: " << log;
  // A failure deletes the old message and number before it records its own.
  std::string refused = "[550 Failed to change directory.|12003|12003|550 Failed to change directory.|";
  EXPECT_EQ("True[230 Login successful.|0|||False]"
            "-1[250 Directory successfully changed.|0|||False]"
            "0" + refused + "False]"
            "-1[250 Directory successfully changed.|0|12003|550 Failed to change directory.|False]"
            "-1|" + closing + "|0|True|0|0",
            out)
      << "only the last line of a multi-line reply; a success keeps the last error";
}

TEST_F(FtpSessionTest, BinaryTransfersAreByteExactAndAsciiTransfersConvertLineEnds) {
  std::string bytes = EveryByte();
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "every.bin", bytes));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "dos.txt", "one\r\ntwo\r\n\r\nthree\r\n"));
  ASSERT_TRUE(qmtest::WriteTextFile(server.Root() + "unix.txt", "alpha\nbeta\n\ngamma\n"));
  // An older, longer local file is replaced whole, not written over.
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "back.bin", std::string(bytes.size() * 2, 'x')));

  std::string out = Run("  Dim h\r\n"
                        "  h = " + Connect() + "\r\n"
                        "  main = core.FtpPut(h, \"" + dir / "every.bin" + "\", \"every.bin\", True) & State()\r\n"
                        "  main = main & core.FtpPut(h, \"" + dir / "dos.txt" + "\", \"dos.txt\", False)\r\n"
                        "  main = main & core.FtpPut(h, \"" + dir / "dos.txt" + "\", \"dos.bin\", -1)\r\n"
                        "  core.FtpCd h, \".\"\r\n"
                        "  main = main & core.FtpGet(h, \"every.bin\", \"" + dir / "back.bin" + "\", True) & State()\r\n"
                        "  main = main & core.FtpGet(h, \"unix.txt\", \"" + dir / "unix.txt" + "\", False)\r\n"
                        "  main = main & core.FtpGet(h, \"unix.txt\", \"" + dir / "unix.bin" + "\", 1)\r\n"
                        "  core.FtpClose h\r\n");
  EXPECT_EQ("-1[226 Transfer complete.|0|||False]-1-1"
            "-1[250 Directory successfully changed.|0|||False]-1-1",
            out)
      << "a finished download leaves the variables as the previous operation set them";
  EXPECT_TRUE(Served("every.bin") == bytes) << "binary upload is byte-exact";
  EXPECT_TRUE(qmtest::ReadTextFile(dir / "back.bin") == bytes) << "binary download is byte-exact";
  EXPECT_EQ("one\ntwo\n\nthree\n", Served("dos.txt")) << "ASCII upload: the server stores its own line ends";
  EXPECT_EQ("one\r\ntwo\r\n\r\nthree\r\n", Served("dos.bin"));
  EXPECT_EQ("alpha\r\nbeta\r\n\r\ngamma\r\n", qmtest::ReadTextFile(dir / "unix.txt")) << "ASCII download";
  EXPECT_EQ("alpha\nbeta\n\ngamma\n", qmtest::ReadTextFile(dir / "unix.bin"));
}

TEST_F(FtpSessionTest, AFailedDownloadKeepsTheLocalFileItWouldHaveReplaced) {
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "keep.txt", "the only copy"));
  std::string out = Run("  Dim h\r\n"
                        "  h = " + Connect() + "\r\n"
                        "  main = core.FtpGet(h, \"missing.txt\", \"" + dir / "keep.txt" + "\", True) & State()\r\n"
                        "  main = main & core.FtpCd(h, \".\")\r\n"
                        "  main = main & core.FtpPut(h, \"" + dir / "not here.txt" + "\", \"x.txt\", True) & State()\r\n"
                        "  main = main & core.FtpGet(h, \"missing.txt\", \"" + dir / "no folder\\x.txt" + "\", True)\r\n"
                        "  main = main & \"[\" & V(\"FTP.LASTLINE\") & \"|\" & V(\"QM.LAST_ERROR\") & \"|\" & _\r\n"
                        "    (V(\"FTP.REPLY_CODE\") <> \"\") & \"]\"\r\n"
                        "  core.FtpClose h\r\n");
  // The library still holds the cd's "250 ..." for this thread: no answer
  // to a put that never reached the server, nor to a download with nowhere
  // to go.
  EXPECT_EQ("0[550 Failed to open file.|12003|12003|550 Failed to open file.|False]-1"
            "0[||2||True]0[||True]",
            out)
      << "a local error (file not found) is the reply code, with its system text and no server line";
  EXPECT_EQ("the only copy", qmtest::ReadTextFile(dir / "keep.txt"));
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((dir / "*.tmp").c_str(), &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find) << "no partial download is left beside it";
  if (find != INVALID_HANDLE_VALUE)
    FindClose(find);
  EXPECT_FALSE(ServedExists("x.txt"));
}

// The access list of a file as text, or why not.
std::string SecurityText(const std::string &file) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION;
  DWORD status = GetNamedSecurityInfoA(file.c_str(), SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr, nullptr,
                                       &descriptor);
  if (status != ERROR_SUCCESS)
    return "(error " + std::to_string(status) + ")";
  char *text = nullptr;
  std::string out = "(not convertible)";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &text, nullptr)) {
    out = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return out;
}

// Sets a protected DACL given as SDDL; the error, or 0.
DWORD SetSecurityText(const std::string &file, const std::string &sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return GetLastError();
  PACL dacl = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  DWORD status = SetNamedSecurityInfoA(const_cast<char *>(file.c_str()), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, dacl, nullptr);
  LocalFree(descriptor);
  return status;
}

// The names in a folder, sorted.
std::vector<std::string> FilesIn(const std::string &folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE)
    return names;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..")
      names.push_back(name);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

// Downloads from a server of the test's own, which vsftpd cannot be made
// to be: it cuts them short.
class FtpCutTransferTest : public FtpSessionTest {
protected:
  FtpCutTransferTest() { withVsftpd = false; }
};

TEST_F(FtpCutTransferTest, ADownloadCutMidTransferFailsAndKeepsTheOldFileWhole) {
  std::string served;
  for (int i = 0; i < 65536; ++i)
    served += static_cast<char>('a' + i % 26);
  qmtest::CuttingFtpServer cutting("big.bin", served, 20000);
  std::string why;
  ASSERT_TRUE(cutting.Start(&why)) << why;
  const std::string old = EveryByte();
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "big.bin", old));

  std::string out = Run("  Dim h\r\n"
                        "  h = " + Connect(cutting.Port()) + "\r\n"
                        "  main = (h <> 0) & \"|\" & core.FtpGet(h, \"big.bin\", \"" + dir / "big.bin" + "\", True)\r\n"
                        "  main = main & \"|\" & V(\"FTP.LASTLINE\")\r\n"
                        "  core.FtpClose h\r\n");
  cutting.Stop();
  std::string log = cutting.Log();
  EXPECT_NE(std::string::npos, log.find("RETR big.bin\ncut after 20000 of 65536 bytes\n")) << log;
  EXPECT_EQ("True|0|426 Connection closed; transfer aborted.", out) << "a failure, with the server's reason";
  EXPECT_TRUE(qmtest::ReadTextFile(dir / "big.bin") == old) << "the old file, byte for byte";
  EXPECT_EQ((std::vector<std::string>{"StdLib.vbs", "big.bin", "t.vbs"}), FilesIn(dir.Path()))
      << "no partial download is left beside it";
}

TEST_F(FtpSessionTest, ADownloadReplacesAnExistingFileKeepingItsPermissionsOrNotAtAll) {
  ASSERT_TRUE(qmtest::WriteTextFile(server.Root() + "rates.xml", "new rates"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "rates.xml", "old rates"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "held.xml", "held rates"));
  // Locked down: only administrators and SYSTEM may change it, Users may
  // read; nothing inherited from the folder.
  const std::string lockedDown = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";
  const std::string untouched = SecurityText(dir / "held.xml"); // as a file is made here
  ASSERT_EQ(0u, SetSecurityText(dir / "rates.xml", lockedDown));
  const std::string before = SecurityText(dir / "rates.xml");
  // Wine accepts a file's access list but does not store it: it answers one
  // made from the file's mode bits, so there the comparison below is blind.
  ASSERT_TRUE(before == lockedDown ||
              qmtest::WineDiffers(before == untouched, "a file's access list is not stored; the mode bits answer"))
      << before;
  // Another program holds this one open, sharing nothing.
  HANDLE held = CreateFileA((dir / "held.xml").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  std::string out = Run("  Dim h\r\n"
                        "  h = " + Connect() + "\r\n"
                        "  main = core.FtpGet(h, \"rates.xml\", \"" + dir / "rates.xml" + "\", True)\r\n"
                        "  main = main & core.FtpGet(h, \"rates.xml\", \"" + dir / "fresh.xml" + "\", True)\r\n"
                        "  main = main & core.FtpGet(h, \"rates.xml\", \"" + dir / "held.xml" + "\", True)\r\n"
                        "  main = main & \"|\" & V(\"QM.LAST_ERROR\") & \"|\" & (V(\"FTP.REPLY_CODE\") <> \"\")\r\n"
                        "  core.FtpClose h\r\n");
  CloseHandle(held);
  EXPECT_EQ("-1-10||True", out) << "the held file's refusal is local: no server line";
  EXPECT_EQ("new rates", qmtest::ReadTextFile(dir / "rates.xml"));
  EXPECT_EQ("new rates", qmtest::ReadTextFile(dir / "fresh.xml")) << "a new name is simply made";
  EXPECT_EQ("held rates", qmtest::ReadTextFile(dir / "held.xml"));
  EXPECT_EQ(before, SecurityText(dir / "rates.xml")) << "the replaced file's access list, not the new file's";
  const std::vector<std::string> expected = {"StdLib.vbs", "fresh.xml", "held.xml", "rates.xml", "t.vbs"};
  std::vector<std::string> files = FilesIn(dir.Path());
  // Wine's ReplaceFile first moves the replaced file to a new empty "rf*.tmp"
  // of its own; when that move is refused it returns and leaves that file.
  std::vector<std::string> wineLeftover;
  for (const std::string &name : files)
    if (name.size() > 6 && name.compare(0, 2, "rf") == 0 && name.compare(name.size() - 4, 4, ".tmp") == 0 &&
        qmtest::ReadTextFile(dir / name).empty())
      wineLeftover.push_back(name);
  std::vector<std::string> ours = files;
  for (const std::string &name : wineLeftover)
    ours.erase(std::find(ours.begin(), ours.end(), name));
  EXPECT_TRUE(files == expected ||
              qmtest::WineDiffers(ours == expected && wineLeftover.size() == 1,
                                  "the system's ReplaceFile leaves its own empty rf*.tmp when the move is refused"))
      << "no temporary file is left beside them: " << ::testing::PrintToString(files);
}

TEST_F(FtpSessionTest, FoldersRenameDeleteAndTestingNames) {
  ASSERT_TRUE(qmtest::WriteTextFile(server.Root() + "report.txt", "figures"));
  // A name the ANSI code page cannot hold (Wine's vbscript has no ChrW for it).
  ASSERT_TRUE(SetEnvironmentVariableW(L"QM_WIDE_NAME", L"\x4E00x"));
  std::string out = Run(
      "  Dim h\r\n"
      "  h = " + Connect() + "\r\n"
      "  main = core.FtpMkDir(h, \"made\") & State()\r\n"
      "  main = main & core.FtpMkDir(h, \"made\") & \"|\" & V(\"QM.LAST_ERROR\") & \"|\"\r\n"
      "  main = main & core.FtpRename(h, \"report.txt\", \"made/moved.txt\") & \"|\" & V(\"FTP.LASTLINE\") & \"|\"\r\n"
      "  Mark\r\n"
      "  main = main & core.FtpTest(h, \"made/moved.txt\") & core.FtpTest(h, \"report.txt\")\r\n"
      "  main = main & core.FtpTest(h, \"made\") & core.FtpTest(h, \"made/*.txt\") & core.FtpTest(h, \"*.doc\")\r\n"
      "  main = main & State()\r\n"
      "  main = main & core.FtpDel(h, \"made/moved.txt\") & \"|\" & V(\"FTP.LASTLINE\") & \"|\"\r\n"
      "  main = main & core.FtpDel(h, \"made/moved.txt\") & State()\r\n"
      "  main = main & core.FtpRename(h, \"gone.txt\", \"other.txt\") & \"|\" & V(\"QM.LAST_ERROR\") & \"|\"\r\n"
      "  main = main & core.FtpRmDir(h, \"made\") & \"|\" & V(\"FTP.LASTLINE\") & \"|\"\r\n"
      "  main = main & core.FtpRmDir(h, \"made\") & \"|\" & V(\"QM.LAST_ERROR\")\r\n"
      "  main = main & \"|\" & core.FtpMkDir(h, String(2000, \"d\")) & \"|\"\r\n"
      "  Mark\r\n"
      "  main = main & core.FtpMkDir(h, CreateObject(\"WScript.Shell\").Environment(\"PROCESS\")(\"QM_WIDE_NAME\")) & State()\r\n"
      "  core.FtpClose h\r\n");
  // The server names the new folder by its full Linux path.
  size_t quote = out.find("[257 \"");
  size_t made = out.find("/served/made\" created|");
  ASSERT_TRUE(quote != std::string::npos && made != std::string::npos && quote < made) << out;
  out.replace(quote + 6, made - quote - 6, "...");
  EXPECT_EQ(std::string("-1[257 \".../served/made\" created|0|||False]") +
            "0|550 Create directory operation failed.|"
            "-1|250 Rename successful.|"
            "-10-1-10" + kMarked +
            "-1|250 Delete operation successful.|"
            "0[550 Delete operation failed.|12003|12003|550 Delete operation failed.|False]"
            "0|550 RNFR command failed.|"
            "-1|250 Remove directory operation successful.|"
            "0|550 Remove directory operation failed.|0|0" + kMarked,
            out)
      << "FtpTest touches no variable, nor does a name the code page cannot hold";
  std::string log = server.Log();
  EXPECT_EQ(std::string::npos, log.find("MKD ddd")) << "a name too long to take is refused, never cut and sent";
  EXPECT_EQ(std::string::npos, log.find("x\"\n")) << "the unconvertible name never reached the server";
  EXPECT_FALSE(ServedExists("report.txt"));
  EXPECT_FALSE(ServedExists("made"));
}

TEST_F(FtpSessionTest, RefusedConnectionsAnswerZeroWithTheReason) {
  unsigned short silent = FtpServer::UnusedPort();
  ASSERT_NE(0, silent);
  std::string longLabel(70, 'q'); // no lookup leaves the machine for it
  // The refusals come in this order on one thread on purpose: the library
  // keeps the wrong password's reply, which is no answer to the later ones.
  std::string out = Run(
      "  Dim h\r\n"
      "  h = core.FtpConnect(\"127.0.0.1\", " + std::to_string(server.Port()) +
      ", \"anonymous\", \"wrong password\")\r\n"
      "  main = h & State()\r\n"
      "  Mark\r\n"
      "  h = core.FtpConnect(\"127.0.0.1\", " + std::to_string(silent) + ", \"anonymous\", \"x\")\r\n"
      "  main = main & h & State()\r\n"
      "  Mark\r\n"
      "  h = core.FtpConnect(\"" + longLabel + ".invalid\", 21, Empty, Empty)\r\n"
      "  main = main & h & State()\r\n");
  EXPECT_EQ("0[530 Login incorrect.|" + Decimal(ERROR_INTERNET_LOGIN_FAILURE) + "|" +
                Decimal(ERROR_INTERNET_LOGIN_FAILURE) +
                "|530 Login incorrect.|False]"
                "0[||" + Decimal(ERROR_INTERNET_CANNOT_CONNECT) + "||False]"
                "0[||" + Decimal(ERROR_INTERNET_NAME_NOT_RESOLVED) + "||False]",
            out)
      << "where the server never answered, no line is recorded";
}

TEST_F(FtpSessionTest, NoSessionOrAHandleOfAnotherKindChangesNothing) {
  std::string out = Run(
      "  Dim h, m, t\r\n"
      "  Mark\r\n"
      "  main = core.FtpCd(0, \"x\") & core.FtpGet(0, \"a\", \"b\", True) & core.FtpTest(0, \"*\")\r\n"
      "  main = main & core.FtpPut(0, \"a\", \"b\", True) & core.FtpDel(0, \"a\") & core.FtpMkDir(0, \"a\")\r\n"
      "  main = main & core.FtpRmDir(0, \"a\") & core.FtpRename(0, \"a\", \"b\") & core.FtpClose(0)\r\n"
      "  t = core.SetTimer(10)\r\n"
      "  m = core.GetMessage(0, 0)\r\n"
      "  main = main & \"|\" & core.GetMessageId(m) & \"|\"\r\n"
      "  main = main & core.FtpCd(m, \"x\") & core.FtpTest(m, \"*\") & core.FtpClose(m) & core.FtpCd(98765, \"x\")\r\n"
      "  main = main & \"|\" & core.GetMessageId(m) & \"|\" & core.FreeHandle(m) & State()\r\n"
      "  core.KillTimer TimerId16(t)\r\n");
  EXPECT_EQ("000000000|275|0000|275|-1" + std::string(kMarked), out)
      << "the message handle survives being offered as a session";
}

TEST_F(FtpSessionTest, AServerThatDiesMidSessionFailsTheNextCallsAndTheHandleStillCloses) {
  ASSERT_TRUE(qmtest::MakeDirectory(server.Root() + "inbox"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir / "late.txt", "late"));
  std::string stopFile = dir / "stop-the-server";
  unsigned short port = server.Port();
  onPump = [&] {
    if (std::find(printed.begin(), printed.end(), "kill the server") != printed.end() &&
        GetFileAttributesA(stopFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
      server.Stop();
      qmtest::WriteTextFile(stopFile, "stopped");
    }
  };
  std::string out = Run(
      "  Dim h, fso, n, t, m\r\n"
      "  Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
      "  h = " + Connect() + "\r\n"
      "  main = core.FtpCd(h, \"inbox\") & \"|\"\r\n"
      "  core.Print \"kill the server\"\r\n"
      "  t = core.SetTimer(50)\r\n"
      "  Do While Not fso.FileExists(\"" + stopFile + "\") And n < 600\r\n"
      "    m = core.GetMessage(0, 0)\r\n"
      "    core.FreeHandle m\r\n"
      "    n = n + 1\r\n"
      "  Loop\r\n"
      "  core.KillTimer TimerId16(t)\r\n"
      "  main = main & core.FtpCd(h, \"inbox\") & \"|\" & (V(\"FTP.REPLY_CODE\") <> \"\") & \"|\"\r\n"
      "  main = main & core.FtpPut(h, \"" + dir / "late.txt" + "\", \"late.txt\", True)\r\n"
      "  main = main & core.FtpTest(h, \"*\") & \"|\" & core.FreeHandle(h) & \"|\" & core.FtpCd(h, \"x\")\r\n"
      "  main = main & \"|\" & core.FreeHandle(h)\r\n");
  EXPECT_TRUE(GetFileAttributesA(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) << "the server was killed";
  EXPECT_FALSE(FtpServer::Answers(port));
  EXPECT_EQ("-1|0|True|00|-1|0|0", out) << "every call after the drop fails; FreeHandle still closes once";
}

} // namespace
