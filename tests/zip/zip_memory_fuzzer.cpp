// Fuzzes the writer with random sequences of members (kind, size, name, content)
// into a memory target of random capacity. Oracle: whenever the writer reports a
// whole archive, an independent parser reads it, and every listed member
// inflates (zlib, used as a black box) to exactly what was added, in order.

#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/zip/archive_parser.h"
#include "zip/zip_writer.h"

namespace {

using vaultwick::ZipResult;

void fail(const char* what) {
  std::fprintf(stderr, "oracle: %s\n", what);
  std::abort();
}

std::string inflateRaw(const std::uint8_t* data, std::size_t size, std::size_t expected) {
  std::string out(expected + 1, '\0');
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) {
    fail("inflateInit2");
  }
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&stream, Z_FINISH);
  if (result != Z_STREAM_END) {
    fail("deflate stream does not inflate to its end");
  }
  if (stream.avail_in != 0) {
    fail("bytes left after the deflate stream");
  }
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

std::string makeName(FuzzedDataProvider& input) {
  static const char* const kSuffixes[] = {"", ".txt", ".gz", ".ZIP", ".tgz", ".z", ".sql"};
  std::string name = input.ConsumeRandomLengthString(280);
  for (char& c : name) {
    if (c == '\0') {
      c = '_';
    }
  }
  name += kSuffixes[input.ConsumeIntegralInRange<int>(0, 6)];
  return name;
}

std::string makeContent(FuzzedDataProvider& input) {
  const auto size = input.ConsumeIntegralInRange<std::size_t>(0, 70000);
  const std::string seed = input.ConsumeRandomLengthString(64);
  std::string content;
  content.reserve(size);
  // Repeating a short seed with occasional changes gives matches of every length.
  for (std::size_t i = 0; content.size() < size; ++i) {
    content += seed.empty() ? static_cast<char>(i * 7) : seed[i % seed.size()];
    if (i % 97 == 0) {
      content += static_cast<char>(i);
    }
  }
  content.resize(size);
  return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto capacity = input.ConsumeIntegralInRange<std::uint32_t>(1, 400000);
  std::vector<std::uint8_t> block(capacity);
  vaultwick::ZipHandle* handle =
      vaultwick::openZipWriter(block.data(), capacity, vaultwick::ZipTargetKind::Memory);
  if (handle == nullptr) {
    fail("memory writer did not open");
  }
  struct Added {
    std::string name;
    std::string content;
  };
  std::vector<Added> added;
  bool broken = false;  // the sticky error is set
  const int members = input.ConsumeIntegralInRange<int>(0, 12);
  for (int i = 0; i < members && input.remaining_bytes() > 0; ++i) {
    const bool folder = input.ConsumeIntegralInRange<int>(0, 5) == 0;
    std::string name = makeName(input);
    const std::string content = folder ? std::string() : makeContent(input);
    const ZipResult result =
        folder ? vaultwick::addZipMember(handle, name.c_str(), nullptr, 0,
                                         vaultwick::ZipSourceKind::Folder)
               : vaultwick::addZipMember(handle, name.c_str(), content.data(),
                                         static_cast<std::uint32_t>(content.size()),
                                         vaultwick::ZipSourceKind::Memory);
    if (broken && result != ZipResult::PreviousError) {
      fail("an addition after the sticky error did not answer PreviousError");
    }
    if (result == ZipResult::Ok) {
      for (char& c : name) {
        c = c == '\\' ? '/' : c;
      }
      if (folder && name.back() != '/') {
        name += '/';
      }
      added.push_back({name, content});
    } else if (result == ZipResult::MemoryTooSmall || result == ZipResult::WriteFailed) {
      broken = true;
    } else if (result != ZipResult::BadArguments && result != ZipResult::PreviousError) {
      fail("unexpected result of addZipMember");
    }
  }
  void* memory = nullptr;
  std::uint32_t length = 0;
  const ZipResult finished = vaultwick::getZipWriterMemory(handle, &memory, &length);
  if (memory != block.data()) {
    fail("memory of a memory archive not handed out");
  }
  if (length >= capacity) {
    fail("the last byte of the memory block was used");
  }
  if (vaultwick::closeZipWriter(handle) != ZipResult::Ok) {
    fail("closing a finished archive failed");
  }
  if (finished != ZipResult::Ok) {
    return 0;  // the directory did not fit: nothing to read back
  }
  vaultwick::testing::ParsedArchive archive;
  const std::string error = vaultwick::testing::parseArchive(block.data(), length, 0, archive);
  if (!error.empty()) {
    fail(error.c_str());
  }
  if (archive.members.size() != added.size()) {
    fail("member count differs");
  }
  for (std::size_t i = 0; i < added.size(); ++i) {
    const auto& member = archive.members[i];
    if (member.name != added[i].name) {
      fail("member name differs");
    }
    if (member.uncompressedSize != added[i].content.size()) {
      fail("uncompressed size differs");
    }
    const std::uint8_t* bytes = block.data() + member.dataOffset;
    std::string content;
    if (member.method == 8) {
      content = inflateRaw(bytes, member.compressedSize, added[i].content.size());
    } else if (member.method == 0) {
      content.assign(reinterpret_cast<const char*>(bytes), member.compressedSize);
    } else {
      fail("unknown method");
    }
    if (content != added[i].content) {
      fail("member content differs");
    }
    const auto crc = static_cast<std::uint32_t>(crc32(
        0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
    if (member.crc32 != crc || member.localCrc32 != crc) {
      fail("CRC-32 differs");
    }
  }
  return 0;
}
