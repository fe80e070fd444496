#include "zip/zip_single_file.h"

#include <cstring>

#include "zip/detail/zip_writer_internal.h"
#include "zip/zip_writer.h"

namespace vaultwick {

ZipResult ZipSingleFile(const char* sourcePath, const char* archivePath,
                        const std::atomic<bool>* stop, ZipMemberSummary* written) {
  if (sourcePath == nullptr || archivePath == nullptr) {
    return ZipResult::BadArguments;
  }
  const char* slash = std::strrchr(sourcePath, '/');
  const char* memberName = slash != nullptr ? slash + 1 : sourcePath;
  ZipResult opened = ZipResult::Ok;
  ZipHandle* handle =
      openWriter(archivePath, 0, ZipTargetKind::FileName, kDefaultPackLevel, opened);
  if (handle == nullptr) {
    return opened;
  }
  handle->writer->stop = stop;
  const ZipResult added = addZipMember(handle, memberName, sourcePath, 0, ZipSourceKind::FileName);
  if (added == ZipResult::Ok && written != nullptr) {
    const ZipEntry& entry = handle->writer->entries.back();
    written->name = entry.name.data();
    written->size = entry.uncompressedSize;
    written->crc32 = entry.crc32;
  }
  // A central directory that could not be written (disk full) leaves an archive no
  // reader can open, so a failed close fails the whole job too.
  const ZipResult closed = closeZipWriter(handle);
  return added != ZipResult::Ok ? added : closed;
}

}  // namespace vaultwick
