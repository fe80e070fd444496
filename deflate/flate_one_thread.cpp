#include "deflate/detail/flate_one_thread.h"

#include <memory>
#include <new>

#include "deflate/detail/bit_writer.h"
#include "deflate/detail/block_coder.h"
#include "deflate/detail/match_finder.h"
#include "deflate/detail/parse_loops.h"

namespace vaultwick {

FlateOutcome flate_member_one_thread(const FlateJob& job) {
  // Value-initialised: bytes of the window past the input, which a match
  // scan may read before its result is cut to the input, are then defined.
  std::unique_ptr<FlateState> state(new (std::nothrow) FlateState());
  if (!state) {
    return {0, "out of memory"};
  }
  start_member(state.get(), job, job.read_input, nullptr);
  const std::uint32_t size = flate_run(state.get());
  return {size, state->error_text};
}

void start_member(FlateState* state, const FlateJob& job, FlateReadFn read_input, void* source) {
  state->param = job.param;
  state->pack_level = job.level;
  state->read_input = read_input;
  state->write_output = job.write_output;
  state->source = source;
  std::uint16_t ignored_flags = 0;
  bits_init(state, job.buffer, job.capacity);
  ct_init(state);
  match_init(state, job.level, job.flags_word != nullptr ? job.flags_word : &ignored_flags);
  if (job.before_run != nullptr) {
    job.before_run(state);
  }
}

}  // namespace vaultwick
