#pragma once

// The check before an archive is placed, read while the archive is still
// being written: a thread of its own inflates the member's data as its bytes
// reach the file, at the lowest priority, so that it takes only processor
// time the writer leaves; once the writer is done, the caller's thread
// inflates whatever is left. The data is inflated by the reader's own
// inflater, which shares nothing with the writer's compressor; libarchive
// then reads the finished archive's structure (its one member's name, sizes
// and encryption, its headers agreeing with each other), and the first
// header's CRC-32 and compressed size must be those of the data inflated.
// Whatever the followed reading cannot prove (an encrypted member, an archive
// written over again, a failure on the way) is decided by reading the
// finished archive through libarchive whole, as VerifyWrittenArchive does:
// the verdict is the same either way.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "common/stop_token.h"
#include "zip/zip_single_file.h"

namespace vaultwick {

class FollowedArchiveCheck {
 public:
  // Starts following the archive being written at `partPath`, which must
  // exist already (its writer may truncate it, not make another). An
  // encrypted archive (a `password`) is read only once it is finished.
  FollowedArchiveCheck(const std::string& partPath, std::string password, StopToken stop);
  // Ends the reading thread, when Finish did not.
  ~FollowedArchiveCheck();
  FollowedArchiveCheck(const FollowedArchiveCheck&) = delete;
  FollowedArchiveCheck& operator=(const FollowedArchiveCheck&) = delete;

  // The writer is done, and the archive it wrote is at `archivePath` (the
  // part file renamed): as VerifyWrittenArchive, empty when it holds exactly
  // what `written` says, else what differs.
  std::string Finish(const std::string& archivePath, const ZipMemberSummary& written);

  // After a Finish that found the archive whole: whether the followed reading
  // proved it, without reading the finished archive's data again.
  bool ProvedAsWritten() const { return provedAsWritten_; }

 private:
  struct Follower;

  void Stop();
  void TakeOver();
  std::string ProveFollowed(const ZipMemberSummary& written);

  const std::string password_;
  const StopToken stop_;
  std::unique_ptr<Follower> follower_;
  std::thread thread_;
  bool provedAsWritten_ = false;
};

}  // namespace vaultwick
