#pragma once

// The archive's dump read as ReadSqlMember reads it, with the same facts and
// the same reasons, about twice as fast where the archive is as the writer
// makes it: when the dump is the archive's first member and plain, libarchive
// reads the archive's structure (every header, each agreeing with the
// directory) and the reader's own inflater the dump's data, whose length,
// CRC-32 and deflated length must be those of the header. Anything else, and
// any failure of that reading, is read by libarchive as ReadSqlMember does:
// the verdict and its words are libarchive's, and bytes already handed to
// `onData` are not handed on again.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/stop_token.h"
#include "readback/archive_check.h"

namespace vaultwick {

// The archive open at `fd`, read from its start; `fd` stays open. `password`
// (empty: none) opens an encrypted dump, which libarchive reads.
std::optional<SqlMemberFacts> ReadSqlMemberFast(
    int fd, const std::string& password, std::string* error,
    const StopToken& stop = StopToken::Never(),
    const std::function<void(const std::uint8_t*, std::size_t)>& onData = {});

}  // namespace vaultwick
