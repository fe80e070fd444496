// Restore points' names and files: what is ours, what is foreign, and how
// a replaced archive gets its name without a copy.

#include "backup/restore_point_layout.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_folder.h"

namespace vaultwick {
namespace {

namespace fs = std::filesystem;

ArchiveTime Utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm parts {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return ArchiveTime(std::chrono::seconds(::timegm(&parts)));
}

TEST(RestorePointNameTest, NamesRoundTripAndNothingElseParses) {
  const ArchiveTime time = Utc(2024, 5, 6, 9, 15, 0);
  EXPECT_EQ(RestorePointFileName("shop", time), "shop-20240506T091500Z.zip");
  EXPECT_EQ(ParseRestorePointFileName("shop", "shop-20240506T091500Z.zip"), time);
  // A name that itself looks like a point of another connection.
  EXPECT_EQ(
      ParseRestorePointFileName("a-20240506T091500Z", "a-20240506T091500Z-20240101T000000Z.zip"),
      Utc(2024, 1, 1, 0, 0, 0));
  EXPECT_EQ(CurrentArchivePath("/srv/b", "shop"), "/srv/b/shop.zip");
  EXPECT_EQ(RestorePointFolder("/srv/b", "shop"), "/srv/b/restore-points/shop");

  for (const char* foreign :
       {"shop.zip", "shop-20240506T091500Z.zip.part", "shop-20240506t091500z.zip",
        "shop-20240231T091500Z.zip", "shop-20240506T246000Z.zip", "shop-2024050T6091500Z.zip",
        "shop-+0240506T091500Z.zip", "Shop-20240506T091500Z.zip", "shop-20240506T091500Z.ZIP",
        "shopx20240506T091500Z.zip", "shop2-20240506T091500Z.zip", "shop-20240506T091500Z"}) {
    EXPECT_EQ(ParseRestorePointFileName("shop", foreign), std::nullopt) << foreign;
  }
}

class RestorePointFilesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& relative) const { return folder_.FilePath(relative); }
  std::string Points() const { return RestorePointFolder(folder_.path(), "shop"); }

  // A file with `content`, modified at `time`.
  void Write(const std::string& path, const std::string& content, ArchiveTime time) const {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    const struct timespec times[2] = {{time.time_since_epoch().count(), 0},
                                      {time.time_since_epoch().count(), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Listed() const {
    std::vector<std::string> names;
    for (const ArchiveFile& file : ListArchiveFiles(folder_.path(), "shop")) {
      names.push_back(fs::path(file.path).filename().string() + (file.current ? " current" : ""));
    }
    return names;
  }

  PrivateTempFolder folder_ = PrivateTempFolder::Create("vw-points-test-").value();
  const ArchiveTime nine_ = Utc(2024, 5, 6, 9, 0, 0);
};

TEST_F(RestorePointFilesTest, ListsOwnFilesNewestFirstAndNothingForeign) {
  EXPECT_TRUE(Listed().empty());
  Write(Path("shop.zip"), "newest", nine_ + std::chrono::hours(2));
  Write(Points() + "/shop-20240506T090000Z.zip", "older", nine_);
  Write(Points() + "/shop-20240506T100000Z.zip", "old", nine_);
  // Foreign: another connection's point, a note, a part file, a folder and a
  // link that carry our name.
  Write(Points() + "/shopping-20240506T100000Z.zip", "x", nine_);
  Write(Points() + "/notes.txt", "x", nine_);
  Write(Points() + "/.vaultwick-part-1-1", "x", nine_);
  fs::create_directories(Points() + "/shop-20240506T110000Z.zip");
  fs::create_symlink(Path("shop.zip"), Points() + "/shop-20240506T120000Z.zip");

  EXPECT_EQ(Listed(), (std::vector<std::string>{"shop.zip current", "shop-20240506T100000Z.zip",
                                                "shop-20240506T090000Z.zip"}));
  const std::vector<ArchiveFile> files = ListArchiveFiles(folder_.path(), "shop");
  EXPECT_EQ(files[0].time, nine_ + std::chrono::hours(2));
  EXPECT_EQ(files[1].size, 3u);

  // Archives placed in one second give a point a later name than shop.zip's
  // own time; shop.zip, which replaced it, stays the newest.
  Write(Points() + "/shop-20240506T110001Z.zip", "bumped", nine_ + std::chrono::hours(2));
  const std::vector<ArchiveFile> bumped = ListArchiveFiles(folder_.path(), "shop");
  EXPECT_TRUE(bumped[0].current);
  EXPECT_EQ(bumped[0].time, bumped[1].time);
}

// The replaced archive is linked under its point name (so shop.zip is never
// missing), or renamed where links are refused; a second archive placed in
// the same second gets the next second, never another's name.
TEST_F(RestorePointFilesTest, KeepsTheReplacedArchiveByLinkOrRename) {
  for (bool allowLink : {true, false}) {
    SCOPED_TRACE(allowLink ? "link" : "rename");
    fs::remove_all(Path("restore-points"));
    Write(Points() + "/shop-20240506T090000Z.zip", "same second, earlier", nine_);
    Write(Path("shop.zip"), "replaced", nine_);
    struct stat before {};
    ASSERT_EQ(::stat(Path("shop.zip").c_str(), &before), 0);

    KeptArchive kept;
    ASSERT_EQ(KeepReplacedArchive(folder_.path(), "shop", &kept, allowLink), 0);
    EXPECT_EQ(kept.path, Points() + "/shop-20240506T090001Z.zip");
    EXPECT_EQ(kept.linked, allowLink);
    EXPECT_EQ(kept.moved, !allowLink);
    struct stat after {};
    ASSERT_EQ(::stat(kept.path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "never a copy";
    EXPECT_EQ(fs::exists(Path("shop.zip")), allowLink);
    EXPECT_EQ(Read(Points() + "/shop-20240506T090000Z.zip"), "same second, earlier");

    // The new archive could not be placed: all as it was.
    UndoKeepReplacedArchive(folder_.path(), "shop", kept);
    EXPECT_EQ(Read(Path("shop.zip")), "replaced");
    EXPECT_FALSE(fs::exists(kept.path));
  }
}

TEST_F(RestorePointFilesTest, KeepingNeedsNothingWhenThereIsNoArchiveOrItIsKeptAlready) {
  KeptArchive kept;
  ASSERT_EQ(KeepReplacedArchive(folder_.path(), "shop", &kept), 0);
  EXPECT_TRUE(kept.path.empty());
  EXPECT_FALSE(fs::exists(Path("restore-points")));

  // A run kept shop.zip and then failed to place its own archive; the next
  // run finds the link already there and makes no second point of it.
  Write(Path("shop.zip"), "replaced", nine_);
  ASSERT_EQ(KeepReplacedArchive(folder_.path(), "shop", &kept), 0);
  ASSERT_TRUE(kept.linked);
  EXPECT_EQ(Listed(), std::vector<std::string>{"shop.zip current"});
  KeptArchive again;
  ASSERT_EQ(KeepReplacedArchive(folder_.path(), "shop", &again), 0);
  EXPECT_EQ(again.path, kept.path);
  EXPECT_FALSE(again.linked || again.moved);
  EXPECT_EQ(std::distance(fs::directory_iterator(Points()), fs::directory_iterator()), 1);
  EXPECT_EQ(::access(Points().c_str(), F_OK), 0);
  struct stat folder {};
  ASSERT_EQ(::stat(Points().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace vaultwick
