#include "readback/plain_member.h"

#include "platform/files.h"
#include "zip/little_endian.h"
#include "zip/zip_format.h"

namespace vaultwick {

namespace lh = zip_format::local_header;

std::optional<PlainMember> ReadPlainMember(int fd) {
  std::uint8_t header[lh::kSize];
  if (ReadAt(fd, header, sizeof header, 0) != sizeof header ||
      getU32(header, lh::kSignature) != lh::kSignatureValue) {
    return std::nullopt;
  }
  const std::uint16_t flags = getU16(header, lh::kFlags);
  const std::uint32_t compressed = getU32(header, lh::kCompressedSize);
  const std::uint32_t size = getU32(header, lh::kUncompressedSize);
  if ((flags & (zip_format::kFlagEncrypted | zip_format::kFlagDataDescriptor)) != 0 ||
      getU16(header, lh::kMethod) != zip_format::kMethodDeflated ||
      compressed == zip_format::kZip64Marker32 || size == zip_format::kZip64Marker32) {
    return std::nullopt;
  }
  const std::size_t nameLength = getU16(header, lh::kNameLength);
  std::string name(nameLength, '\0');
  if (ReadAt(fd, name.data(), nameLength, lh::kSize) != nameLength) {
    return std::nullopt;
  }
  return PlainMember{std::move(name), lh::kSize + nameLength + getU16(header, lh::kExtraLength),
                     getU32(header, lh::kCrc32), compressed, size};
}

}  // namespace vaultwick
