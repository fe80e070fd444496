// A file system may report a lost write only when the archive is closed (a
// network file system writing back at close, a full quota): the archive is then
// not whole, and closing it must say so.

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "tests/zip/zip_test_support.h"
#include "zip/zip_writer.h"

namespace {

// The file whose next close fails with EIO, once (its inode; 0: none).
std::atomic<ino_t> failingInode{0};

}  // namespace

// Closes as the system does, then reports EIO for the armed file.
extern "C" int close(int fd) {
  struct stat info {};
  const bool armed =
      failingInode.load() != 0 && fstat(fd, &info) == 0 && info.st_ino == failingInode.load();
  const int result = static_cast<int>(syscall(SYS_close, fd));
  if (armed && result == 0) {
    failingInode.store(0);
    errno = EIO;
    return -1;
  }
  return result;
}

namespace vaultwick {
namespace {

TEST(ZipClose, AFailedCloseOfTheArchiveFailsTheArchive) {
  testing::ScratchDir dir;
  const std::string archive = dir.path("a.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(addZipMember(handle, "a.txt", "abc", 3, ZipSourceKind::Memory), ZipResult::Ok);
  struct stat info {};
  ASSERT_EQ(stat(archive.c_str(), &info), 0);
  failingInode.store(info.st_ino);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::WriteFailed);
  EXPECT_EQ(failingInode.load(), 0u);  // the archive's descriptor was closed, and once

  handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
}

}  // namespace
}  // namespace vaultwick
