// The argument parser every command starts with, and the tables they print.

#include <gtest/gtest.h>

#include "cli/command_support.h"

namespace vaultwick::test {
namespace {

constexpr OptionSpec kOptions[] = {{"--level", true}, {"--quiet", false}};

std::optional<ParsedArguments> Parse(std::vector<std::string> words, bool dashedWordsAreOptions,
                                     std::string* error) {
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  const CommandSpec spec{"test", "", kOptions, 10, dashedWordsAreOptions};
  return ParseArguments(static_cast<int>(argv.size()), argv.data(), spec, error);
}

// A value follows its option as the next word or after "="; "--" ends the
// options, so that what follows is a word even if it looks like one.
TEST(CommandArguments, ValuesWordsAndTheEndOfOptions) {
  std::string error;
  std::optional<ParsedArguments> parsed = Parse(
      {"--level=3", "a", "-", "-x", "--quiet", "--", "--level", "-h", "--help"}, false, &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->Value("--level"), "3");
  EXPECT_TRUE(parsed->Has("--quiet"));
  EXPECT_FALSE(parsed->help);
  EXPECT_EQ(parsed->positional,
            (std::vector<std::string>{"a", "-", "-x", "--level", "-h", "--help"}));

  EXPECT_TRUE(Parse({"-h", "--level", "--quiet"}, false, &error)->help);
  EXPECT_EQ(Parse({"--level", "--quiet"}, false, &error)->Value("--level"), "--quiet");
  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {"--level"}, {"--quiet=1"}, {"--lev=1"}, {"--other"}}) {
    EXPECT_FALSE(Parse(wrong, false, &error)) << wrong[0];
  }
  EXPECT_EQ(error, "unknown option --other");
}

TEST(CommandArguments, DashedWordsAreOptionsWhereTheCommandSaysSo) {
  std::string error;
  EXPECT_FALSE(Parse({"a", "-x"}, true, &error));
  EXPECT_EQ(error, "unknown option -x");
  std::optional<ParsedArguments> parsed = Parse({"-", "--", "-x"}, true, &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->positional, (std::vector<std::string>{"-", "-x"}));
}

// Columns line up by characters, so that a name with letters beyond ASCII
// does not push the rest of its line aside, and no line ends in spaces.
TEST(CommandTables, ColumnsAlignByCharactersAndLinesEndWithoutSpaces) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  PrintColumns({{"NAME", "OFFSITE", "END"}, {"L\u00e4den", "-", ""}, {"ab", "copied", "done"}},
               out);
  std::rewind(out);
  char text[256] = {};
  const std::size_t length = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(text, length),
            "NAME   OFFSITE  END\n"
            "L\u00e4den  -\n"
            "ab     copied   done\n");
}

}  // namespace
}  // namespace vaultwick::test
