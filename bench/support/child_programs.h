#pragma once

// Running other programs from a benchmark: the peers it is measured beside,
// and the benchmark itself again in a child, so that each side's peak memory
// is its own.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vaultwick::bench {

// How a child ended: whether it exited with 0, and its peak resident memory.
struct ChildEnd {
  bool ok = false;
  long peakKilobytes = 0;
};

// Starts argv (looked up on PATH) with the given descriptors as its standard
// input, output and error; -1 leaves one as this program has it.
pid_t Spawn(const std::vector<std::string>& args, int in = -1, int out = -1, int err = -1);

// Waits for `child` to end.
ChildEnd Wait(pid_t child);

// Runs argv with standard input and output from and to the given files
// (empty: as this program has them) and waits for it.
ChildEnd RunProgram(const std::vector<std::string>& args, const std::string& in = "",
                    const std::string& out = "");

// Seconds since `start`.
double Seconds(std::chrono::steady_clock::time_point start);

}  // namespace vaultwick::bench
