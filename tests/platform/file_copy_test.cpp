#include "platform/files.h"
#include "platform/part_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vaultwick {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteAll(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class FileCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("vw-copy-test-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_ / "target");
  }
  void TearDown() override { fs::remove_all(base_); }

  // Names in the target folder: a failed or finished copy leaves no part file.
  std::vector<std::string> TargetNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(base_ / "target")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path base_;
};

TEST_F(FileCopyTest, CopiesIntoNewFileAndReplacesOldOne) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) {
    big[i] = static_cast<char>(i * 131 % 251);
  }
  WriteAll(base_ / "a.zip", big);
  fs::path target = base_ / "target" / "shop.zip";

  ASSERT_EQ(CopyFileReplacing((base_ / "a.zip").string(), target.string()), 0);
  EXPECT_EQ(ReadAll(target), big);

  WriteAll(base_ / "b.zip", "second run");
  ASSERT_EQ(CopyFileReplacing((base_ / "b.zip").string(), target.string()), 0);
  EXPECT_EQ(ReadAll(target), "second run");
  EXPECT_EQ(TargetNames(), std::vector<std::string>{"shop.zip"});
  EXPECT_EQ(FileSize(target.string()), 10u);
}

TEST_F(FileCopyTest, MissingFolderOrSourceFailsAndLeavesNothing) {
  WriteAll(base_ / "a.zip", "x");
  EXPECT_EQ(CopyFileReplacing((base_ / "a.zip").string(), (base_ / "nowhere/a.zip").string()),
            ENOENT);
  EXPECT_FALSE(fs::exists(base_ / "nowhere"));

  WriteAll(base_ / "target/shop.zip", "old archive");
  EXPECT_EQ(
      CopyFileReplacing((base_ / "missing.zip").string(), (base_ / "target/shop.zip").string()),
      ENOENT);
  EXPECT_EQ(ReadAll(base_ / "target/shop.zip"), "old archive");
}

// A write that fails half-way (here: the file size limit, which binds even
// root) must leave the older archive whole and no part file behind.
TEST_F(FileCopyTest, FailedWriteKeepsOlderTargetWhole) {
  WriteAll(base_ / "new.zip", std::string(200000, 'n'));
  WriteAll(base_ / "target/shop.zip", "old archive");
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = 50000;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int result =
        CopyFileReplacing((base_ / "new.zip").string(), (base_ / "target/shop.zip").string());
    ::_exit(result == EFBIG ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy did not report EFBIG";
  EXPECT_EQ(ReadAll(base_ / "target/shop.zip"), "old archive");
  EXPECT_EQ(TargetNames(), std::vector<std::string>{"shop.zip"});
}

TEST_F(FileCopyTest, RenameOntoAFolderFailsAndCleansUp) {
  WriteAll(base_ / "a.zip", "x");
  fs::create_directory(base_ / "target/shop.zip");
  EXPECT_NE(CopyFileReplacing((base_ / "a.zip").string(), (base_ / "target/shop.zip").string()), 0);
  EXPECT_TRUE(fs::is_directory(base_ / "target/shop.zip"));
  EXPECT_EQ(TargetNames(), std::vector<std::string>{"shop.zip"});
}

// An archive holds a whole database: a new one is for its owner alone, and a
// replaced one keeps what its owner chose. The part file's name does not grow
// with the target's, so a target name of the longest length still works.
TEST_F(FileCopyTest, NewTargetIsPrivateReplacedOneKeepsItsModeLongNamesWork) {
  ::umask(022);
  WriteAll(base_ / "a.zip", "archive");
  fs::path fresh = base_ / "target" / (std::string(251, 'n') + ".zip");
  ASSERT_EQ(CopyFileReplacing((base_ / "a.zip").string(), fresh.string()), 0);
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0600));

  fs::path older = base_ / "target" / "shared.zip";
  WriteAll(older, "older");
  fs::permissions(older, fs::perms(0640));
  ASSERT_EQ(CopyFileReplacing((base_ / "a.zip").string(), older.string()), 0);
  EXPECT_EQ(fs::status(older).permissions(), fs::perms(0640));
  EXPECT_EQ(ReadAll(older), "archive");
}

TEST_F(FileCopyTest, StopLeavesOlderTargetAndNoPartFile) {
  WriteAll(base_ / "a.zip", std::string(3 << 20, 'a'));
  WriteAll(base_ / "target/shop.zip", "old archive");
  const StopToken stop;
  stop.RequestStop();
  EXPECT_EQ(
      CopyFileReplacing((base_ / "a.zip").string(), (base_ / "target/shop.zip").string(), stop),
      ECANCELED);
  EXPECT_EQ(ReadAll(base_ / "target/shop.zip"), "old archive");
  EXPECT_EQ(TargetNames(), std::vector<std::string>{"shop.zip"});
}

// The pid of a process that has ended and been reaped.
pid_t DeadPid() {
  pid_t child = ::fork();
  if (child == 0) {
    ::_exit(0);
  }
  ::waitpid(child, nullptr, 0);
  return child;
}

// Only entries of the right name and kind, of this user and of a process that
// is gone, are removed: never a live process's, never through a link.
TEST_F(FileCopyTest, AbandonedEntriesOfDeadProcessesGoAllOthersStay) {
  const std::string dead = std::to_string(DeadPid());
  const std::string live = std::to_string(::getpid());
  const fs::path folder = base_ / "target";
  auto makeFolder = [&](const std::string& name) {
    fs::create_directories(folder / name / "inner");
    WriteAll(folder / name / "inner" / "shop.sql", "dump");
  };
  makeFolder("vaultwick-" + dead + "-a1B2c3");
  makeFolder("vaultwick-" + live + "-a1B2c3");
  makeFolder("vaultwick-1-a1B2c3");  // init lives
  makeFolder("vaultwick-" + dead);
  makeFolder("vaultwick-0-a1B2c3");
  makeFolder("other-" + dead + "-a1B2c3");
  WriteAll(folder / ("vaultwick-" + dead + "-file"), "not a folder");
  makeFolder("elsewhere");
  fs::create_directory_symlink(folder / "elsewhere", folder / ("vaultwick-" + dead + "-link"));
  WriteAll(folder / (".vaultwick-part-" + dead + "-0"), "part");
  WriteAll(folder / (".vaultwick-part-" + live + "-0"), "part");
  fs::create_directory(folder / (".vaultwick-part-" + dead + "-1"));
  WriteAll(folder / "shop.zip", "archive");
  std::vector<std::string> kept = TargetNames();
  kept.erase(std::find(kept.begin(), kept.end(), "vaultwick-" + dead + "-a1B2c3"));
  kept.erase(std::find(kept.begin(), kept.end(), ".vaultwick-part-" + dead + "-0"));
  if (::geteuid() == 0) {  // another user's folder can only be made by root
    makeFolder("vaultwick-" + dead + "-other");
    ASSERT_EQ(::chown((folder / ("vaultwick-" + dead + "-other")).c_str(), 65534, 65534), 0);
    kept.push_back("vaultwick-" + dead + "-other");
    std::sort(kept.begin(), kept.end());
  }

  RemoveAbandoned(folder.string(), "vaultwick-", EntryKind::Folder);
  RemoveAbandonedPartFiles(folder.string());
  EXPECT_EQ(TargetNames(), kept);
  EXPECT_EQ(ReadAll(folder / "elsewhere" / "inner" / "shop.sql"), "dump");
}

// Relative links resolve against their own folder; the end of the chain need
// not exist yet; a chain that loops is refused.
TEST_F(FileCopyTest, FollowLinksEndsWhereAWriterWouldWrite) {
  const fs::path folder = base_ / "target";
  fs::create_directory(folder / "sub");
  fs::create_symlink("sub/b", folder / "a");
  fs::create_symlink(folder / "c", folder / "sub" / "b");
  EXPECT_EQ(FollowLinks((folder / "a").string()), (folder / "c").string());
  WriteAll(folder / "c", "x");
  EXPECT_EQ(FollowLinks((folder / "c").string()), (folder / "c").string());

  fs::create_symlink("y", folder / "x");
  fs::create_symlink("x", folder / "y");
  EXPECT_EQ(FollowLinks((folder / "x").string()), std::nullopt);
  EXPECT_EQ(errno, ELOOP);
}

TEST_F(FileCopyTest, DeleteFileAcceptsMissingFilesAndRefusesFolders) {
  WriteAll(base_ / "d.sql", "x");
  EXPECT_EQ(DeleteFile((base_ / "d.sql").string()), 0);
  EXPECT_FALSE(fs::exists(base_ / "d.sql"));
  EXPECT_EQ(DeleteFile((base_ / "d.sql").string()), 0);
  EXPECT_NE(DeleteFile((base_ / "target").string()), 0);
  EXPECT_FALSE(FileSize((base_ / "target").string()));
}

TEST_F(FileCopyTest, ReadAtReadsWhatIsThereAndStopsAtTheEnd) {
  const fs::path path = base_ / "digits";
  WriteAll(path, "0123456789");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  char buffer[16] = {};
  EXPECT_EQ(ReadAt(fd, buffer, 4, 3), 4u);
  EXPECT_EQ(std::string(buffer, 4), "3456");
  EXPECT_EQ(ReadAt(fd, buffer, sizeof buffer, 6), 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(ReadAt(fd, buffer, 1, 10), 0u);
  ::close(fd);
  EXPECT_EQ(ReadAt(fd, buffer, 1, 0), 0u);
}
}  // namespace
}  // namespace vaultwick
