#pragma once

// JSON for what the programs hand to scripts and other services.

#include <string>
#include <string_view>

namespace vaultwick {

// `text` as a JSON string literal, quotes included: ", \ and control
// characters escaped; bytes beyond ASCII pass as they are (UTF-8).
std::string JsonString(std::string_view text);

}  // namespace vaultwick
