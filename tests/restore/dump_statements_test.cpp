// Splitting a dump into statements, and the parts of a statement the restore
// looks at, on text written the way the dump writes it.

#include "restore/dump_statements.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vaultwick {
namespace {

using Split = std::vector<std::pair<std::string, std::uint64_t>>;

// Feeds `dump` in pieces of `piece` bytes; returns the statements and lines.
Split SplitDump(const std::string& dump, std::size_t piece, bool* finished = nullptr) {
  Split statements;
  DumpStatementSplitter splitter([&](std::string_view statement, std::uint64_t line) {
    statements.emplace_back(std::string(statement), line);
    return true;
  });
  for (std::size_t at = 0; at < dump.size(); at += piece) {
    splitter.Feed(dump.data() + at, std::min(piece, dump.size() - at));
  }
  const bool ended = splitter.Finish();
  if (finished != nullptr) {
    *finished = ended;
  }
  return statements;
}

TEST(DumpStatements, SplitsAtLineEndsAfterTheDelimiterWhateverThePieces) {
  const std::string dump =
      "SET NAMES utf8mb4;\r\n"
      "\r\n"
      "CREATE TABLE `t`(\r\n"
      "\t`v` text ,\r\n"
      "\t`w` int\r\n"
      ");\r\n"
      "INSERT INTO `t` VALUES('a;\\r\\nb;',NULL);\r\n"
      "INSERT INTO `t` VALUES('ends in a semicolon;',NULL) ;  \r\n"
      "-- a comment line between statements\r\n"
      "DELIMITER ;;\r\n"
      "CREATE PROCEDURE `p`()\r\n"
      "BEGIN\r\n"
      "  SELECT 1; -- it's\r\n"
      "  SELECT '\r\r\n"
      "';\r\n"
      "END;;\r\n"
      "delimiter ;\r\n"
      ";\r\n"
      "COMMIT;";
  const Split expected = {
      {"SET NAMES utf8mb4", 1},
      {"CREATE TABLE `t`(\n\t`v` text ,\n\t`w` int\n)", 3},
      {"INSERT INTO `t` VALUES('a;\\r\\nb;',NULL)", 7},
      {"INSERT INTO `t` VALUES('ends in a semicolon;',NULL) ", 8},
      // A CR that was part of the text before the dump's CR LF stays.
      {"CREATE PROCEDURE `p`()\nBEGIN\n  SELECT 1; -- it's\n  SELECT '\r\n';\nEND", 11},
      {"COMMIT", 19},
  };
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, dump.size()}) {
    bool finished = false;
    EXPECT_EQ(SplitDump(dump, piece, &finished), expected) << piece;
    EXPECT_TRUE(finished) << piece;
  }
}

TEST(DumpStatements, ADumpCutInsideAStatementIsNoWholeDump) {
  bool finished = true;
  Split statements;
  DumpStatementSplitter splitter([&](std::string_view statement, std::uint64_t line) {
    statements.emplace_back(std::string(statement), line);
    return statements.size() < 2;  // the sink stops the splitting
  });
  const std::string dump = "A;\r\nB;\r\nC;\r\n";
  EXPECT_FALSE(splitter.Feed(dump.data(), dump.size()));
  EXPECT_EQ(statements.size(), 2u);

  SplitDump("SET a = 1;\r\nINSERT INTO `t` VALUES('cut", 5, &finished);
  EXPECT_FALSE(finished);
  DumpStatementSplitter cut([](std::string_view, std::uint64_t) { return true; });
  const std::string text = "SET a = 1;\r\nDELIMITER ;;\r\nCREATE PROCEDURE p() BEGIN SELECT 1;\r\n";
  cut.Feed(text.data(), text.size());
  EXPECT_FALSE(cut.Finish());
  EXPECT_EQ(cut.UnfinishedLine(), 3u);
}

TEST(DumpStatements, RowInsertsAreCutIntoHeadAndRow) {
  auto split = [](std::string_view statement) {
    std::optional<RowInsert> insert = SplitRowInsert(statement);
    return insert ? std::string(insert->head) + "|" + std::string(insert->table) + "|" +
                        std::string(insert->row)
                  : std::string("none");
  };
  EXPECT_EQ(split("INSERT INTO `t` VALUES('1',NULL)"), "INSERT INTO `t` VALUES|`t`|('1',NULL)");
  EXPECT_EQ(split("INSERT INTO `a``b` (`x`,`y ``z`) VALUES(X'00',')')"),
            "INSERT INTO `a``b` (`x`,`y ``z`) VALUES|`a``b`|(X'00',')')");
  // A name that holds the words the head ends with.
  EXPECT_EQ(split("INSERT INTO `x VALUES(` VALUES('5')"),
            "INSERT INTO `x VALUES(` VALUES|`x VALUES(`|('5')");
  for (const char* other :
       {"INSERT INTO t VALUES(1)", "INSERT INTO `t` SELECT * FROM u", "INSERT INTO `t` VALUES",
        "INSERT INTO `t", "INSERT INTO `t` (`a` VALUES(1)", "REPLACE INTO `t` VALUES(1)",
        "SET a = 1"}) {
    EXPECT_EQ(split(other), "none") << other;
  }
}

TEST(DumpStatements, TheTableACreateTableMakes) {
  EXPECT_EQ(CreatedTable("CREATE TABLE `a``b(`(\n\t`x` int\n)"), "`a``b(`");
  for (const char* other : {"CREATE TABLE t (x int)", "CREATE TABLE `t", "CREATE SEQUENCE `s`",
                            "CREATE VIEW `TABLE` AS SELECT 1", "ALTER TABLE `t` ADD KEY (`a`)"}) {
    EXPECT_EQ(CreatedTable(other), std::nullopt) << other;
  }
}

// What a staging load leaves behind: tables and sequences move with their
// rows; everything else the dump makes is made again in the target.
TEST(DumpStatements, WhatIsMadeAgainInTheTarget) {
  const struct {
    const char* statement;
    bool remade;
  } cases[] = {
      {"CREATE TABLE `t``1`(\n\t`a` int\n)", false},
      {"CREATE SEQUENCE `s` start with 1", false},
      {"CREATE TABLE `VIEW`(\n\t`a` int\n)", false},
      {"CREATE ALGORITHM=UNDEFINED SQL SECURITY DEFINER VIEW `v` AS select `t`.`a` from `t`", true},
      {"CREATE PROCEDURE `p`(IN a INT)\nBEGIN SELECT a; END", true},
      {"CREATE FUNCTION `f`() RETURNS int(11)\n    DETERMINISTIC\nRETURN 1", true},
      {"CREATE EVENT `e` ON SCHEDULE EVERY 1 DAY DO SELECT 1", true},
      {"CREATE PACKAGE BODY `pk` AS FUNCTION net(g INT) RETURN INT AS BEGIN RETURN 1; END; END",
       true},
      {"CREATE TRIGGER tr BEFORE INSERT ON `t` FOR EACH ROW SET NEW.a = 1", true},
      {"SET sql_mode = 'ANSI_QUOTES'", true},
      {"ALTER DATABASE CHARACTER SET latin1 COLLATE latin1_swedish_ci", true},
      {"ALTER TABLE `t` ADD KEY (`a`)", false},
      {"INSERT INTO `t` VALUES('CREATE VIEW `x`')", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MadeAgainInTarget(c.statement), c.remade) << c.statement;
  }
}

}  // namespace
}  // namespace vaultwick
