#pragma once

// Reading what rclone prints. Kept apart from the calls so that tests can
// feed them rclone's exact words.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/remote_entry.h"

namespace vaultwick::rclone_output {

// The last non-empty line of rclone's standard error without its time stamp
// ("2024/05/01 12:00:00 ") and level ("ERROR : ", "CRITICAL: ", ...): the
// line in which rclone says why it gave up. Empty when it wrote nothing.
std::string LastErrorLine(std::string_view errorOutput);

// The hash kind to compare from `rclone backend features` (a JSON object
// whose "Hashes" member is an array of names such as "md5" and "sha1").
// nullopt when the output has no such array.
std::optional<HashKind> HashKindFromFeatures(std::string_view features);

// The lines `rclone lsf --format hsp` (withHash) or `--format sp` prints with
// a tab between the fields: hash, size, then the name, which comes last so
// that it may hold anything but a line end. nullopt when a line is not of
// that shape.
std::optional<std::vector<RemoteEntry>> ParseListing(std::string_view listing, bool withHash);

// The hash of the first line of `rclone hashsum KIND FILE` ("<hex>  <name>"),
// in lower case; empty when the output is not of that shape.
std::string HashFromHashsum(std::string_view output);

}  // namespace vaultwick::rclone_output
