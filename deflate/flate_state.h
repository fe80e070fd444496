#pragma once

// What the compressor and its callers share: the caller's two functions, the
// state record of one member and the job that describes it, and the outcome.
// FlateState is about 630 KiB: allocate it on the heap, value-initialised
// (`new FlateState()`), never on a thread's stack.

#include <cstdint>

namespace vaultwick {

struct FlateState;

// Copies up to max_bytes of the member's next input to destination and returns
// how many it copied; 0 or 0xFFFFFFFF means no more input (end or failure).
using FlateReadFn = std::uint32_t (*)(FlateState* state, std::uint8_t* destination,
                                      std::uint32_t max_bytes);

// Writes *count bytes from data and sets *count to 0. A count left non-zero
// means the bytes could not be delivered; the member then fails.
using FlateWriteFn = bool (*)(void* param, const std::uint8_t* data, std::uint32_t* count);

// One node of a Huffman tree. While a block is counted and its tree built,
// `freq` is the symbol's frequency and `dad` the parent node; afterwards the
// same halves hold the code (bit-reversed, so it can go out LSB first) and the
// code length in bits (0 = unused).
struct tree_entry {
  union {
    std::uint16_t freq;
    std::uint16_t code;
  };
  union {
    std::uint16_t dad;
    std::uint16_t len;
  };
};

// What the tree builder needs to know about one dynamic tree.
struct tree_spec {
  tree_entry* tree;                // the dynamic tree being built
  const tree_entry* fixed_tree;    // its fixed counterpart for cost estimates, or null
  const std::uint8_t* extra_bits;  // extra bits per symbol from first_extra on
  std::int32_t first_extra;        // first symbol that has an extra-bit entry
  std::int32_t leaf_count;         // number of leaves (symbols)
  std::int32_t len_limit;          // longest code allowed
  std::int32_t max_code;           // largest symbol with non-zero frequency
};

// Sizes of the record's fixed arrays.
inline constexpr std::uint32_t FLATE_WINDOW_SIZE = 65536;  // two halves of 32768
inline constexpr std::uint32_t FLATE_HASH_SIZE = 32768;    // 15-bit hash keys
inline constexpr std::uint32_t FLATE_CHAIN_SIZE = 65536;   // one link per window position
inline constexpr int FLATE_LIT_CODES = 286;                // 256 literals, end of block, 29 lengths
inline constexpr int FLATE_DIST_CODES = 30;
inline constexpr int FLATE_LENGTH_CODES = 19;                    // code-length alphabet
inline constexpr int FLATE_HEAP_SIZE = 2 * FLATE_LIT_CODES + 1;  // leaves and internal nodes
inline constexpr int FLATE_SYMBOL_BUFFER = 32768;

struct FlateState {
  // ---- Header: set by the caller before bits_init ----
  void* param = nullptr;        // handed back to write_output unchanged
  std::int32_t pack_level = 8;  // 1 to 8
  FlateReadFn read_input = nullptr;
  FlateWriteFn write_output = nullptr;
  const char* error_text = nullptr;  // set by a failed internal check

  // ---- Parse position ----
  std::int32_t block_origin;  // window position of the block's first byte; < 0 once slid out
  std::uint32_t cur_pos;      // window position of the byte being parsed

  // ---- Window scalars ----
  std::uint32_t window_bytes;
  std::uint32_t lookahead;      // valid input bytes from cur_pos on
  std::uint32_t hash_key;       // rolling hash of three bytes
  std::uint32_t held_len;       // match length at the previous position (2 = none)
  std::uint32_t match_pos;      // start of the best match find_match found
  std::uint32_t input_done;     // read_input reported the end
  std::uint32_t insert_next;    // lazy parse: the next position to link into its chain
  std::uint64_t window_offset;  // offset in the member of window[0]
  void* source;                 // threaded compressor: where its own read_input reads from
  // Threaded compressor: its coder follows records and neither links nor
  // searches, so a slide leaves the chains be (they are linked afresh before
  // the coder searches again).
  bool chains_unused = false;
  std::uint32_t chain_limit;
  std::uint32_t lazy_limit;
  std::uint32_t ample_len;
  std::uint32_t stop_len;

  // ---- Bit writer ----
  std::uint8_t* obuf;
  std::uint32_t obuf_cap;
  std::uint32_t obuf_used;
  std::uint32_t bit_acc;
  std::int32_t bit_fill;
  std::uint32_t bits_total;

  // ---- Block scalars ----
  std::uint32_t last_lit;   // symbols in the block
  std::uint32_t last_dist;  // matches in the block
  std::uint32_t flag_count;
  std::uint8_t cur_flags;
  std::uint8_t cur_flag_bit;
  std::uint32_t dyn_bits;
  std::uint32_t fixed_bits;
  std::uint32_t done_bytes;
  std::uint32_t done_bits;

  tree_spec lit_spec;
  tree_spec dist_spec;
  tree_spec len_spec;

  // ---- Tree building work areas ----
  std::uint16_t len_count[16];
  std::int32_t heap[FLATE_HEAP_SIZE];
  std::int32_t heap_count;
  std::int32_t sorted_from;
  std::uint8_t node_depth[FLATE_HEAP_SIZE];

  // ---- Code tables (built by ct_init) ----
  std::uint8_t len_code_of[256];
  std::int32_t len_base[29];
  std::uint8_t dist_code_of[512];
  std::int32_t dist_base[FLATE_DIST_CODES];

  // ---- Trees ----
  tree_entry lit_tree[FLATE_HEAP_SIZE];
  tree_entry dist_tree[2 * FLATE_DIST_CODES + 1];
  tree_entry len_tree[2 * FLATE_LENGTH_CODES + 1];
  tree_entry fixed_lit_tree[288];
  tree_entry fixed_dist_tree[FLATE_DIST_CODES];

  // ---- Block buffers ----
  std::uint8_t flag_bytes[FLATE_SYMBOL_BUFFER / 8];  // one bit per symbol, 1 = match
  std::uint8_t sym_bytes[FLATE_SYMBOL_BUFFER];       // literal, or match length - 3
  std::uint16_t dist_words[FLATE_SYMBOL_BUFFER];     // match distance - 1

  // ---- Window and hash chains ----
  // Chain entries are window positions, all below 65536, so 16 bits hold
  // them; the narrow tables keep the chain walk's memory traffic small.
  // chain_prev is indexed by the position itself, without a mask.
  std::uint8_t window[FLATE_WINDOW_SIZE];
  std::uint16_t chain_head[FLATE_HASH_SIZE];   // newest position per hash key, 0 = none
  std::uint16_t chain_prev[FLATE_CHAIN_SIZE];  // next older position with the same key
  // Lazy parse from level 5 on: the positions two and four links back, so a
  // walk can follow a chain in four lanes.
  std::uint16_t chain_prev2[FLATE_CHAIN_SIZE];
  std::uint16_t chain_prev4[FLATE_CHAIN_SIZE];
};

// What flate_member needs to compress one member.
struct FlateJob {
  void* param = nullptr;  // handed back to both functions (read_input finds it in state->param)
  FlateReadFn read_input = nullptr;
  FlateWriteFn write_output = nullptr;
  std::uint8_t* buffer = nullptr;  // output buffer, at least 2 bytes
  std::uint32_t capacity = 0;
  int level = 8;                        // 1 to 8
  std::uint16_t* flags_word = nullptr;  // the member's ZIP flags; the level's bits are ORed in
  // Threads that compress the member, the calling thread among them (levels
  // 4 to 8; at most 8 parse threads beside it); 1: all on the calling
  // thread. The stream is the same for every count.
  unsigned threads = 1;
  void (*before_run)(FlateState*) = nullptr;  // test seam: runs just before the parse starts
};

struct FlateOutcome {
  std::uint32_t size = 0;            // compressed bytes (modulo 2^32)
  const char* error_text = nullptr;  // null when the member is sound
};

}  // namespace vaultwick
