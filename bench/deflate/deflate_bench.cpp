// Compresses the same inputs with our compressor at level 8, on one thread
// and on N parse threads, and with zlib's raw deflate at levels 6, 8 and 9,
// and prints size, ratio and speed side by side, the speed ratios against
// zlib level 8, and whether the threaded stream is the one-thread stream byte
// for byte. Speeds are wall time, the best of five rounds. Inputs: the files
// named on the command line, or generated SQL dumps of about 30 and 4 MB
// when none are named.
//
//   deflate_bench [--threads N] [file...]      (N: default 2)

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/deflate/sql_dump_generator.h"
#include "deflate/flate.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kOutputBuffer = 16384;  // what the archive writer uses
constexpr int kRuns = 5;                        // best of five

struct Input {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

struct Figure {
  std::size_t out_bytes = 0;
  double seconds = 0;
};

// Our compressor, driven as the archive writer drives it.
struct OurSession {
  const std::vector<std::uint8_t>* input;
  std::size_t read_at = 0;
  std::size_t written = 0;
  std::vector<std::uint8_t>* sink;
};

std::uint32_t our_read(vaultwick::FlateState* state, std::uint8_t* destination,
                       std::uint32_t max_bytes) {
  auto* session = static_cast<OurSession*>(state->param);
  const std::size_t n = std::min<std::size_t>(session->input->size() - session->read_at, max_bytes);
  if (n != 0) {
    std::memcpy(destination, session->input->data() + session->read_at, n);
  }
  session->read_at += n;
  return static_cast<std::uint32_t>(n);
}

bool our_write(void* param, const std::uint8_t* data, std::uint32_t* count) {
  auto* session = static_cast<OurSession*>(param);
  std::memcpy(session->sink->data() + session->written, data, *count);
  session->written += *count;
  *count = 0;
  return true;
}

Figure run_ours(const std::vector<std::uint8_t>& input, unsigned threads,
                std::vector<std::uint8_t>& sink) {
  std::vector<std::uint8_t> buffer(kOutputBuffer);
  OurSession session{&input, 0, 0, &sink};
  const auto start = Clock::now();
  vaultwick::FlateJob job;
  job.param = &session;
  job.read_input = our_read;
  job.write_output = our_write;
  job.buffer = buffer.data();
  job.capacity = kOutputBuffer;
  job.level = 8;
  job.threads = threads;
  const vaultwick::FlateOutcome outcome = vaultwick::flate_member(job);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (outcome.error_text != nullptr || outcome.size != session.written) {
    std::fprintf(stderr, "our compressor failed: %s\n",
                 outcome.error_text ? outcome.error_text : "size mismatch");
    std::exit(1);
  }
  return {session.written, seconds};
}

Figure run_zlib(const std::vector<std::uint8_t>& input, int level,
                std::vector<std::uint8_t>& sink) {
  const auto start = Clock::now();
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    std::fprintf(stderr, "zlib deflateInit2 failed\n");
    std::exit(1);
  }
  std::vector<std::uint8_t> buffer(kOutputBuffer);
  z.next_in = const_cast<std::uint8_t*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  std::size_t written = 0;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    z.next_out = buffer.data();
    z.avail_out = kOutputBuffer;
    rc = deflate(&z, Z_FINISH);
    const std::size_t n = kOutputBuffer - z.avail_out;
    std::memcpy(sink.data() + written, buffer.data(), n);
    written += n;
  }
  deflateEnd(&z);
  return {written, std::chrono::duration<double>(Clock::now() - start).count()};
}

void report(const char* who, const Input& input, const Figure& f) {
  const double mb = static_cast<double>(input.bytes.size()) / 1e6;
  std::printf("  %-16s %12zu bytes out  %6.2f%%  %8.2f MB/s\n", who, f.out_bytes,
              100.0 * static_cast<double>(f.out_bytes) / static_cast<double>(input.bytes.size()),
              mb / f.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  unsigned threads = 2;
  std::vector<Input> inputs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = static_cast<unsigned>(std::max(2, std::atoi(argv[++i])));
      continue;
    }
    std::ifstream file(argv[i], std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    inputs.push_back(
        {argv[i], std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {})});
  }
  if (inputs.empty()) {
    for (std::size_t size : {30'000'000, 4'000'000}) {
      const std::string dump = vaultwick::bench::generate_sql_dump(size);
      inputs.push_back({"generated SQL dump", std::vector<std::uint8_t>(dump.begin(), dump.end())});
    }
  }

  for (const auto& input : inputs) {
    const std::size_t room = input.bytes.size() + input.bytes.size() / 100 + 1024;
    std::vector<std::uint8_t> sink(room);
    std::vector<std::uint8_t> one_thread_sink(room);
    std::vector<std::uint8_t> threaded_sink(room);
    std::printf("%s: %zu bytes in\n", input.name.c_str(), input.bytes.size());
    // Rounds run every compressor once, in turn, so that a busy moment on the
    // machine hurts all of them alike; each keeps its best time.
    constexpr int kZlibLevels[] = {6, 8, 9};
    Figure ours;
    Figure threaded;
    Figure zlib[3];
    for (int round = 0; round < kRuns; ++round) {
      const Figure f = run_ours(input.bytes, 1, one_thread_sink);
      ours = round == 0 || f.seconds < ours.seconds ? f : ours;
      const Figure t = run_ours(input.bytes, threads, threaded_sink);
      threaded = round == 0 || t.seconds < threaded.seconds ? t : threaded;
      for (int i = 0; i < 3; ++i) {
        const Figure z = run_zlib(input.bytes, kZlibLevels[i], sink);
        zlib[i] = round == 0 || z.seconds < zlib[i].seconds ? z : zlib[i];
      }
    }
    char who[32];
    report("ours level 8", input, ours);
    std::snprintf(who, sizeof who, "ours, %u threads", threads);
    report(who, input, threaded);
    for (int i = 0; i < 3; ++i) {
      std::snprintf(who, sizeof who, "zlib level %d", kZlibLevels[i]);
      report(who, input, zlib[i]);
    }
    const bool same =
        ours.out_bytes == threaded.out_bytes &&
        std::memcmp(one_thread_sink.data(), threaded_sink.data(), ours.out_bytes) == 0;
    std::printf("  ours / zlib level 8 speed: %.2f (one thread), %.2f (%u threads)\n",
                zlib[1].seconds / ours.seconds, zlib[1].seconds / threaded.seconds, threads);
    std::printf("  %u-thread stream is the one-thread stream byte for byte: %s\n\n", threads,
                same ? "yes" : "NO");
  }
  return 0;
}
