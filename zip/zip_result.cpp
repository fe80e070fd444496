#include "zip/zip_result.h"

#include <cstring>

namespace vaultwick {

std::atomic<ZipResult> lastZipResult{ZipResult::Ok};

namespace {

struct ResultText {
  ZipResult code;
  const char* text;
};

// The texts are part of the interface: callers show and compare them as they stand.
constexpr ResultText kResultTexts[] = {
    {ZipResult::Ok, "Success"},
    {ZipResult::DuplicateFailed, "Culdn't duplicate handle"},
    {ZipResult::CannotOpen, "Couldn't create/open file"},
    {ZipResult::NoMemory, "Failed to allocate memory"},
    {ZipResult::WriteFailed, "Error writing to file"},
    {ZipResult::NotFound, "File not found in the zipfile"},
    {ZipResult::MoreData, "Still more data to unzip"},
    {ZipResult::Corrupt, "Zipfile is corrupt or not a zipfile"},
    {ZipResult::ReadFailed, "Error reading file"},
    {ZipResult::BadArguments, "Caller: faulty arguments"},
    {ZipResult::NotMemoryArchive, "Caller: can only get memory of a memory zipfile"},
    {ZipResult::MemoryTooSmall, "Caller: not enough space allocated for memory zipfile"},
    {ZipResult::PreviousError, "Caller: there was a previous error"},
    {ZipResult::AlreadyEnded, "Caller: additions to the zip have already been ended"},
    {ZipResult::SizeMismatch, "Zip-bug: the anticipated size turned out wrong"},
    {ZipResult::PartlyUnpacked, "Caller: the file had already been partially unzipped"},
    {ZipResult::WrongMode, "Caller: mixing creation and opening of zip"},
    {ZipResult::NotInitialised, "Zip-bug: internal initialisation not completed"},
    {ZipResult::SeekImpossible, "Zip-bug: trying to seek the unseekable"},
    {ZipResult::MethodChanged, "Zip-bug: tried to change mind, but not allowed"},
    {ZipResult::DeflateFailed, "Zip-bug: an internal error during flation"},
};

constexpr const char* kUnknownText = "unknown zip result code";

const char* textOf(ZipResult code) {
  for (const ResultText& entry : kResultTexts) {
    if (entry.code == code) {
      return entry.text;
    }
  }
  return kUnknownText;
}

}  // namespace

std::uint32_t zipResultText(ZipResult code, char* buffer, std::uint32_t bufferSize) {
  if (code == ZipResult::Recent) {
    code = lastZipResult.load();
  }
  const char* text = textOf(code);
  const auto length = static_cast<std::uint32_t>(std::strlen(text));
  if (buffer == nullptr || bufferSize == 0) {
    return length;
  }
  const std::uint32_t copied = length + 1 > bufferSize ? bufferSize - 1 : length;
  std::memcpy(buffer, text, copied);
  buffer[copied] = '\0';
  return length;
}

std::string zipResultMessage(ZipResult code) {
  std::string text(zipResultText(code, nullptr, 0), '\0');
  zipResultText(code, text.data(), static_cast<std::uint32_t>(text.size() + 1));
  return text;
}

}  // namespace vaultwick
