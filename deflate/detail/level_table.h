#pragma once

// Search effort per pack level.

#include <cstdint>

namespace vaultwick {

struct level_row {
  std::uint16_t ample_len;    // a held match this long quarters the next search
  std::uint16_t lazy_limit;   // lazy: no search after a match this long; fast: insertion limit
  std::uint16_t stop_len;     // a match this long ends the search
  std::uint16_t chain_limit;  // candidates examined per search
};

// Indexed by pack level 0..9; levels 1 to 8 are accepted, 1 to 3 use the fast
// parse and 4 to 8 the lazy one.
extern const level_row level_table[10];

}  // namespace vaultwick
