#pragma once

// Which segments of a threaded member a parse worker records for the coder to
// follow, and which the coder searches itself, chosen from what the member's
// earlier segments cost.

#include <cstdint>
#include <deque>

namespace vaultwick {

// How the coder went through one segment.
enum class CoderPass {
  Followed,  // (almost) all of it on records
  Searched,  // (almost) all of it on its own search
  Mixed,     // too much of both to say what either costs
};

class SegmentPlan {
 public:
  SegmentPlan(unsigned workers, std::uint64_t segment_bytes);

  // Fewer workers than planned for could be started.
  void SetWorkers(unsigned workers);

  // Asked once per segment, in order, when its job can be handed out: true
  // when a worker should record it. Planned() then says what was done.
  bool WantsRecords() const;
  void Planned(bool recorded);
  // How many of the segments not planned yet will be searched by the coder
  // whatever the figures say meanwhile.
  unsigned SearchedAhead() const;
  // Records are tried again where they have not met: a short stretch tells.
  bool Probing() const { return unmet_backoff_ != 0; }

  // Processor time the coder spent on a segment of `bytes`.
  void CoderSegment(CoderPass pass, double seconds, std::uint64_t bytes);
  // Processor time a worker spent recording `bytes` of a segment.
  void WorkerSegment(double seconds, std::uint64_t bytes);
  // Whether the coder found where to follow a finished segment's records
  // (true) or went on past it on its own (false).
  void RecordsMet(bool met);
  // Wall time the coder took over its next segment of `bytes`, its waits
  // for the caller's input left out.
  void CoderWall(double seconds, std::uint64_t bytes);

  // The share of segments the coder searches itself while records meet.
  double SearchedShare() const;
  // The coder searches so fast that a worker would cost more than it saves.
  bool Cheap() const;
  // The coder took longer beside workers than alone (other programs hold the
  // other cores, and the workers' processor time comes out of the coder's):
  // it searches alone for a while, and tries workers again after 8, 16, 32
  // and 64 segments.
  bool Crowded() const { return way_ == Way::Alone; }

 private:
  enum class Way { Threaded, Alone };
  // Seconds per byte, following the member's recent segments.
  struct Rate {
    double per_byte = 0;
    bool known = false;
    void Add(double seconds, std::uint64_t bytes);
  };
  void StartRound(Way way);
  // Segments planned alone that the coder has yet to code will be coded
  // beside workers: their times tell neither way.
  void ForgetAloneAhead();

  unsigned workers_;
  Rate followed_;               // the coder, on records
  Rate searched_;               // the coder, on its own
  Rate recorded_;               // a worker
  double share_due_ = 0;        // searched segments owed to the share so far
  unsigned searched_run_ = 0;   // segments searched since the last recorded one
  unsigned unmet_backoff_ = 0;  // 0: records meet; else searched segments before a retry
  // The coder's wall time per byte alone, and its sum over the segments
  // judged so far beside workers. A round is a stretch with one way; a
  // segment is judged in the round it was planned in.
  struct Ahead {
    Way way;
    unsigned round;
    bool counts = true;  // false: planned alone, but coded while workers record
  };
  Rate alone_wall_;
  Way way_ = Way::Threaded;
  unsigned round_ = 0;
  std::deque<Ahead> coder_ahead_;  // the segments planned and not coded yet
  std::uint64_t planned_ = 0;      // segments planned so far
  std::uint64_t coded_ = 0;        // and coded
  unsigned crowded_backoff_ = 0;   // segments alone before workers are tried again
  unsigned alone_run_ = 0;         // segments planned alone so far in this round
  double window_seconds_ = 0;
  std::uint64_t window_bytes_ = 0;
  unsigned window_count_ = 0;
  bool any_recorded_ = false;
  bool first_ = true;
};

}  // namespace vaultwick
