#include "ProgramUnderTest.h"

namespace qmtest {

namespace {

enum { IDC_OUTPUT = 1003 };

// Copies every file of a folder (not its folders) into another.
bool CopyFolderFiles(const std::string &from, const std::string &to) {
  if (!MakeDirectory(to))
    return false;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((from + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE)
    return false;
  bool copied = true;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      copied = CopyInto(from + data.cFileName, to) && copied;
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return copied;
}

// Sets a process variable for the programs started while the object lives.
class ScopedVariable {
public:
  ScopedVariable(const char *name, const std::string &value) : m_name(name) {
    m_saved = EnvironmentValue(name, &m_found);
    SetEnvironmentVariableA(name, value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableA(m_name, m_found ? m_saved.c_str() : NULL); }

private:
  const char *m_name;
  std::string m_saved;
  bool m_found = false;
};

} // namespace

ProgramUnderTest::ProgramUnderTest(const char *tag) : m_dir(tag) {
  std::string bin = ProgramDirectory();
  m_library = LoadLibraryA((bin + "QuillmothLib.dll").c_str());
  m_prepared = CallExport(m_library, "DllRegisterServer") == S_OK && CopyInto(bin + "Quillmoth.exe", m_dir.Path()) &&
               CopyInto(bin + "QuillmothRun.dll", m_dir.Path()) &&
               CopyFolderFiles(bin + "Scripts\\", m_dir / "Scripts\\") &&
               CopyFolderFiles(bin + "Sample Scripts\\", m_dir / "Sample Scripts\\");
}

ProgramUnderTest::~ProgramUnderTest() {
  Stop();
  CallExport(m_library, "DllUnregisterServer");
  if (m_library)
    FreeLibrary(m_library);
}

bool ProgramUnderTest::Start(const std::string &arguments) {
  Stop();
  m_child.reset(new ChildProcess);
  ScopedVariable data("QM.DATA_DIR", DataFolder());
  if (!m_child->Start(m_dir / "Quillmoth.exe", "-application " + arguments, m_dir.Path()))
    return false;
  m_console = WaitForWindow(m_child->Id(), "#32770", "Quillmoth", 30000);
  return m_console != NULL;
}

int ProgramUnderTest::Command(const std::string &arguments, std::string *output) {
  ChildProcess command;
  ScopedVariable data("QM.DATA_DIR", DataFolder());
  if (!command.Start(m_dir / "Quillmoth.exe", arguments, m_dir.Path(), true))
    return -1;
  DWORD code = 0;
  bool ended = command.WaitExit(60000, &code);
  if (output)
    *output = command.ReadOutput();
  return ended ? static_cast<int>(code) : -1;
}

std::string ProgramUnderTest::Output() const { return m_console ? ControlText(m_console, IDC_OUTPUT) : std::string(); }

bool ProgramUnderTest::Stop() {
  if (!m_child)
    return true;
  if (m_console)
    PostMessageA(m_console, RegisterWindowMessageA("WM_SHUTDOWN"), 0, 0);
  bool ended = m_child->WaitExit(60000);
  m_child.reset();
  m_console = NULL;
  return ended;
}

} // namespace qmtest
