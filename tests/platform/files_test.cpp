#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Every entry of the folder but those named.
std::vector<std::string> othersIn(const fs::path& folder, std::vector<std::string> known) {
  std::vector<std::string> others;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST(AtomicWrite, ReplacesContentsKeepingModeAndLeavesNoTemporary) {
  kw_test::TempDir dir;
  const std::string path = dir.write("doc.json", "old contents that are longer");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const kw::Failure failure = kw::writeFileAtomically(path, "new");
  EXPECT_TRUE(failure.ok()) << failure.text();
  EXPECT_EQ(kw_test::readFile(path), "new");
  EXPECT_EQ(modeOf(path), 0640u);
  EXPECT_TRUE(othersIn(dir.path(), {"doc.json"}).empty());

  // A new file gets the usual mode of a created file.
  const std::string fresh = dir.file("fresh.json");
  const mode_t mask = umask(022);
  umask(mask);
  EXPECT_TRUE(kw::writeFileAtomically(fresh, "").ok());
  EXPECT_EQ(kw_test::readFile(fresh), "");
  EXPECT_EQ(modeOf(fresh), 0666u & ~mask);
}

// A symbolic link is written through: the file it names gets the contents
// and the link stays a link; the temporary lies beside the real file.
TEST(AtomicWrite, WritesThroughALinkAndKeepsTheLink) {
  kw_test::TempDir dir;
  fs::create_directory(dir.path() / "real");
  const std::string target = dir.write("real/doc.json", "old");
  const std::string link = dir.file("link.json");
  fs::create_symlink("real/doc.json", link);
  EXPECT_TRUE(kw::writeFileAtomically(link, "through").ok());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(kw_test::readFile(target), "through");
  EXPECT_TRUE(othersIn(dir.path() / "real", {"doc.json"}).empty());
  EXPECT_TRUE(othersIn(dir.path(), {"real", "link.json"}).empty());
}

// The temporary never has a name someone could plant a link on: a link at
// the obvious "<name>.tmp" is left alone, and so is what it points at.
TEST(AtomicWrite, PlantedLinkAtAPredictableNameIsNotFollowed) {
  kw_test::TempDir dir;
  const std::string victim = dir.write("victim.txt", "keep me");
  const std::string path = dir.file("doc.json");
  fs::create_symlink(victim, dir.file("doc.json.tmp"));
  EXPECT_TRUE(kw::writeFileAtomically(path, "mine").ok());
  EXPECT_EQ(kw_test::readFile(victim), "keep me");
  EXPECT_EQ(kw_test::readFile(path), "mine");
  EXPECT_TRUE(fs::is_symlink(dir.file("doc.json.tmp")));
}

// A failure says which step failed and why, and leaves nothing behind.
TEST(AtomicWrite, FailureCarriesItsReasonAndRemovesTheTemporary) {
  kw_test::TempDir dir;
  const kw::Failure noFolder = kw::writeFileAtomically(dir.file("missing/doc.json"), "x");
  EXPECT_EQ(noFolder.text(),
            "temporary file in " + dir.file("missing") + ": No such file or directory");
  EXPECT_FALSE(fs::exists(dir.file("missing")));

  fs::create_directory(dir.path() / "taken");
  const kw::Failure folderInPlace = kw::writeFileAtomically(dir.file("taken"), "x");
  EXPECT_EQ(folderInPlace.text(), "write " + dir.file("taken") + ": not a regular file");
  EXPECT_TRUE(othersIn(dir.path(), {"taken"}).empty());
  EXPECT_TRUE(fs::is_empty(dir.path() / "taken"));

  EXPECT_EQ(kw::writeFileAtomically("", "x").text(), "write: no file name");
}

TEST(FailureText, ContextThenReasonAndEmptyMeansSuccess) {
  EXPECT_TRUE(kw::Failure().ok());
  EXPECT_FALSE(static_cast<bool>(kw::Failure()));
  const kw::Failure failure = kw::Failure::fromErrno("join 239.1.2.3 on port 5000", ENODEV);
  EXPECT_TRUE(static_cast<bool>(failure));
  EXPECT_EQ(failure.text(), "join 239.1.2.3 on port 5000: No such device");
}

}  // namespace
