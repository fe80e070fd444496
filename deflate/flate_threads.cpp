#include "deflate/detail/flate_threads.h"

// Threaded compressor
//
// What: the same stream as the one-thread compressor, byte for byte, from
// several cores. The input is cut into segments (1 MiB in the product). Parse workers each
// take a segment and run the lazy parse over it from a fresh start, searching
// their own hash chains, and record the outcome of every step's search (the
// length found and where the match starts) instead of coding anything. The
// coder, on the calling thread, reads the input, runs the lazy parse once
// more over the whole member with its own window, block coder and bit writer,
// exactly as the one-thread compressor does, but takes each step's search
// outcome from the records instead of searching.
//
// Why the records of a fresh start fit: from level 4 on every position enters
// the hash chains, so what a search at a position finds depends only on the
// input and on the length of the match the parse holds there, never on how
// the parse got there. Where the parse holds no match (at the start, after a
// match, and wherever the last search found none) a parse started afresh at
// that position makes the same searches from there on; the two differ at
// most in whether the byte before goes out as a literal, which each parse
// decides from its own past. So once the whole parse and a segment's parse
// both stand at the same position holding nothing ("free"), the segment's
// records are the whole parse's outcomes from there on. Each worker parses
// 8 KiB past its segment's end; the coder follows a segment's records until
// it stands free where the next segment's parse stood free too, and follows
// the next segment's records from there. Parses meet within a few bytes of a
// segment's start on real data. Where they do not meet before the records run
// out (a run of one byte matched in pieces of 258 may never line up), the
// coder links the last 32 KiB into chains of its own and searches itself
// until it meets a later segment: the output cannot change, only the speed.
//
// Invariants: a worker's window stands as the whole parse's would at the
// segment's start. The window slides whenever cur_pos passes 65274 at a step
// end and fewer than 262 bytes wait, and every read fills it, so from any
// step end onwards its position in the member is a function of that step's
// position alone: for a segment start s (a multiple of 32768, from 65536 on)
// the window begins at s - 32768. Positions and the "position 0 is never a
// candidate" rule therefore agree between a worker and the coder wherever
// they stand at the same step. Chains hold only positions less than 32506
// back from a search (older ones end a walk as a 0 does), so a worker links
// the 32768 positions before its segment and nothing older.
//
// Memory: the input passes through a ring of a few segments, read by the
// coder as the ring frees up; records take 4 bytes per step of a segment in
// flight. Threads: workers wait for jobs and the coder for results under one
// mutex; a job is handed out only once all the input it reads is in the
// ring, so a worker never waits for input.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "common/check.h"
#include "deflate/detail/flate_one_thread.h"
#include "deflate/detail/lazy_loop.h"

namespace vaultwick {

namespace {

// A worker parses this far into the next segment, for the parses to meet in.
constexpr std::uint64_t kOverlapBytes = 8 << 10;
// The coder links this much history before it searches on its own.
constexpr std::uint32_t kWarmBytes = WINDOW_HALF;
// Segments the input ring holds, beyond one per worker.
constexpr std::uint32_t kRingSpare = 4;

// The outcome of one step's search: the length it found, and the distance
// back to where that match starts when the search moved match_pos (0: it
// did not). The distance is kept even where match_pos came back to the value
// it had: the coder may have had another one before the step.
struct StepRecord {
  std::uint16_t length;
  std::uint16_t dist;
};

struct Segment {
  std::uint64_t index = 0;
  std::uint64_t start = 0;  // first position of the segment's parse
  std::uint64_t end = 0;    // its parse stops at the first step from here on
  std::vector<StepRecord> steps;
  const char* error_text = nullptr;
  bool usable = false;  // false: the records are incomplete (no memory)
  bool done = false;
};

class Pipeline {
 public:
  Pipeline(const FlateJob& job, FlateState* coder, std::uint32_t workers,
           std::uint64_t segment_size)
      : segment_bytes(segment_size), job_(job), coder_(coder), ring_slots_(workers + kRingSpare) {
    // A worker's window never reaches beyond the segment after its own.
    VW_ASSERT(segment_size % WINDOW_HALF == 0 &&
              segment_size > kOverlapBytes + FLATE_WINDOW_SIZE + MAX_MATCH);
  }

  void allocate() { ring_ = std::make_unique<std::uint8_t[]>(ring_slots_ * segment_bytes); }

  // ---- Input ----

  // Up to max_bytes of the member from `offset` into destination; waits until
  // they are read. 0: the member ends before `offset`.
  std::uint32_t copy_input(bool coder, std::uint64_t offset, std::uint8_t* destination,
                           std::uint32_t max_bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (offset >= read_end_ && !input_ended_) {
      if (coder) {
        pump(lock, true);
      } else {
        changed_.wait(lock);
      }
    }
    if (offset >= read_end_) {
      return 0;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        {max_bytes, read_end_ - offset, segment_bytes - offset % segment_bytes}));
    lock.unlock();
    // The bytes stay put: their slot is reused only once no job and not the
    // coder's window reach them.
    std::memcpy(destination, slot(offset / segment_bytes) + offset % segment_bytes, n);
    return n;
  }

  // ---- Jobs ----

  // The next segment for a worker, or null once the member is done.
  Segment* take_job() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || next_job_ < issued_; });
    if (stop_) {
      return nullptr;
    }
    Segment* segment = &segments_[next_job_ - first_segment_];
    ++next_job_;
    return segment;
  }

  void finish_job(Segment* segment) {
    std::lock_guard<std::mutex> lock(mutex_);
    segment->done = true;
    changed_.notify_all();
  }

  // Segment `index` once its worker is done; null when there is no such
  // segment (the member ends before it).
  Segment* result(std::uint64_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      pump(lock, false);
      if (index < first_segment_ + segments_.size()) {
        Segment* segment = &segments_[index - first_segment_];
        if (segment->done) {
          return segment;
        }
      } else if (input_ended_ && index * segment_bytes >= read_end_) {
        return nullptr;
      }
      changed_.wait(lock);
    }
  }

  // Segments before `index` are no longer needed.
  void drop_segments_before(std::uint64_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (first_segment_ < index && !segments_.empty() && segments_.front().done) {
      segments_.pop_front();
      ++first_segment_;
    }
  }

  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    stop_flag.store(true, std::memory_order_relaxed);
    changed_.notify_all();
  }

  const std::uint64_t segment_bytes;
  std::atomic<bool> stop_flag{false};

 private:
  std::uint8_t* slot(std::uint64_t chunk) {
    return ring_.get() + (chunk % ring_slots_) * segment_bytes;
  }

  // Reads input into free ring slots and hands out the jobs whose input is
  // complete. With `one`, returns after one chunk. Called with the lock
  // held, on the coder's thread only; the lock is let go while reading.
  void pump(std::unique_lock<std::mutex>& lock, bool one) {
    while (!input_ended_) {
      issue_jobs();
      const std::uint64_t chunk = read_end_ / segment_bytes;
      if (chunk >= first_needed_chunk() + ring_slots_) {
        if (one) {
          changed_.wait(lock);  // a job will finish and free its chunks
          continue;
        }
        break;
      }
      const std::uint64_t at = read_end_;
      const auto room = static_cast<std::uint32_t>(segment_bytes - at % segment_bytes);
      std::uint8_t* destination = slot(chunk) + at % segment_bytes;
      lock.unlock();
      bool ended = false;
      const std::uint32_t got = read_until_full(job_.read_input, coder_, destination, room, ended);
      lock.lock();
      read_end_ += got;
      input_ended_ = ended;
      changed_.notify_all();
      if (one) {
        break;
      }
    }
    issue_jobs();
  }

  // The oldest chunk a job in hand or the coder's window still reads.
  std::uint64_t first_needed_chunk() const {
    std::uint64_t first = coder_->window_offset;
    for (const Segment& segment : segments_) {
      if (!segment.done) {
        first = std::min(first, segment.start >= WINDOW_HALF ? segment.start - WINDOW_HALF : 0);
      }
    }
    return first / segment_bytes;
  }

  // A segment's job reads from 32768 bytes before the segment to a window
  // past the overlap into the next one: it is handed out once the whole next
  // segment is in the ring (or the input has ended).
  void issue_jobs() {
    for (;;) {
      const std::uint64_t index = issued_;
      const std::uint64_t start = index * segment_bytes;
      const std::uint64_t next_start = start + segment_bytes;
      if (start >= read_end_ || (!input_ended_ && read_end_ < next_start + segment_bytes)) {
        return;
      }
      segments_.emplace_back();
      Segment& segment = segments_.back();
      segment.index = index;
      segment.start = start;
      segment.end =
          input_ended_ && next_start >= read_end_ ? UINT64_MAX : next_start + kOverlapBytes;
      ++issued_;
      changed_.notify_all();
    }
  }

  const FlateJob& job_;
  FlateState* coder_;
  const std::uint32_t ring_slots_;
  std::unique_ptr<std::uint8_t[]> ring_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t read_end_ = 0;  // bytes of the member read so far
  bool input_ended_ = false;
  std::deque<Segment> segments_;  // from first_segment_ on
  std::uint64_t first_segment_ = 0;
  std::uint64_t issued_ = 0;    // segments handed out so far
  std::uint64_t next_job_ = 0;  // the next segment a worker takes
  bool stop_ = false;
};

// Where the compressor's own read_input reads from.
struct InputSide {
  Pipeline* pipeline;
  bool coder;
};

std::uint32_t read_from_pipeline(FlateState* state, std::uint8_t* destination,
                                 std::uint32_t max_bytes) {
  auto* side = static_cast<InputSide*>(state->source);
  const std::uint64_t offset =
      state->window_offset + static_cast<std::uint64_t>(destination - state->window);
  return side->pipeline->copy_input(side->coder, offset, destination, max_bytes);
}

// A worker's steps: its own search, every outcome recorded, nothing coded.
template <bool kLanes>
struct RecordSteps {
  Segment* segment;
  const std::atomic<bool>* stop;

  bool begin_step(FlateState* state, bool) {
    return state->window_offset + state->cur_pos < segment->end &&
           !stop->load(std::memory_order_relaxed);
  }
  std::uint32_t search(FlateState* state) {
    bool found;
    const std::uint32_t length = own_search<kLanes>(state, found);
    const std::uint32_t dist = found ? state->cur_pos - state->match_pos : 0;
    segment->steps.push_back(
        {static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(dist)});
    return length;
  }
  bool match(FlateState*, std::uint32_t, std::uint32_t) { return false; }
  bool literal(FlateState*, std::uint32_t) { return false; }
  std::uint32_t close(FlateState*, int) { return 0; }
  void refilled(FlateState* state) { insert_ahead<kLanes>(state); }
};

template <bool kLanes>
void record_segment(FlateState* state, Segment* segment, Pipeline* pipeline) {
  insert_ahead<kLanes>(state);
  RecordSteps<kLanes> steps{segment, &pipeline->stop_flag};
  lazy_loop(state, steps);
}

void run_worker(Pipeline* pipeline, FlateState* state, int level) {
  while (Segment* segment = pipeline->take_job()) {
    try {
      segment->steps.reserve(pipeline->segment_bytes / 4);
      state->error_text = nullptr;
      match_init_at(state, level, segment->start);
      if (state->chain_limit >= kLanesFrom) {
        record_segment<true>(state, segment, pipeline);
      } else {
        record_segment<false>(state, segment, pipeline);
      }
      segment->error_text = state->error_text;
      segment->usable = true;
    } catch (const std::bad_alloc&) {
      segment->steps = {};
      segment->usable = false;
    }
    pipeline->finish_job(segment);
  }
}

// Where a parse started afresh at a segment's start stands, step by step:
// the coder walks it along to find a position where both stand free.
struct Shadow {
  const Segment* segment = nullptr;
  std::size_t next_step = 0;
  std::uint64_t position = 0;
  std::uint32_t length = MIN_MATCH - 1;  // what the parse holds at `position`

  void start(const Segment* s) {
    *this = Shadow{};
    segment = s;
    position = s->start;
  }
  // Moves on until the parse stands at `target` or beyond; true when it
  // stands free exactly there with a record for the step.
  bool free_at(std::uint64_t target) {
    const std::vector<StepRecord>& steps = segment->steps;
    while (position < target && next_step < steps.size()) {
      const std::uint32_t held = length;
      length = steps[next_step++].length;
      if (held >= MIN_MATCH && length <= held) {
        position += held - 1;  // the held match goes out
        length = MIN_MATCH - 1;
      } else {
        position += 1;
      }
    }
    return position == target && length == MIN_MATCH - 1 && next_step < steps.size();
  }
};

// The coder's steps: outcomes from the records (or its own search where they
// run out), symbols into its own block coder.
template <bool kLanes>
struct ReplaySteps {
  Pipeline* pipeline;
  const Segment* source = nullptr;  // null: searching on its own
  std::size_t next_step = 0;
  std::uint64_t target_index = 0;  // the segment to meet next
  Shadow shadow;

  bool begin_step(FlateState* state, bool free) {
    const std::uint64_t position = state->window_offset + state->cur_pos;
    if (free) {
      try_to_meet(state, position);
    }
    if (source != nullptr && next_step == source->steps.size()) {
      search_on_own(state);
    }
    return true;
  }

  std::uint32_t search(FlateState* state) {
    if (source == nullptr) {
      bool found;
      return own_search<kLanes>(state, found);
    }
    const StepRecord step = source->steps[next_step++];
    if (step.dist != 0) {
      state->match_pos = state->cur_pos - step.dist;
    }
    return step.length;
  }
  bool match(FlateState* state, std::uint32_t dist, std::uint32_t lc) {
    return ct_tally(state, dist, lc);
  }
  bool literal(FlateState* state, std::uint32_t byte) { return ct_tally(state, 0, byte); }
  std::uint32_t close(FlateState* state, int final) { return close_block_at_cursor(state, final); }
  void refilled(FlateState* state) {
    if (source == nullptr) {
      insert_ahead<kLanes>(state);
    }
  }

  // Standing free at `position`: follows the latest segment started at or
  // before it from here on if that segment's parse stood free here too.
  void try_to_meet(FlateState* state, std::uint64_t position) {
    const std::uint64_t index = position / pipeline->segment_bytes;
    if (index < target_index) {
      return;
    }
    if (shadow.segment == nullptr || shadow.segment->index != index) {
      // Older segments can no longer be met (but the one followed stays).
      // The shadow lets go of its own first: it may be among them, and a
      // later segment may have no records to start it on.
      shadow = Shadow{};
      pipeline->drop_segments_before(source != nullptr ? source->index : index);
      const Segment* segment = pipeline->result(index);
      if (segment == nullptr || !segment->usable) {
        target_index = index + 1;
        return;
      }
      shadow.start(segment);
    }
    if (shadow.free_at(position)) {
      follow(state, shadow.segment, shadow.next_step);
    }
  }

  void follow(FlateState* state, const Segment* segment, std::size_t step) {
    if (segment->error_text != nullptr) {
      record_failure(state, segment->error_text);
    }
    source = segment;
    next_step = step;
    target_index = segment->index + 1;
    pipeline->drop_segments_before(segment->index);
  }

  // The records end before the next segment's parse was met: link the last
  // 32 KiB and search from here on.
  void search_on_own(FlateState* state) {
    source = nullptr;
    std::memset(state->chain_head, 0, sizeof state->chain_head);
    state->insert_next = state->cur_pos > kWarmBytes ? state->cur_pos - kWarmBytes : 0;
    insert_ahead<kLanes>(state);
  }
};

template <bool kLanes>
std::uint32_t replay(FlateState* coder, Pipeline* pipeline) {
  ReplaySteps<kLanes> steps;
  steps.pipeline = pipeline;
  // The first segment's parse starts where the member does: it is the
  // whole parse until the next one is met.
  if (coder->lookahead != 0) {
    const Segment* first = pipeline->result(0);
    if (first != nullptr && first->usable) {
      steps.follow(coder, first, 0);
    } else {
      steps.target_index = 1;
      steps.search_on_own(coder);
    }
  }
  return lazy_loop(coder, steps);
}

}  // namespace

namespace {

// Stops the workers and waits for them on every way out.
class WorkerThreads {
 public:
  explicit WorkerThreads(Pipeline* pipeline) : pipeline_(pipeline) {}
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;
  ~WorkerThreads() {
    pipeline_->stop();
    for (std::thread& thread : threads_) {
      thread.join();
    }
  }

  // Starts a worker on each state; fewer when the system has no more threads
  // to give (the stream stays the same). False when none started.
  bool start(const std::vector<std::unique_ptr<FlateState>>& states, int level) {
    try {
      threads_.reserve(states.size());
      for (const auto& state : states) {
        threads_.emplace_back(run_worker, pipeline_, state.get(), level);
      }
    } catch (const std::exception&) {
    }
    return !threads_.empty();
  }

 private:
  Pipeline* pipeline_;
  std::vector<std::thread> threads_;
};

// nullopt when the member could not start on threads; then nothing of its
// input has been read yet.
std::optional<FlateOutcome> try_member_threads(const FlateJob& job, unsigned workers,
                                               std::uint64_t segment_bytes) {
  bool started = false;
  try {
    std::unique_ptr<FlateState> coder(new FlateState());
    Pipeline pipeline(job, coder.get(), workers, segment_bytes);
    std::vector<InputSide> sides(workers, InputSide{&pipeline, false});
    std::vector<std::unique_ptr<FlateState>> states;
    for (unsigned i = 0; i < workers; ++i) {
      states.emplace_back(new FlateState());
      states.back()->pack_level = job.level;
      states.back()->read_input = read_from_pipeline;
      states.back()->source = &sides[i];
    }
    pipeline.allocate();
    WorkerThreads threads(&pipeline);
    if (!threads.start(states, job.level)) {
      return std::nullopt;
    }
    started = true;

    InputSide coder_side{&pipeline, true};
    start_member(coder.get(), job, read_from_pipeline, &coder_side);
    const std::uint32_t size = coder->chain_limit >= kLanesFrom
                                   ? replay<true>(coder.get(), &pipeline)
                                   : replay<false>(coder.get(), &pipeline);
    return FlateOutcome{size, coder->error_text};
  } catch (const std::bad_alloc&) {
    if (!started) {
      return std::nullopt;
    }
    return FlateOutcome{0, "out of memory"};
  }
}

}  // namespace

FlateOutcome flate_member_threads(const FlateJob& job, unsigned workers,
                                  std::uint64_t segment_bytes) {
  if (std::optional<FlateOutcome> outcome = try_member_threads(job, workers, segment_bytes)) {
    return *outcome;
  }
  return flate_member_one_thread(job);
}

}  // namespace vaultwick
