// `vaultwick offsite` called in-process, with a folder of this machine as the
// remote (rclone takes a plain path for one) or a remote rclone does not know.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "cli/connections_command.h"
#include "cli/offsite_command.h"
#include "tests/cli/command_call.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

class OffsiteCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // An empty configuration: nothing of the user's is read.
    WriteFileBytes(config_, "");
    std::filesystem::create_directory(remote_);
  }
  CommandRun Offsite(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--store", store_});
    return Call(RunOffsiteCommand, std::move(arguments));
  }
  CommandRun Connections(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--store", store_});
    return Call(RunConnectionsCommand, std::move(arguments));
  }

  ScratchFolder scratch_;
  std::string store_ = scratch_.File("s.sqlite");
  std::string config_ = scratch_.File("rclone.conf");
  std::string remote_ = scratch_.File("remote");
};

TEST_F(OffsiteCommandTest, SetShowClearAndTheWarningAboutUnencryptedConnections) {
  EXPECT_EQ(Offsite({"show"}).out, "remote: -\n");
  ASSERT_EQ(Connections({"add", "shop"}).status, 0);
  ASSERT_EQ(Connections({"add", "crm"}).status, 0);
  ASSERT_EQ(Connections({"set", "crm", "--encrypt"}).status, 0);

  CommandRun missing = Offsite({"set", "vault:db", "--config", scratch_.File("none.conf")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("configuration file does not exist"), std::string::npos);
  EXPECT_EQ(Offsite({"show"}).out, "remote: -\n");

  // A relative configuration file is kept absolute: the scheduler runs elsewhere.
  const std::string here = std::filesystem::current_path();
  ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
  CommandRun set = Offsite({"set", "vault:db", "--config", "rclone.conf"});
  ASSERT_EQ(chdir(here.c_str()), 0);
  EXPECT_EQ(set.status, 0) << set.err;
  const std::string shown = "remote: vault:db\nconfig: " + config_ +
                            "\nwarning: Archives sent off-site unencrypted: shop\n";
  EXPECT_EQ(set.out, shown);
  EXPECT_EQ(Offsite({"show"}).out, shown);

  ASSERT_EQ(Connections({"set", "shop", "--encrypt"}).status, 0);
  EXPECT_EQ(Offsite({"set", "vault:db"}).out, "remote: vault:db\nconfig: rclone's default\n");

  EXPECT_EQ(Offsite({"clear"}).status, 0);
  EXPECT_EQ(Offsite({"show"}).out, "remote: -\n");

  for (std::vector<std::string> usage : {std::vector<std::string>{"set"},
                                         {"show", "vault:db"},
                                         {"clear", "--config", "x"},
                                         {"go"}}) {
    EXPECT_EQ(Offsite(usage).status, 2) << usage[0];
  }
}

TEST_F(OffsiteCommandTest, CheckProvesTheRemoteOrSaysWhatFailedInRclonesWords) {
  CommandRun none = Offsite({"check"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "vaultwick offsite: no off-site remote is set\n");

  ASSERT_EQ(Offsite({"set", remote_, "--config", config_}).status, 0);
  CommandRun works = Offsite({"check"});
  EXPECT_EQ(works.status, 0) << works.err;
  EXPECT_EQ(works.out, remote_ + " works: a file was written, listed, read back and deleted\n");
  EXPECT_TRUE(std::filesystem::is_empty(remote_)) << "the check's file stays behind";

  ASSERT_EQ(Offsite({"set", "vwnosuch:vault", "--config", config_}).status, 0);
  CommandRun unknown = Offsite({"check"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(
      unknown.err.rfind("vaultwick offsite: vwnosuch:vault: Could not write to the remote: ", 0),
      0u)
      << unknown.err;
  EXPECT_NE(unknown.err.find("didn't find section in config file"), std::string::npos);
}

}  // namespace
}  // namespace vaultwick::test
