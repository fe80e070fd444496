// The dump's text pieces without a server: escaping, identifiers and the
// rebuilt CREATE TABLE statement in the shapes the server can hand over.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "backup/dump_create_table_internal.h"
#include "backup/dump_file_appender_internal.h"
#include "backup/dump_metadata_internal.h"
#include "backup/dump_privileges_internal.h"
#include "backup/dump_sql_text_internal.h"
#include "backup/dump_stored_objects_internal.h"
#include "tests/support/test_database.h"

namespace vaultwick::dump {
namespace {

std::string Escaped(std::string_view value) {
  std::string text;
  AppendEscapedValue(text, value.data(), value.size());
  return text;
}

TEST(DumpSqlText, EscapesOnlyWhatAClientWouldMisread) {
  EXPECT_EQ(Escaped("O'Hara"), "O\\'Hara");
  EXPECT_EQ(Escaped("Smith\\Jones"), "Smith\\\\Jones");
  EXPECT_EQ(Escaped("'"), "\\'");
  EXPECT_EQ(Escaped("ends\\"), "ends\\\\");
  EXPECT_EQ(Escaped(std::string_view("a\0b\nc\rd\x1A"
                                     "e",
                                     9)),
            "a\\0b\\nc\\rd\\Ze");
  EXPECT_EQ(Escaped("tab\t\"quote\" \xF0\x9F\x98\x80 \xFF"),
            "tab\t\"quote\" \xF0\x9F\x98\x80 \xFF");
  EXPECT_EQ(Escaped(""), "");
}

TEST(DumpSqlText, QuotesIdentifiersDoublingBackticks) {
  EXPECT_EQ(QuotedIdentifier("plain"), "`plain`");
  EXPECT_EQ(QuotedIdentifier("with space"), "`with space`");
  EXPECT_EQ(QuotedIdentifier("a`b``"), "`a``b`````");
}

TEST(DumpSqlText, InsertWritesNullBareAndEverythingElseQuotedOrInHex) {
  const char* values[] = {"1", nullptr, "", "x\0y", "\xF0\x40'", "", nullptr};
  unsigned long lengths[] = {1, 0, 0, 3, 3, 0, 0};
  std::string text;
  EXPECT_TRUE(AppendInsertStatement(text, "INSERT INTO `t` VALUES(", values, lengths, 7,
                                    {false, false, false, false, true, true, true}, 1000, nullptr));
  EXPECT_EQ(text, "INSERT INTO `t` VALUES('1',NULL,'','x\\0y',X'F04027',X'',NULL);\n");
}

// A huge value must never sit in memory whole, escaped beside the client's
// copy; ordinary statements must never be split (a cancelled dump keeps only
// whole statements).
TEST(DumpSqlText, OnlyAStatementLongerThanAPieceReachesTheFileInPieces) {
  constexpr std::size_t kPiece = 1000;
  std::string huge;
  for (int i = 0; huge.size() < 50 * kPiece; ++i)
    huge += i % 7 == 0 ? std::string("'\\\0\n", 4) : "plain text ";
  const char* values[] = {"1", huge.data(), nullptr};
  unsigned long lengths[] = {1, static_cast<unsigned long>(huge.size()), 0};
  std::string whole;
  ASSERT_TRUE(AppendInsertStatement(whole, "INSERT INTO `t` VALUES(", values, lengths, 3, {},
                                    huge.size() * 3, nullptr));

  std::string text = "INSERT INTO `t` VALUES('earlier');\n";
  const std::string earlier = text;
  std::string file;
  std::size_t longestPiece = 0;
  int pieces = 0;
  FlushFn flush = [&] {
    longestPiece = std::max(longestPiece, text.size());
    ++pieces;
    file += text;
    text.clear();
    return true;
  };
  ASSERT_TRUE(AppendInsertStatement(text, "INSERT INTO `t` VALUES(", values, lengths, 3, {}, kPiece,
                                    flush));
  EXPECT_EQ(file + text, earlier + whole);
  EXPECT_GT(pieces, 20);
  EXPECT_LE(longestPiece, 4 * kPiece);

  // A short statement stays whole even when the text passes a piece's size.
  text.assign(kPiece - 10, 'x');
  pieces = 0;
  ASSERT_TRUE(AppendInsertStatement(text, "INSERT INTO `t` VALUES(", values, lengths, 1, {}, kPiece,
                                    flush));
  EXPECT_EQ(pieces, 0);

  // A failed write ends the statement early.
  EXPECT_FALSE(AppendInsertStatement(text, "INSERT INTO `t` VALUES(", values, lengths, 3, {},
                                     kPiece, [] { return false; }));
}

ColumnDefinition Column(std::string name, std::string type, std::string null,
                        std::optional<std::string> defaultValue = std::nullopt,
                        std::string extra = "", bool expression = false) {
  ColumnDefinition column;
  column.name = std::move(name);
  column.type = std::move(type);
  column.null = std::move(null);
  column.defaultValue = std::move(defaultValue);
  column.defaultIsExpression = expression;
  column.extra = std::move(extra);
  return column;
}

IndexColumn Index(std::string nonUnique, std::string keyName, std::string seqInIndex,
                  std::string columnName, std::optional<std::string> subPart,
                  std::string indexType) {
  IndexColumn index;
  index.nonUnique = std::move(nonUnique);
  index.keyName = std::move(keyName);
  index.seqInIndex = std::move(seqInIndex);
  index.columnName = std::move(columnName);
  index.subPart = std::move(subPart);
  index.indexType = std::move(indexType);
  return index;
}

TEST(DumpCreateTable, TableWithoutIndexesKeepsTheTrailingSpaceOfItsLastColumn) {
  std::string text;
  AppendCreateTable(text, "t", std::nullopt,
                    {Column("a", "int(11)", "NO", "0"), Column("b", "text", "YES", "")}, {});
  EXPECT_EQ(text, "CREATE TABLE `t`(\n\t`a` int(11) NOT NULL DEFAULT '0' ,\n\t`b` text \n);\n");
}

TEST(DumpCreateTable, IndexClausesCompositePrefixAndKinds) {
  std::string text;
  std::vector<IndexColumn> indexes = {
      Index("0", "PRIMARY", "1", "a", std::nullopt, "BTREE"),
      Index("0", "PRIMARY", "2", "b", std::nullopt, "BTREE"),
      Index("0", "u`x", "1", "c", "10", "BTREE"),
      Index("1", "ft", "1", "c", std::nullopt, "FULLTEXT"),
      Index("1", "k", "1", "b", std::nullopt, "BTREE"),
      Index("1", "k", "2", "c", "4", "BTREE"),
  };
  AppendCreateTable(text, "t", "7",
                    {Column("a", "int(11)", "", std::nullopt, "auto_increment"),
                     Column("b", "int(11)", "NO"), Column("c", "text", "YES")},
                    indexes);
  EXPECT_EQ(text,
            "CREATE TABLE `t`(\n\t`a` int(11) NOT NULL auto_increment,\n\t`b` int(11) NOT NULL ,"
            "\n\t`c` text ,\n\tPRIMARY KEY (`a`,`b`),\n\tUNIQUE KEY `u``x` (`c`(10)),"
            "\n\tFULLTEXT `ft` (`c`),\n\tKEY `k` (`b`,`c`(4))\n) AUTO_INCREMENT=7;\n");
}

TEST(DumpCreateTable, LiteralDefaultsAreEscapedAndExpressionsWrittenBare) {
  std::string text;
  AppendCreateTable(text, "t", std::nullopt,
                    {Column("q", "varchar(9)", "YES", "it's \\"),
                     Column("ts", "timestamp", "NO", "current_timestamp()",
                            "on update current_timestamp()", true),
                     Column("bits", "bit(3)", "YES", "b'101'", "", true)},
                    {});
  EXPECT_EQ(text,
            "CREATE TABLE `t`(\n\t`q` varchar(9) DEFAULT 'it\\'s \\\\' ,"
            "\n\t`ts` timestamp NOT NULL DEFAULT current_timestamp() on update "
            "current_timestamp(),\n\t`bits` bit(3) DEFAULT b'101' \n);\n");
}

TEST(DumpMetadata, TellsQuotedLiteralsFromExpressions) {
  for (const char* literal : {"'abc'", "''", "0", "0.00", "-3", "1.5e+10", "NULL"}) {
    EXPECT_FALSE(IsQuotedStyleExpression(literal)) << literal;
  }
  for (const char* expression : {"current_timestamp()", "b'101'", "(1 + 1)", "uuid()", "1e"}) {
    EXPECT_TRUE(IsQuotedStyleExpression(expression)) << expression;
  }
}

TEST(DumpMetadata, UnquotesLiteralsAsTheServerQuotesThem) {
  EXPECT_EQ(UnquotedLiteral("'it\\'s \\\\ x'"), "it's \\ x");
  EXPECT_EQ(UnquotedLiteral("'a''b'"), "a'b");
  EXPECT_EQ(UnquotedLiteral("'\\0\\n\\r\\Z\\t\\\"'"), std::string("\0\n\r\x1A\t\"", 6));
  EXPECT_EQ(UnquotedLiteral("''"), "");
  EXPECT_EQ(UnquotedLiteral("current_timestamp()"), std::nullopt);
  EXPECT_EQ(UnquotedLiteral("'"), std::nullopt);
}

TEST(DumpSqlText, DropsTheDefinerOfAStatementHead) {
  EXPECT_EQ(WithoutDefiner("CREATE DEFINER=`a``b`@`%` TRIGGER t BEFORE INSERT ON x FOR EACH ROW "
                           "SET @d = 'DEFINER=`x`@`y` '"),
            "CREATE TRIGGER t BEFORE INSERT ON x FOR EACH ROW SET @d = 'DEFINER=`x`@`y` '");
  EXPECT_EQ(WithoutDefiner("CREATE ALGORITHM=UNDEFINED DEFINER=`role` SQL SECURITY DEFINER VIEW "
                           "`v` AS select 1"),
            "CREATE ALGORITHM=UNDEFINED SQL SECURITY DEFINER VIEW `v` AS select 1");
  EXPECT_EQ(WithoutDefiner("CREATE DEFINER='it''s'@'h' EVENT e"), "CREATE EVENT e");
  EXPECT_EQ(WithoutDefiner("CREATE DEFINER=\"u\"@\"h\" PACKAGE \"p\" AS END"),
            "CREATE PACKAGE \"p\" AS END");
  // Only the statement's head holds the clause.
  EXPECT_EQ(WithoutDefiner("CREATE VIEW `DEFINER=x` AS select 1"),
            "CREATE VIEW `DEFINER=x` AS select 1");
}

TEST(DumpSqlText, DelimiterIsOneTheStatementDoesNotHold) {
  std::string text;
  AppendDelimitedStatement(text, "CREATE PROCEDURE p() BEGIN SELECT 1; END");
  EXPECT_EQ(text, "DELIMITER ;;\nCREATE PROCEDURE p() BEGIN SELECT 1; END;;\nDELIMITER ;\n");
  text.clear();
  AppendDelimitedStatement(text, "SET @x = ';;$$//@@##'");
  EXPECT_EQ(text, "DELIMITER ###\nSET @x = ';;$$//@@##'###\nDELIMITER ;\n");
}

TEST(DumpStoredObjects, AViewComesAfterTheViewsItUses) {
  // c uses b, b uses a; d only looks like it uses itself; e and f name each
  // other (a column called like a view), so they keep their order.
  std::vector<std::pair<std::string, std::string>> views = {
      {"c", "select `b`.`x` from `b`"}, {"b", "select `a`.`x` from `a`"},
      {"a", "select 1 AS `x`"},         {"d", "select `d`.`x` from `t` `d`"},
      {"e", "select `f` from `t`"},     {"f", "select `e` from `t`"}};
  EXPECT_EQ(ViewOrder(views), (std::vector<std::size_t>{2, 3, 1, 0, 4, 5}));
}

TEST(DumpPrivileges, GrantsTellWhichTriggersAndRoutinesTheLoginSees) {
  DumpPrivileges none = PrivilegesFromGrants(
      {"GRANT USAGE ON *.* TO `u`@`%`", "GRANT SELECT ON `shop`.* TO `u`@`%`",
       "GRANT SELECT (`id`), TRIGGER (`x`) ON `shop`.`a` TO `u`@`%`",
       "GRANT TRIGGER ON `other`.* TO `u`@`%`", "GRANT EXECUTE ON FUNCTION `shop`.`f` TO `u`@`%`",
       "GRANT `role` TO `u`@`%`"},
      "shop");
  EXPECT_FALSE(none.MayReadTriggersOf("a"));
  EXPECT_FALSE(none.everyRoutineListed);

  // The current role's grants count; a database name is a pattern.
  DumpPrivileges some =
      PrivilegesFromGrants({"GRANT TRIGGER ON `sh\\_p`.`a``b` TO `u`@`%`",
                            "GRANT SELECT, ALTER ROUTINE ON `sh\\_p`.* TO `role`"},
                           "sh_p");
  EXPECT_TRUE(some.MayReadTriggersOf("a`b"));
  EXPECT_FALSE(some.MayReadTriggersOf("c"));
  EXPECT_TRUE(some.everyRoutineListed);
  EXPECT_FALSE(PrivilegesFromGrants({"GRANT ALL ON `sh\\_p`.* TO `u`"}, "shxp").everyRoutineListed);

  DumpPrivileges all = PrivilegesFromGrants(
      {"GRANT ALL PRIVILEGES ON *.* TO `u`@`%` IDENTIFIED BY PASSWORD '*AB' WITH GRANT OPTION"},
      "any");
  EXPECT_TRUE(all.MayReadTriggersOf("t"));
  EXPECT_TRUE(all.everyRoutineListed);
  EXPECT_TRUE(
      PrivilegesFromGrants({"GRANT SELECT ON `mysql`.`proc` TO `u`"}, "shop").everyRoutineListed);
}

TEST(DumpFileAppender, WritesLineFeedsAsCrLfAndAppendsPieces) {
  std::string path = test::ScratchPath("appender");
  DumpFileAppender file(path.c_str());
  ASSERT_TRUE(file.Append(""));
  EXPECT_EQ(test::ReadWholeFile(path), "");
  ASSERT_TRUE(file.Append("a\nb\r\n"));
  ASSERT_TRUE(file.Append("\nc"));
  EXPECT_EQ(test::ReadWholeFile(path), "a\r\nb\r\r\n\r\nc");
  std::remove(path.c_str());

  DumpFileAppender missingFolder("/nonexistent-folder/dump.sql");
  EXPECT_FALSE(missingFolder.Append("x\n"));
}

}  // namespace
}  // namespace vaultwick::dump
