// The check that reads an archive while it is written, against archives
// written as it follows, changed after it read them, or never finished.

#include "readback/followed_archive_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "readback/archive_check.h"
#include "tests/zip/zip_test_support.h"

namespace vaultwick {
namespace {

using testing::ScratchDir;

class FollowedArchiveCheckTest : public ::testing::Test {
 protected:
  // Packs `content` as dump.sql into the part file while `check` follows it:
  // the dump grows in pieces as a job's does. The archive ends at archive_.
  ZipMemberSummary WriteFollowed(const std::string& content, const char* password = nullptr) {
    std::ofstream(dump_).close();
    GrowingFileEnd end;
    ZipMemberSummary written;
    ZipResult result = ZipResult::Ok;
    std::thread writer([&] {
      result = ZipGrowingFile(dump_.c_str(), part_.c_str(), end, StopToken::Never(), &written, 1,
                              password);
    });
    {
      std::ofstream dump(dump_, std::ios::binary | std::ios::app);
      for (std::size_t at = 0; at < content.size(); at += kPiece) {
        dump << content.substr(at, kPiece) << std::flush;
      }
    }
    end.finish(true);
    writer.join();
    EXPECT_EQ(result, ZipResult::Ok);
    EXPECT_EQ(std::rename(part_.c_str(), archive_.c_str()), 0);
    return written;
  }

  void StartPart() { std::ofstream(part_).close(); }

  static constexpr std::size_t kPiece = 64 * 1024;
  ScratchDir dir_;
  const std::string dump_ = dir_.path("dump.sql");
  const std::string part_ = dir_.path("archive.zip.part");
  const std::string archive_ = dir_.path("archive.zip");
  const std::string content_ = testing::textContent(400000, 7);
};

TEST_F(FollowedArchiveCheckTest, ArchiveFollowedAsItIsWrittenIsProvedWithoutReadingItAgain) {
  StartPart();
  FollowedArchiveCheck check(part_, {}, StopToken());
  const ZipMemberSummary written = WriteFollowed(content_);
  EXPECT_EQ(check.Finish(archive_, written), "");
  EXPECT_TRUE(check.ProvedAsWritten());
}

// Whatever the follower read, the verdict is the whole read's, word for
// word: a byte changed after it was read, an archive cut short, or a writer
// that says it wrote another CRC-32 or length.
TEST_F(FollowedArchiveCheckTest, ArchiveThatDiffersFromWhatWasWrittenGetsTheWholeReadsVerdict) {
  for (const int fault : {0, 1, 2, 3}) {
    StartPart();
    FollowedArchiveCheck check(part_, {}, StopToken());
    ZipMemberSummary written = WriteFollowed(content_);
    std::string bytes = testing::readFile(archive_);
    if (fault == 0) {
      bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
    } else if (fault == 1) {
      bytes.resize(bytes.size() * 3 / 4);
    } else if (fault == 2) {
      written.crc32 ^= 1;
    } else {
      written.size += 1;
    }
    testing::writeFile(archive_, bytes);
    const std::string verdict = check.Finish(archive_, written);
    EXPECT_EQ(verdict.rfind("Archive check: ", 0), 0u) << fault;
    EXPECT_EQ(verdict, VerifyWrittenArchive(archive_, written)) << fault;
    EXPECT_FALSE(check.ProvedAsWritten());
  }
}

// The writer starts over in the same file (as one that packs the finished
// dump again does): whatever of the first archive the follower read (its
// thread runs when the writer leaves it time, so it may have read none), the
// finished archive is proved as it is.
TEST_F(FollowedArchiveCheckTest, ArchiveWrittenOverAgainIsProvedAsItEnds) {
  StartPart();
  FollowedArchiveCheck check(part_, {}, StopToken());
  WriteFollowed(testing::textContent(100000, 8));
  ASSERT_EQ(std::rename(archive_.c_str(), part_.c_str()), 0);
  testing::writeFile(dump_, content_);
  ZipMemberSummary written;
  ASSERT_EQ(ZipSingleFile(dump_.c_str(), part_.c_str(), StopToken::Never(), &written),
            ZipResult::Ok);
  ASSERT_EQ(std::rename(part_.c_str(), archive_.c_str()), 0);
  EXPECT_EQ(check.Finish(archive_, written), "");
  written.crc32 ^= 1;
  EXPECT_EQ(check.Finish(archive_, written), VerifyWrittenArchive(archive_, written));
}

TEST_F(FollowedArchiveCheckTest, EncryptedArchiveIsReadWholeWithItsPassword) {
  StartPart();
  FollowedArchiveCheck check(part_, "pass word", StopToken());
  const ZipMemberSummary written = WriteFollowed(content_, "pass word");
  EXPECT_EQ(check.Finish(archive_, written), "");
  EXPECT_FALSE(check.ProvedAsWritten());
  FollowedArchiveCheck wrong(archive_, "other", StopToken());
  EXPECT_NE(wrong.Finish(archive_, written), "");
}

// A writer that never finishes: the check ends when it is dropped or
// stopped, whether or not it read anything.
TEST_F(FollowedArchiveCheckTest, CheckOfAnUnfinishedArchiveEndsWhenDroppedOrStopped) {
  StartPart();
  { FollowedArchiveCheck dropped(part_, {}, StopToken()); }
  // The start of a header, and no more.
  testing::writeFile(part_, "PK\x03\x04");
  const StopToken stop;
  FollowedArchiveCheck check(part_, {}, stop);
  stop.RequestStop();
  EXPECT_EQ(check.Finish(part_, {}), "Archive check: Stopped on request");
}

}  // namespace
}  // namespace vaultwick
