#include "platform/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vaultwick {
namespace {

namespace fs = std::filesystem;

// Points TMPDIR at a folder of the test's own for the life of the object.
class ScopedTmpdir {
 public:
  explicit ScopedTmpdir(const std::string& path) {
    const char* old = std::getenv("TMPDIR");
    hadOld_ = old != nullptr;
    if (hadOld_) {
      old_ = old;
    }
    setenv("TMPDIR", path.c_str(), 1);
  }
  ~ScopedTmpdir() {
    if (hadOld_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("vw-platform-test-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_);
  }
  void TearDown() override { fs::remove_all(base_); }
  fs::path base_;
};

TEST_F(TempFolderTest, FolderIsPrivateUniqueAndRemovedWithEverythingInIt) {
  ScopedTmpdir tmpdir(base_.string());
  auto first = PrivateTempFolder::Create();
  auto second = PrivateTempFolder::Create();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->path(), second->path());
  EXPECT_EQ(fs::path(first->path()).parent_path(), base_);

  struct stat info {};
  ASSERT_EQ(::stat(first->path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  // A link to something outside must go without taking its target along.
  fs::path outside = base_ / "outside.txt";
  std::ofstream(outside) << "keep me";
  std::ofstream(first->FilePath("shop.sql")) << "dump";
  fs::create_directory(first->FilePath("nested"));
  std::ofstream(first->FilePath("nested/file")) << "x";
  fs::create_symlink(outside, first->FilePath("link"));

  std::string firstPath = first->path();
  EXPECT_TRUE(first->Remove());
  EXPECT_FALSE(fs::exists(firstPath));
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(first->path().empty());

  std::string secondPath = second->path();
  second.reset();
  EXPECT_FALSE(fs::exists(secondPath));
}

TEST_F(TempFolderTest, MovedFolderIsRemovedOnceByItsNewOwner) {
  ScopedTmpdir tmpdir(base_.string());
  auto made = PrivateTempFolder::Create();
  ASSERT_TRUE(made);
  std::string path = made->path();
  PrivateTempFolder owner = std::move(*made);
  made.reset();
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(owner.path(), path);
}

TEST_F(TempFolderTest, MissingSystemFolderGivesNothing) {
  ScopedTmpdir tmpdir((base_ / "does-not-exist").string());
  EXPECT_FALSE(PrivateTempFolder::Create());
}

}  // namespace
}  // namespace vaultwick
