// A copy of the host program in a folder of its own, run as a user would:
// its message boxes are found among the desktop's windows, read and clicked.
#ifndef HOSTINSTALL_H
#define HOSTINSTALL_H

#include <gtest/gtest.h>

#include "WineTestSupport.h"

namespace qmtest {

// An installation of its own: the program and its runtime in a fresh folder.
class HostInstall {
public:
  explicit HostInstall(const char *tag, bool withScripts = true, const char *exeName = "Quillmoth.exe")
      : dir(tag), exe(dir / exeName) {
    std::string bin = qmtest::ProgramDirectory();
    EXPECT_TRUE(CopyFileA((bin + "Quillmoth.exe").c_str(), exe.c_str(), FALSE));
    EXPECT_TRUE(qmtest::CopyInto(bin + "QuillmothRun.dll", dir.Path()));
    if (withScripts) {
      EXPECT_TRUE(qmtest::MakeDirectory(dir / "Scripts"));
    }
  }

  // Runs the program, reads the message box it shows, presses OK and waits
  // for the process to end.
  MessageBoxView Run(const std::string &arguments, DWORD *exitCode = NULL) {
    qmtest::ChildProcess child;
    MessageBoxView view;
    EXPECT_TRUE(child.Start(exe, arguments)) << arguments;
    EXPECT_TRUE(qmtest::WaitForMessageBox(child.Id(), 30000, &view)) << "no message box for " << arguments;
    if (view.window) {
      EXPECT_TRUE(qmtest::ClickButton(view.window, IDOK));
    }
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(child.WaitExit(30000, &code)) << arguments << ": the process did not end";
    if (exitCode)
      *exitCode = code;
    return view;
  }

  qmtest::TempDirectory dir;
  std::string exe;
};

} // namespace qmtest

#endif
