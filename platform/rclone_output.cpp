#include "platform/rclone_output_internal.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vaultwick::rclone_output {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether `text` starts with rclone's time stamp, "YYYY/MM/DD HH:MM:SS ".
bool HasTimeStamp(std::string_view text) {
  static constexpr std::string_view kShape = "0000/00/00 00:00:00 ";
  if (text.size() < kShape.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == '0' ? !IsDigit(text[i]) : text[i] != kShape[i]) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
    text.remove_suffix(1);
  }
  return text;
}

std::string Lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

bool IsHex(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return std::isxdigit(c) != 0; });
}

}  // namespace

std::string LastErrorLine(std::string_view errorOutput) {
  std::string_view last;
  while (!errorOutput.empty()) {
    std::size_t end = errorOutput.find('\n');
    std::string_view line = Trim(errorOutput.substr(0, end));
    if (!line.empty()) {
      last = line;
    }
    errorOutput.remove_prefix(end == std::string_view::npos ? errorOutput.size() : end + 1);
  }
  if (HasTimeStamp(last)) {
    last.remove_prefix(20);
    // The level, when there is one, is an upper-case word padded to a colon.
    std::size_t colon = last.find(':');
    if (colon != std::string_view::npos && colon > 0) {
      std::string_view level = Trim(last.substr(0, colon));
      if (!level.empty() &&
          std::all_of(level.begin(), level.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
        last = Trim(last.substr(colon + 1));
        // rclone's name of the object, empty for the remote itself.
        if (!last.empty() && last.front() == ':') {
          last = Trim(last.substr(1));
        }
      }
    }
  }
  return std::string(last);
}

std::optional<HashKind> HashKindFromFeatures(std::string_view features) {
  static constexpr std::string_view kKey = "\"Hashes\"";
  std::size_t key = features.find(kKey);
  if (key == std::string_view::npos) {
    return std::nullopt;
  }
  std::size_t open = features.find_first_not_of(" \t\r\n:", key + kKey.size());
  if (open == std::string_view::npos || features[open] != '[') {
    return std::nullopt;
  }
  std::size_t close = features.find(']', open);
  if (close == std::string_view::npos) {
    return std::nullopt;
  }
  std::string names = Lower(features.substr(open, close - open));
  if (names.find("\"md5\"") != std::string::npos) {
    return HashKind::Md5;
  }
  if (names.find("\"sha1\"") != std::string::npos) {
    return HashKind::Sha1;
  }
  return HashKind::None;
}

std::optional<std::vector<RemoteEntry>> ParseListing(std::string_view listing, bool withHash) {
  std::vector<RemoteEntry> entries;
  while (!listing.empty()) {
    std::size_t end = listing.find('\n');
    std::string_view line = listing.substr(0, end);
    listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      continue;
    }
    RemoteEntry entry;
    if (withHash) {
      std::size_t tab = line.find('\t');
      if (tab == std::string_view::npos) {
        return std::nullopt;
      }
      std::string_view hash = line.substr(0, tab);
      if (!hash.empty() && !IsHex(hash)) {
        return std::nullopt;
      }
      entry.hash = Lower(hash);
      line.remove_prefix(tab + 1);
    }
    std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab + 1 == line.size()) {
      return std::nullopt;
    }
    std::string_view size = line.substr(0, tab);
    auto [rest, error] = std::from_chars(size.data(), size.data() + size.size(), entry.size);
    if (error != std::errc() || rest != size.data() + size.size() || size.empty()) {
      return std::nullopt;
    }
    entry.file = std::string(line.substr(tab + 1));
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string HashFromHashsum(std::string_view output) {
  std::size_t end = output.find_first_of(" \t\n");
  std::string_view hash = output.substr(0, end);
  return IsHex(hash) ? Lower(hash) : std::string();
}

}  // namespace vaultwick::rclone_output
