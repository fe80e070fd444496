#include "readback/inflater.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "readback/huffman_table.h"

namespace vaultwick {

namespace {

// A match may reach this far back, so the last this many bytes are kept.
constexpr std::size_t kWindow = 32768;
// Inflated bytes gathered beyond the window before they are handed on.
constexpr std::size_t kGather = 256 * 1024;
constexpr std::size_t kLongestMatch = 258;
// Matches are copied in pieces of 8 or 16 bytes and may write up to 15
// beyond their end.
constexpr std::size_t kCopySlack = 16;
// The most bits one step takes: a length code and its extra bits, then a
// distance code and its extra bits.
constexpr unsigned kLongestStep = 15 + 5 + 15 + 13;

constexpr unsigned kLiteralLengthCodes = 288;
constexpr unsigned kMostLiteralLengthCodes = 286;
constexpr unsigned kMostDistanceCodes = 30;
constexpr unsigned kCodeLengthCodes = 19;
// The order in which a dynamic block sends the code-length code's lengths.
constexpr std::array<std::uint8_t, kCodeLengthCodes> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Thrown inside a step: the input ran out before the step's last bit, and the
// step is taken again from its start when more comes.
struct NeedInput {};
// Thrown where the stream breaks the format.
struct Malformed {
  const char* reason;
};

struct FixedCodes {
  HuffmanTable literals;
  HuffmanTable distances;
};

// The codes of a block of type 1, the same for every stream.
const FixedCodes& Fixed() {
  static const FixedCodes* const codes = [] {
    auto* made = new FixedCodes;
    std::array<std::uint8_t, kLiteralLengthCodes> lengths{};
    std::fill(lengths.begin(), lengths.begin() + 144, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    std::fill(lengths.begin() + 280, lengths.end(), 8);
    made->literals.Build(lengths.data(), kLiteralLengthCodes, Alphabet::LiteralLength);
    std::fill(lengths.begin(), lengths.begin() + 32, 5);
    made->distances.Build(lengths.data(), 32, Alphabet::Distance);
    return made;
  }();
  return *codes;
}

// For a distance under 8: the pattern repeats every `distance` bytes, so once
// 8 bytes are written the source may as well lie this many bytes back, a
// whole number of repeats and at least a word, and the rest copies in words.
constexpr std::array<std::uint8_t, 8> kWordPeriod = {0, 8, 8, 9, 8, 10, 12, 14};

// Copies a match of `length` bytes from `distance` back, in words: it may
// write up to 15 bytes beyond the match's end (kCopySlack).
inline void CopyMatch(std::uint8_t* to, unsigned length, unsigned distance) {
  const std::uint8_t* from = to - distance;
  if (distance >= 16) {
    for (unsigned done = 0; done < length; done += 16) {
      std::array<std::uint8_t, 16> piece;
      std::memcpy(piece.data(), from + done, piece.size());
      std::memcpy(to + done, piece.data(), piece.size());
    }
    return;
  }
  if (distance < 8) {
    for (unsigned i = 0; i < 8; ++i) {
      to[i] = from[i];
    }
    if (length <= 8) {
      return;
    }
    to += 8;
    from = to - kWordPeriod[distance];
    length -= 8;
  }
  for (unsigned done = 0; done < length; done += 8) {
    std::uint64_t word;
    std::memcpy(&word, from + done, sizeof word);
    std::memcpy(to + done, &word, sizeof word);
  }
}

}  // namespace

struct Inflater::Decoder {
  enum class Step {
    BlockHeader,
    StoredHeader,
    StoredData,
    CodeCounts,
    CodeLengthCode,
    CodeLengths,
    Codes,
    BlockEnd,
    Ended,
    Failed,
  };

  explicit Decoder(Output sink)
      : output(std::move(sink)), window(kWindow + kGather + kLongestMatch + kCopySlack) {}

  Output output;
  Step step = Step::BlockHeader;
  std::string error;
  bool finalBlock = false;

  // Bits read ahead, the first lowest; `bits` may hold copies of the bytes at
  // `in` above its `count` bits, never anything else.
  std::uint64_t bits = 0;
  unsigned count = 0;
  const std::uint8_t* in = nullptr;
  const std::uint8_t* end = nullptr;
  std::uint64_t piecesTaken = 0;  // bytes of all pieces, into `bits` or copied

  // Where the step that is under way started.
  std::uint64_t savedBits = 0;
  unsigned savedCount = 0;
  const std::uint8_t* savedIn = nullptr;

  std::vector<std::uint8_t> window;
  std::size_t at = 0;         // where the next inflated byte goes
  std::size_t handed = 0;     // window[0, handed) was handed on
  std::uint64_t dropped = 0;  // bytes handed on and moved out of the window

  std::uint32_t storedLeft = 0;
  unsigned literalCount = 0;
  unsigned distanceCount = 0;
  unsigned codeLengthCount = 0;
  unsigned lengthsRead = 0;
  std::array<std::uint8_t, kLiteralLengthCodes + kMostDistanceCodes + 2> lengths{};
  HuffmanTable codeLengthTable;
  HuffmanTable literalTable;
  HuffmanTable distanceTable;
  const HuffmanTable* literals = nullptr;
  const HuffmanTable* distances = nullptr;

  void Save() {
    savedBits = bits;
    savedCount = count;
    savedIn = in;
  }

  // Back to the start of the step, holding the rest of the piece in `bits`:
  // less than one step's worth, so it fits.
  void Restore() {
    bits = savedBits;
    count = savedCount;
    in = savedIn;
    while (in < end) {
      bits |= static_cast<std::uint64_t>(*in++) << count;
      count += 8;
    }
  }

  // At least 56 bits, where 8 bytes of input are at hand.
  void FastFill() {
    std::uint64_t word;
    std::memcpy(&word, in, sizeof word);
    bits |= word << count;
    in += (63 - count) >> 3;
    count |= 56;
  }

  // As many bits as there is room for, from what input is left.
  void Fill() {
    if (end - in >= 8) {
      FastFill();
      return;
    }
    while (count <= 56 && in < end) {
      bits |= static_cast<std::uint64_t>(*in++) << count;
      count += 8;
    }
  }

  void Need(unsigned wanted) {
    if (count < wanted) {
      Fill();
      if (count < wanted) {
        throw NeedInput{};
      }
    }
  }

  unsigned Take(unsigned wanted) {
    const auto value = static_cast<unsigned>(bits & ((std::uint64_t{1} << wanted) - 1));
    bits >>= wanted;
    count -= wanted;
    return value;
  }

  // The next symbol of `table`. kChecked: the input may run out within it.
  template <bool kChecked>
  std::uint32_t Decode(const HuffmanTable& table) {
    if constexpr (kChecked) {
      if (count < HuffmanTable::kMaxCodeBits) {
        Fill();
      }
    }
    const std::uint32_t entry = table.Find(bits);
    const unsigned length = HuffmanTable::Length(entry);
    if constexpr (kChecked) {
      // Bits above `count` may be missing: only a code within it is known.
      if (length > count) {
        throw NeedInput{};
      }
    }
    if (HuffmanTable::KindOf(entry) == HuffmanTable::kNone) {
      throw Malformed{"a code that stands for no symbol"};
    }
    bits >>= length;
    count -= length;
    return entry;
  }

  template <bool kChecked>
  unsigned TakeExtra(unsigned wanted) {
    if constexpr (kChecked) {
      Need(wanted);
    }
    return Take(wanted);
  }

  // Hands on what was inflated; once the window is full, keeps only its last
  // kWindow bytes.
  void HandOn() {
    if (at > handed) {
      output(window.data() + handed, at - handed);
      handed = at;
    }
    if (at >= kWindow + kGather) {
      std::memmove(window.data(), window.data() + at - kWindow, kWindow);
      dropped += at - kWindow;
      at = kWindow;
      handed = kWindow;
    }
  }

  void Copy(unsigned length, unsigned distance) {
    CopyMatch(window.data() + at, length, distance);
    at += length;
  }

  // One literal, one match or the block's end (false).
  template <bool kChecked>
  bool CodeStep() {
    const std::uint32_t entry = Decode<kChecked>(*literals);
    const HuffmanTable::Kind kind = HuffmanTable::KindOf(entry);
    if (kind == HuffmanTable::kLiteral) {
      window[at++] = static_cast<std::uint8_t>(HuffmanTable::Value(entry));
      return true;
    }
    if (kind == HuffmanTable::kEnd) {
      return false;
    }
    const unsigned length =
        HuffmanTable::Value(entry) + TakeExtra<kChecked>(HuffmanTable::Extra(entry));
    // The longest match has a symbol of its own; the last symbol with extra
    // bits reaches only one short of it.
    if (length == kLongestMatch && HuffmanTable::Extra(entry) != 0) {
      throw Malformed{"a match of 258 bytes as a length with extra bits"};
    }
    const std::uint32_t far = Decode<kChecked>(*distances);
    const unsigned distance =
        HuffmanTable::Value(far) + TakeExtra<kChecked>(HuffmanTable::Extra(far));
    if (distance > at) {
      throw Malformed{"a match that reaches back before the data's start"};
    }
    Copy(length, distance);
    return true;
  }

  // Steps while a whole step's input and output room are sure to be at hand:
  // the bit buffer, the input and the output live in locals, since every byte
  // stored through the window could otherwise be a store to the members.
  // Several literals are taken from one refill. False at the block's end.
  bool FastCodes() {
    if (end - in < 8) {
      return true;
    }
    const std::uint8_t* const lastFill = end - 8;
    std::uint8_t* const start = window.data();
    std::uint8_t* const outLimit = start + kWindow + kGather;
    const HuffmanTable& literalCodes = *literals;
    const HuffmanTable& distanceCodes = *distances;
    std::uint64_t b = bits;
    unsigned n = count;
    const std::uint8_t* p = in;
    std::uint8_t* out = start + at;
    bool more = true;
    const char* malformed = nullptr;
    while (p <= lastFill && out < outLimit) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      b |= word << n;
      p += (63 - n) >> 3;
      n |= 56;
      std::uint32_t entry = literalCodes.Find(b);
      if (HuffmanTable::KindOf(entry) == HuffmanTable::kLiteral) {
        // At least 56 bits: three codes of at most 15 bits each.
        unsigned taken = 0;
        do {
          const unsigned length = HuffmanTable::Length(entry);
          b >>= length;
          n -= length;
          *out++ = static_cast<std::uint8_t>(HuffmanTable::Value(entry));
          entry = literalCodes.Find(b);
        } while (++taken < 3 && HuffmanTable::KindOf(entry) == HuffmanTable::kLiteral);
        continue;
      }
      if (HuffmanTable::KindOf(entry) != HuffmanTable::kBase) {
        if (HuffmanTable::KindOf(entry) == HuffmanTable::kEnd) {
          const unsigned length = HuffmanTable::Length(entry);
          b >>= length;
          n -= length;
          more = false;
        } else {
          malformed = "a code that stands for no symbol";
        }
        break;
      }
      unsigned used = HuffmanTable::Length(entry);
      unsigned extra = HuffmanTable::Extra(entry);
      const unsigned length =
          HuffmanTable::Value(entry) + static_cast<unsigned>((b >> used) & ((1u << extra) - 1));
      if (length == kLongestMatch && extra != 0) {
        malformed = "a match of 258 bytes as a length with extra bits";
        break;
      }
      b >>= used + extra;
      n -= used + extra;
      const std::uint32_t far = distanceCodes.Find(b);
      if (HuffmanTable::KindOf(far) == HuffmanTable::kNone) {
        malformed = "a code that stands for no symbol";
        break;
      }
      used = HuffmanTable::Length(far);
      extra = HuffmanTable::Extra(far);
      const unsigned distance =
          HuffmanTable::Value(far) + static_cast<unsigned>((b >> used) & ((1u << extra) - 1));
      b >>= used + extra;
      n -= used + extra;
      if (distance > static_cast<std::size_t>(out - start)) {
        malformed = "a match that reaches back before the data's start";
        break;
      }
      CopyMatch(out, length, distance);
      out += length;
    }
    bits = b;
    count = n;
    in = p;
    at = static_cast<std::size_t>(out - start);
    if (malformed != nullptr) {
      throw Malformed{malformed};
    }
    return more;
  }

  void Codes() {
    for (;;) {
      if (at >= kWindow + kGather) {
        HandOn();
      }
      static_assert(kLongestStep <= 56, "one fill holds a whole step");
      if (!FastCodes()) {
        step = Step::BlockEnd;
        return;
      }
      if (at >= kWindow + kGather) {
        continue;
      }
      Save();
      if (!CodeStep<true>()) {
        step = Step::BlockEnd;
        return;
      }
    }
  }

  void StoredData() {
    // Whole bytes already read ahead come first, then the input itself.
    while (storedLeft > 0 && count >= 8) {
      if (at >= kWindow + kGather) {
        HandOn();
      }
      window[at++] = static_cast<std::uint8_t>(Take(8));
      --storedLeft;
    }
    if (count == 0) {
      bits = 0;  // the copies of input it may hold would go stale
    }
    while (storedLeft > 0) {
      if (at >= kWindow + kGather) {
        HandOn();
      }
      const std::size_t piece = std::min<std::size_t>(
          {storedLeft, kWindow + kGather - at, static_cast<std::size_t>(end - in)});
      if (piece == 0) {
        Save();
        throw NeedInput{};
      }
      std::memcpy(window.data() + at, in, piece);
      at += piece;
      in += piece;
      storedLeft -= static_cast<std::uint32_t>(piece);
    }
    step = Step::BlockEnd;
  }

  void BuildCodes(HuffmanTable& table, const std::uint8_t* codeLengths, unsigned codes,
                  Alphabet alphabet) {
    if (const char* reason = table.Build(codeLengths, codes, alphabet); reason != nullptr) {
      throw Malformed{reason};
    }
  }

  void CodeLengths() {
    const unsigned all = literalCount + distanceCount;
    while (lengthsRead < all) {
      Save();
      const unsigned symbol = HuffmanTable::Value(Decode<true>(codeLengthTable));
      if (symbol < 16) {
        lengths[lengthsRead++] = static_cast<std::uint8_t>(symbol);
        continue;
      }
      unsigned repeat = 0;
      std::uint8_t length = 0;
      if (symbol == 16) {
        if (lengthsRead == 0) {
          throw Malformed{"a repeat of the code length before the first"};
        }
        repeat = 3 + TakeExtra<true>(2);
        length = lengths[lengthsRead - 1];
      } else if (symbol == 17) {
        repeat = 3 + TakeExtra<true>(3);
      } else {
        repeat = 11 + TakeExtra<true>(7);
      }
      if (lengthsRead + repeat > all) {
        throw Malformed{"code lengths repeated past the last code"};
      }
      std::fill_n(lengths.begin() + lengthsRead, repeat, length);
      lengthsRead += repeat;
    }
    if (lengths[256] == 0) {
      throw Malformed{"no code for the end of the block"};
    }
    BuildCodes(literalTable, lengths.data(), literalCount, Alphabet::LiteralLength);
    BuildCodes(distanceTable, lengths.data() + literalCount, distanceCount, Alphabet::Distance);
    literals = &literalTable;
    distances = &distanceTable;
    step = Step::Codes;
  }

  void Run() {
    for (;;) {
      switch (step) {
        case Step::BlockHeader: {
          Save();
          Need(3);
          finalBlock = Take(1) != 0;
          const unsigned type = Take(2);
          if (type == 0) {
            step = Step::StoredHeader;
          } else if (type == 1) {
            literals = &Fixed().literals;
            distances = &Fixed().distances;
            step = Step::Codes;
          } else if (type == 2) {
            step = Step::CodeCounts;
          } else {
            throw Malformed{"a block of the reserved type 3"};
          }
          break;
        }
        case Step::StoredHeader: {
          Save();
          Take(count & 7);  // the rest of the byte
          Need(32);
          const unsigned length = Take(16);
          if ((Take(16) ^ 0xFFFF) != length) {
            throw Malformed{"a stored block whose length and its complement disagree"};
          }
          storedLeft = length;
          step = Step::StoredData;
          break;
        }
        case Step::StoredData:
          StoredData();
          break;
        case Step::CodeCounts:
          Save();
          Need(14);
          literalCount = 257 + Take(5);
          distanceCount = 1 + Take(5);
          codeLengthCount = 4 + Take(4);
          if (literalCount > kMostLiteralLengthCodes) {
            throw Malformed{"more than 286 literal/length codes"};
          }
          if (distanceCount > kMostDistanceCodes) {
            throw Malformed{"more than 30 distance codes"};
          }
          lengths.fill(0);
          lengthsRead = 0;
          step = Step::CodeLengthCode;
          break;
        case Step::CodeLengthCode:
          while (lengthsRead < codeLengthCount) {
            Save();
            Need(3);
            lengths[kCodeLengthOrder[lengthsRead++]] = static_cast<std::uint8_t>(Take(3));
          }
          BuildCodes(codeLengthTable, lengths.data(), kCodeLengthCodes, Alphabet::CodeLength);
          lengths.fill(0);
          lengthsRead = 0;
          step = Step::CodeLengths;
          break;
        case Step::CodeLengths:
          CodeLengths();
          break;
        case Step::Codes:
          Codes();
          break;
        case Step::BlockEnd:
          step = finalBlock ? Step::Ended : Step::BlockHeader;
          break;
        case Step::Ended:
        case Step::Failed:
          return;
      }
    }
  }

  Status Feed(const std::uint8_t* bytes, std::size_t size) {
    if (step == Step::Ended || step == Step::Failed) {
      return StatusOf();
    }
    in = bytes;
    end = bytes + size;
    try {
      Run();
    } catch (const NeedInput&) {
      Restore();
    } catch (const Malformed& malformed) {
      step = Step::Failed;
      error = malformed.reason;
    }
    piecesTaken += static_cast<std::uint64_t>(in - bytes);
    in = end = nullptr;
    HandOn();
    return StatusOf();
  }

  Status StatusOf() const {
    switch (step) {
      case Step::Ended:
        return Status::Ended;
      case Step::Failed:
        return Status::Failed;
      default:
        return Status::NeedInput;
    }
  }
};

Inflater::Inflater(Output output) : decoder_(std::make_unique<Decoder>(std::move(output))) {}

Inflater::~Inflater() = default;

Inflater::Status Inflater::Feed(const std::uint8_t* bytes, std::size_t count) {
  return decoder_->Feed(bytes, count);
}

Inflater::Status Inflater::Close() {
  if (decoder_->StatusOf() == Status::NeedInput) {
    decoder_->step = Decoder::Step::Failed;
    decoder_->error = "the data ends before its final block";
  }
  return decoder_->StatusOf();
}

Inflater::Status Inflater::State() const {
  return decoder_->StatusOf();
}

const std::string& Inflater::Error() const {
  return decoder_->error;
}

std::uint64_t Inflater::InputBytes() const {
  // Whole bytes read ahead are not the stream's yet.
  return decoder_->piecesTaken - decoder_->count / 8;
}

std::uint64_t Inflater::OutputBytes() const {
  return decoder_->dropped + decoder_->at;
}

}  // namespace vaultwick
