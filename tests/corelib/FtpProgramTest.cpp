// The FTP round trip in the running program: Quillmoth.exe as a desktop
// application under Wine runs a script that uploads a file to a real vsftpd
// on loopback, finds it there, downloads it under another name and compares.
#include <gtest/gtest.h>

#include "FtpServer.h"
#include "ProgramUnderTest.h"
#include "WineTestSupport.h"

using qmtest::WaitUntil;

namespace {

std::string RoundTripScript(const std::string &folder, unsigned short port, const char *password) {
  return "Function main(x)\r\n"
         "  Dim core, fso, h, sent, back, text\r\n"
         "  Set core = NewCore()\r\n"
         "  Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
         "  text = \"report of the night\" & vbCrLf & Chr(200) & Chr(9) & \"end\" & vbCrLf\r\n"
         "  sent = \"" + folder + "report.txt\"\r\n"
         "  back = \"" + folder + "report-back.txt\"\r\n"
         "  fso.CreateTextFile(sent, True).Write text\r\n"
         "  h = core.FtpConnect(\"127.0.0.1\", " + std::to_string(port) + ", \"anonymous\", \"" + password + "\")\r\n"
         "  If h = 0 Then\r\n"
         "    core.Print \"ftp: no session: \" & core.GetEnvironmentVariable(1, \"FTP.REPLY_CODE\")\r\n"
         "    Exit Function\r\n"
         "  End If\r\n"
         "  core.Print \"ftp: listed before: \" & core.FtpTest(h, \"nightly.txt\")\r\n"
         "  core.Print \"ftp: put: \" & core.FtpPut(h, sent, \"nightly.txt\", True) & \" \" & _\r\n"
         "    core.GetEnvironmentVariable(1, \"FTP.LASTLINE\")\r\n"
         "  core.Print \"ftp: listed: \" & core.FtpTest(h, \"nightly.txt\")\r\n"
         "  core.Print \"ftp: got: \" & core.FtpGet(h, \"nightly.txt\", back, True)\r\n"
         "  core.Print \"ftp: closed: \" & core.FtpClose(h)\r\n"
         "  If fso.OpenTextFile(back).ReadAll() = text Then\r\n"
         "    core.Print \"ftp: same content\"\r\n"
         "  Else\r\n"
         "    core.Print \"ftp: content differs\"\r\n"
         "  End If\r\n"
         "End Function\r\n";
}

TEST(FtpInTheProgram, AScriptUploadsListsDownloadsAndCompares) {
  qmtest::FtpServer server;
  std::string why;
  ASSERT_TRUE(server.Start(&why)) << why;

  qmtest::ProgramUnderTest program("ftp-program");
  ASSERT_TRUE(program.Prepared());
  const std::string &dir = program.Folder();
  ASSERT_TRUE(qmtest::WriteTextFile(dir + "Scripts\\roundtrip.vbs",
                                    RoundTripScript(dir, server.Port(), qmtest::FtpServer::Password())));

  ASSERT_TRUE(program.Start("-load \"" + dir + "Scripts\\roundtrip.vbs\""));
  auto output = [&] { return program.Output(); };
  EXPECT_TRUE(WaitUntil([&] {
    std::string text = output();
    return text.find("ftp: same content") != std::string::npos || text.find("ftp: content differs") != std::string::npos ||
           text.find("ftp: no session") != std::string::npos;
  })) << output();

  std::string text = output();
  for (const char *line : {"ftp: listed before: 0", "ftp: put: -1 226 Transfer complete.", "ftp: listed: -1",
                           "ftp: got: -1", "ftp: closed: -1", "ftp: same content"})
    EXPECT_NE(std::string::npos, text.find(line)) << line << " in " << text;
  std::string sent = qmtest::ReadTextFile(dir + "report.txt");
  EXPECT_FALSE(sent.empty());
  EXPECT_TRUE(qmtest::ReadTextFile(server.Root() + "nightly.txt") == sent) << "the server holds the upload";
  EXPECT_TRUE(qmtest::ReadTextFile(dir + "report-back.txt") == sent) << "the download is the upload";
  EXPECT_TRUE(program.Stop());
}

} // namespace
