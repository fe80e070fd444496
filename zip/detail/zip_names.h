#pragma once

#include "zip/detail/zip_entry.h"
#include "zip/zip_writer.h"

namespace vaultwick {

// True when the member is kept stored because its name says it is compressed already:
// the part from the last "." to the end equals one of the known suffixes, ignoring case.
bool isPrecompressedName(const char* name);

// Puts `name` into the entry's name field: backslashes become slashes, a folder gets a
// trailing slash. BadArguments for a null or empty name or one that does not fit the field.
[[nodiscard]] ZipResult setMemberName(ZipEntry& entry, const char* name, bool folder);

}  // namespace vaultwick
