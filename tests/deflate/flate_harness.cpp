#include "tests/deflate/flate_harness.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "bench/deflate/sql_dump_generator.h"

namespace vaultwick::test {

namespace {

struct Session {
  const std::vector<std::uint8_t>* input;
  std::size_t read_at = 0;
  HarnessOptions options;
  std::uint64_t accepted = 0;
  const std::uint8_t* buffer = nullptr;
  Compressed* out;
};

std::uint32_t read_input(FlateState* state, std::uint8_t* destination, std::uint32_t max_bytes) {
  auto* session = static_cast<Session*>(state->param);
  const std::size_t left = session->input->size() - session->read_at;
  const std::size_t n = std::min<std::size_t>({left, max_bytes, session->options.read_piece});
  if (n != 0) {
    std::memcpy(destination, session->input->data() + session->read_at, n);
  }
  session->read_at += n;
  return static_cast<std::uint32_t>(n);
}

bool write_output(void* param, const std::uint8_t* data, std::uint32_t* count) {
  auto* session = static_cast<Session*>(param);
  if (*count == 0) {
    return true;
  }
  if (session->accepted + *count > session->options.refuse_writes_after) {
    return false;  // count left unchanged: nothing was written
  }
  session->out->bytes.insert(session->out->bytes.end(), data, data + *count);
  session->out->piece_sizes.push_back(*count);
  session->out->piece_from_buffer.push_back(data == session->buffer);
  session->accepted += *count;
  *count = 0;
  return true;
}

}  // namespace

Compressed compress(const std::vector<std::uint8_t>& input, int level,
                    const HarnessOptions& options) {
  Compressed out;
  Session session{&input, 0, options, 0, nullptr, &out};
  std::vector<std::uint8_t> buffer(options.buffer_size);
  session.buffer = buffer.data();

  FlateJob job;
  job.param = &session;
  job.read_input = read_input;
  job.write_output = write_output;
  job.buffer = buffer.data();
  job.capacity = options.buffer_size;
  job.level = level;
  job.flags_word = &out.flags;
  job.before_run = options.after_init;
  job.threads = options.threads;
  const bool threaded =
      options.threads > 1 && options.segment_bytes != 0 && level >= 4 && level <= 8;
  const FlateOutcome outcome =
      threaded
          ? flate_member_threads(job, options.threads - 1, {options.segment_bytes, options.choice})
          : flate_member(job);
  out.returned_size = outcome.size;
  out.error_text = outcome.error_text;
  return out;
}

std::vector<std::uint8_t> bytes_of(const char* text) {
  return std::vector<std::uint8_t>(text, text + std::strlen(text));
}

std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> out(size);
  for (auto& b : out) {
    b = static_cast<std::uint8_t>(gen());
  }
  return out;
}

std::vector<std::uint8_t> english_text(std::size_t size, std::uint32_t seed) {
  static const char* const words[] = {
      "the",    "archive", "backup",  "of",       "a",      "database", "is",     "written",
      "every",  "hour",    "and",     "copied",   "into",   "target",   "folder", "with",
      "tables", "rows",    "values",  "compress", "window", "match",    "tree",   "Huffman",
      "stored", "block",   "literal", "distance", "length", "server",   "login",  "schedule"};
  std::mt19937 gen(seed);
  std::string text;
  while (text.size() < size) {
    text += words[gen() % std::size(words)];
    text += gen() % 11 == 0 ? ".\r\n" : " ";
  }
  text.resize(size);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> source_code(std::size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += "static int helper_" + std::to_string(line % 97) + "(const char* p, int n) {\n";
    text += "  for (int i = 0; i < n; ++i) {\n    if (p[i] == '" +
            std::string(1, static_cast<char>('a' + line % 26)) + "') return i + " +
            std::to_string(line * 7 % 1000) + ";\n  }\n  return -1;\n}\n\n";
  }
  text.resize(size);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> skewed_bytes(std::size_t size) {
  // Byte k appears about twice as often as byte k + 1 (Fibonacci-like
  // frequencies): the optimal tree is deeper than 15 bits.
  std::vector<std::uint8_t> alphabet;
  std::uint64_t a = 1;
  std::uint64_t b = 1;
  for (int symbol = 24; symbol >= 0; --symbol) {
    alphabet.insert(alphabet.end(), a, static_cast<std::uint8_t>('A' + symbol));
    const std::uint64_t next = a + b;
    a = b;
    b = next;
    if (alphabet.size() > 400000) {
      break;
    }
  }
  std::mt19937 gen(7);
  std::shuffle(alphabet.begin(), alphabet.end(), gen);
  std::vector<std::uint8_t> out;
  while (out.size() < size) {
    out.insert(out.end(), alphabet.begin(), alphabet.end());
  }
  out.resize(size);
  return out;
}

std::vector<std::uint8_t> binary_records(std::size_t size) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t i = 0; out.size() < size; ++i) {
    const std::uint32_t record[4] = {i, i * 2654435761u, i % 13, 0xDEADBEEF};
    const auto* p = reinterpret_cast<const std::uint8_t*>(record);
    out.insert(out.end(), p, p + sizeof record);
  }
  out.resize(size);
  return out;
}

std::vector<std::uint8_t> byte_runs(std::size_t size, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> out;
  while (out.size() < size) {
    out.insert(out.end(), 1 + gen() % 700, static_cast<std::uint8_t>(gen() % 4));
    for (std::uint32_t n = gen() % 5; n != 0; --n) {
      out.push_back(static_cast<std::uint8_t>(gen()));
    }
  }
  out.resize(size);
  return out;
}

std::vector<std::uint8_t> repeated_with_changes(const std::vector<std::uint8_t>& pattern,
                                                std::size_t size) {
  std::vector<std::uint8_t> out;
  out.reserve(size + pattern.size());
  for (std::uint32_t copy = 0; out.size() < size; ++copy) {
    const std::size_t at = out.size();
    out.insert(out.end(), pattern.begin(), pattern.end());
    out[at + copy % pattern.size()] ^= static_cast<std::uint8_t>(copy >> 3);
  }
  out.resize(size);
  return out;
}

std::vector<std::uint8_t> sql_dump(std::size_t size) {
  const std::string dump = bench::generate_sql_dump(size);
  std::vector<std::uint8_t> out(dump.begin(), dump.end());
  out.resize(size);
  return out;
}

}  // namespace vaultwick::test
