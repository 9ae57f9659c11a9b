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
  if (!m_child->Start(m_dir / "Quillmoth.exe", "-application " + arguments, m_dir.Path()))
    return false;
  m_console = WaitForWindow(m_child->Id(), "#32770", "Quillmoth", 30000);
  return m_console != NULL;
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
