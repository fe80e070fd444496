#pragma once

// Off-site storage through rclone, driven as a program. rclone knows S3 and
// its compatibles, SFTP, WebDAV and most cloud drives, with a configuration
// (`rclone config`) that its users already keep; we name a remote in its
// notation ("remote:bucket/path") and never speak a storage protocol
// ourselves.
//
// The files of one connection lie in REMOTE/<folder>/<file>. Every call runs
// rclone to its end on the calling thread, bounded by one deadline and one
// stop token given at construction, so a whole off-site step (copy, proof,
// pruning) shares one time limit. A failure says what failed in rclone's own
// words: the last line it wrote to its standard error.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stop_token.h"
#include "platform/remote_entry.h"
#include "platform/temp_folder.h"

namespace vaultwick {

struct RcloneSettings {
  // The remote in rclone's notation, e.g. "backups:vault/db" or "s3:bucket".
  std::string remote;
  // rclone's configuration file; empty for rclone's own default.
  std::string configFile;
  // The program; a bare name is looked up on PATH.
  std::string program = "rclone";
};

enum class RemoteCode {
  Done,
  NotInstalled,  // no rclone program to run
  Failed,        // rclone said no; the text is its last error line
  TimedOut,
  Stopped,
  Missing,  // the remote has no such file
  Differs,  // the remote copy is not the local file
};

struct RemoteOutcome {
  RemoteCode code = RemoteCode::Done;
  std::string text;  // empty when Done

  bool ok() const { return code == RemoteCode::Done; }
  static RemoteOutcome Success() { return {}; }
};

// rclone's name of a hash kind ("MD5", "SHA-1"); empty for None.
std::string_view RcloneHashName(HashKind kind);

struct RemoteListing {
  RemoteOutcome outcome;
  std::vector<RemoteEntry> entries;
};

// A file fetched from the remote into a private folder of its own (0700),
// created 0600; the folder goes with this object, on every way out.
struct FetchedFile {
  RemoteOutcome outcome;
  std::optional<PrivateTempFolder> folder;
  std::string path;  // empty unless outcome.ok()
};

// What a local file is, for the proof: its size and its hash of the
// remote's kind, or MD5 where the remote has none (so that a fetch can still
// be measured against what was sent).
struct LocalFacts {
  std::uint64_t size = 0;
  std::string hash;
};

class RcloneRemote {
 public:
  RcloneRemote(RcloneSettings settings, std::chrono::steady_clock::time_point deadline,
               StopToken stop = StopToken::Never());

  // The hash kind both the remote and this machine have: MD5 where the
  // remote offers it, else SHA-1, else None (then a proof reads the copy
  // back). Asked of rclone once per object; nullopt with `outcome` set when
  // it could not be asked.
  std::optional<HashKind> AskHashKind(RemoteOutcome& outcome);

  // Copies `localFile` to REMOTE/<folder>/<file>, replacing a file there.
  // Not proven: call Prove.
  RemoteOutcome Copy(const std::string& localFile, std::string_view folder, std::string_view file);

  // Proves that REMOTE/<folder>/<file> is `localFile`: equal sizes and equal
  // hashes of the common kind, or, where the remote has none, every byte read
  // back and compared. `readBack` reads back in every case: a remote that
  // keeps the hash it computed on arrival cannot show damage done since.
  // `facts`, when given, receives the local file's facts it measured.
  RemoteOutcome Prove(const std::string& localFile, std::string_view folder, std::string_view file,
                      bool readBack = false, LocalFacts* facts = nullptr);

  // The LocalFacts of a local file.
  std::optional<LocalFacts> Facts(const std::string& localFile, RemoteOutcome& outcome);

  // The files of REMOTE/<folder> with their sizes and hashes (when the
  // remote has a hash kind). A folder that does not exist lists empty.
  RemoteListing List(std::string_view folder);

  // Deletes REMOTE/<folder>/<file>; a file already gone is Done.
  RemoteOutcome Delete(std::string_view folder, std::string_view file);

  // Fetches REMOTE/<folder>/<file> into a private temporary file and checks
  // it against the remote's size and hash, and against `expected` when given
  // (the facts of the file that was sent: a remote may not know its own hash).
  FetchedFile Fetch(std::string_view folder, std::string_view file,
                    const std::optional<LocalFacts>& expected = std::nullopt);

  // Proves the remote usable: writes a small file at its top, lists it, reads
  // it back and deletes it. The text of a failure names the step.
  RemoteOutcome Check();

  // REMOTE/<folder>/<file> (and REMOTE/<folder> for an empty file).
  std::string RemotePath(std::string_view folder, std::string_view file = {}) const;

 private:
  RemoteListing ListPath(const std::string& path, bool withHash);
  std::optional<RemoteEntry> Stat(std::string_view folder, std::string_view file, bool withHash,
                                  RemoteOutcome& outcome);
  RemoteOutcome CompareFacts(const RemoteEntry& remote, const LocalFacts& local);
  RemoteOutcome ReadBack(const std::string& localFile, std::uint64_t size,
                         const std::string& remotePath);

  const RcloneSettings settings_;
  const std::chrono::steady_clock::time_point deadline_;
  const StopToken stop_;
  std::optional<HashKind> hashKind_;
};

}  // namespace vaultwick
