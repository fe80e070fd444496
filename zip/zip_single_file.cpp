#include "zip/zip_single_file.h"

#include <cstring>

#include "zip/zip_writer.h"

namespace vaultwick {

bool ZipSingleFile(const char* sourcePath, const char* archivePath) {
  if (sourcePath == nullptr || archivePath == nullptr) {
    return true;
  }
  const char* slash = std::strrchr(sourcePath, '/');
  const char* memberName = slash != nullptr ? slash + 1 : sourcePath;
  ZipHandle* handle = openZipWriter(archivePath, 0, ZipTargetKind::FileName);
  if (handle == nullptr) {
    return true;
  }
  const ZipResult added = addZipMember(handle, memberName, sourcePath, 0, ZipSourceKind::FileName);
  // A central directory that could not be written (disk full) leaves an archive no
  // reader can open, so a failed close fails the whole job too.
  const ZipResult closed = closeZipWriter(handle);
  return added != ZipResult::Ok || closed != ZipResult::Ok;
}

}  // namespace vaultwick
