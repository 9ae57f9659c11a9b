#include "ModulePath.h"

#include <stdlib.h>
#include <string.h>
#include <algorithm>

void ModulePath::SetPath(const char *path) {
  if (!path || !*path || strlen(path) > kMaxPath)
    return;
  char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(path, drive, dir, fname, ext);
  m_path = path;
  m_drive = drive;
  m_dir = dir;
  m_fname = fname;
  m_ext = ext;
  DirectoryChanged();
}

// Joins the parts as the platform's path builder does (a backslash after a
// directory that lacks one), without its fixed-size buffer.
std::string ModulePath::Directory() const {
  std::string out = m_drive + m_dir;
  if (!m_dir.empty() && m_dir.back() != '\\')
    out += '\\';
  return out;
}

void ModulePath::AppendDirectory(const char *name) {
  if (!name)
    return;
  std::string dir = m_dir;
  while (!dir.empty() && dir.back() == '\\')
    dir.pop_back();
  while (*name == '\\')
    ++name;
  dir += '\\';
  dir += name;
  if (dir.size() > kMaxDir)
    return;
  m_dir = dir;
  DirectoryChanged();
}

std::string ModulePath::UpOneLevel() {
  if (m_dir == "\\" || m_dir == "\\\\")
    return std::string();
  std::string dir = m_dir;
  while (!dir.empty() && dir.back() == '\\')
    dir.pop_back();
  size_t cut = dir.find_last_of('\\');
  std::string removed = cut == std::string::npos ? dir : dir.substr(cut + 1);
  m_dir = cut == std::string::npos ? std::string() : dir.substr(0, cut + 1);
  while (!removed.empty() && removed.front() == '\\')
    removed.erase(0, 1);
  DirectoryChanged();
  return removed;
}

// Forward slashes become backslashes, and the full path follows the parts.
void ModulePath::DirectoryChanged() {
  std::replace(m_dir.begin(), m_dir.end(), '/', '\\');
  m_path = Directory() + m_fname + m_ext;
}
