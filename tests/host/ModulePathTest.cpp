// The host's path type.
#include <gtest/gtest.h>

#include "ModulePath.h"

namespace {

TEST(ModulePath, SplitsIntoItsComponents) {
  ModulePath p("C:\\Tools\\Quillmoth\\Quillmoth.exe");
  EXPECT_EQ("C:", p.Drive());
  EXPECT_EQ("\\Tools\\Quillmoth\\", p.Dir());
  EXPECT_EQ("Quillmoth", p.FileName());
  EXPECT_EQ(".exe", p.Extension());
  EXPECT_EQ("C:\\Tools\\Quillmoth\\", p.Directory());
}

TEST(ModulePath, ForwardSlashesBecomeBackslashes) {
  ModulePath p("C:/Tools/Quillmoth/Quillmoth.exe");
  EXPECT_EQ("\\Tools\\Quillmoth\\", p.Dir());
  p.AppendDirectory("Sample Scripts/Extra");
  EXPECT_EQ("C:\\Tools\\Quillmoth\\Sample Scripts\\Extra\\", p.Directory());
}

TEST(ModulePath, IgnoresEmptyAndOverlongPaths) {
  ModulePath p("C:\\A\\B.exe");
  p.SetPath("");
  EXPECT_EQ("C:\\A\\B.exe", p.Path());
  std::string longest = "C:\\" + std::string(252, 'x') + ".exe"; // 259 characters
  p.SetPath(longest.c_str());
  EXPECT_EQ(longest, p.Path());
  std::string tooLong = "C:\\" + std::string(253, 'x') + ".exe"; // 260 characters
  p.SetPath(tooLong.c_str());
  EXPECT_EQ(longest, p.Path());
}

TEST(ModulePath, AppendDirectoryJoinsWithOneBackslash) {
  ModulePath p("C:\\A\\\\Quillmoth.exe");
  p.AppendDirectory("\\\\Scripts");
  EXPECT_EQ("C:\\A\\Scripts\\", p.Directory());
  EXPECT_EQ("C:\\A\\Scripts\\Quillmoth.exe", p.Path());
}

TEST(ModulePath, AppendDirectoryRefusesDirectoriesOf256Characters) {
  ModulePath p("C:\\A\\Q.exe");
  std::string name(250, 'n'); // "\A" + "\" + 250 = 253 characters
  p.AppendDirectory(name.c_str());
  EXPECT_EQ(253u, p.Dir().size());
  p.AppendDirectory("xy"); // would be 256 characters
  EXPECT_EQ(253u, p.Dir().size());
  p.AppendDirectory("x"); // 255 characters fit
  EXPECT_EQ(255u, p.Dir().size());
}

TEST(ModulePath, UpOneLevelReturnsTheRemovedComponent) {
  ModulePath p("D:\\Data\\Jobs\\");
  EXPECT_EQ("Jobs", p.UpOneLevel());
  EXPECT_EQ("D:\\Data\\", p.Directory());
  EXPECT_EQ("Data", p.UpOneLevel());
  EXPECT_EQ("D:\\", p.Directory());
  EXPECT_EQ("", p.UpOneLevel()) << "the root stays";
  EXPECT_EQ("D:\\", p.Directory());
  ModulePath unc("\\\\");
  EXPECT_EQ("", unc.UpOneLevel());
  EXPECT_EQ("\\\\", unc.Dir());
}

} // namespace

namespace {

TEST(ModulePath, LongNamesInDeepDirectoriesDoNotOverrun) {
  std::string name(200, 'f');
  ModulePath p(("C:\\A\\" + name + ".exe").c_str());
  std::string deep(250, 'd');
  p.AppendDirectory(deep.c_str());
  EXPECT_EQ("C:\\A\\" + deep + "\\", p.Directory());
  EXPECT_EQ("C:\\A\\" + deep + "\\" + name + ".exe", p.Path());
}

} // namespace
