#include "deflate/detail/flate_threads.h"

// Threaded compressor
//
// What: the same stream as the one-thread compressor, byte for byte, from
// several cores. The input is cut into segments (1 MiB in the product). The
// coder, on the calling thread, reads the input and runs the lazy parse once
// over the whole member with its own window, block coder and bit writer,
// exactly as the one-thread compressor does. Some segments it searches
// itself, as on one thread. The others are recorded by parse workers ahead of
// it: a worker runs the lazy parse over its segment from a fresh start,
// searching its own hash chains, and records the outcome of every step's
// search (the length found and where the match starts) instead of coding
// anything; the coder then takes each step's outcome from the records instead
// of searching, which costs a fraction of the search.
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
// the next segment's records from there. Where the records run out first, or
// the next segment is the coder's own, the coder links the last 32 KiB into
// chains of its own and searches itself until it meets a later segment's
// parse. Parses meet within a few bytes of a segment's start on real data; a
// run of one byte matched in pieces of 258 may never line up: the output
// cannot change, only the speed.
//
// Who does which segment (the segment plan, segment_plan.cpp) follows what
// the member's recent segments cost the coder and the workers, so that
// neither side waits for the other; where records are not met it stops
// asking for them; where the coder takes longer beside the workers than
// alone (other programs hold the other cores), it leaves the coder alone for
// a while. The coder never waits for a worker: a recorded segment that no
// worker has started when the coder gets there becomes the coder's
// own; one still being recorded the coder searches itself meanwhile, and
// meets the parse where it stands once the records are done (their parse is
// the coder's own from where they met). A segment the coder has gone past
// stops its worker. The first segment is the coder's, and the workers start
// only when a segment is first planned for them: a short member costs no
// thread.
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
// coder ahead of itself as the ring frees up; records take 4 bytes per step
// of a segment in flight, in buffers reused from segment to segment (fresh
// pages cost more than the copies they save). Threads: workers wait for jobs
// under one mutex; a job is handed out only once all the input it reads is
// in the ring, so a worker never waits for input; a segment's `done` flag
// hands its records to the coder.

#include <time.h>
#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "common/check.h"
#include "deflate/detail/flate_one_thread.h"
#include "deflate/detail/large_array.h"
#include "deflate/detail/lazy_loop.h"
#include "deflate/detail/segment_plan.h"

namespace vaultwick {

namespace {

// A worker parses this far into the next segment, for the parses to meet in.
constexpr std::uint64_t kOverlapBytes = 8 << 10;
// The coder links this much history before it searches on its own.
constexpr std::uint32_t kWarmBytes = WINDOW_HALF;
// Segments the input ring holds, beyond one per worker.
constexpr std::uint32_t kRingSpare = 6;
// Workers, their pages and their first jobs cost some ms to start: a member
// is worth them once the coder has spent this long on it alone.
constexpr double kWorthWorkersSeconds = 30e-3;
// A retry of records that have not met records this much of its segment:
// real data meets within a few bytes.
constexpr std::uint64_t kProbeBytes = 128 << 10;
// Finished records the coder learnt of nearer than this to their segment's
// end may simply not have found a free position in common yet: only those
// learnt of earlier and never met count as records that do not meet.
constexpr std::uint64_t kMeetRoom = 32 << 10;
constexpr std::uint64_t kNever = UINT64_MAX;

double Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Processor time of the calling thread: its waits do not count, nor the
// time other programs have the processor.
double ThreadSeconds() {
  return Seconds(CLOCK_THREAD_CPUTIME_ID);
}

double WallSeconds() {
  return Seconds(CLOCK_MONOTONIC);
}

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
  // Under the pipeline's lock (`recorded` is only ever changed by the coder).
  bool recorded = false;   // a worker records it; false: the coder searches it itself
  bool taken = false;      // a worker (or the coder, helping) has started on it
  bool by_worker = false;  // a worker has
  // Written by its worker before `done`. The worker writes records through a
  // pointer of its own and the coder reads them through its own: nothing
  // here changes at every step, so the coder's thread and the worker's do
  // not pull this line back and forth.
  LargePtr<StepRecord[]> steps;  // room for max_steps()
  std::size_t step_count = 0;
  const char* error_text = nullptr;
  bool usable = false;              // the records cover the whole segment
  std::atomic<bool> done{false};    // no worker touches it any more
  std::atomic<bool> passed{false};  // the coder went on without its records
};

class Pipeline {
 public:
  Pipeline(const FlateJob& job, FlateState* coder, std::uint32_t workers,
           const FlateThreadsOptions& options)
      : segment_bytes(options.segment_bytes),
        choice(options.choice),
        job_(job),
        coder_(coder),
        ring_slots_(workers + kRingSpare),
        plan_(workers, segment_bytes),
        coder_began_(ThreadSeconds()) {
    // A worker's window never reaches beyond the segment after its own.
    VW_ASSERT(segment_bytes % WINDOW_HALF == 0 &&
              segment_bytes > kOverlapBytes + FLATE_WINDOW_SIZE + MAX_MATCH);
    // The first segments are the coder's, their input past the ring, until
    // the member has proven long enough to be worth workers: a short member
    // never touches the ring nor starts a thread.
    if (choice == SegmentChoice::Measured) {
      direct_ = true;
      direct_limit_ = UINT64_MAX;
    } else if (choice == SegmentChoice::Alternating) {
      direct_ = true;
      direct_limit_ = ring_start_for(first_recordable(0));
    }
  }

  void allocate() { ring_ = AllocateLargeArray<std::uint8_t>(ring_slots_ * segment_bytes); }

  // Called, on the coder's thread and under the lock, when the first segment
  // is planned for a worker; returns how many workers it started.
  void set_start_workers(std::function<unsigned()> start) { start_workers_ = std::move(start); }

  // The most steps a segment's parse takes: each moves on at least one byte.
  std::size_t max_steps() const { return segment_bytes + kOverlapBytes; }

  // ---- Input ----

  // Up to max_bytes of the member from `offset` into destination; waits until
  // they are read. 0: the member ends before `offset`.
  std::uint32_t copy_input(bool coder, std::uint64_t offset, std::uint8_t* destination,
                           std::uint32_t max_bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (coder && offset >= read_end_) {
      if (direct_) {
        return read_direct(lock, offset, destination, max_bytes);
      }
      pump(lock, false);  // read ahead, so that jobs go out early
    }
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

  // ---- Workers ----

  // The next segment to record, or null once the member is done.
  Segment* take_job() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (stop_) {
        return nullptr;
      }
      if (Segment* segment = next_job(0, true)) {
        segment->by_worker = true;
        return segment;
      }
      changed_.wait(lock);
    }
  }

  // For the coder: the next segment from `index` on to record, or null when
  // there is none at the moment.
  Segment* take_job_now(std::uint64_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_job(index, false);
  }

  // `seconds` of processor time went into `bytes` of the segment's parse.
  void finish_job(Segment* segment, double seconds, std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes >= segment_bytes / 4) {
      plan_.WorkerSegment(seconds, bytes);
    }
    if (segment->by_worker) {
      worker_seconds_ += seconds;
    }
    segment->done.store(true, std::memory_order_release);
    changed_.notify_all();
  }

  // ---- Coder ----

  // Segment `index`, or null when the member ends before it. A recorded
  // segment that no worker has started becomes the coder's own, unless the
  // choice makes the coder wait for records.
  Segment* peek(std::uint64_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      while (direct_ && issued_ <= index && index * segment_bytes < read_end_) {
        issue(0);
      }
      pump(lock, false);
      if (index < first_segment_ + segments_.size()) {
        Segment* segment = &segments_[index - first_segment_];
        if (measured() && segment->recorded && !segment->taken) {
          segment->recorded = false;
          segment->done.store(true, std::memory_order_relaxed);
        }
        return segment;
      }
      if (input_ended_ && index * segment_bytes >= read_end_) {
        return nullptr;
      }
      changed_.wait(lock);
    }
  }

  void wait_for(const Segment* segment) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return segment->done.load(std::memory_order_acquire); });
  }

  // The coder has gone past a segment whose records it never followed.
  static void pass(Segment* segment) { segment->passed.store(true, std::memory_order_relaxed); }

  // The coder's last segment: `seconds` of processor time on it (besides
  // recording for the workers), `all_seconds` with that, in `wall` seconds.
  void coder_segment(CoderPass pass, double seconds, double all_seconds, double wall) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_.CoderSegment(pass, seconds, segment_bytes);
    const double waited = read_wall_ - read_wall_told_;
    const double workers = worker_seconds_ - worker_seconds_told_;
    read_wall_told_ = read_wall_;
    worker_seconds_told_ = worker_seconds_;
    if (choice == SegmentChoice::Crowded) {
      // As if the workers had run on the coder's processor.
      plan_.CoderWall(all_seconds + workers, segment_bytes);
    } else {
      plan_.CoderWall(std::max(0.0, wall - waited), segment_bytes);
    }
  }

  void records_met(bool met) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_.RecordsMet(met);
  }

  // Segments before `index` are no longer needed; their record buffers go
  // back to the workers.
  void drop_segments_before(std::uint64_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (first_segment_ < index && !segments_.empty() &&
           segments_.front().done.load(std::memory_order_acquire)) {
      if (segments_.front().steps) {
        spare_steps_.push_back(std::move(segments_.front().steps));
      }
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
  const SegmentChoice choice;
  std::atomic<bool> stop_flag{false};
  std::atomic<std::uint64_t> jobs_planned{0};  // segments planned for a worker so far

 private:
  // The first segment from `from` on that is to be recorded and nobody has
  // started; `advance`: the workers' search starts after it next time.
  Segment* next_job(std::uint64_t from, bool advance) {
    std::uint64_t at = std::max({next_job_, first_segment_, from});
    for (; at < issued_; ++at) {
      Segment& segment = segments_[at - first_segment_];
      if (segment.recorded && !segment.taken) {
        segment.taken = true;
        if (!spare_steps_.empty()) {
          segment.steps = std::move(spare_steps_.back());
          spare_steps_.pop_back();
        }
        if (advance) {
          next_job_ = at + 1;
        }
        return &segment;
      }
      if (advance) {
        next_job_ = at + 1;
      }
    }
    return nullptr;
  }

  std::uint8_t* slot(std::uint64_t chunk) {
    return ring_.get() + (chunk % ring_slots_) * segment_bytes;
  }

  // Reads input into free ring slots and hands out the jobs whose input is
  // complete. With `one`, returns after one chunk. Called with the lock
  // held, on the coder's thread only; the lock is let go while reading.
  void pump(std::unique_lock<std::mutex>& lock, bool one) {
    while (!input_ended_ && !direct_) {
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
      const std::uint32_t got = timed_read(destination, room, &ended);
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
      if (!segment.done.load(std::memory_order_relaxed)) {
        first = std::min(first, segment.start >= WINDOW_HALF ? segment.start - WINDOW_HALF : 0);
      }
    }
    return first / segment_bytes;
  }

  // The coder's input straight from the caller's function, past the ring:
  // while no job needs it, the ring would only cost a copy.
  std::uint32_t read_direct(std::unique_lock<std::mutex>& lock, std::uint64_t offset,
                            std::uint8_t* destination, std::uint32_t max_bytes) {
    VW_ASSERT(offset == read_end_ && read_end_ < direct_limit_);
    if (input_ended_) {
      return 0;
    }
    max_bytes =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(max_bytes, direct_limit_ - read_end_));
    lock.unlock();
    const std::uint32_t n = timed_read(destination, max_bytes, nullptr);
    lock.lock();
    if (n == 0 || n == 0xFFFFFFFFu) {
      input_ended_ = true;
      changed_.notify_all();
      return 0;
    }
    read_end_ += n;
    if (!worth_known_) {
      const double spent = ThreadSeconds() - coder_began_;
      if (spent >= kWorthWorkersSeconds) {
        // Long enough: workers from the next segment the plan wants
        // recorded, unless the coder searches this input too fast for them.
        worth_known_ = true;
        const std::uint64_t position = coder_->window_offset + coder_->cur_pos;
        plan_.CoderSegment(CoderPass::Searched, spent, position);
        direct_limit_ =
            stays_direct()
                ? UINT64_MAX
                : ring_start_for(std::max(first_recordable(issued_), position / segment_bytes + 2));
      }
    }
    if (read_end_ >= direct_limit_) {
      direct_ = false;  // a job may need what comes next
      ring_from_ = read_end_;
    }
    return n;
  }

  // A segment's job reads from 32768 bytes before the segment to a window
  // past the overlap into the next one: it is handed out once the whole next
  // segment is in the ring (or the input has ended).
  void issue_jobs() {
    while (!direct_) {
      const std::uint64_t start = issued_ * segment_bytes;
      const std::uint64_t next_start = start + segment_bytes;
      if (start >= read_end_ || (!input_ended_ && read_end_ < next_start + segment_bytes)) {
        return;
      }
      issue(input_ended_ && next_start >= read_end_ ? UINT64_MAX : next_start + kOverlapBytes);
    }
  }

  // Plans the next segment; a recorded one's parse stops at `end`. While the
  // plan expects no records for a while, the coder's input bypasses the
  // ring; it goes back to the ring a segment before records are wanted
  // again, so that their job finds its input there.
  void issue(std::uint64_t end) {
    const std::uint64_t index = issued_;
    segments_.emplace_back();
    Segment& segment = segments_.back();
    segment.index = index;
    segment.start = index * segment_bytes;
    segment.end = end;
    // The job's window starts 32768 bytes before the segment.
    const bool in_ring =
        !direct_ &&
        (segment.start == 0 ? ring_from_ == 0 : segment.start - WINDOW_HALF >= ring_from_);
    const bool probe = plan_.Probing();
    segment.recorded = wants_records(index) && in_ring && have_workers();
    plan_.Planned(segment.recorded);
    if (segment.recorded && probe) {
      segment.end = std::min(segment.end, segment.start + kProbeBytes);
    }
    segment.done.store(!segment.recorded, std::memory_order_relaxed);
    if (segment.recorded) {
      jobs_planned.fetch_add(1, std::memory_order_relaxed);
    }
    if (!segment.recorded && worth_known_) {
      const std::uint64_t limit =
          stays_direct() ? UINT64_MAX : ring_start_for(first_recordable(index + 1));
      if (direct_ && limit <= read_end_) {
        direct_ = false;
        ring_from_ = read_end_;
      } else if (direct_) {
        direct_limit_ = limit;
      } else if (limit > read_end_ + segment_bytes) {
        direct_ = true;  // the ring drains first
        direct_limit_ = limit;
      }
    }
    ++issued_;
    changed_.notify_all();
  }

  bool wants_records(std::uint64_t index) const {
    switch (choice) {
      case SegmentChoice::Measured:
      case SegmentChoice::Crowded:
        return plan_.WantsRecords();
      case SegmentChoice::Alternating:
        return index % 4 == 3;
      case SegmentChoice::Recorded:
      case SegmentChoice::RecordedLate:
        break;
    }
    return true;
  }

  // Input the coder searches too fast for workers to pay never goes through
  // the ring: its copy and the ring's first pages would be all the threads
  // add. Each segment the coder plans asks again, so input that turns slow
  // goes back to the ring in time for the next segment's job.
  bool stays_direct() const { return measured() && plan_.Cheap(); }

  // The product's choice, and the test's that makes it believe workers take
  // the coder's processor.
  bool measured() const {
    return choice == SegmentChoice::Measured || choice == SegmentChoice::Crowded;
  }

  // The caller's read function, timed: the coder's waits for its input do
  // not count against the processor it had.
  std::uint32_t timed_read(std::uint8_t* destination, std::uint32_t max_bytes, bool* ended) {
    const double began = WallSeconds();
    std::uint32_t n;
    if (ended != nullptr) {
      n = read_until_full(job_.read_input, coder_, destination, max_bytes, *ended);
    } else {
      n = job_.read_input(coder_, destination, max_bytes);
    }
    read_wall_ += WallSeconds() - began;
    return n;
  }

  // Where the coder's input goes back to the ring for segment `index` to be
  // recorded: a segment earlier, so that the ring reads ahead and a worker
  // starts on it while the coder is still a segment away (a job also reads
  // from 32768 bytes before its segment).
  std::uint64_t ring_start_for(std::uint64_t index) const {
    return index == 0 ? 0 : (index - 1) * segment_bytes;
  }

  // After the segments before `index` were planned: the first one from
  // `index` on that may be recorded.
  std::uint64_t first_recordable(std::uint64_t index) const {
    switch (choice) {
      case SegmentChoice::Measured:
      case SegmentChoice::Crowded:
        return index + plan_.SearchedAhead();
      case SegmentChoice::Alternating:
        return index + (3 - index % 4);
      case SegmentChoice::Recorded:
      case SegmentChoice::RecordedLate:
        break;
    }
    return index;
  }

  bool have_workers() {
    if (!workers_asked_) {
      workers_asked_ = true;
      const unsigned started = start_workers_ ? start_workers_() : 0;
      if (started != 0) {
        plan_.SetWorkers(started);
      }
      have_workers_ = started != 0;
    }
    return have_workers_;
  }

  const FlateJob& job_;
  FlateState* coder_;
  const std::uint32_t ring_slots_;
  LargePtr<std::uint8_t[]> ring_;
  std::function<unsigned()> start_workers_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t read_end_ = 0;  // bytes of the member read so far
  bool input_ended_ = false;
  bool direct_ = false;             // the coder reads past the ring, up to direct_limit_
  std::uint64_t direct_limit_ = 0;  // where a job may start to need the input
  std::uint64_t ring_from_ = 0;     // the ring holds the input from here on
  std::deque<Segment> segments_;    // from first_segment_ on
  std::uint64_t first_segment_ = 0;
  std::uint64_t issued_ = 0;    // segments planned so far
  std::uint64_t next_job_ = 0;  // where a worker looks for its next job
  std::vector<LargePtr<StepRecord[]>> spare_steps_;
  SegmentPlan plan_;
  const double coder_began_;   // the coder's processor time when the member started
  double read_wall_ = 0;       // wall time the coder spent in the caller's reads
  double worker_seconds_ = 0;  // processor time the workers spent on records
  double read_wall_told_ = 0;  // what the plan has heard of these
  double worker_seconds_told_ = 0;
  bool worth_known_ = choice != SegmentChoice::Measured;  // long enough to consider workers
  bool workers_asked_ = false;
  bool have_workers_ = false;
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
  StepRecord* next;  // where the next step's record goes

  bool begin_step(FlateState* state, bool) {
    return state->window_offset + state->cur_pos < segment->end &&
           !segment->passed.load(std::memory_order_relaxed) &&
           !stop->load(std::memory_order_relaxed);
  }
  std::uint32_t search(FlateState* state) {
    bool found;
    const std::uint32_t length = own_search<kLanes>(state, found);
    const std::uint32_t dist = found ? state->cur_pos - state->match_pos : 0;
    *next++ = {static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(dist)};
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
  RecordSteps<kLanes> steps{segment, &pipeline->stop_flag, segment->steps.get()};
  lazy_loop(state, steps);
  segment->step_count = static_cast<std::size_t>(steps.next - segment->steps.get());
  VW_ASSERT(segment->step_count <= pipeline->max_steps());
}

// Records one segment's parse into its records; returns the processor time
// it took.
double record_job(Pipeline* pipeline, FlateState* state, Segment* segment) {
  const double began = ThreadSeconds();
  std::uint64_t parsed = 0;
  try {
    if (!segment->steps) {
      segment->steps = AllocateLargeArray<StepRecord>(pipeline->max_steps());
    }
    state->error_text = nullptr;
    match_init_at(state, state->pack_level, segment->start);
    if (state->chain_limit >= kLanesFrom) {
      record_segment<true>(state, segment, pipeline);
    } else {
      record_segment<false>(state, segment, pipeline);
    }
    parsed = state->window_offset + state->cur_pos - segment->start;
    segment->error_text = state->error_text;
    segment->usable = !segment->passed.load(std::memory_order_relaxed) &&
                      !pipeline->stop_flag.load(std::memory_order_relaxed);
  } catch (const std::bad_alloc&) {
    segment->usable = false;
  }
  const double seconds = ThreadSeconds() - began;
  pipeline->finish_job(segment, seconds, parsed);
  return seconds;
}

void run_worker(Pipeline* pipeline, FlateState* state) {
  while (Segment* segment = pipeline->take_job()) {
    record_job(pipeline, state, segment);
  }
}

// A worker's state, set up to read its input from the pipeline.
LargePtr<FlateState> worker_state(InputSide* side, int level) {
  LargePtr<FlateState> state = AllocateLargeValue<FlateState>();
  state->pack_level = level;
  state->read_input = read_from_pipeline;
  state->source = side;
  return state;
}

// While the records the coder is to follow next are still being made, the
// coder records a later segment itself rather than search along on its
// own, which would only repeat the worker's work: it comes back with work
// done and the records it waited for (mostly) ready. It parses with a state
// of its own, made when first needed.
class CoderHelp {
 public:
  CoderHelp(Pipeline* pipeline, int level) : pipeline_(pipeline), level_(level) {}

  // Records the next segment from `index` on that no worker has started
  // and returns the processor time it took; negative when there is none.
  // Asks the pipeline again only once it has planned more jobs: the coder
  // asks at every step it searches on its own meanwhile.
  double record_one(std::uint64_t index) {
    const std::uint64_t planned = pipeline_->jobs_planned.load(std::memory_order_relaxed);
    if (planned == none_after_) {
      return -1;
    }
    Segment* segment = pipeline_->take_job_now(index);
    if (segment == nullptr) {
      none_after_ = planned;
      return -1;
    }
    if (!state_) {
      try {
        state_ = worker_state(&side_, level_);
      } catch (const std::bad_alloc&) {
        pipeline_->finish_job(segment, 0, 0);  // no records: the coder searches it
        return 0;
      }
    }
    return record_job(pipeline_, state_.get(), segment);
  }

 private:
  Pipeline* pipeline_;
  const int level_;
  InputSide side_{pipeline_, false};
  LargePtr<FlateState> state_;
  std::uint64_t none_after_ = UINT64_MAX;  // jobs planned when none was left
};

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
    const StepRecord* const steps = segment->steps.get();
    const std::size_t count = segment->step_count;
    while (position < target && next_step < count) {
      const std::uint32_t held = length;
      length = steps[next_step++].length;
      if (held >= MIN_MATCH && length <= held) {
        position += held - 1;  // the held match goes out
        length = MIN_MATCH - 1;
      } else {
        position += 1;
      }
    }
    return position == target && length == MIN_MATCH - 1 && next_step < count;
  }
};

// The coder's steps: outcomes from the records where it has met them, its
// own search elsewhere; symbols into its own block coder. It also tells the
// plan what each segment cost it and whether records met.
template <bool kLanes>
struct ReplaySteps {
  Pipeline* pipeline;
  CoderHelp* help;
  const Segment* source = nullptr;      // null: searching on its own
  const StepRecord* records = nullptr;  // source's, and how many
  std::size_t record_count = 0;
  std::size_t next_step = 0;
  std::uint64_t target_index = 0;       // the segment to meet next
  Segment* meeting = nullptr;           // that segment, once it is known to be recorded
  std::uint64_t done_seen_at = kNever;  // where the coder learnt that its records were done
  std::uint64_t met_index = kNever;     // the last segment whose records were followed
  Shadow shadow;
  // The segment the coder is in, for the plan.
  std::uint64_t boundary = 0;   // where the next one starts
  std::uint64_t own_since = 0;  // while searching on its own: since where, in this segment
  std::uint64_t own_bytes = 0;  // searched on its own in this segment
  double segment_began = 0;     // processor time at the segment's start
  double wall_began = 0;        // wall time at the segment's start
  double helped = 0;            // processor time since, recording for the workers

  ReplaySteps(Pipeline* p, CoderHelp* h) : pipeline(p), help(h), boundary(p->segment_bytes) {}

  void start(FlateState* state) {
    segment_began = ThreadSeconds();
    wall_began = WallSeconds();
    search_on_own(state, 0);
  }

  bool begin_step(FlateState* state, bool free) {
    const std::uint64_t position = state->window_offset + state->cur_pos;
    if (position >= boundary) {
      end_segment();
    }
    if (free) {
      try_to_meet(state, position);
    }
    if (source != nullptr && next_step == record_count) {
      search_on_own(state, position);
    }
    return true;
  }

  std::uint32_t search(FlateState* state) {
    if (source == nullptr) {
      bool found;
      return own_search<kLanes>(state, found);
    }
    const StepRecord step = records[next_step++];
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

  // The coder has crossed `boundary`: what the segment before it cost, and
  // whether its records met.
  void end_segment() {
    const std::uint64_t ended = boundary / pipeline->segment_bytes - 1;
    if (source == nullptr) {
      own_bytes += boundary - own_since;
      own_since = boundary;
    }
    const std::uint64_t bytes = pipeline->segment_bytes;
    const CoderPass pass = own_bytes * 10 >= bytes * 9 ? CoderPass::Searched
                           : own_bytes * 10 <= bytes   ? CoderPass::Followed
                                                       : CoderPass::Mixed;
    const double now = ThreadSeconds();
    const double wall = WallSeconds();
    pipeline->coder_segment(pass, now - segment_began - helped, now - segment_began,
                            wall - wall_began);
    segment_began = now;
    wall_began = wall;
    helped = 0;
    own_bytes = 0;

    if (met_index == ended) {
      pipeline->records_met(true);
    } else if (meeting != nullptr && meeting->index == ended) {
      if (done_seen_at == kNever) {
        Pipeline::pass(meeting);  // its worker is still at it, for nothing
      } else if (meeting->usable && boundary - done_seen_at >= kMeetRoom) {
        pipeline->records_met(false);
      }
    }
    boundary += pipeline->segment_bytes;
  }

  // Standing free at `position`: follows the latest segment started at or
  // before it from here on if that segment's parse stood free here too.
  void try_to_meet(FlateState* state, std::uint64_t position) {
    // Most free steps stand short of the next segment to meet: they cost a
    // multiplication, not a division (long matches make half the steps free).
    if (position < target_index * pipeline->segment_bytes) {
      return;
    }
    const std::uint64_t index = position / pipeline->segment_bytes;
    if (meeting == nullptr || meeting->index != index) {
      // Older segments can no longer be met (but the one followed stays).
      // The shadow lets go of its own first: it may be among them.
      shadow = Shadow{};
      meeting = nullptr;
      pipeline->drop_segments_before(source != nullptr ? source->index : index);
      Segment* segment = pipeline->peek(index);
      if (segment == nullptr || !segment->recorded) {
        target_index = index + 1;
        return;
      }
      meeting = segment;
      done_seen_at = kNever;
    }
    if (done_seen_at == kNever) {
      while (!meeting->done.load(std::memory_order_acquire)) {
        if (waits_at(position)) {
          pipeline->wait_for(meeting);
          break;
        }
        const double seconds = help->record_one(index + 1);
        if (seconds < 0) {
          return;  // nothing to record meanwhile: search on
        }
        helped += seconds;
      }
      done_seen_at = position;
      if (!meeting->usable) {
        target_index = index + 1;
        return;
      }
      shadow.start(meeting);
    }
    if (shadow.free_at(position)) {
      follow(state, position, meeting, shadow.next_step);
    }
  }

  bool waits_at(std::uint64_t position) const {
    switch (pipeline->choice) {
      case SegmentChoice::Recorded:
        return true;
      case SegmentChoice::RecordedLate:
        return position >= meeting->start + pipeline->segment_bytes / 4;
      case SegmentChoice::Alternating:
        return true;
      case SegmentChoice::Measured:
      case SegmentChoice::Crowded:
        break;
    }
    return false;
  }

  void follow(FlateState* state, std::uint64_t position, const Segment* segment, std::size_t step) {
    if (segment->error_text != nullptr) {
      record_failure(state, segment->error_text);
    }
    if (source == nullptr) {
      own_bytes += position - own_since;
    }
    state->chains_unused = true;
    source = segment;
    records = segment->steps.get();
    record_count = segment->step_count;
    next_step = step;
    target_index = segment->index + 1;
    met_index = segment->index;
    pipeline->drop_segments_before(segment->index);
  }

  // No records to follow from here: link the last 32 KiB and search from
  // here on.
  void search_on_own(FlateState* state, std::uint64_t position) {
    source = nullptr;
    own_since = position;
    state->chains_unused = false;
    std::memset(state->chain_head, 0, sizeof state->chain_head);
    state->insert_next = state->cur_pos > kWarmBytes ? state->cur_pos - kWarmBytes : 0;
    insert_ahead<kLanes>(state);
  }
};

template <bool kLanes>
std::uint32_t replay(FlateState* coder, Pipeline* pipeline, CoderHelp* help) {
  ReplaySteps<kLanes> steps(pipeline, help);
  steps.start(coder);
  return lazy_loop(coder, steps);
}

// The parse workers: started when the first segment is planned for one,
// stopped and joined on every way out.
class WorkerCrew {
 public:
  WorkerCrew(Pipeline* pipeline, unsigned workers, int level)
      : pipeline_(pipeline), workers_(workers), level_(level) {}
  WorkerCrew(const WorkerCrew&) = delete;
  WorkerCrew& operator=(const WorkerCrew&) = delete;
  ~WorkerCrew() {
    pipeline_->stop();
    for (std::thread& thread : threads_) {
      thread.join();
    }
  }

  // Starts as many workers as the memory and the system allow (the stream
  // stays the same); returns how many.
  unsigned start() {
    try {
      for (unsigned i = 0; i < workers_; ++i) {
        states_.push_back(worker_state(&side_, level_));
      }
    } catch (const std::bad_alloc&) {
    }
    try {
      threads_.reserve(states_.size());
      for (const auto& state : states_) {
        threads_.emplace_back(run_worker, pipeline_, state.get());
      }
    } catch (const std::exception&) {
    }
    return static_cast<unsigned>(threads_.size());
  }

 private:
  Pipeline* pipeline_;
  const unsigned workers_;
  const int level_;
  InputSide side_{pipeline_, false};
  std::vector<LargePtr<FlateState>> states_;
  std::vector<std::thread> threads_;
};

// nullopt when the member could not start on threads; then nothing of its
// input has been read yet.
std::optional<FlateOutcome> try_member_threads(const FlateJob& job, unsigned workers,
                                               const FlateThreadsOptions& options) {
  bool started = false;
  try {
    std::unique_ptr<FlateState> coder(new FlateState());
    Pipeline pipeline(job, coder.get(), workers, options);
    pipeline.allocate();
    WorkerCrew crew(&pipeline, workers, job.level);
    pipeline.set_start_workers([&crew] { return crew.start(); });
    CoderHelp help(&pipeline, job.level);
    started = true;

    InputSide coder_side{&pipeline, true};
    start_member(coder.get(), job, read_from_pipeline, &coder_side);
    const std::uint32_t size = coder->chain_limit >= kLanesFrom
                                   ? replay<true>(coder.get(), &pipeline, &help)
                                   : replay<false>(coder.get(), &pipeline, &help);
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
                                  const FlateThreadsOptions& options) {
  if (std::optional<FlateOutcome> outcome = try_member_threads(job, workers, options)) {
    return *outcome;
  }
  return flate_member_one_thread(job);
}

}  // namespace vaultwick
