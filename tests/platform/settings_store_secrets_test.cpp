// Where the settings store keeps passwords when a keyring fails, is locked,
// or loses an item, and what renames and removals do to the items; the
// keyring is a fake the test sets (a real one: keyring_test.cpp).

#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "tests/platform/fake_keyring.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

ConnectionRow Row(const std::string& name, const std::string& password,
                  const std::string& archivePassword) {
  ConnectionRow row;
  row.name = name;
  row.server.password = password;
  row.archivePassword = archivePassword;
  return row;
}

class SettingsStoreSecretsTest : public ::testing::Test {
 protected:
  std::unique_ptr<SettingsStore> Open() {
    return SettingsStore::Open(path_, std::make_unique<FakeKeyring>(keyring_));
  }

  ScratchFolder scratch_;
  std::string path_ = scratch_.File("settings.sqlite");
  std::shared_ptr<FakeKeyringState> keyring_ = std::make_shared<FakeKeyringState>();
};

TEST_F(SettingsStoreSecretsTest, PasswordsWaitInTheFileUntilTheKeyringTakesThem) {
  auto store = Open();
  const KeyringState states[] = {KeyringState::Absent, KeyringState::Locked, KeyringState::Open};
  for (KeyringState state : states) {
    keyring_->state = state;
    keyring_->refuseStores = state == KeyringState::Open;
    const std::string name = "shop" + std::to_string(static_cast<int>(state));
    ASSERT_TRUE(store->InsertConnection(Row(name, "pw-" + name, "ak-" + name)));
    std::optional<ConnectionRow> read = store->ReadConnection(name);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->secretsInKeyring);
    EXPECT_EQ(read->server.password, "pw-" + name);
    EXPECT_EQ(read->archivePassword, "ak-" + name);
  }
  // A refused store left no half pair behind.
  EXPECT_TRUE(keyring_->items.empty());

  keyring_->state = KeyringState::Open;
  keyring_->refuseStores = false;
  for (const std::string& name : store->ConnectionNames()) {
    std::optional<ConnectionRow> read = store->ReadConnection(name);
    EXPECT_TRUE(read->secretsInKeyring);
    EXPECT_EQ(read->server.password, "pw-" + name);
    ASSERT_NE(keyring_->Find(name, SecretKind::ArchivePassword), nullptr);
    EXPECT_EQ(*keyring_->Find(name, SecretKind::ArchivePassword), "ak-" + name);
  }
  // Nor does the file keep them in its free space or its log.
  for (const std::string& file : {path_, path_ + "-wal"}) {
    EXPECT_EQ(FileBytes(file).find("pw-shop"), std::string::npos) << file;
  }
}

TEST_F(SettingsStoreSecretsTest, RenamesAndRemovalsTakeTheItemsAlong) {
  auto store = Open();
  ASSERT_TRUE(store->InsertConnection(Row("Shop", "pw", "ak")));
  ASSERT_TRUE(store->InsertConnection(Row("Depot", "pw2", "ak2")));

  // What the shell's Apply does: the old row out, the changed one in.
  auto rename = [&](const std::string& from, const std::string& to) {
    store->WriteTransaction([&] {
      ConnectionRow row = *store->ReadConnection(from);
      row.name = to;
      store->DeleteConnection(from);
      store->InsertConnection(row);
    });
  };
  rename("Shop", "SHOP");  // letter case only: the same items
  EXPECT_EQ(store->ReadConnection("shop")->server.password, "pw");
  rename("shop", "Market");
  EXPECT_EQ(keyring_->Find("shop", SecretKind::ConnectionPassword), nullptr);
  EXPECT_EQ(store->ReadConnection("Market")->archivePassword, "ak");

  // A change that fails keeps the items the restored row needs.
  EXPECT_THROW(store->WriteTransaction([&] {
    store->DeleteConnection("Depot");
    throw SettingsStoreError("failed on purpose");
  }),
               SettingsStoreError);
  EXPECT_EQ(store->ReadConnection("Depot")->server.password, "pw2");

  EXPECT_TRUE(store->DeleteConnection("Depot"));
  EXPECT_EQ(keyring_->Find("depot", SecretKind::ConnectionPassword), nullptr);
  EXPECT_EQ(keyring_->items.size(), 2u);  // Market's
}

TEST_F(SettingsStoreSecretsTest, PasswordsThatCannotBeReadAreSaidSoAndNeverOverwritten) {
  auto store = Open();
  ASSERT_TRUE(store->InsertConnection(Row("Shop", "pw", "ak")));

  keyring_->state = KeyringState::Locked;
  std::optional<ConnectionRow> locked = store->ReadConnection("Shop");
  EXPECT_TRUE(locked->secretsInKeyring);
  EXPECT_EQ(locked->server.password, "");
  EXPECT_NE(locked->secretsUnavailable.find("cannot read the passwords of connection Shop: "
                                            "the desktop keyring is locked"),
            std::string::npos)
      << locked->secretsUnavailable;
  locked->start = 5;
  EXPECT_THROW(store->WriteTransaction([&] {
    store->DeleteConnection("Shop");
    store->InsertConnection(*locked);
  }),
               SettingsStoreError);

  keyring_->state = KeyringState::Open;
  std::optional<ConnectionRow> open = store->ReadConnection("Shop");
  EXPECT_EQ(open->server.password, "pw");
  EXPECT_EQ(open->start, 0);

  keyring_->items.erase(keyring_->items.begin());
  EXPECT_NE(store->ReadConnection("Shop")->secretsUnavailable.find("no longer holds them"),
            std::string::npos);
  // Without a keyring, the row still says where its passwords are.
  EXPECT_NE(SettingsStore::Open(path_)->ReadConnection("Shop")->secretsUnavailable.find(
                "which this program does not use"),
            std::string::npos);
}

}  // namespace
}  // namespace vaultwick::test
