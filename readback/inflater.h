#pragma once

// Raw deflated data inflated as it arrives, in pieces of any size: the reader
// of a member's data that shares nothing with the writer's compressor. It is
// strict: a stream that breaks the format in any way ends with the reason,
// and no input makes it read or write outside its own buffers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vaultwick {

class Inflater {
 public:
  // Receives the inflated bytes in order, in pieces of up to 256 KiB.
  using Output = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

  enum class Status {
    NeedInput,  // all input was taken, the stream goes on
    Ended,      // the final block has ended
    Failed,     // the stream is malformed: Error() says how
  };

  explicit Inflater(Output output);
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Takes the next `count` bytes of the stream, and hands on what they
  // inflate to before it returns. Once Ended, bytes past the stream's end
  // are left (InputBytes() says where it ended); once Failed, nothing is read.
  Status Feed(const std::uint8_t* bytes, std::size_t count);

  // There is no more input: Failed unless the stream has Ended.
  Status Close();

  Status State() const;
  // Why the stream Failed; empty otherwise.
  const std::string& Error() const;
  // The bytes of the stream read so far; once Ended, the stream's length.
  std::uint64_t InputBytes() const;
  std::uint64_t OutputBytes() const;

 private:
  struct Decoder;
  std::unique_ptr<Decoder> decoder_;
};

}  // namespace vaultwick
