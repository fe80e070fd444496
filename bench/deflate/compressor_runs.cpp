#include "bench/deflate/compressor_runs.h"

#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "deflate/flate.h"

namespace vaultwick::bench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kOutputBuffer = 16384;  // what the archive writer uses

struct OurSession {
  const std::vector<std::uint8_t>* input;
  std::size_t read_at = 0;
  std::size_t written = 0;
  std::vector<std::uint8_t>* sink;
};

std::uint32_t OurRead(FlateState* state, std::uint8_t* destination, std::uint32_t max_bytes) {
  auto* session = static_cast<OurSession*>(state->param);
  const std::size_t n = std::min<std::size_t>(session->input->size() - session->read_at, max_bytes);
  if (n != 0) {
    std::memcpy(destination, session->input->data() + session->read_at, n);
  }
  session->read_at += n;
  return static_cast<std::uint32_t>(n);
}

bool OurWrite(void* param, const std::uint8_t* data, std::uint32_t* count) {
  auto* session = static_cast<OurSession*>(param);
  std::memcpy(session->sink->data() + session->written, data, *count);
  session->written += *count;
  *count = 0;
  return true;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

std::size_t SinkRoom(std::size_t input_bytes) {
  return input_bytes + input_bytes / 100 + 1024;
}

Timed RunOurs(const std::vector<std::uint8_t>& input, unsigned threads,
              std::vector<std::uint8_t>& sink) {
  std::vector<std::uint8_t> buffer(kOutputBuffer);
  OurSession session{&input, 0, 0, &sink};
  const double cpu_start = ProcessCpuSeconds();
  const auto start = Clock::now();
  FlateJob job;
  job.param = &session;
  job.read_input = OurRead;
  job.write_output = OurWrite;
  job.buffer = buffer.data();
  job.capacity = kOutputBuffer;
  job.level = 8;
  job.threads = threads;
  const FlateOutcome outcome = flate_member(job);
  const double seconds = SecondsSince(start);
  const double cpu_seconds = ProcessCpuSeconds() - cpu_start;
  if (outcome.error_text != nullptr || outcome.size != session.written) {
    std::fprintf(stderr, "our compressor failed: %s\n",
                 outcome.error_text ? outcome.error_text : "size mismatch");
    std::exit(1);
  }
  return {session.written, seconds, cpu_seconds};
}

Timed RunZlib(const std::vector<std::uint8_t>& input, int level, std::vector<std::uint8_t>& sink) {
  const double cpu_start = ProcessCpuSeconds();
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
  const double seconds = SecondsSince(start);
  return {written, seconds, ProcessCpuSeconds() - cpu_start};
}

bool ReadWholeFile(const char* path, std::vector<std::uint8_t>& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(file), {});
  return true;
}

}  // namespace vaultwick::bench
