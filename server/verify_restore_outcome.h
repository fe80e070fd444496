#pragma once

// How the test restore of a placed archive went: made by the restore, carried
// in the outcome of the backup job that asked for it.

#include <string>

namespace vaultwick {

struct VerifyRestoreOutcome {
  enum class Result {
    Verified,  // the archived dump came back statement for statement
    Differs,   // it did not: `detail` says where the two dumps first differ
    Failed,    // the test restore or the second dump could not be made: `detail` says why
  };
  Result result = Result::Failed;
  std::string detail;
};

}  // namespace vaultwick
