// Which keys of a dump's CREATE TABLE wait until after the table's rows, and
// the two statements that then make the table.

#include "restore/deferred_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/dump_statements.h"

namespace vaultwick {
namespace {

// The statement as the restore gets it: the dump's CR LF lines joined by LF.
std::string AsSplit(const std::string& dump) {
  std::string statement;
  DumpStatementSplitter splitter([&](StatementText& text, std::uint64_t) {
    statement = text.view();
    return true;
  });
  splitter.Feed(dump.data(), dump.size());
  EXPECT_TRUE(splitter.Finish());
  return statement;
}

TEST(DeferredKeys, PlainKeysGoToOneAlterInTheirOrderAndText) {
  const std::optional<DeferredKeys> deferred =
      DeferPlainKeys(AsSplit("CREATE TABLE `t``x`(\r\n"
                             "\t`id` int(11) NOT NULL AUTO_INCREMENT,\r\n"
                             "\t`u` varchar(20) DEFAULT 'KEY `k` (`u`),' ,\r\n"
                             "\t`w` text ,\r\n"
                             "\tPRIMARY KEY (`id`),\r\n"
                             "\tUNIQUE KEY `u` (`u`),\r\n"
                             "\tKEY `w``s` (`w`(10),`u` DESC),\r\n"
                             "\tKEY `u2` (`u`)\r\n"
                             ") AUTO_INCREMENT=7 COLLATE=utf8mb4_bin;\r\n"));
  ASSERT_TRUE(deferred);
  EXPECT_EQ(deferred->create,
            "CREATE TABLE `t``x`(\n"
            "\t`id` int(11) NOT NULL AUTO_INCREMENT,\n"
            "\t`u` varchar(20) DEFAULT 'KEY `k` (`u`),' ,\n"
            "\t`w` text ,\n"
            "\tPRIMARY KEY (`id`),\n"
            "\tUNIQUE KEY `u` (`u`)\n"
            ") AUTO_INCREMENT=7 COLLATE=utf8mb4_bin");
  EXPECT_EQ(deferred->addKeys,
            "ALTER TABLE `t``x` ADD KEY `w``s` (`w`(10),`u` DESC), ADD KEY `u2` (`u`)");

  const std::optional<DeferredKeys> onlyKey =
      DeferPlainKeys("CREATE TABLE `t`(\n\t`a` int ,\n\tKEY `a` (`a`)\n)");
  ASSERT_TRUE(onlyKey);
  EXPECT_EQ(onlyKey->create, "CREATE TABLE `t`(\n\t`a` int \n)");
  EXPECT_EQ(onlyKey->addKeys, "ALTER TABLE `t` ADD KEY `a` (`a`)");
}

// Each of these is sent whole: its keys are not certainly the same when
// added afterwards, or the statement does not read with certainty.
TEST(DeferredKeys, WhatIsNotCertainStaysWhole) {
  const std::string head = "CREATE TABLE `t`(\n\t`a` int ,\n\t`b` text ,\n";
  const std::vector<std::string> whole = {
      head + "\tPRIMARY KEY (`a`)\n)",  // no plain key
      head + "\tKEY `a` (`a`)\n) ENGINE=MyISAM",
      head + "\tKEY `a` (`a`)\n)\n PARTITION BY HASH (`a`)\nPARTITIONS 2",
      head + "\tKEY `a` (`a`),\n\tCONSTRAINT `f` FOREIGN KEY (`a`) REFERENCES `p` (`a`)\n)",
      head + "\tKEY `a` (`a`)\n) WITH SYSTEM VERSIONING",
      // A plain key before one that is not: its place would change.
      head + "\tKEY `a` (`a`),\n\tFULLTEXT `b` (`b`)\n)",
      head + "\tKEY `a` (`a`),\n\tKEY `b` (`b`(5)) COMMENT 'x'\n)",
      head + "\tKEY `a` (`a`),\n\tKEY `b` (`b`(5)) IGNORED\n)",
      head + "\tKEY `a` (`a`) USING HASH\n)",
      // Quoted text across lines, read with or without backslash escapes.
      "CREATE TABLE `t`(\n\t`a` int DEFAULT 'x\n\tKEY `a` (`a`)\n)",
      "CREATE TABLE `t`(\n\t`a` int DEFAULT 'x\\',\n\tKEY `a` (`a`)\n) COMMENT='y'",
      head + "\tKEY `a` (`a`) /* x */\n)",
      head + "\tKEY `a` (`a`) -- x\n)",
      head + "\tKEY `a` (`a`(x))\n)",
      head + "\tKEY `a` (`a`),\n)",
      "CREATE TABLE `t` (\n\t`a` int ,\n\tKEY `a` (`a`)\n)",
      "CREATE TABLE `t`(\n\tKEY `a` (`a`)\n)",
  };
  for (const std::string& statement : whole) {
    EXPECT_FALSE(DeferPlainKeys(statement)) << statement;
  }
}

}  // namespace
}  // namespace vaultwick
