#include "zip/zip_writer.h"

#include <new>

#include "zip/detail/zip_time.h"
#include "zip/detail/zip_writer_internal.h"

namespace vaultwick {

namespace {

ZipResult report(ZipResult result) {
  lastZipResult.store(result);
  return result;
}

std::unique_ptr<ZipTarget> openTarget(const void* target, std::uint32_t size, ZipTargetKind kind,
                                      ZipResult& result) {
  switch (kind) {
    case ZipTargetKind::FileName:
      return openFileNameTarget(static_cast<const char*>(target), result);
    case ZipTargetKind::Handle:
      return openHandleTarget(static_cast<const int*>(target), result);
    case ZipTargetKind::Memory:
      return openMemoryTarget(const_cast<void*>(target), size, result);
  }
  result = ZipResult::BadArguments;
  return nullptr;
}

}  // namespace

ZipHandle* openWriter(const void* target, std::uint32_t size, ZipTargetKind kind, int level,
                      ZipResult& result) {
  // The "UT" times read calendar fields as local time: take the zone as it is now.
  refreshTimeZone();
  if (level < 1 || level > kDefaultPackLevel) {
    result = report(ZipResult::BadArguments);
    return nullptr;
  }
  try {
    auto handle = std::make_unique<ZipHandle>();
    handle->writer = std::make_unique<ZipWriter>();
    handle->writer->output = openTarget(target, size, kind, result);
    if (!handle->writer->output) {
      report(result);
      return nullptr;
    }
    handle->writer->packLevel = level;
    result = report(ZipResult::Ok);
    return handle.release();
  } catch (const std::bad_alloc&) {
    result = report(ZipResult::NoMemory);
    return nullptr;
  }
}

ZipHandle* openZipWriter(const void* target, std::uint32_t size, ZipTargetKind kind, int level,
                         unsigned threads) {
  ZipResult result = ZipResult::Ok;
  ZipHandle* handle = openWriter(target, size, kind, level, result);
  if (handle != nullptr) {
    handle->writer->threads = threads;
  }
  return handle;
}

ZipResult addZipMember(ZipHandle* handle, const char* name, const void* source, std::uint32_t size,
                       ZipSourceKind kind) {
  if (handle == nullptr) {
    return report(ZipResult::BadArguments);
  }
  if (handle->tag != kWritingTag) {
    return report(ZipResult::WrongMode);
  }
  try {
    return report(addMember(*handle->writer, name, source, size, kind));
  } catch (const std::bad_alloc&) {
    handle->writer->input.reset();
    return report(ZipResult::NoMemory);
  }
}

ZipResult setZipWriterPassword(ZipHandle* handle, const char* password) {
  if (handle == nullptr || (password != nullptr && *password == '\0')) {
    return report(ZipResult::BadArguments);
  }
  if (handle->tag != kWritingTag) {
    return report(ZipResult::WrongMode);
  }
  try {
    setWriterPassword(*handle->writer, password);
  } catch (const std::bad_alloc&) {
    return report(ZipResult::NoMemory);
  }
  return report(ZipResult::Ok);
}

ZipResult getZipWriterMemory(ZipHandle* handle, void** buffer, std::uint32_t* length) {
  if (handle == nullptr || buffer == nullptr || length == nullptr) {
    if (buffer != nullptr) {
      *buffer = nullptr;
    }
    if (length != nullptr) {
      *length = 0;
    }
    return report(ZipResult::BadArguments);
  }
  if (handle->tag != kWritingTag) {
    return report(ZipResult::WrongMode);
  }
  ZipWriter& writer = *handle->writer;
  if (writer.state != WriterState::Finished) {
    static_cast<void>(finishArchive(writer));
  }
  *buffer = writer.output->memory();
  *length = static_cast<std::uint32_t>(writer.bytesWritten);
  if (*buffer == nullptr) {
    return report(ZipResult::NotMemoryArchive);
  }
  // A block whose directory did not fit is no archive; the caller has to know.
  return report(writer.finishResult);
}

ZipResult closeZipWriter(ZipHandle* handle) {
  if (handle == nullptr) {
    return report(ZipResult::BadArguments);
  }
  if (handle->tag != kWritingTag) {
    return report(ZipResult::WrongMode);
  }
  ZipResult result = ZipResult::Ok;
  if (handle->writer->state != WriterState::Finished) {
    result = finishArchive(*handle->writer);
  }
  if (!handle->writer->output->release() && result == ZipResult::Ok) {
    result = ZipResult::WriteFailed;
  }
  delete handle;
  return report(result);
}

}  // namespace vaultwick
