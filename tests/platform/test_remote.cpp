#include "tests/platform/test_remote.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/child_process.h"

namespace vaultwick::test {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool RunScript(const TestRemote& remote, const char* command) {
  std::vector<std::string> argv{remote.script, command};
  if (std::string_view(command) == "start") {
    argv.push_back(remote.kind);
  }
  argv.push_back(remote.dir);
  std::string ignored;
  ChildLimits limits;
  limits.deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  return RunChildCollecting(argv, limits, ignored).Succeeded();
}

}  // namespace

std::optional<TestRemote> TestRemote::FromEnvironment() {
  TestRemote remote{
      Environment("VAULTWICK_TEST_REMOTE"),      Environment("VAULTWICK_TEST_REMOTE_CONFIG"),
      Environment("VAULTWICK_TEST_REMOTE_DISK"), Environment("VAULTWICK_TEST_REMOTE_KIND"),
      Environment("VAULTWICK_TEST_REMOTE_DIR"),  Environment("VAULTWICK_TEST_REMOTE_SCRIPT")};
  if (remote.remote.empty() || remote.disk.empty() || remote.script.empty()) {
    return std::nullopt;
  }
  return remote;
}

std::string TestRemote::DiskPath(std::string_view folder, std::string_view file) const {
  std::string path = disk + "/" + std::string(folder) + "/" + std::string(file);
  // The S3 server keeps an object's bytes beside its metadata, under a
  // suffix of its own.
  if (kind == "s3") {
    path += "._S3rver_object";
  }
  return path;
}

bool TestRemote::DamageOneByte(std::string_view folder, std::string_view file,
                               std::uint64_t offset) const {
  std::fstream bytes(DiskPath(folder, file), std::ios::in | std::ios::out | std::ios::binary);
  char byte = 0;
  if (!bytes.seekg(static_cast<std::streamoff>(offset)) || !bytes.get(byte)) {
    return false;
  }
  byte = static_cast<char>(byte ^ 0x5a);
  return static_cast<bool>(bytes.seekp(static_cast<std::streamoff>(offset)).put(byte).flush());
}

bool TestRemote::StopServer() const {
  return RunScript(*this, "stop");
}

bool TestRemote::StartServer() const {
  return RunScript(*this, "start");
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(generator());
  }
  return bytes;
}

void WriteFile(const std::string& path, std::string_view content) {
  std::ofstream(path, std::ios::binary)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace vaultwick::test
