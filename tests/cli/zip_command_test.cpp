// The `vaultwick zip` command, run as its own process.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "tests/zip/zip_test_support.h"

namespace vaultwick {
namespace {

using testing::ScratchDir;
using testing::shellQuote;

std::string vaultwick() {
  return shellQuote(VAULTWICK_BINARY);
}

std::string run(const std::string& command, int* status) {
  return testing::runCommand(command + " 2>&1", status);
}

TEST(ZipCommand, PacksFilesFoldersAndStandardInput) {
  ScratchDir dir;
  const std::string text = testing::textContent(200000, 1);
  testing::writeFile(dir.path("dump.sql"), text);
  testing::writeFile(dir.path("photo.gz"), "not really gzip");
  std::filesystem::create_directory(dir.path("folder"));
  const std::string archive = dir.path("out.zip");
  int status = 0;
  const std::string output =
      run("cd " + shellQuote(dir.root()) + " && echo piped | " + vaultwick() +
              " zip out.zip dump.sql folder - photo.gz " + shellQuote(dir.path("dump.sql")),
          &status);
  ASSERT_EQ(status, 0) << output;
  const std::string listing = testing::pythonListing(archive);
  const std::string absolute = dir.path("dump.sql").substr(1);  // leading '/' dropped
  EXPECT_NE(listing.find("dump.sql\t8\t2\t"), std::string::npos) << listing;
  EXPECT_NE(listing.find("folder/\t0\t0\t0\t0\t0"), std::string::npos) << listing;
  EXPECT_NE(listing.find("photo.gz\t0\t0\t15\t15\t"), std::string::npos) << listing;
  EXPECT_NE(listing.find(absolute + "\t8\t"), std::string::npos) << listing;
  EXPECT_EQ(testing::pythonExtract(archive, "-"), "piped\n");
  EXPECT_EQ(testing::bsdtarExtract(archive, absolute), text);
}

TEST(ZipCommand, ArchiveToAPipeUsesDataDescriptorsAndOtherLevelsReadBack) {
  ScratchDir dir;
  const std::string text = testing::textContent(300000, 2);
  testing::writeFile(dir.path("dump.sql"), text);
  int status = 0;
  run(vaultwick() + " zip - " + shellQuote(dir.path("dump.sql")) + " | cat > " +
          shellQuote(dir.path("piped.zip")),
      &status);
  ASSERT_EQ(status, 0);
  const std::string listing = testing::pythonListing(dir.path("piped.zip"));
  EXPECT_NE(listing.find("\t8\t8\t"), std::string::npos) << listing;  // deflated, flags 0x0008
  EXPECT_EQ(testing::pythonExtract(dir.path("piped.zip"), dir.path("dump.sql").substr(1)), text);

  run(vaultwick() + " zip --level 1 " + shellQuote(dir.path("fast.zip")) + " " +
          shellQuote(dir.path("dump.sql")),
      &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(testing::pythonExtract(dir.path("fast.zip"), dir.path("dump.sql").substr(1)), text);
}

// A member of several compressor segments, packed on one thread and on three.
TEST(ZipCommand, EveryThreadCountGivesTheSameArchive) {
  ScratchDir dir;
  testing::writeFile(dir.path("dump.sql"), testing::textContent(5 << 19, 3));
  int status = 0;
  for (const char* threads : {"1", "3"}) {
    const std::string output = run(vaultwick() + " zip --threads " + threads + " " +
                                       shellQuote(dir.path(std::string(threads) + ".zip")) + " " +
                                       shellQuote(dir.path("dump.sql")),
                                   &status);
    ASSERT_EQ(status, 0) << output;
  }
  EXPECT_TRUE(testing::readFile(dir.path("1.zip")) == testing::readFile(dir.path("3.zip")));
  run(vaultwick() + " zip --threads 0 " + shellQuote(dir.path("0.zip")) + " " +
          shellQuote(dir.path("dump.sql")),
      &status);
  EXPECT_EQ(status, 2);
}

TEST(ZipCommand, ErrorsPrintTheResultTextAndLeaveNoArchive) {
  ScratchDir dir;
  int status = 0;
  std::string output =
      run(vaultwick() + " zip " + shellQuote(dir.path("x.zip")) + " /no/such/file", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("Couldn't create/open file"), std::string::npos) << output;
  EXPECT_FALSE(std::filesystem::exists(dir.path("x.zip")));

  output =
      run(vaultwick() + " zip " + shellQuote(dir.path("no/dir/x.zip")) + " /etc/hostname", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("x.zip: No such file or directory"), std::string::npos) << output;

  for (const char* bad : {" zip --level 9 a b", " zip --level x a b", " zip only-archive",
                          " zip --bogus a b", " unknown-command", ""}) {
    run(vaultwick() + bad, &status);
    EXPECT_EQ(status, 2) << bad;
  }
  output = run(vaultwick() + " zip --help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(output.find("usage: vaultwick zip [--level N] [--threads N] ARCHIVE FILE..."),
            std::string::npos);
}

// An older archive of that name is replaced only by a whole new one, which keeps its
// permissions; a file is never packed into its own archive.
TEST(ZipCommand, ExistingArchiveIsReplacedOnlyByAWholeOne) {
  ScratchDir dir;
  const std::string archive = dir.path("a.zip");
  testing::writeFile(archive, "older archive");
  ASSERT_EQ(chmod(archive.c_str(), 0640), 0);
  const std::string text = testing::textContent(50000, 3);
  testing::writeFile(dir.path("dump.sql"), text);
  const std::string in = "cd " + shellQuote(dir.root()) + " && ";
  int status = 0;
  std::string output = run(in + vaultwick() + " zip a.zip dump.sql a.zip", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(output.find("a.zip: is the archive itself"), std::string::npos) << output;
  run(in + vaultwick() + " zip a.zip - < a.zip", &status);
  EXPECT_EQ(status, 2);
  run(in + vaultwick() + " zip a.zip dump.sql missing.sql", &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(testing::readFile(archive), "older archive");
  // Stopped by a signal while it writes an endless member: the partial file goes too.
  output = run("cd " + shellQuote(dir.root()) + "; " + vaultwick() +
                   " zip a.zip /dev/zero & pid=$!; for i in $(seq 3000); do" +
                   " ls -a | grep -q '^[.]vaultwick-part-' && break; sleep 0.01; done;" +
                   " kill -TERM $pid; wait $pid; echo $?; ls -a | grep -c '^[.]vaultwick-part-'",
               &status);
  EXPECT_EQ(output, "143\n0\n");
  EXPECT_EQ(testing::readFile(archive), "older archive");

  output = run(in + vaultwick() + " zip a.zip dump.sql", &status);
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(testing::pythonExtract(archive, "dump.sql"), text);
  struct stat info {};
  ASSERT_EQ(stat(archive.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.root())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.zip", "dump.sql"}));
}

// The part file's name stays short, so an archive name of any legal length
// works; a new archive is for its owner alone; a link is written through, not
// replaced; part files that killed runs left are swept, those of live ones kept.
TEST(ZipCommand, LongNamesLinksAndLeftoverPartFiles) {
  ScratchDir dir;
  testing::writeFile(dir.path("dump.sql"), "dump");
  pid_t child = ::fork();
  if (child == 0) {
    ::_exit(0);
  }
  ::waitpid(child, nullptr, 0);
  const std::string dead = ".vaultwick-part-" + std::to_string(child) + "-0";
  const std::string live = ".vaultwick-part-" + std::to_string(::getpid()) + "-0";
  testing::writeFile(dir.path(dead), "left by a killed run");
  testing::writeFile(dir.path(live), "being written");
  const std::string longName = std::string(242, 'n') + ".zip";
  std::filesystem::create_directory(dir.path("real"));
  testing::writeFile(dir.path("real/kept.zip"), "older archive");
  ASSERT_EQ(chmod(dir.path("real/kept.zip").c_str(), 0640), 0);
  std::filesystem::create_symlink("real/kept.zip", dir.path("link.zip"));
  const std::string in = "cd " + shellQuote(dir.root()) + " && umask 022 && ";
  int status = 0;
  for (const std::string& archive : {longName, std::string("link.zip")}) {
    const std::string output = run(in + vaultwick() + " zip " + archive + " dump.sql", &status);
    ASSERT_EQ(status, 0) << output;
  }

  EXPECT_EQ(testing::pythonExtract(dir.path(longName), "dump.sql"), "dump");
  struct stat info {};
  ASSERT_EQ(stat(dir.path(longName).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path("link.zip")));
  EXPECT_EQ(testing::pythonExtract(dir.path("real/kept.zip"), "dump.sql"), "dump");
  ASSERT_EQ(stat(dir.path("real/kept.zip").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_FALSE(std::filesystem::exists(dir.path(dead)));
  EXPECT_TRUE(std::filesystem::exists(dir.path(live)));
}

}  // namespace
}  // namespace vaultwick
