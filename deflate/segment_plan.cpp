#include "deflate/detail/segment_plan.h"

// Segment plan
//
// What: the threaded compressor cuts a member into segments. A segment is
// either recorded by a parse worker, and the coder only follows the records
// (cheap), or searched by the coder itself, as on one thread (dear), while
// the workers record segments further on. The plan says which, segment by
// segment, from the processor time the member's recent segments took in
// each way.
//
// Why this share: with n workers and a share s of segments searched by the
// coder, the coder spends (1 - s) F + s S per segment (F following, S
// searching) and the workers (1 - s) W / n (W recording). Both sides are
// busy all the time when these are equal:
//
//   s = (W / n - F) / (W / n - F + S)
//
// and 0 when the workers outpace a coder that follows every segment. Searched
// segments are spread evenly among recorded ones, so the workers keep ahead.
// Where records are not met (runs of one byte or periods that a parse started
// elsewhere never lines up with), they only cost: the coder searches
// everything and records are tried again after 2, 4, ... 64 segments. After
// 16 searched segments in a row one is recorded anyway, for fresh figures.
//
// Input the coder searches very fast (long runs, periods, most of what
// records would not meet anyway) stays with the coder alone, input and all,
// as long as it stays that fast: starting workers and their pages costs as
// much as several such segments. The coder's speed is measured from the
// member's first 256 KiB on, before any worker is started.
//
// Where other programs hold the other cores, the workers' processor time may
// come out of the coder's (the system shares processors among programs, not
// threads), and records then cost the coder more wall time than they save
// it. So the plan also compares the coder's wall time per byte, its waits
// for the caller's input left out: alone, following the member's recent
// segments searched without workers, and beside workers, summed over 8
// segments (searched and followed ones together). Where it is not less
// beside workers, the coder goes alone for 8 segments (the input ring reads
// some segments ahead, and a shorter stretch would be coded beside the next
// trial's workers), then workers are tried again for 8; while they still do
// not pay, the stretches alone double up to 64 segments. A segment counts for the way it was
// planned in.
//
// Until a way has been measured its cost is a guess relative to the others,
// from SQL dumps: following a fifth of searching, recording 0.85 of it. The
// first segment is always searched: the coder starts at once and a worker on
// the second segment, and searching costs less than waiting for records.

#include <algorithm>

namespace vaultwick {

namespace {

constexpr double kFollowedGuess = 0.2;   // following, relative to searching
constexpr double kRecordedGuess = 0.85;  // recording, relative to searching
constexpr double kRecentWeight = 0.3;    // of the latest segment in a rate
constexpr unsigned kRefreshAfter = 16;   // searched segments before one is recorded
constexpr unsigned kMaxBackoff = 64;     // searched segments between tries of unmet records
// The coder's wall time beside workers is judged over this many segments,
// for a stretch of searched ones and followed ones together.
constexpr unsigned kJudgedOver = 8;
constexpr unsigned kFirstAlone = 8;  // segments the coder first goes alone for
// Faster than this (8 ms a MiB, 125 MiB/s) the coder searches a segment for
// little more than it costs to start a worker and feed it (its pages, its
// state, its first jobs), and the gain could not be more than a few ms a
// segment: such input stays with the coder.
constexpr double kCheapSecondsPerByte = 8e-3 / (1 << 20);

}  // namespace

SegmentPlan::SegmentPlan(unsigned workers, std::uint64_t /*segment_bytes*/)
    : workers_(std::max(1u, workers)) {}

void SegmentPlan::SetWorkers(unsigned workers) {
  workers_ = std::max(1u, workers);
}

void SegmentPlan::Rate::Add(double seconds, std::uint64_t bytes) {
  if (bytes == 0) {
    return;
  }
  const double latest = seconds / static_cast<double>(bytes);
  per_byte = known ? per_byte + kRecentWeight * (latest - per_byte) : latest;
  known = true;
}

double SegmentPlan::SearchedShare() const {
  // Any measured way gives the scale for the guesses of the others.
  double searched = 1.0;
  if (searched_.known) {
    searched = searched_.per_byte;
  } else if (followed_.known) {
    searched = followed_.per_byte / kFollowedGuess;
  } else if (recorded_.known) {
    searched = recorded_.per_byte / kRecordedGuess;
  }
  const double followed = followed_.known ? followed_.per_byte : kFollowedGuess * searched;
  const double recorded = recorded_.known ? recorded_.per_byte : kRecordedGuess * searched;
  if (followed >= searched) {
    return 1;  // records save the coder nothing
  }
  const double worker_lag = recorded / workers_ - followed;
  if (worker_lag <= 0) {
    return 0;
  }
  return worker_lag / (worker_lag + searched);
}

bool SegmentPlan::Cheap() const {
  return searched_.known && searched_.per_byte < kCheapSecondsPerByte;
}

bool SegmentPlan::WantsRecords() const {
  if (first_ || Cheap() || way_ == Way::Alone) {
    return false;
  }
  const unsigned limit = unmet_backoff_ != 0 ? unmet_backoff_ : kRefreshAfter;
  if (searched_run_ >= limit) {
    return true;
  }
  return unmet_backoff_ == 0 && share_due_ + SearchedShare() < 1;
}

void SegmentPlan::Planned(bool recorded) {
  first_ = false;
  const bool crowded = way_ == Way::Alone;
  // Segments searched before any worker was asked for are the coder's alone.
  if (recorded && !any_recorded_) {
    ForgetAloneAhead();
  }
  any_recorded_ = any_recorded_ || recorded;
  const Way way = any_recorded_ ? way_ : Way::Alone;
  if (planned_++ >= coded_) {
    coder_ahead_.push_back({way, round_});
  }
  if (crowded) {
    if (++alone_run_ >= crowded_backoff_) {
      StartRound(Way::Threaded);  // workers again, judged afresh
    }
    return;
  }
  if (unmet_backoff_ == 0) {
    // A searched segment keeps what it leaves of the share over a whole
    // segment, or a share between 1/(k+1) and 1/k would come out as 1/(k+1).
    // A segment recorded beyond the share (a refresh) owes at most one.
    share_due_ += SearchedShare();
    share_due_ = recorded ? std::min(1.0, share_due_) : std::max(0.0, share_due_ - 1);
  }
  searched_run_ = recorded ? 0 : searched_run_ + 1;
}

unsigned SegmentPlan::SearchedAhead() const {
  if (first_ || Cheap()) {
    return 1;
  }
  if (way_ == Way::Alone) {
    return crowded_backoff_ - alone_run_;
  }
  const unsigned limit = unmet_backoff_ != 0 ? unmet_backoff_ : kRefreshAfter;
  if (unmet_backoff_ == 0 && SearchedShare() < 1) {
    return 0;
  }
  return searched_run_ < limit ? limit - searched_run_ : 0;
}

void SegmentPlan::CoderSegment(CoderPass pass, double seconds, std::uint64_t bytes) {
  if (pass == CoderPass::Followed) {
    followed_.Add(seconds, bytes);
  } else if (pass == CoderPass::Searched) {
    searched_.Add(seconds, bytes);
  }
}

void SegmentPlan::WorkerSegment(double seconds, std::uint64_t bytes) {
  recorded_.Add(seconds, bytes);
}

void SegmentPlan::RecordsMet(bool met) {
  unmet_backoff_ = met ? 0 : std::min(kMaxBackoff, std::max(2u, 2 * unmet_backoff_));
}

void SegmentPlan::CoderWall(double seconds, std::uint64_t bytes) {
  if (bytes == 0) {
    return;
  }
  Ahead ahead{Way::Alone, round_};  // a segment not planned yet has not been recorded
  if (coded_++ < planned_) {
    ahead = coder_ahead_.front();
    coder_ahead_.pop_front();
  }
  if (!ahead.counts) {
    return;
  }
  if (ahead.way == Way::Alone) {
    alone_wall_.Add(seconds, bytes);
    return;
  }
  if (way_ != Way::Threaded || ahead.round != round_ || !alone_wall_.known) {
    return;  // planned beside workers before the coder went alone, or nothing to compare with
  }
  window_seconds_ += seconds;
  window_bytes_ += bytes;
  if (++window_count_ < kJudgedOver) {
    return;
  }
  const bool slower = window_seconds_ / static_cast<double>(window_bytes_) >= alone_wall_.per_byte;
  if (slower) {
    crowded_backoff_ = std::min(kMaxBackoff, std::max(kFirstAlone, 2 * crowded_backoff_));
    StartRound(Way::Alone);
  } else {
    crowded_backoff_ = 0;
    window_seconds_ = 0;
    window_bytes_ = 0;
    window_count_ = 0;
  }
}

void SegmentPlan::ForgetAloneAhead() {
  for (Ahead& ahead : coder_ahead_) {
    ahead.counts = ahead.counts && ahead.way != Way::Alone;
  }
}

void SegmentPlan::StartRound(Way way) {
  if (way == Way::Threaded) {
    ForgetAloneAhead();
  }
  way_ = way;
  ++round_;
  alone_run_ = 0;
  window_seconds_ = 0;
  window_bytes_ = 0;
  window_count_ = 0;
}

}  // namespace vaultwick
