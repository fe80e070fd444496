#include "zip/zip_single_file.h"

#include <sys/stat.h>

#include <cstring>

#include "zip/detail/zip_writer_internal.h"
#include "zip/zip_format.h"
#include "zip/zip_writer.h"

namespace vaultwick {

namespace {

ZipResult packOneFile(const char* sourcePath, const char* archivePath, const StopToken& stop,
                      ZipMemberSummary* written, unsigned threads, const GrowingFileEnd* growing,
                      const char* password) {
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
  handle->writer->threads = threads;
  handle->writer->growing = growing;
  if (password != nullptr && *password != '\0') {
    setWriterPassword(*handle->writer, password);
  }
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

}  // namespace

ZipResult ZipSingleFile(const char* sourcePath, const char* archivePath, const StopToken& stop,
                        ZipMemberSummary* written, unsigned threads, const char* password) {
  return packOneFile(sourcePath, archivePath, stop, written, threads, nullptr, password);
}

ZipResult ZipGrowingFile(const char* sourcePath, const char* archivePath, GrowingFileEnd& end,
                         const StopToken& stop, ZipMemberSummary* written, unsigned threads,
                         const char* password) {
  if (sourcePath == nullptr || archivePath == nullptr) {
    return ZipResult::BadArguments;
  }
  ZipResult result = packOneFile(sourcePath, archivePath, stop, written, threads, &end, password);
  // Where the file cannot be followed (no descriptor to wait on), and where it
  // grew to 4 GiB or more (the first header needed room for 8-byte sizes,
  // which only the finished file's size tells), the finished file is packed.
  if (result == ZipResult::CannotOpen || result == ZipResult::BadArguments) {
    end.waitFinished();
  }
  if (end.state() != GrowingFileEnd::State::Complete) {
    return result;
  }
  struct stat info {};
  const bool large = stat(sourcePath, &info) == 0 &&
                     static_cast<std::uint64_t>(info.st_size) >= zip_format::kZip64Marker32;
  if (result == ZipResult::CannotOpen || result == ZipResult::BadArguments || large) {
    result = packOneFile(sourcePath, archivePath, stop, written, threads, nullptr, password);
  }
  return result;
}

}  // namespace vaultwick
