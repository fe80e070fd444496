#pragma once

// Byte layout of every record the writer emits. All integers are little-endian.
// Each record is described once here, field by field; the record writers fill
// fields only through these names.
//
// Archive layout: for every member its local header, its data and (on output
// that cannot be repositioned) a data descriptor; then one central header per
// member; then, only when a directory value does not fit its classic field, the
// ZIP64 end record and its locator; then the end record.

#include <cstddef>
#include <cstdint>

namespace vaultwick::zip_format {

// General-purpose flag bits.
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;  // CRC and sizes follow the data
inline constexpr std::uint16_t kFlagMaximumCompression = 0x0002;
inline constexpr std::uint16_t kFlagUtf8Name = 0x0800;  // the name is UTF-8, not code page 437

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
// An encrypted member's method in its headers; the real one is in its AES extra field.
inline constexpr std::uint16_t kMethodAes = 99;

inline constexpr std::uint16_t kVersionMadeBy = 0x0B17;  // host 11, format version 2.3
inline constexpr std::uint16_t kVersionNeeded = 20;      // 2.0: deflate, folders
inline constexpr std::uint16_t kVersionNeededZip64 = 45;
inline constexpr std::uint16_t kVersionNeededAes = 51;

// A 32-bit field holding this value says "the real value is in the ZIP64 extra field";
// so does 0xFFFF in a 16-bit count.
inline constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFF;
inline constexpr std::uint16_t kZip64Marker16 = 0xFFFF;

inline constexpr std::size_t kMaxNameLength = 259;  // the name field holds 260 bytes with its zero

// Local file header, followed by the name and the extra fields.
// offset | size | field
//      0 |    4 | signature 50 4B 03 04
//      4 |    2 | version needed to extract
//      6 |    2 | general-purpose flags
//      8 |    2 | compression method
//     10 |    2 | DOS time
//     12 |    2 | DOS date
//     14 |    4 | CRC-32
//     18 |    4 | compressed size
//     22 |    4 | uncompressed size
//     26 |    2 | name length
//     28 |    2 | extra field length
namespace local_header {
inline constexpr std::uint32_t kSignatureValue = 0x04034B50;
inline constexpr std::size_t kSignature = 0;
inline constexpr std::size_t kVersionNeeded = 4;
inline constexpr std::size_t kFlags = 6;
inline constexpr std::size_t kMethod = 8;
inline constexpr std::size_t kDosTime = 10;
inline constexpr std::size_t kDosDate = 12;
inline constexpr std::size_t kCrc32 = 14;
inline constexpr std::size_t kCompressedSize = 18;
inline constexpr std::size_t kUncompressedSize = 22;
inline constexpr std::size_t kNameLength = 26;
inline constexpr std::size_t kExtraLength = 28;
inline constexpr std::size_t kSize = 30;
static_assert(kExtraLength + 2 == kSize && kSize == 30);
}  // namespace local_header

// Data descriptor, after the data on output that cannot be repositioned.
// offset | size | field
//      0 |    4 | signature 50 4B 07 08
//      4 |    4 | CRC-32
//      8 |    4 | compressed size   (8 bytes when the local header has a ZIP64 field)
//     12 |    4 | uncompressed size (8 bytes, at 16, likewise)
namespace data_descriptor {
inline constexpr std::uint32_t kSignatureValue = 0x08074B50;
inline constexpr std::size_t kSignature = 0;
inline constexpr std::size_t kCrc32 = 4;
inline constexpr std::size_t kCompressedSize = 8;
inline constexpr std::size_t kUncompressedSize = 12;
inline constexpr std::size_t kSize = 16;
inline constexpr std::size_t kZip64UncompressedSize = 16;
inline constexpr std::size_t kZip64Size = 24;
static_assert(kUncompressedSize + 4 == kSize && kSize == 16);
static_assert(kZip64UncompressedSize + 8 == kZip64Size);
}  // namespace data_descriptor

// Central directory file header, followed by the name and the extra fields.
// offset | size | field
//      0 |    4 | signature 50 4B 01 02
//      4 |    2 | version made by
//      6 |    2 | version needed to extract
//      8 |    2 | general-purpose flags
//     10 |    2 | compression method
//     12 |    2 | DOS time
//     14 |    2 | DOS date
//     16 |    4 | CRC-32
//     20 |    4 | compressed size
//     24 |    4 | uncompressed size
//     28 |    2 | name length
//     30 |    2 | extra field length
//     32 |    2 | comment length
//     34 |    2 | disk number start
//     36 |    2 | internal attributes
//     38 |    4 | external attributes
//     42 |    4 | offset of the local header
namespace central_header {
inline constexpr std::uint32_t kSignatureValue = 0x02014B50;
inline constexpr std::size_t kSignature = 0;
inline constexpr std::size_t kVersionMadeBy = 4;
inline constexpr std::size_t kVersionNeeded = 6;
inline constexpr std::size_t kFlags = 8;
inline constexpr std::size_t kMethod = 10;
inline constexpr std::size_t kDosTime = 12;
inline constexpr std::size_t kDosDate = 14;
inline constexpr std::size_t kCrc32 = 16;
inline constexpr std::size_t kCompressedSize = 20;
inline constexpr std::size_t kUncompressedSize = 24;
inline constexpr std::size_t kNameLength = 28;
inline constexpr std::size_t kExtraLength = 30;
inline constexpr std::size_t kCommentLength = 32;
inline constexpr std::size_t kDiskNumberStart = 34;
inline constexpr std::size_t kInternalAttributes = 36;
inline constexpr std::size_t kExternalAttributes = 38;
inline constexpr std::size_t kLocalHeaderOffset = 42;
inline constexpr std::size_t kSize = 46;
static_assert(kLocalHeaderOffset + 4 == kSize && kSize == 46);
}  // namespace central_header

// End of central directory record.
// offset | size | field
//      0 |    4 | signature 50 4B 05 06
//      4 |    2 | number of this disk
//      6 |    2 | disk where the central directory starts
//      8 |    2 | entries on this disk
//     10 |    2 | total entries
//     12 |    4 | size of the central directory
//     16 |    4 | offset of the central directory
//     20 |    2 | comment length
namespace end_record {
inline constexpr std::uint32_t kSignatureValue = 0x06054B50;
inline constexpr std::size_t kSignature = 0;
inline constexpr std::size_t kDiskNumber = 4;
inline constexpr std::size_t kDirectoryDisk = 6;
inline constexpr std::size_t kEntriesOnDisk = 8;
inline constexpr std::size_t kTotalEntries = 10;
inline constexpr std::size_t kDirectorySize = 12;
inline constexpr std::size_t kDirectoryOffset = 16;
inline constexpr std::size_t kCommentLength = 20;
inline constexpr std::size_t kSize = 22;
static_assert(kCommentLength + 2 == kSize && kSize == 22);
}  // namespace end_record

// ZIP64 end of central directory record, only when a directory value does not fit.
// offset | size | field
//      0 |    4 | signature 50 4B 06 06
//      4 |    8 | size of the rest of this record (44)
//     12 |    2 | version made by
//     14 |    2 | version needed to extract
//     16 |    4 | number of this disk
//     20 |    4 | disk where the central directory starts
//     24 |    8 | entries on this disk
//     32 |    8 | total entries
//     40 |    8 | size of the central directory
//     48 |    8 | offset of the central directory
namespace zip64_end_record {
inline constexpr std::uint32_t kSignatureValue = 0x06064B50;
inline constexpr std::size_t kSignature = 0;
inline constexpr std::size_t kRecordSize = 4;
inline constexpr std::size_t kVersionMadeBy = 12;
inline constexpr std::size_t kVersionNeeded = 14;
inline constexpr std::size_t kDiskNumber = 16;
inline constexpr std::size_t kDirectoryDisk = 20;
inline constexpr std::size_t kEntriesOnDisk = 24;
inline constexpr std::size_t kTotalEntries = 32;
inline constexpr std::size_t kDirectorySize = 40;
inline constexpr std::size_t kDirectoryOffset = 48;
inline constexpr std::size_t kSize = 56;
inline constexpr std::uint64_t kRecordSizeValue = kSize - 12;  // without the first 12 bytes
static_assert(kDirectoryOffset + 8 == kSize);
}  // namespace zip64_end_record

// ZIP64 end of central directory locator, right after the ZIP64 end record.
// offset | size | field
//      0 |    4 | signature 50 4B 06 07
//      4 |    4 | disk holding the ZIP64 end record
//      8 |    8 | offset of the ZIP64 end record
//     16 |    4 | total number of disks (1)
namespace zip64_locator {
inline constexpr std::uint32_t kSignatureValue = 0x07064B50;
inline constexpr std::size_t kSignature = 0;
inline constexpr std::size_t kEndRecordDisk = 4;
inline constexpr std::size_t kEndRecordOffset = 8;
inline constexpr std::size_t kTotalDisks = 16;
inline constexpr std::size_t kSize = 20;
static_assert(kTotalDisks + 4 == kSize);
}  // namespace zip64_locator

// "UT" extended-timestamp extra field. The local one carries all three times, the
// central one only the modification time (the first 9 bytes with data size 5).
// offset | size | field
//      0 |    2 | tag "UT" (55 54)
//      2 |    2 | data size: 13 local, 5 central
//      4 |    1 | flags 07: modification, access and creation time present
//      5 |    4 | modification time (Unix seconds)
//      9 |    4 | access time       (local only)
//     13 |    4 | creation time     (local only)
namespace timestamp_extra {
inline constexpr std::uint16_t kTag = 0x5455;
inline constexpr std::uint8_t kAllTimesPresent = 0x07;
inline constexpr std::size_t kTagOffset = 0;
inline constexpr std::size_t kDataSize = 2;
inline constexpr std::size_t kFlags = 4;
inline constexpr std::size_t kModificationTime = 5;
inline constexpr std::size_t kAccessTime = 9;
inline constexpr std::size_t kCreationTime = 13;
inline constexpr std::size_t kLocalSize = 17;
inline constexpr std::size_t kCentralSize = 9;
static_assert(kCreationTime + 4 == kLocalSize && kModificationTime + 4 == kCentralSize);
}  // namespace timestamp_extra

// ZIP64 extended-information extra field: a 4-byte head, then 8-byte values. The
// local header carries uncompressed and compressed size, both; the central header
// carries, in this order, only those of uncompressed size, compressed size and
// local header offset whose classic field holds the marker.
// offset | size | field
//      0 |    2 | tag 01 00
//      2 |    2 | data size (8 per value)
//      4 |  8*k | values
namespace zip64_extra {
inline constexpr std::uint16_t kTag = 0x0001;
inline constexpr std::size_t kTagOffset = 0;
inline constexpr std::size_t kDataSize = 2;
inline constexpr std::size_t kValues = 4;
inline constexpr std::size_t kHeadSize = 4;
inline constexpr std::uint16_t kValueSize = 8;
inline constexpr std::uint16_t kLocalDataSize = 2 * kValueSize;  // uncompressed, compressed
inline constexpr std::size_t kLocalSize = kHeadSize + kLocalDataSize;
inline constexpr std::size_t kMaxCentralSize = kHeadSize + 3 * kValueSize;
}  // namespace zip64_extra

// AES extra field of an encrypted member, the same in its local and central header.
// offset | size | field
//      0 |    2 | tag 01 99
//      2 |    2 | data size (7)
//      4 |    2 | vendor version: 2, AE-2 (the CRC-32 fields hold 0)
//      6 |    2 | vendor ID "AE"
//      8 |    1 | key strength: 3, AES-256
//      9 |    2 | the member's real compression method
namespace aes_extra {
inline constexpr std::uint16_t kTag = 0x9901;
inline constexpr std::uint16_t kVendorVersionAe2 = 2;
inline constexpr std::uint8_t kVendorId[2] = {'A', 'E'};
inline constexpr std::uint8_t kStrengthAes256 = 3;
inline constexpr std::size_t kTagOffset = 0;
inline constexpr std::size_t kDataSize = 2;
inline constexpr std::size_t kVendorVersion = 4;
inline constexpr std::size_t kVendorIdOffset = 6;
inline constexpr std::size_t kStrength = 8;
inline constexpr std::size_t kMethod = 9;
inline constexpr std::size_t kSize = 11;
static_assert(kMethod + 2 == kSize);
}  // namespace aes_extra

// Data of an encrypted member, all of it counted in its compressed size.
// size | field
//   16 | salt, random for each member
//    2 | password verifier
//    n | the stored or deflated data, enciphered with AES-256 in counter mode
//   10 | authentication code: HMAC-SHA1 over the enciphered data, first 10 bytes
// The AES key, the HMAC key (32 bytes each) and the verifier are, in this order,
// the output of PBKDF2-HMAC-SHA1 over the password and the salt.
namespace aes_data {
inline constexpr std::size_t kSaltSize = 16;
inline constexpr std::size_t kVerifierSize = 2;
inline constexpr std::size_t kPreambleSize = kSaltSize + kVerifierSize;
inline constexpr std::size_t kAuthCodeSize = 10;
inline constexpr std::size_t kOverhead = kPreambleSize + kAuthCodeSize;
inline constexpr std::size_t kKeySize = 32;
inline constexpr int kIterations = 1000;
}  // namespace aes_data

// External attributes: MS-DOS attribute bits in the low byte, a Unix mode in the high half.
namespace attributes {
inline constexpr std::uint32_t kDosReadOnly = 0x01;
inline constexpr std::uint32_t kDosHidden = 0x02;
inline constexpr std::uint32_t kDosSystem = 0x04;
inline constexpr std::uint32_t kDosDirectory = 0x10;
inline constexpr std::uint32_t kDosArchive = 0x20;
inline constexpr std::uint32_t kUnixDirectory = 0x40000000;
inline constexpr std::uint32_t kUnixRegularFile = 0x80000000;
inline constexpr std::uint32_t kUnixOwnerRead = 0x01000000;
inline constexpr std::uint32_t kUnixOwnerWrite = 0x00800000;
inline constexpr std::uint32_t kUnixOwnerExecute = 0x00400000;
// Members from memory or from a pipe.
inline constexpr std::uint32_t kStream = kUnixRegularFile;
// Folder entries: directory, owner read/write/execute, MS-DOS directory.
inline constexpr std::uint32_t kFolder =
    kUnixDirectory | kUnixOwnerRead | kUnixOwnerWrite | kUnixOwnerExecute | kDosDirectory;
static_assert(kFolder == 0x41C00010);
}  // namespace attributes

}  // namespace vaultwick::zip_format
