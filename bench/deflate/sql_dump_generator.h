#pragma once

// A deterministic stand-in for a database dump: CREATE TABLE statements and
// one INSERT per row with varied values, CR LF line ends.

#include <cstddef>
#include <string>

namespace vaultwick::bench {

std::string generate_sql_dump(std::size_t approximate_bytes);

}  // namespace vaultwick::bench
