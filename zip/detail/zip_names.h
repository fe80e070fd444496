#pragma once

#include <cstddef>

#include "zip/detail/zip_entry.h"
#include "zip/zip_result.h"

namespace vaultwick {

// True when the member is kept stored because its name says it is compressed already:
// the part from the last "." to the end equals one of the known suffixes, ignoring case.
bool isPrecompressedName(const char* name);

// True when the name holds bytes beyond ASCII that form valid UTF-8: readers then
// have to be told, or they show it in the old DOS code page. A name that is not
// UTF-8 at all is left to the readers' default.
bool isUtf8BeyondAscii(const char* name, std::size_t length);

// Puts `name` into the entry's name field: backslashes become slashes, a folder gets a
// trailing slash. BadArguments for a null or empty name or one that does not fit the field.
[[nodiscard]] ZipResult setMemberName(ZipEntry& entry, const char* name, bool folder);

}  // namespace vaultwick
