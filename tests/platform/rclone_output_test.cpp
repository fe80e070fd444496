#include <gtest/gtest.h>

#include "platform/rclone_output_internal.h"

namespace vaultwick::rclone_output {
namespace {

TEST(RcloneOutputTest, TheLastErrorLineIsRclonesOwnWordsWithoutStampOrLevel) {
  EXPECT_EQ(LastErrorLine("2024/05/01 12:00:00 ERROR : Attempt 1/1 failed with 1 errors and: x\n"
                          "2024/05/01 12:00:00 Failed to copyto: dial tcp 127.0.0.1:9: connect: "
                          "connection refused\n\n"),
            "Failed to copyto: dial tcp 127.0.0.1:9: connect: connection refused");
  EXPECT_EQ(LastErrorLine("2024/05/01 12:00:00 ERROR : a.zip: Failed to copy: no space left\n"),
            "a.zip: Failed to copy: no space left");
  // rclone names the remote itself with an empty object name.
  EXPECT_EQ(LastErrorLine("2024/05/01 12:00:00 ERROR : : error listing: directory not found"),
            "error listing: directory not found");
  EXPECT_EQ(LastErrorLine("2024/05/01 12:00:00 CRITICAL: Failed to create file system"),
            "Failed to create file system");
  // A line without rclone's stamp is kept whole.
  EXPECT_EQ(LastErrorLine("panic: ERROR: something\n"), "panic: ERROR: something");
  EXPECT_EQ(LastErrorLine(" \n\n"), "");
}

TEST(RcloneOutputTest, TheHashKindPrefersMd5ThenSha1) {
  EXPECT_EQ(HashKindFromFeatures(R"({"Name":"s","Hashes": [ "md5", "sha1" ],"Features":{}})"),
            HashKind::Md5);
  EXPECT_EQ(HashKindFromFeatures("{\n\t\"Hashes\": [\n\t\t\"sha1\",\n\t\t\"dropbox\"\n\t]\n}"),
            HashKind::Sha1);
  EXPECT_EQ(HashKindFromFeatures(R"({"Hashes": ["whirlpool"], "x": ["md5"]})"), HashKind::None);
  EXPECT_EQ(HashKindFromFeatures(R"({"Hashes": []})"), HashKind::None);
  EXPECT_EQ(HashKindFromFeatures(R"({"Name": "md5"})"), std::nullopt);
}

TEST(RcloneOutputTest, ListingsKeepNamesWholeAndRefuseOtherShapes) {
  auto entries = ParseListing(
      "D41D8CD98F00B204E9800998ECF8427E\t0\tempty.zip\n"
      "\t12\tname\twith tab.zip\r\n",
      true);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].hash, "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ((*entries)[0].size, 0u);
  EXPECT_EQ((*entries)[1].file, "name\twith tab.zip");
  EXPECT_EQ((*entries)[1].hash, "");

  entries = ParseListing("18446744073709551615\tbig.zip\n", false);
  ASSERT_TRUE(entries);
  EXPECT_EQ((*entries)[0].size, 18446744073709551615u);
  EXPECT_TRUE(ParseListing("", false)->empty());

  EXPECT_FALSE(ParseListing("12 a.zip\n", false));
  EXPECT_FALSE(ParseListing("-1\ta.zip\n", false));
  EXPECT_FALSE(ParseListing("12\t\n", false));
  EXPECT_FALSE(ParseListing("xyz\t12\ta.zip\n", true));
}

TEST(RcloneOutputTest, HashsumGivesTheFirstWordInLowerCase) {
  EXPECT_EQ(HashFromHashsum("B1946AC92492D2347C6235B4D2611184  hello.txt\n"),
            "b1946ac92492d2347c6235b4d2611184");
  EXPECT_EQ(HashFromHashsum("UNSUPPORTED  hello.txt\n"), "");
  EXPECT_EQ(HashFromHashsum(""), "");
}

}  // namespace
}  // namespace vaultwick::rclone_output
