#include "tests/zip/zip_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace vaultwick::testing {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vaultwick-zip-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a scratch folder";
  }
  root_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void setFileTime(const std::string& path, std::int64_t seconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::string textContent(std::size_t size, unsigned seed) {
  static const char* const kWords[] = {"INSERT", "INTO", "`orders`", "VALUES", "(42,",  "'Smith',",
                                       "NULL,",  "3.14", ");\r\n",   "CREATE", "TABLE", "id"};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) {
    text += kWords[random() % 12];
    text += ' ';
  }
  text.resize(size);
  return text;
}

std::string randomContent(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random());
  }
  return bytes;
}

std::string runCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *status = -1;
    return output;
  }
  char block[65536];
  std::size_t got;
  while ((got = fread(block, 1, sizeof block, pipe)) > 0) {
    output.append(block, got);
  }
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

namespace {

std::string readerScript() {
  const char* source = std::getenv("VAULTWICK_SOURCE_DIR");
  return std::string(source != nullptr ? source : VAULTWICK_DEFAULT_SOURCE_DIR) +
         "/tests/zip/read_archive.py";
}

std::string checked(const std::string& command) {
  int status = 0;
  std::string output = runCommand(command, &status);
  EXPECT_EQ(status, 0) << command;
  return status == 0 ? output : std::string();
}

}  // namespace

std::string pythonListing(const std::string& archive) {
  return checked("python3 " + shellQuote(readerScript()) + " " + shellQuote(archive));
}

std::string pythonExtract(const std::string& archive, const std::string& member) {
  return checked("python3 " + shellQuote(readerScript()) + " " + shellQuote(archive) +
                 " --extract " + shellQuote(member));
}

std::string bsdtarListing(const std::string& archive) {
  return checked("bsdtar -tvf " + shellQuote(archive));
}

std::string bsdtarExtract(const std::string& archive, const std::string& member) {
  return checked("bsdtar -xOf " + shellQuote(archive) + " " + shellQuote(member));
}

ParsedArchive parseArchiveFile(const std::string& path) {
  const std::string bytes = readFile(path);
  ParsedArchive archive;
  const std::string error =
      parseArchive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0, archive);
  EXPECT_EQ(error, "") << path;
  return archive;
}

std::uint32_t bitwiseCrc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
  }
  return ~crc;
}

}  // namespace vaultwick::testing
