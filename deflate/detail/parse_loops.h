#pragma once

// The parse that turns a member's input into blocks: the fast loop for levels
// 1 to 3, the lazy loop for 4 to 8.

#include <cstdint>

#include "deflate/flate_state.h"

namespace vaultwick {

// Compresses the rest of the input; returns the compressed size in bytes.
std::uint32_t flate_run(FlateState* state);

}  // namespace vaultwick
