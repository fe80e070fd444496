#pragma once

// The password a connection's encrypted archives are made with, when the
// program makes it: 140 bits from the system's random generator, written
// as 28 characters in groups of four ("7KQ2-M9XD-..."), from an alphabet
// without look-alikes (no I, L, O or U), so that a person can read it out,
// copy it by hand and type it back.

#include <string>

namespace vaultwick {

// Throws std::runtime_error when the system's generator gives nothing.
std::string GenerateArchivePassword();

}  // namespace vaultwick
