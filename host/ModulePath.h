// A path and its four components (drive, directory, file name, extension),
// as the platform's path splitter yields them. Directories use backslashes.
#ifndef MODULEPATH_H
#define MODULEPATH_H

#include <string>

class ModulePath {
public:
  ModulePath() {}
  explicit ModulePath(const char *path) { SetPath(path); }

  // Ignored when the text is empty or 260 characters or longer.
  void SetPath(const char *path);
  // Drive and directory, ending in a backslash.
  std::string Directory() const;
  // directory := directory + "\" + name; ignored when that would be 256
  // characters or longer.
  void AppendDirectory(const char *name);
  // Drops the last directory component and returns it (leading backslashes
  // stripped); for the directories "\" and "\\" changes nothing.
  std::string UpOneLevel();

  const std::string &Path() const { return m_path; }
  const std::string &Drive() const { return m_drive; }
  const std::string &Dir() const { return m_dir; }
  const std::string &FileName() const { return m_fname; }
  const std::string &Extension() const { return m_ext; }

  static const size_t kMaxPath = 259;
  static const size_t kMaxDir = 255;

private:
  void DirectoryChanged();

  std::string m_path;
  std::string m_drive;
  std::string m_dir;
  std::string m_fname;
  std::string m_ext;
};

#endif
