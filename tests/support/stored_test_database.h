#pragma once

// A database on the private server as a user keeps it, for the suites that
// back it up from end to end (the scheduler, the commands, the desktop
// program): a scratch database with rows in it, and a store of its own that
// holds a connection reaching it and a target folder for its archives.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/settings_store.h"
#include "shell/connections.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_database.h"

namespace vaultwick::test {

class StoredTestDatabase {
 public:
  struct Setup {
    std::string tag;         // part of the scratch database's name
    std::string sql;         // fills the database
    std::string connection;  // the stored connection's name
    int startHour = 0;
    int periodHours = 24;
  };

  // Makes the database and the store (in a scratch folder, with the target
  // folder "arch" in it); Ready() says whether that worked.
  StoredTestDatabase(const TestServer& server, Setup setup);

  ::testing::AssertionResult Ready() const { return made_; }

  const TestDatabase& database() const { return database_; }
  const ScratchFolder& scratch() const { return scratch_; }
  const std::string& storePath() const { return storePath_; }
  std::unique_ptr<SettingsStore> OpenStore() const { return SettingsStore::Open(storePath_); }
  const std::string& targetFolder() const { return targetFolder_; }
  // Where a backup of the connection places its archive.
  std::string ArchivePath() const;
  // The connection as it is stored.
  ConnectionProfile Profile() const;

 private:
  ::testing::AssertionResult Store() const;

  const Setup setup_;
  TestDatabase database_;
  ScratchFolder scratch_;
  const std::string storePath_ = scratch_.File("s.sqlite");
  const std::string targetFolder_ = scratch_.File("arch");
  ::testing::AssertionResult made_ = ::testing::AssertionSuccess();
};

}  // namespace vaultwick::test
