#pragma once

// Packs a job's dump into its archive on a thread of its own while the dump is
// still being written, so that the job dumps and compresses at once instead of
// one after the other. The archive comes out byte for byte the one that packing
// the finished dump gives: the member's bytes, sizes and CRC-32 are the dump's,
// and its times are those of the finished dump file (ZipGrowingFile). It is
// written beside `archivePath` and moved there only once whole.

#include <string>
#include <thread>

#include "common/stop_token.h"
#include "zip/zip_result.h"
#include "zip/zip_single_file.h"

namespace vaultwick {

class ArchivePacker {
 public:
  // Creates the (empty) dump file and the archive's part file (PartPath()),
  // and starts packing. `threads`: compressor
  // parse threads. A `password` (empty: none) encrypts the member.
  ArchivePacker(std::string dumpPath, std::string archivePath, StopToken stop, unsigned threads,
                std::string password = {});
  // Without Finish the dump is taken as incomplete: the packing stops, and its
  // partial archive is left in the job's folder.
  ~ArchivePacker();
  ArchivePacker(const ArchivePacker&) = delete;
  ArchivePacker& operator=(const ArchivePacker&) = delete;

  // The dump is complete: waits for the archive and answers how its packing
  // went; Ok means it is at archivePath, and `written` describes its member.
  ZipResult Finish(ZipMemberSummary* written);

  // After Finish failed with WriteFailed: the system's reason why the
  // archive's folder takes no more bytes (a full file system, a quota, the
  // file size limit), asked by reserving room beyond the partial archive (the
  // writer keeps no errno); 0 when there is room now.
  int WriteError() const;

  // Where the archive is written until Finish moves it to archivePath; it
  // exists from the start, so that a reader may follow it.
  const std::string& PartPath() const { return partPath_; }

 private:
  const char* Password() const { return password_.empty() ? nullptr : password_.c_str(); }

  const std::string dumpPath_;
  const std::string archivePath_;
  const std::string partPath_;
  const StopToken stop_;
  const unsigned threads_;
  const std::string password_;
  GrowingFileEnd end_;
  ZipResult result_ = ZipResult::Ok;
  ZipMemberSummary written_;
  std::thread thread_;
};

}  // namespace vaultwick
