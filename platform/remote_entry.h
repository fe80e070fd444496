#pragma once

// What a listing of an off-site folder gives for each file.

#include <cstdint>
#include <string>

namespace vaultwick {

// The hashes we compare; others a remote may offer are not used.
enum class HashKind { None, Md5, Sha1 };

struct RemoteEntry {
  std::string file;
  std::uint64_t size = 0;
  // Lower-case hex digits of the remote's hash of the remote's kind (see
  // RcloneRemote::AskHashKind); empty when the remote gave none for this file.
  std::string hash;
};

}  // namespace vaultwick
