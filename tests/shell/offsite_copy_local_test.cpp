// The off-site step's choices, against a remote that is a folder of this
// machine (an rclone alias, so that one remote name can fail and then work):
// what waits, what is sent, in which order, what is never sent, and what
// the keep policy may delete there.

#include <gtest/gtest.h>

#include "tests/shell/offsite_fixture.h"

namespace vaultwick::test {
namespace {

class OffsiteLocalTest : public OffsiteFixture {
 protected:
  void SetUp() override {
    OffsiteFixture::SetUp();
    std::filesystem::create_directories(folder_);
    Reachable(true);
    UseRemote({"vwlocal:vault", config_, "rclone"});
  }

  // Whether rclone's configuration names the remote; without it every call
  // fails, as with a server that cannot be reached.
  void Reachable(bool reachable) {
    WriteFileBytes(config_, reachable ? "[vwlocal]\ntype = alias\nremote = " + folder_ + "\n" : "");
  }

  std::string config_ = scratch_.File("rclone.conf");
  std::string folder_ = scratch_.File("remote");
};

TEST_F(OffsiteLocalTest, NothingGoesWithoutARemoteOrAPlacedAndCheckedArchive) {
  HistoryRow placed = Place(100);
  HistoryRow failed = placed;
  failed.result = BackupResultName(BackupResult::ConnectFailed);
  EXPECT_EQ(Offsite(failed).offsite, "");
  HistoryRow unchecked = placed;
  unchecked.archiveChecked = false;
  EXPECT_EQ(Offsite(unchecked).offsite, "");
  ASSERT_TRUE(SaveOffsiteSettings(*store_, {}));
  EXPECT_EQ(Offsite(placed).offsite, "");
  EXPECT_TRUE(Copies().empty());
}

TEST_F(OffsiteLocalTest, AFailedCopyWaitsAndTheNextRunSendsWhatIsStillKeptOldestFirst) {
  Reachable(false);
  HistoryRow unencrypted = Run();
  const std::string plain = LastFile();
  EXPECT_EQ(unencrypted.offsite, kOffsiteFailed);
  EXPECT_NE(unencrypted.offsiteDetail.find("didn't find section in config file"), std::string::npos)
      << unencrypted.offsiteDetail;
  Run();
  const std::string gone = LastFile();
  EXPECT_EQ(Copies(), (std::vector<std::pair<std::string, bool>>{{plain, false}, {gone, false}}));
  // The point of the second run is no longer kept here, and the connection
  // encrypts its archives from now on.
  Place(100);
  ASSERT_TRUE(std::filesystem::remove(RestorePointFolder(target_, "shop") + "/" + gone));
  ASSERT_EQ(SetArchiveEncryption(*store_, "shop", true, std::nullopt), ChangeResult::Done);
  HistoryRow encrypted = Offsite(Place(100), true);
  const std::string older = LastFile();
  EXPECT_EQ(encrypted.offsite, kOffsiteFailed);
  EXPECT_EQ(
      encrypted.offsiteDetail.rfind("not sent, made before archives were encrypted: " + plain +
                                        "\nnot sent, no longer kept here: " + gone + "\n",
                                    0),
      0u)
      << encrypted.offsiteDetail;

  Reachable(true);
  HistoryRow sent = Offsite(Place(100), true);
  EXPECT_EQ(sent.offsite, kOffsiteCopied);
  EXPECT_EQ(sent.offsiteDetail, "sent: " + older + "\nsent: " + LastFile());
  EXPECT_EQ(Copies(),
            (std::vector<std::pair<std::string, bool>>{{older, true}, {LastFile(), true}}));
  EXPECT_EQ(RemoteFiles(), (std::vector<std::string>{older, LastFile()}));
}

TEST_F(OffsiteLocalTest, TheKeepPolicyDeletesOnlyCopiesItMadeAndOnlyAfterASuccessfulCopy) {
  ASSERT_EQ(SetKeepPolicy(*store_, "shop", KeepPolicy{0, 0, 0, 0}), ChangeResult::Done);
  // Files the store did not make: a note and a name of ours.
  std::filesystem::create_directories(folder_ + "/vault/shop");
  const std::string foreign = "shop-20000101T000000Z.zip";
  WriteFileBytes(folder_ + "/vault/shop/" + foreign, "not ours");
  WriteFileBytes(folder_ + "/vault/shop/notes.txt", "notes");

  Run();
  const std::string first = LastFile();
  Reachable(false);
  Run();
  const std::string second = LastFile();
  Reachable(true);
  EXPECT_EQ(RemoteFiles(), (std::vector<std::string>{"notes.txt", foreign, first}));

  HistoryRow third = Run();
  EXPECT_EQ(third.offsiteDetail, "not sent, the keep policy lets it go: " + second +
                                     "\nsent: " + LastFile() + "\ndeleted: " + first);
  EXPECT_EQ(RemoteFiles(), (std::vector<std::string>{"notes.txt", foreign, LastFile()}));
  EXPECT_EQ(Copies(), (std::vector<std::pair<std::string, bool>>{{LastFile(), true}}));
}

}  // namespace
}  // namespace vaultwick::test
