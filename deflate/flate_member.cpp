#include "deflate/flate.h"

#include "deflate/detail/flate_one_thread.h"
#include "deflate/detail/flate_threads.h"

namespace vaultwick {

FlateOutcome flate_member(const FlateJob& job) {
  // Only the lazy parse links every position, which lets its searches run
  // apart from the parse; the fast levels always run on one thread. The
  // calling thread is one of the job's threads: it codes, and searches what
  // the parse workers beside it do not.
  if (job.threads > 1 && job.level >= 4 && job.level <= 8) {
    const unsigned workers = job.threads - 1;
    return flate_member_threads(job, workers < kFlateMaxThreads ? workers : kFlateMaxThreads);
  }
  return flate_member_one_thread(job);
}

}  // namespace vaultwick
