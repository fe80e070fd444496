// The settings store's passwords in a real desktop keyring: this program
// runs under scripts/keyring, which gives it a GNOME Keyring of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/settings_store.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

struct Secrets {
  std::string name;
  std::string password;
  std::string archivePassword;
};

// Passwords no other bytes of the file could happen to hold.
const Secrets kConnections[] = {
    {"Shop", "pw-Shop-7Rq2 ÿ€ with spaces", "ak-Shop-c0ffee"},
    {"Depot", "pw-Depot-Kx91", ""},
};

void Insert(SettingsStore& store, const Secrets& secrets) {
  ConnectionRow row;
  row.name = secrets.name;
  row.server.password = secrets.password;
  row.archivePassword = secrets.archivePassword;
  ASSERT_TRUE(store.InsertConnection(row));
}

void ExpectPasswords(SettingsStore& store, const Secrets& secrets, bool inKeyring) {
  std::optional<ConnectionRow> row = store.ReadConnection(secrets.name);
  ASSERT_TRUE(row);
  EXPECT_EQ(row->secretsUnavailable, "");
  EXPECT_EQ(row->secretsInKeyring, inKeyring) << secrets.name;
  EXPECT_EQ(row->server.password, secrets.password);
  EXPECT_EQ(row->archivePassword, secrets.archivePassword);
}

// Whether any of the store's files holds the password's bytes.
bool FilesHold(const std::string& path, const std::string& password) {
  for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
    if (FileBytes(file).find(password) != std::string::npos) {
      return true;
    }
  }
  return false;
}

class KeyringTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenDesktopKeyring()->State(), KeyringState::Open); }

  KeyringItem Item(const std::string& connection, SecretKind kind) {
    char* real = ::realpath(path_.c_str(), nullptr);
    KeyringItem item{real, connection, kind};
    std::free(real);
    return item;
  }

  ScratchFolder scratch_;
  std::string path_ = scratch_.File("settings.sqlite");
};

TEST_F(KeyringTest, PasswordsGoFromTheFileToTheKeyringAndBack) {
  {
    auto store = SettingsStore::Open(path_);
    for (const Secrets& secrets : kConnections) {
      Insert(*store, secrets);
    }
  }
  ASSERT_TRUE(FilesHold(path_, kConnections[0].password));

  // Opened through another spelling of its path: the items name the file.
  ASSERT_EQ(::symlink(scratch_.path().c_str(), scratch_.File("link").c_str()), 0);
  {
    auto store = SettingsStore::Open(scratch_.File("link/settings.sqlite"), OpenDesktopKeyring());
    for (const Secrets& secrets : kConnections) {
      ExpectPasswords(*store, secrets, true);
    }
    const Secrets added{"Market", "pw-Market-never-in-the-file", "ak-Market-nor-this"};
    Insert(*store, added);
    ExpectPasswords(*store, added, true);
    for (const std::string& password : {kConnections[0].password, kConnections[1].password,
                                        added.password, added.archivePassword}) {
      EXPECT_FALSE(FilesHold(path_, password)) << password;
    }
  }
  EXPECT_EQ(OpenDesktopKeyring()->Lookup(Item("shop", SecretKind::ArchivePassword)),
            kConnections[0].archivePassword);

  {
    auto store = SettingsStore::Open(path_, OpenDesktopKeyring());
    store->WriteText(settings::kPasswordsIn, settings::kPasswordsInStore);
    for (const Secrets& secrets : kConnections) {
      ExpectPasswords(*store, secrets, false);
    }
  }
  EXPECT_EQ(OpenDesktopKeyring()->Lookup(Item("shop", SecretKind::ConnectionPassword)),
            std::nullopt);
  auto withoutKeyring = SettingsStore::Open(path_);
  for (const Secrets& secrets : kConnections) {
    ExpectPasswords(*withoutKeyring, secrets, false);
  }
}

TEST(KeyringLockedTest, ALockedKeyringIsNamedAndNothingIsLost) {
  ScratchFolder scratch;
  const std::string path = scratch.File("settings.sqlite");
  auto store = SettingsStore::Open(path, OpenDesktopKeyring());
  Insert(*store, kConnections[0]);

  const std::string lock =
      std::string(std::getenv("VAULTWICK_SOURCE_DIR")) + "/scripts/keyring lock";
  ASSERT_EQ(std::system(lock.c_str()), 0);
  EXPECT_EQ(OpenDesktopKeyring()->State(), KeyringState::Locked);

  std::optional<ConnectionRow> row = store->ReadConnection("Shop");
  EXPECT_EQ(row->secretsUnavailable,
            "cannot read the passwords of connection Shop: the desktop keyring is locked (it "
            "opens when you log in to the desktop)");
  EXPECT_THROW(store->WriteTransaction([&] {
    store->DeleteConnection("Shop");
    store->InsertConnection(*row);
  }),
               SettingsStoreError);

  // A connection made meanwhile keeps its passwords in the file until the keyring opens.
  Insert(*store, kConnections[1]);
  ExpectPasswords(*SettingsStore::Open(path), kConnections[1], false);
}

}  // namespace
}  // namespace vaultwick::test
