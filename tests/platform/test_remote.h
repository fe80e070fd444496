#pragma once

// Test support for the off-site copies: the storage server that
// scripts/test-remote started around this test (VAULTWICK_TEST_REMOTE_*),
// the place where that server keeps a file's bytes on this machine (to damage
// one on purpose), and the server's stop and start again at the same address.
// Tests registered with REMOTES always run inside such a server; run by hand
// without one, they are skipped.

#include <optional>
#include <string>
#include <string_view>

#include "platform/rclone_remote.h"

namespace vaultwick::test {

struct TestRemote {
  std::string remote;
  std::string configFile;
  std::string disk;
  std::string kind;  // sftp, webdav or s3
  std::string dir;
  std::string script;

  static std::optional<TestRemote> FromEnvironment();

  RcloneSettings Settings() const { return {remote, configFile, "rclone"}; }

  // The file on this machine that holds the bytes of REMOTE/<folder>/<file>.
  std::string DiskPath(std::string_view folder, std::string_view file) const;

  // Changes the byte at `offset` of that file in place, as a failing disk
  // would. False when there is no such byte.
  bool DamageOneByte(std::string_view folder, std::string_view file, std::uint64_t offset) const;

  // Stops the server (with every session it serves) and starts it again.
  bool StopServer() const;
  bool StartServer() const;

  // Whether the server keeps, as its hash of a file, what it computed on
  // arrival rather than hashing the stored bytes when asked.
  bool HashIsRecordedOnArrival() const { return kind == "s3"; }
};

// Bytes that do not compress, so a copy of them takes its full time.
std::string RandomBytes(std::size_t size, unsigned seed);

void WriteFile(const std::string& path, std::string_view content);
std::string ReadFile(const std::string& path);

}  // namespace vaultwick::test
