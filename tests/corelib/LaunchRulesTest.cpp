// How a command line becomes words and its first word an application name:
// the separators and quotes, the extension order, the directory rule and
// the length limit, with a file system made of a set of names.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "CommandWords.h"
#include "ExecutableSearch.h"

namespace {

typedef std::vector<std::string> Words;

TEST(CommandWords, SplitAtBlanksTabsAndCommasWithQuotedStretches) {
  EXPECT_EQ((Words{"run", "a", "b", "c"}), SplitCommandWords("run a,b\tc"));
  EXPECT_EQ((Words{"run", "x"}), SplitCommandWords("  ,\t run ,,, x ,"));
  EXPECT_EQ((Words{"C:\\Program Files\\x.exe", "a b,c"}),
            SplitCommandWords("\"C:\\Program Files\\x.exe\" \"a b,c\""));
  EXPECT_EQ((Words{"abc de"}), SplitCommandWords("ab\"c d\"e")) << "quotes inside a word join its stretches";
  EXPECT_EQ((Words{"open to the end"}), SplitCommandWords("\"open to the end"));
  EXPECT_EQ((Words{"x"}), SplitCommandWords("\"\" x \"\"")) << "empty quotes make no word";
  EXPECT_TRUE(SplitCommandWords(" ,, \t,").empty());
  EXPECT_TRUE(SplitCommandWords("").empty());
  EXPECT_TRUE(SplitCommandWords(nullptr).empty());

  std::string word;
  EXPECT_FALSE(FirstCommandWord(", , ,", word));
  EXPECT_TRUE(word.empty());
  EXPECT_FALSE(FirstCommandWord(nullptr, word));
  EXPECT_TRUE(FirstCommandWord("\"\",\"my prog\" arg", word));
  EXPECT_EQ("my prog", word);
}

TEST(ExecutableSearch, PartsOfAWordWithSlashesTurned) {
  PathParts parts = SplitPathParts("C:/Tools/sub\\run.tar.gz");
  EXPECT_EQ("C:", parts.drive);
  EXPECT_EQ("\\Tools\\sub\\", parts.directory);
  EXPECT_EQ("run.tar", parts.name);
  EXPECT_EQ(".gz", parts.extension);
  EXPECT_EQ("C:\\Tools\\sub\\run.tar.gz", parts.Joined());

  parts = SplitPathParts("run");
  EXPECT_EQ("", parts.drive);
  EXPECT_EQ("", parts.directory);
  EXPECT_EQ("run", parts.name);
  EXPECT_EQ("", parts.extension);

  parts = SplitPathParts("dir.d/run");
  EXPECT_EQ("dir.d\\", parts.directory);
  EXPECT_EQ("", parts.extension) << "a dot in the directory is no extension";
}

// A file system of full names, and the folders searched in order.
class FakeFiles {
public:
  FakeFiles(std::set<std::string> files, std::string pathDirectory)
      : FakeFiles(std::move(files), Words{std::move(pathDirectory)}) {}
  FakeFiles(std::set<std::string> files, Words folders) : m_files(std::move(files)), m_folders(std::move(folders)) {}
  ExecutableProbe Probe() {
    ExecutableProbe probe;
    probe.folders = [this] { return m_folders; };
    probe.exists = [this](const std::string &path) {
      checked.push_back(path);
      return m_files.count(path) > 0;
    };
    return probe;
  }
  std::string Find(const std::string &word) {
    checked.clear();
    std::string application = "(none)";
    if (!SearchExecutable(word, Probe(), application))
      return "(no name: " + application + ")";
    return application;
  }
  Words checked;

private:
  std::set<std::string> m_files;
  Words m_folders;
};

TEST(ExecutableSearch, WithADirectoryTheFirstExistingExtensionWins) {
  FakeFiles all({"C:\\Tools\\run.com", "C:\\Tools\\run.exe", "C:\\Tools\\run.bat", "C:\\Tools\\run.cmd"}, "P:\\");
  EXPECT_EQ("C:\\Tools\\run.com", all.Find("C:/Tools/run"));
  EXPECT_EQ((Words{"C:\\Tools\\run.com"}), all.checked) << "a word with a directory is never searched for";

  FakeFiles late({"C:\\Tools\\run.bat", "C:\\Tools\\run.cmd"}, "P:\\");
  EXPECT_EQ("C:\\Tools\\run.bat", late.Find("C:/Tools/run"));
  EXPECT_EQ((Words{"C:\\Tools\\run.com", "C:\\Tools\\run.exe", "C:\\Tools\\run.bat"}), late.checked);

  FakeFiles none({}, "P:\\");
  EXPECT_EQ("C:\\Tools\\run", none.Find("C:/Tools/run")) << "nothing found: the word itself, slashes turned";
  EXPECT_EQ(4u, none.checked.size());
  EXPECT_EQ("C:\\Tools\\run.exe", none.Find("C:/Tools/run.exe")) << "with an extension: taken as it is";
  EXPECT_TRUE(none.checked.empty());
}

TEST(ExecutableSearch, WithoutADirectoryEachFolderIsSearchedForEveryExtensionInTurn) {
  FakeFiles path({"P:\\run.exe", "P:\\run.cmd", "P:\\tool.txt"}, "P:\\");
  EXPECT_EQ("P:\\run.exe", path.Find("run"));
  EXPECT_EQ((Words{"P:\\run.com", "P:\\run.exe"}), path.checked);
  EXPECT_EQ("P:\\tool.txt", path.Find("tool.txt")) << "an extension is searched unchanged";
  EXPECT_EQ((Words{"P:\\tool.txt"}), path.checked);
  EXPECT_EQ("missing.exe", path.Find("missing.exe"));
  EXPECT_EQ("nothing", path.Find("nothing"));
  EXPECT_EQ(4u, path.checked.size());

  // A .com planted in a later folder never wins over an .exe in an earlier
  // one; within a folder .com still comes first.
  FakeFiles planted({"C:\\Windows\\system32\\robocopy.exe", "D:\\Drop\\robocopy.com", "E:\\Tools\\x.com",
                     "E:\\Tools\\x.exe"},
                    Words{"C:\\Program", "C:\\Windows\\system32\\", "D:\\Drop", "E:\\Tools"});
  EXPECT_EQ("C:\\Windows\\system32\\robocopy.exe", planted.Find("robocopy"));
  EXPECT_EQ((Words{"C:\\Program\\robocopy.com", "C:\\Program\\robocopy.exe", "C:\\Program\\robocopy.bat",
                   "C:\\Program\\robocopy.cmd", "C:\\Windows\\system32\\robocopy.com",
                   "C:\\Windows\\system32\\robocopy.exe"}),
            planted.checked);
  EXPECT_EQ("D:\\Drop\\robocopy.com", planted.Find("robocopy.com"));
  EXPECT_EQ("E:\\Tools\\x.com", planted.Find("x"));
  EXPECT_EQ("C:run", planted.Find("C:run")) << "a drive alone names its current folder: not searched";
}

TEST(ExecutableSearch, WordsOfTwoHundredSixtyCharactersAreLeftToTheSystem) {
  FakeFiles none({}, "P:\\");
  std::string longest = "C:\\" + std::string(kExecutableWordLimit - 8, 'a') + ".exe";
  ASSERT_EQ(kExecutableWordLimit - 1, longest.size());
  EXPECT_EQ(longest, none.Find(longest));
  std::string tooLong = longest + "x";
  EXPECT_EQ("(no name: )", none.Find(tooLong));
  EXPECT_TRUE(none.checked.empty());
  EXPECT_EQ("(no name: )", none.Find(std::string(5000, 'b')));
}

} // namespace
