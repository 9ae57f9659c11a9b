// The program as an operator runs it: Quillmoth.exe and its runtime in a
// fresh folder with the shipped Scripts and Sample Scripts, the Core library
// registered in the bench's prefix while the object lives, started as a
// desktop application and stopped the way the service control manager
// stops it.
#ifndef PROGRAMUNDERTEST_H
#define PROGRAMUNDERTEST_H

#include <windows.h>
#include <memory>
#include <string>

#include "WineTestSupport.h"

namespace qmtest {

class ProgramUnderTest {
public:
  explicit ProgramUnderTest(const char *tag);
  ~ProgramUnderTest();

  // Whether the folder was filled and the library registered.
  bool Prepared() const { return m_prepared; }
  // The program's folder, with a trailing backslash.
  const std::string &Folder() const { return m_dir.Path(); }
  // Where the program keeps its run history and transcript (QM.DATA_DIR,
  // a folder of its own, so tests never share records).
  std::string DataFolder() const { return m_dir / "Data\\"; }

  // Runs the program once more with these arguments (a command such as
  // -status), its output captured; its exit code, or -1 when it did not end
  // within a minute.
  int Command(const std::string &arguments, std::string *output);

  // Starts the program with these arguments (after "-application") and
  // waits for its console. One run at a time: Stop ends the previous one.
  bool Start(const std::string &arguments);
  // What the console shows in its output box.
  std::string Output() const;
  // The running program's console and process id (NULL and 0 when none).
  HWND Console() const { return m_console; }
  DWORD ProcessId() const { return m_child ? m_child->Id() : 0; }
  // True while the program started last has not ended; its exit code when it has.
  bool Running(DWORD *exitCode = nullptr) const { return m_child && !m_child->WaitExit(0, exitCode); }
  // Asks the program to stop, as its service wrapper does, and waits for its
  // end; false when it did not end in time.
  bool Stop();

private:
  ProgramUnderTest(const ProgramUnderTest &) = delete;
  ProgramUnderTest &operator=(const ProgramUnderTest &) = delete;

  TempDirectory m_dir;
  HMODULE m_library = NULL;
  bool m_prepared = false;
  std::unique_ptr<ChildProcess> m_child;
  HWND m_console = NULL;
};

} // namespace qmtest

#endif
