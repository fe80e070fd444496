// Every way out of a backup job against the private server: its end text,
// what it leaves in the target folder and in the temporary folder, and that
// the request is freed once and runningJobs is back to 0.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "backup/restore_point_layout.h"
#include "backup/run_backup_job.h"
#include "tests/backup/job_test_support.h"
#include "tests/support/test_database.h"
#include "zip/zip_single_file.h"

namespace vaultwick::test {
namespace {

namespace fs = std::filesystem;

// Runs a shell command; returns its standard output, or nullopt on a non-zero exit.
// Flips the bits of `mask` in the byte at offset 200 of `archive`: inside the
// member's data, as a bad disk or compressor would.
void FlipBits(const std::string& archive, int mask) {
  std::fstream file(archive, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(200);
  const char byte = static_cast<char>(file.get() ^ mask);
  file.seekp(200);
  file.put(byte);
}

std::optional<std::string> Capture(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return std::nullopt;
  }
  std::string output;
  char buffer[65536];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) {
    output.append(buffer, got);
  }
  return ::pclose(pipe) == 0 ? std::optional(output) : std::nullopt;
}

std::string ReadArchiveScript() {
  const char* source = std::getenv("VAULTWICK_SOURCE_DIR");
  return std::string(source != nullptr ? source : ".") + "/tests/zip/read_archive.py";
}

// Lowers only the soft limit, so that the test can raise it again.
void LimitFileSize(rlim_t bytes) {
  struct rlimit limit {};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

// Calls `onText` with every status text of the job, on the job's thread.
class StatusTrigger : public StatusTextPort {
 public:
  explicit StatusTrigger(std::function<void(const std::string&)> onText)
      : onText_(std::move(onText)) {}
  void SetStatusText(const std::string& text) override { onText_(text); }

 private:
  std::function<void(const std::string&)> onText_;
};

class JobRunTest : public ::testing::Test {
 protected:
  // Jobs make their private folders here, so a test can see that none is left.
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/vw-job-tmpdir-XXXXXX";
    tmpdir_ = ::mkdtemp(pattern);
    ::setenv("TMPDIR", tmpdir_.c_str(), 1);
    std::signal(SIGXFSZ, SIG_IGN);
  }
  static void TearDownTestSuite() { fs::remove_all(tmpdir_); }

  void SetUp() override {
    VAULTWICK_REQUIRE_TEST_SERVER(found);
    server_ = found;
    db_ = std::make_unique<TestDatabase>(server_, "job");
    ASSERT_TRUE(db_->ok()) << db_->error();
    ASSERT_TRUE(db_->Execute(
        "CREATE TABLE customer(id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL,"
        " city VARCHAR(30) NULL, photo BLOB, KEY by_city(city, name));"
        "INSERT INTO customer(name, city, photo) VALUES ('O''Hara', 'Cork', NULL),"
        " ('Zoë Ångström', NULL, x'00FF275C0D0A'), ('back\\\\slash', 'Köln', '');"
        "CREATE TABLE item(id INT PRIMARY KEY, label VARCHAR(20));"
        "INSERT INTO item SELECT seq, CONCAT('item ', seq) FROM seq_1_to_500;"));
    char pattern[] = "/tmp/vw-job-work-XXXXXX";  // outside TMPDIR, which only jobs may use
    work_ = ::mkdtemp(pattern);
    fs::create_directories(work_ / "target");
  }

  void TearDown() override {
    LimitFileSize(RLIM_INFINITY);
    for (const auto& left : fs::directory_iterator(tmpdir_)) {
      ADD_FAILURE() << "left in the temporary folder: " << left.path();
    }
    EXPECT_EQ(runningJobs.load(), 0);
    EXPECT_EQ(*frees_, made_) << "every request is freed exactly once";
    fs::remove_all(work_);
    db_.reset();
  }

  CountedRequest* NewRequest(OutcomeBox& box, const std::string& name = "shop") {
    auto* request = new CountedRequest(frees_);
    ++made_;
    request->job.name = name;
    request->job.server = LoginTo(server_, db_->name());
    request->job.saveTo = (work_ / "target").string();
    request->messageBox = messages_;
    box.Attach(*request);
    return request;
  }

  BackupOutcome Run(BackupRequest* request, OutcomeBox& box) {
    std::thread job = StartBackupJob(request);
    EXPECT_TRUE(job.joinable());
    std::optional<BackupOutcome> outcome = box.Wait();
    EXPECT_TRUE(outcome) << "the job did not end";
    if (job.joinable()) {
      job.join();
    }
    return outcome.value_or(BackupOutcome{});
  }

  // Keeps a copy of the job's dump at `copy`.
  static void KeepDump(BackupRequest* request, const fs::path& copy) {
    request->testHooks.afterDump = [copy](const std::string& dump, const std::string&) {
      fs::copy_file(dump, copy, fs::copy_options::overwrite_existing);
    };
  }

  fs::path Archive(const std::string& name = "shop") const {
    return work_ / "target" / (name + ".zip");
  }

  // The archive holds exactly one deflated member <name>.sql whose content
  // equals `dump`, by Python's zipfile and by bsdtar.
  void ExpectArchiveHolds(const fs::path& archive, const std::string& name,
                          const std::string& dump) const {
    auto listing = Capture("python3 " + ReadArchiveScript() + " " + archive.string());
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->substr(0, name.size() + 7), name + ".sql\t8\t");
    EXPECT_EQ(std::count(listing->begin(), listing->end(), '\n'), 1) << *listing;
    EXPECT_EQ(Capture("python3 " + ReadArchiveScript() + " " + archive.string() + " --extract " +
                      name + ".sql"),
              dump);
    EXPECT_EQ(Capture("bsdtar -tf " + archive.string()), name + ".sql\n");
    EXPECT_EQ(Capture("bsdtar -xOf " + archive.string() + " " + name + ".sql"), dump);
  }

  static inline std::string tmpdir_;
  TestServer server_;
  std::unique_ptr<TestDatabase> db_;
  fs::path work_;
  std::shared_ptr<std::atomic<int>> frees_ = std::make_shared<std::atomic<int>>(0);
  int made_ = 0;
  std::shared_ptr<RecordingMessageBox> messages_ = std::make_shared<RecordingMessageBox>();
};

TEST_F(JobRunTest, ArchiveHoldsTheDumpRestoresEqualAndIsReplacedNextRun) {
  // What a job killed half-way left: removed by this job, as nothing else
  // would ever remove it.
  pid_t dead = ::fork();
  if (dead == 0) {
    ::_exit(0);
  }
  ::waitpid(dead, nullptr, 0);
  fs::create_directory(fs::path(tmpdir_) / ("vaultwick-" + std::to_string(dead) + "-Ab12Cd"));
  std::ofstream(work_ / "target" / (".vaultwick-part-" + std::to_string(dead) + "-0")) << "part";

  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  KeepDump(request, work_ / "kept.sql");
  BackupOutcome outcome = Run(request, box);
  EXPECT_EQ(outcome.result, BackupResult::Complete);
  EXPECT_EQ(outcome.endText, "Backup complete");
  EXPECT_EQ(outcome.rowsWritten, 503u);
  EXPECT_EQ(outcome.archiveSize, fs::file_size(Archive()));
  auto dump = ReadWholeFile((work_ / "kept.sql").string());
  ASSERT_TRUE(dump);
  ExpectArchiveHolds(Archive(), "shop", *dump);
  EXPECT_TRUE(messages_->Messages().empty());

  TestDatabase restored(server_, "jobrestore");
  ASSERT_TRUE(restored.ok());
  ASSERT_TRUE(restored.RunClient((work_ / "kept.sql").string()));
  std::vector<TableSummary> original, copy;
  ASSERT_TRUE(SummarizeTables(*db_, &original));
  ASSERT_TRUE(SummarizeTables(restored, &copy));
  EXPECT_EQ(original, copy);

  // The next run replaces shop.zip; the archive it replaced becomes the
  // one restore point, the same bytes under a name of its placing time.
  const auto first = ReadWholeFile(Archive().string());
  ASSERT_TRUE(db_->Execute("DELETE FROM item WHERE id > 10"));
  OutcomeBox second;
  request = NewRequest(second);
  KeepDump(request, work_ / "kept2.sql");
  EXPECT_EQ(Run(request, second).rowsWritten, 13u);
  ExpectArchiveHolds(Archive(), "shop", *ReadWholeFile((work_ / "kept2.sql").string()));
  const std::vector<ArchiveFile> archives = ListArchiveFiles((work_ / "target").string(), "shop");
  ASSERT_EQ(archives.size(), 2u);
  EXPECT_EQ(archives[1].path.rfind(RestorePointFolder((work_ / "target").string(), "shop"), 0), 0u);
  EXPECT_EQ(ReadWholeFile(archives[1].path), first);
}

// The dump is packed while it is written, over several compressor segments, and
// the archive is still byte for byte the one packing the finished dump gives.
TEST_F(JobRunTest, ArchiveIsTheOneOfTheFinishedDump) {
  ASSERT_TRUE(
      db_->Execute("CREATE TABLE bulk(id INT PRIMARY KEY, note VARCHAR(120));"
                   "INSERT INTO bulk SELECT seq, CONCAT('note ', seq * 7919 % 100003, ' ',"
                   " REPEAT(CHAR(65 + seq % 26), seq % 60)) FROM seq_1_to_40000;"));
  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  const fs::path kept = work_ / "kept" / "shop.sql";
  fs::create_directory(kept.parent_path());
  request->testHooks.afterDump = [kept](const std::string& dump, const std::string&) {
    fs::create_hard_link(dump, kept);  // the same file, its times untouched
  };
  ASSERT_EQ(Run(request, box).result, BackupResult::Complete);
  EXPECT_GT(fs::file_size(kept), 2u << 20);
  const fs::path again = work_ / "again.zip";
  ASSERT_EQ(ZipSingleFile(kept.c_str(), again.c_str()), ZipResult::Ok);
  EXPECT_TRUE(ReadWholeFile(again.string()) == ReadWholeFile(Archive().string()));
}

TEST_F(JobRunTest, WindowShowsEveryStepInOrderAndFreesAfterClosing) {
  OutcomeBox box;
  auto window = StandInProgressWindow::Open(NewRequest(box), {});
  EXPECT_EQ(box.Wait()->result, BackupResult::Complete);
  EXPECT_EQ(*frees_, 0);
  window->Close();
  window->Join();
  EXPECT_TRUE(window->FreedRequest());
  std::vector<std::string> texts = window->Texts();
  ASSERT_GE(texts.size(), 10u);
  EXPECT_EQ(texts[0], "Connecting...");
  EXPECT_EQ(texts[1], "Getting table list");
  EXPECT_EQ(texts[2], "DESCRIBE `customer`");
  EXPECT_EQ(texts[texts.size() - 3], "SELECT * FROM `item`");
  EXPECT_EQ(texts[texts.size() - 2], "Zipping file");
  EXPECT_EQ(texts.back(), "Backup complete");
}

TEST_F(JobRunTest, ConnectionAndSelectionFailuresEndWithTheirTexts) {
  struct Case {
    const char* what;
    std::function<void(BackupRequest&)> spoil;
    BackupResult result;
    std::string endText;
  };
  const std::string unknown = db_->name() + "_missing";
  const Case cases[] = {
      {"wrong password", [](BackupRequest& r) { r.job.server.password = "wrong"; },
       BackupResult::ConnectFailed, "Can't connect to MySQL server"},
      {"unknown database", [&](BackupRequest& r) { r.job.server.database = unknown; },
       BackupResult::SelectFailed, "Can't select database " + unknown},
      {"nothing listens", [](BackupRequest& r) { r.job.server.host = "127.0.0.1:1"; },
       BackupResult::ConnectFailed, "Can't connect to MySQL server"},
  };
  for (const Case& c : cases) {
    OutcomeBox box;
    CountedRequest* request = NewRequest(box);
    c.spoil(*request);
    BackupOutcome outcome = Run(request, box);
    EXPECT_EQ(outcome.result, c.result) << c.what;
    EXPECT_EQ(outcome.endText, c.endText) << c.what;
  }
  EXPECT_TRUE(fs::is_empty(work_ / "target"));
  EXPECT_TRUE(messages_->Messages().empty());
}

TEST_F(JobRunTest, MissingTargetFolderIsReportedNotCreated) {
  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  request->job.saveTo = (work_ / "missing").string();
  BackupOutcome outcome = Run(request, box);
  EXPECT_EQ(outcome.result, BackupResult::CopyFailed);
  EXPECT_EQ(outcome.endText, "Could not copy file to target directory");
  EXPECT_EQ(outcome.archiveSize, 0u);
  EXPECT_EQ(messages_->Messages(),
            std::vector<std::string>{"Could not copy file to target directory"});
  EXPECT_FALSE(fs::exists(work_ / "missing"));
}

TEST_F(JobRunTest, FailedCopyLeavesTheOlderArchiveWhole) {
  OutcomeBox first;
  ASSERT_EQ(Run(NewRequest(first), first).result, BackupResult::Complete);
  auto older = ReadWholeFile(Archive().string());
  ASSERT_TRUE(db_->Execute("INSERT INTO item SELECT seq, 'later' FROM seq_501_to_900"));

  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  // The copy's writes fail half-way, as on a full disk.
  request->testHooks.beforeCopy = [](const std::string&) { LimitFileSize(512); };
  BackupOutcome outcome = Run(request, box);
  LimitFileSize(RLIM_INFINITY);
  EXPECT_EQ(outcome.result, BackupResult::CopyFailed);
  EXPECT_EQ(messages_->Messages().size(), 1u);
  EXPECT_EQ(ReadWholeFile(Archive().string()), older);
  // No part file, and the archive that stayed is no restore point of itself.
  EXPECT_EQ(ListArchiveFiles((work_ / "target").string(), "shop").size(), 1u);
  for (const auto& entry : fs::directory_iterator(work_ / "target")) {
    EXPECT_TRUE(entry.path() == Archive() || entry.path().filename() == "restore-points")
        << entry.path();
  }
}

// A target folder without room for the archive (a small file system of its
// own) fails before the dump with the room figures, and the archives there
// stay byte for byte as they were.
TEST_F(JobRunTest, TargetWithoutRoomFailsBeforeTheDumpAndTouchesNoArchive) {
  const fs::path small = work_ / "small";
  fs::create_directory(small);
  if (std::system(
          ("mount -t tmpfs -o size=256k tmpfs " + small.string() + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "a tmpfs cannot be mounted here (it needs root)";
  }
  const std::string older(200 * 1024, 'a');
  std::ofstream(small / "shop.zip", std::ios::binary) << older;
  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  request->job.saveTo = small.string();
  std::vector<std::string> texts;  // read once the job has ended
  request->statusEcho =
      std::make_shared<StatusTrigger>([&texts](const std::string& text) { texts.push_back(text); });
  const BackupOutcome outcome = Run(request, box);
  const auto left = ReadWholeFile((small / "shop.zip").string());
  const bool onlyTheArchive = std::distance(fs::directory_iterator(small), {}) == 1;
  EXPECT_EQ(std::system(("umount " + small.string()).c_str()), 0);
  EXPECT_EQ(outcome.result, BackupResult::NoRoom);
  EXPECT_EQ(outcome.endText, "Not enough room for the archive");
  // The last archive's size with a tenth more, and a mebibyte for the file system.
  EXPECT_EQ(outcome.cause.rfind(
                "Not enough room in " + small.string() + ": 1.2 MiB (1273856 bytes) needed, ", 0),
            0u)
      << outcome.cause;
  EXPECT_EQ(texts, (std::vector<std::string>{"Connecting...", outcome.endText}));
  EXPECT_EQ(left, older);
  EXPECT_TRUE(onlyTheArchive);
}

TEST_F(JobRunTest, ArchiveDamagedBeforeTheCopyIsCaughtAndTheOlderOneStays) {
  OutcomeBox first;
  ASSERT_EQ(Run(NewRequest(first), first).result, BackupResult::Complete);
  auto older = ReadWholeFile(Archive().string());

  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  // One bit of the compressed data flipped, as a bad disk or compressor would.
  request->testHooks.beforeCopy = [](const std::string& archive) { FlipBits(archive, 0x10); };
  BackupOutcome outcome = Run(request, box);
  EXPECT_EQ(outcome.result, BackupResult::ArchiveFailed);
  EXPECT_EQ(outcome.endText, "Could not create archive");
  EXPECT_NE(outcome.cause.find("Archive check"), std::string::npos) << outcome.cause;
  EXPECT_EQ(ReadWholeFile(Archive().string()), older);
}

// An encrypted archive opens with its password in independent readers and
// not without; a byte of its encrypted data flipped fails the read-back check
// and keeps the last good archive; a password that cannot be had fails the
// job before anything is written in the clear.
TEST_F(JobRunTest, EncryptedArchiveOpensOnlyWithItsPassword) {
  const fs::path dump = work_ / "dump.sql";
  OutcomeBox first;
  CountedRequest* request = NewRequest(first);
  request->job.archivePassword = "correct horse";
  KeepDump(request, dump);
  BackupOutcome outcome = Run(request, first);
  ASSERT_EQ(outcome.result, BackupResult::Complete) << outcome.cause;
  EXPECT_TRUE(outcome.archiveChecked);
  const std::string archive = Archive().string();
  const std::optional<std::string> older = ReadWholeFile(archive);
  EXPECT_EQ(Capture("bsdtar -xOf " + archive + " --passphrase 'correct horse' shop.sql"),
            ReadWholeFile(dump.string()));
  EXPECT_EQ(Capture("7z x -so -p'correct horse' " + archive + " shop.sql 2>/dev/null"),
            ReadWholeFile(dump.string()));
  for (const std::string& fails : {"bsdtar -xOf " + archive + " --passphrase wrong shop.sql",
                                   "bsdtar -xOf " + archive, "7z x -so -pwrong " + archive}) {
    EXPECT_EQ(Capture(fails + " 2>/dev/null"), std::nullopt) << fails;
  }

  OutcomeBox flipped;
  request = NewRequest(flipped);
  request->job.archivePassword = "correct horse";
  request->testHooks.beforeCopy = [](const std::string& path) { FlipBits(path, 0x01); };
  outcome = Run(request, flipped);
  EXPECT_EQ(outcome.result, BackupResult::ArchiveFailed);
  EXPECT_NE(outcome.cause.find("Archive check"), std::string::npos) << outcome.cause;
  EXPECT_EQ(ReadWholeFile(archive), older);

  OutcomeBox locked;
  request = NewRequest(locked);
  request->job.encryptionUnavailable = "the archive password could not be read: locked";
  outcome = Run(request, locked);
  EXPECT_EQ(outcome.result, BackupResult::ArchiveFailed);
  EXPECT_EQ(outcome.cause, "the archive password could not be read: locked");
  EXPECT_EQ(ReadWholeFile(archive), older);
}

TEST_F(JobRunTest, DumpThatCannotBeWrittenMakesNoArchive) {
  ASSERT_TRUE(db_->Execute("INSERT INTO item SELECT seq, 'more' FROM seq_501_to_3000"));
  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  LimitFileSize(4096);
  BackupOutcome outcome = Run(request, box);
  LimitFileSize(RLIM_INFINITY);
  EXPECT_EQ(outcome.result, BackupResult::DumpWriteFailed);
  EXPECT_EQ(outcome.endText, "Could not write dump file");
  EXPECT_TRUE(fs::is_empty(work_ / "target"));
}

TEST_F(JobRunTest, ArchiveThatCannotBeMadeIsReportedAndNothingCopied) {
  std::ofstream(Archive()) << "older";
  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  request->testHooks.afterDump = [](const std::string&, const std::string& archive) {
    fs::create_directory(archive);  // the archive's path is taken
  };
  BackupOutcome outcome = Run(request, box);
  EXPECT_EQ(outcome.result, BackupResult::ArchiveFailed);
  EXPECT_EQ(outcome.endText, "Could not create archive");
  EXPECT_FALSE(outcome.cause.empty());
  EXPECT_EQ(ReadWholeFile(Archive().string()), "older");
  EXPECT_TRUE(messages_->Messages().empty());
}

TEST_F(JobRunTest, TemporaryFolderThatRefusesTheArchiveIsNamedWithTheSystemsReason) {
  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  // The archive's last writes fail, as in a full temporary folder.
  request->testHooks.afterDump = [](const std::string&, const std::string&) { LimitFileSize(1); };
  BackupOutcome outcome = Run(request, box);
  LimitFileSize(RLIM_INFINITY);
  EXPECT_EQ(outcome.result, BackupResult::ArchiveFailed);
  EXPECT_EQ(outcome.cause.rfind("Error writing to file in " + tmpdir_ + "/vaultwick-", 0), 0u)
      << outcome.cause;
  EXPECT_NE(outcome.cause.find(": File too large"), std::string::npos) << outcome.cause;
  EXPECT_TRUE(fs::is_empty(work_ / "target"));
}

TEST_F(JobRunTest, UnreadableTableStillArchivesButReportsErrors) {
  ASSERT_TRUE(
      db_->Execute("CREATE TABLE gone(x INT); CREATE VIEW broken AS SELECT x FROM gone;"
                   "DROP TABLE gone;"));
  OutcomeBox box;
  BackupOutcome outcome = Run(NewRequest(box), box);
  EXPECT_EQ(outcome.result, BackupResult::CompleteWithErrors);
  EXPECT_EQ(outcome.endText, "Backup complete with errors");
  EXPECT_EQ(outcome.failedTables, std::vector<std::string>{"broken"});
  EXPECT_EQ(outcome.cause.rfind("Not dumped in full: `broken` (View ", 0), 0u) << outcome.cause;
  EXPECT_GT(outcome.archiveSize, 0u);
  EXPECT_TRUE(Capture("python3 " + ReadArchiveScript() + " " + Archive().string()));
}

TEST_F(JobRunTest, ClosingDuringTheRowsCancelsAndLeavesNothing) {
  // Over a million characters of rows first, so that part of the dump is in
  // the file when the window closes.
  ASSERT_TRUE(
      db_->Execute("CREATE TABLE a_filler(id INT, pad CHAR(60));"
                   "INSERT INTO a_filler SELECT seq, REPEAT('f', 60) FROM seq_1_to_20000"));
  std::uintmax_t partial = 0;
  OutcomeBox box;
  auto window = StandInProgressWindow::Open(
      NewRequest(box), {.failToCreate = false, .closeAfterText = [&](const std::string& text) {
                          if (text != "SELECT * FROM `customer`") {
                            return false;
                          }
                          for (const auto& folder : fs::directory_iterator(tmpdir_)) {
                            partial = fs::file_size(folder.path() / "shop.sql");
                          }
                          return true;
                        }});
  BackupOutcome outcome = box.Wait().value_or(BackupOutcome{});
  window->Close();
  window->Join();
  EXPECT_EQ(outcome.result, BackupResult::Cancelled) << ::testing::PrintToString(window->Texts());
  EXPECT_EQ(outcome.endText, "Error occured");
  EXPECT_GT(partial, 1000000u);
  EXPECT_EQ(window->Texts().back(), "SELECT * FROM `customer`");
  EXPECT_FALSE(window->FreedRequest());
  EXPECT_TRUE(fs::is_empty(work_ / "target"));
}

TEST_F(JobRunTest, ClosingAfterTheRowsLetsTheJobFinishSilently) {
  OutcomeBox box;
  auto window = StandInProgressWindow::Open(
      NewRequest(box), {.failToCreate = false, .closeAfterText = [](const std::string& text) {
                          return text == "Zipping file";
                        }});
  EXPECT_EQ(box.Wait()->result, BackupResult::Complete);
  window->Close();
  window->Join();
  EXPECT_EQ(window->Texts().back(), "Zipping file");
  EXPECT_FALSE(window->FreedRequest());
  EXPECT_TRUE(fs::exists(Archive()));
}

// "localhost" alone means the local socket; with a port it must mean TCP to
// that port, never a socket that may belong to another server.
TEST_F(JobRunTest, LocalhostWithAPortConnectsByTcpToThatPort) {
  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  request->job.server.host = "localhost:" + std::to_string(server_.port);
  BackupOutcome outcome = Run(request, box);
  EXPECT_EQ(outcome.result, BackupResult::Complete) << outcome.cause;
}

// Wherever a stop comes, the job ends Stopped at its next step: the older
// archive stays as it was and no temporary file is left.
TEST_F(JobRunTest, StopAtAnyStepLeavesTargetAndTemporaryFolderUntouched) {
  std::ofstream(Archive()) << "older";
  struct Case {
    const char* step;
    std::function<void(BackupRequest&, StopToken)> arm;
  };
  auto atText = [](const std::string& wanted) {
    return [wanted](BackupRequest& request, StopToken stop) {
      request.statusEcho = std::make_shared<StatusTrigger>([wanted, stop](const std::string& text) {
        if (text == wanted) {
          stop.RequestStop();
        }
      });
    };
  };
  const Case cases[] = {
      {"before the start", [](BackupRequest&, auto stop) { stop.RequestStop(); }},
      {"connecting", atText("Connecting...")},
      {"rows", atText("SELECT * FROM `item`")},
      {"archive",
       [](BackupRequest& request, auto stop) {
         request.testHooks.afterDump = [stop](const std::string&, const std::string&) {
           stop.RequestStop();
         };
       }},
      {"copy",
       [](BackupRequest& request, auto stop) {
         request.testHooks.beforeCopy = [stop](const std::string&) { stop.RequestStop(); };
       }},
  };
  for (const Case& c : cases) {
    OutcomeBox box;
    CountedRequest* request = NewRequest(box);
    c.arm(*request, request->stop);
    BackupOutcome outcome = Run(request, box);
    EXPECT_EQ(outcome.result, BackupResult::Stopped) << c.step;
    EXPECT_EQ(outcome.endText, "Error occured") << c.step;
    EXPECT_EQ(outcome.cause, "Stopped on request") << c.step;
    EXPECT_EQ(ReadWholeFile(Archive().string()), "older") << c.step;
    EXPECT_EQ(fs::directory_iterator(work_ / "target")->path(), Archive()) << c.step;
    EXPECT_TRUE(fs::is_empty(tmpdir_)) << c.step;
  }
  EXPECT_TRUE(messages_->Messages().empty());
}

// Holds a write lock on a table of the test database, so that a job's query
// of it waits in the server until the lock is released.
class TableLock {
 public:
  TableLock(const TestDatabase& db, const std::string& table) : db_(db) {
    std::string error;
    connection_ = db.OpenConnection(&error);
    EXPECT_TRUE(connection_ != nullptr) << error;
    std::string lock = "LOCK TABLES `" + table + "` WRITE";
    EXPECT_EQ(mysql_query(connection_, lock.c_str()), 0) << mysql_error(connection_);
  }
  ~TableLock() { mysql_close(connection_); }

  // The id of the connection whose query waits for this lock, once there is
  // one; nullopt when none came within 20 s.
  std::optional<std::string> AwaitWaitingQuery() const {
    const std::string query = "SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" +
                              db_.name() + "' AND STATE = 'Waiting for table metadata lock'";
    for (int attempt = 0; attempt < 2000; ++attempt) {
      std::vector<ResultRow> rows;
      if (db_.Query(query, &rows) && !rows.empty() && rows[0][0]) {
        return *rows[0][0];
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

 private:
  const TestDatabase& db_;
  MYSQL* connection_ = nullptr;
};

// A query the server holds (a locked table) must not hold a stop until the
// read timeout of minutes: the job cuts its connection.
TEST_F(JobRunTest, StopWhileTheServerHoldsAQueryEndsTheJobAtOnce) {
  TableLock lock(*db_, "item");
  OutcomeBox box;
  CountedRequest* request = NewRequest(box);
  const StopToken stop = request->stop;
  std::thread job = StartBackupJob(request);
  EXPECT_TRUE(lock.AwaitWaitingQuery());
  stop.RequestStop();
  std::optional<BackupOutcome> outcome = box.Wait(20);
  job.join();
  ASSERT_TRUE(outcome) << "the stop waited for the server";
  EXPECT_EQ(outcome->result, BackupResult::Stopped);
  EXPECT_FALSE(fs::exists(Archive()));
}

// A dump cut short by the server, killed or past the read timeout, is not a
// backup: nothing is placed, the last archive stays, the server's text says why.
TEST_F(JobRunTest, LostConnectionPlacesNothingAndKeepsTheLastArchive) {
  std::ofstream(Archive()) << "older";
  for (bool killed : {true, false}) {
    TableLock lock(*db_, "item");
    OutcomeBox box;
    CountedRequest* request = NewRequest(box);
    if (!killed) {
      request->job.server.timeouts.readWriteSeconds = 1;
    }
    std::thread job = StartBackupJob(request);
    if (killed) {
      std::optional<std::string> waiting = lock.AwaitWaitingQuery();
      EXPECT_TRUE(waiting && db_->Execute("KILL CONNECTION " + *waiting));
    }
    BackupOutcome outcome = box.Wait().value_or(BackupOutcome{});
    job.join();
    EXPECT_EQ(outcome.result, BackupResult::ServerLost) << killed;
    EXPECT_EQ(outcome.endText, "Error occured");
    EXPECT_NE(outcome.cause.find("connection"), std::string::npos) << outcome.cause;
  }
  EXPECT_EQ(ReadWholeFile(Archive().string()), "older");
}

TEST_F(JobRunTest, JobsAtOnceWithDifferentAndSameNamesAllComplete) {
  const char* names[] = {"alpha", "beta", "shop", "shop"};
  OutcomeBox boxes[4];
  std::thread jobs[4];
  for (int i = 0; i < 4; ++i) {
    CountedRequest* request = NewRequest(boxes[i], names[i]);
    KeepDump(request, work_ / ("dump" + std::to_string(i)));
    jobs[i] = StartBackupJob(request);
    ASSERT_TRUE(jobs[i].joinable());
  }
  for (int i = 0; i < 4; ++i) {
    jobs[i].join();
    auto outcome = boxes[i].Wait();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->result, BackupResult::Complete) << names[i];
  }
  auto dump = ReadWholeFile((work_ / "dump0").string());
  for (const char* name : {"alpha", "beta", "shop"}) {
    ExpectArchiveHolds(Archive(name), name, *dump);
  }
}

}  // namespace
}  // namespace vaultwick::test
