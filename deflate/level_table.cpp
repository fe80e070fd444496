#include "deflate/detail/level_table.h"

// Each level trades speed for size by how long a hash chain it follows, when
// it stops early and whether it looks one byte ahead. Level 8, the archive
// writer's, follows up to 1024 candidates (256 after a 32-byte match), skips
// the look-ahead search after a 128-byte match and stops at a 258-byte one.
// Rows 0 and 9 exist so that the table is indexed by level directly; neither
// level is accepted.

namespace vaultwick {

const level_row level_table[10] = {
    // ample, lazy, stop, chain
    {0, 0, 0, 0},          // 0: not accepted
    {4, 4, 8, 4},          // 1: fast parse
    {4, 5, 16, 8},         // 2: fast parse
    {4, 6, 32, 32},        // 3: fast parse
    {4, 4, 16, 16},        // 4: lazy parse from here on
    {8, 16, 32, 32},       // 5
    {8, 16, 128, 128},     // 6
    {8, 32, 128, 256},     // 7
    {32, 128, 258, 1024},  // 8
    {32, 258, 258, 4096},  // 9: not accepted
};

}  // namespace vaultwick
