// A file packed while another thread still appends to it gives the archive that
// packing the finished file gives, byte for byte.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/zip/zip_test_support.h"
#include "zip/zip_single_file.h"

namespace vaultwick {
namespace {

// Appends `text` to `path` in pieces of `piece` bytes, then finishes the end.
void appendInPieces(const std::string& path, const std::string& text, std::size_t piece,
                    GrowingFileEnd& end, bool complete) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  for (std::size_t at = 0; fd >= 0 && at < text.size(); at += piece) {
    const std::size_t n = std::min(piece, text.size() - at);
    if (write(fd, text.data() + at, n) != static_cast<ssize_t>(n)) {
      break;
    }
  }
  if (fd >= 0) {
    close(fd);
  }
  end.finish(complete);
}

TEST(ZipGrowingFile, ArchiveIsTheOneOfTheFinishedFile) {
  testing::ScratchDir dir;
  const std::string dump = dir.path("shop.sql");
  const std::string text = testing::textContent(3 << 20, 4) + testing::randomContent(70000, 5);
  for (unsigned threads : {1u, 2u}) {
    // Times long past: the appends move the modification time, the packing
    // must not move the access time.
    testing::writeFile(dump, "");
    testing::setFileTime(dump, 1000000000);
    GrowingFileEnd end;
    ZipResult result = ZipResult::Ok;
    std::atomic<bool> packed{false};
    const std::string archive = dir.path("growing.zip");
    std::remove(archive.c_str());
    std::thread packer([&] {
      result =
          ZipGrowingFile(dump.c_str(), archive.c_str(), end, StopToken::Never(), nullptr, threads);
      packed = true;
    });
    // Its first header out, the packer has taken the facts of the empty file.
    struct stat written {};
    while (!packed && (stat(archive.c_str(), &written) != 0 || written.st_size == 0)) {
      std::this_thread::yield();
    }
    appendInPieces(dump, text, 100000, end, true);
    packer.join();
    ASSERT_EQ(result, ZipResult::Ok) << threads << " threads";
    struct stat info {};
    ASSERT_EQ(stat(dump.c_str(), &info), 0);
    EXPECT_EQ(info.st_atim.tv_sec, 1000000000);
    EXPECT_GT(info.st_mtim.tv_sec, 1000000000);
    ASSERT_EQ(ZipSingleFile(dump.c_str(), dir.path("finished.zip").c_str()), ZipResult::Ok);
    EXPECT_TRUE(testing::readFile(dir.path("growing.zip")) ==
                testing::readFile(dir.path("finished.zip")))
        << threads << " threads";
    EXPECT_EQ(testing::pythonExtract(dir.path("growing.zip"), "shop.sql"), text);
  }
}

TEST(ZipGrowingFile, AbandonedFileFailsTheMember) {
  testing::ScratchDir dir;
  const std::string dump = dir.path("shop.sql");
  testing::writeFile(dump, "");
  GrowingFileEnd end;
  ZipResult result = ZipResult::Ok;
  std::thread packer([&] {
    result = ZipGrowingFile(dump.c_str(), dir.path("growing.zip").c_str(), end, StopToken::Never(),
                            nullptr, 2);
  });
  appendInPieces(dump, testing::textContent(300000, 6), 4096, end, false);
  packer.join();
  EXPECT_EQ(result, ZipResult::ReadFailed);
}

}  // namespace
}  // namespace vaultwick
