#include "tests/support/stored_test_database.h"

#include <optional>
#include <utility>

#include "shell/target_folder.h"

namespace vaultwick::test {

StoredTestDatabase::StoredTestDatabase(const TestServer& server, Setup setup)
    : setup_(std::move(setup)), database_(server, setup_.tag) {
  if (!database_.ok()) {
    made_ = ::testing::AssertionFailure() << database_.error();
    return;
  }
  made_ = database_.Execute(setup_.sql);
  if (made_) {
    made_ = Store();
  }
}

std::string StoredTestDatabase::ArchivePath() const {
  return targetFolder_ + "/" + setup_.connection + ".zip";
}

ConnectionProfile StoredTestDatabase::Profile() const {
  return {setup_.connection, LoginTo(database_.server(), database_.name()), setup_.startHour,
          setup_.periodHours};
}

::testing::AssertionResult StoredTestDatabase::Store() const {
  const std::optional<std::string> folder = CheckTargetFolder(targetFolder_);
  if (!folder) {
    return ::testing::AssertionFailure() << "no target folder " << targetFolder_;
  }
  const std::unique_ptr<SettingsStore> store = OpenStore();
  SaveTargetFolder(*store, *folder);
  ChangeResult result = AddConnectionNamed(*store, setup_.connection);
  if (result == ChangeResult::Done) {
    result = ApplyConnectionChanges(*store, setup_.connection, Profile());
  }
  if (result != ChangeResult::Done) {
    return ::testing::AssertionFailure() << ChangeResultText(result);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace vaultwick::test
