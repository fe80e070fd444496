#include "deflate/detail/tree_builder.h"

// Tree builder
//
// What: Huffman trees for one block. make_tree puts the used leaves in a
// min-heap by frequency and repeatedly joins the two least frequent nodes;
// the nodes leave the heap into a "sorted part" at the top of the same array,
// so that walking it from the root down visits every parent before its
// children. limit_lengths walks it once to give each node its depth and
// counts how many leaves got each length; gen_codes turns the counts into the
// canonical codes of RFC 1951. The dynamic block header describes the two
// trees by their lengths, run-length coded (count_runs counts, put_lengths
// sends) with a third, small Huffman code.
//
// Invariants: every tree has at least two codes (a lone symbol still needs a
// one-bit code a decoder can accept); between tree building and coding, a
// leaf's first half turns from frequency into code and its second half from
// parent index into length. dyn_bits and fixed_bits collect the cost of the
// block with each code while the lengths are set, so close_block can choose
// without coding the block twice.
//
// Why these numbers: lengths are limited to 15 bits for literal/length and
// distance codes and to 7 for the code-length code (the header's 3-bit
// fields). When the tree is deeper, the overflow is repaired by moving leaves
// up from the deepest level and pushing a shorter leaf down, two overflowing
// leaves at a time, and the lengths are then dealt out again so that the
// least frequent leaves get the longest codes. Ties in the heap go to the
// shallower subtree, which keeps trees flat.

#include "deflate/detail/bit_writer.h"
#include "deflate/detail/code_tables.h"
#include "deflate/detail/flate_limits.h"

namespace vaultwick {

namespace {

// Node a sorts before node b.
inline bool smaller(const FlateState* state, const tree_entry* tree, int a, int b) {
  return tree[a].freq < tree[b].freq ||
         (tree[a].freq == tree[b].freq && state->node_depth[a] <= state->node_depth[b]);
}

inline void emit_code(FlateState* state, const tree_entry* tree, int symbol) {
  write_bits(state, tree[symbol].code, tree[symbol].len);
}

}  // namespace

void sift_down(FlateState* state, const tree_entry* tree, int k) {
  const int v = state->heap[k];
  int j = k << 1;
  while (j <= state->heap_count) {
    if (j < state->heap_count && smaller(state, tree, state->heap[j + 1], state->heap[j])) {
      ++j;
    }
    if (smaller(state, tree, v, state->heap[j])) {
      break;
    }
    state->heap[k] = state->heap[j];
    k = j;
    j <<= 1;
  }
  state->heap[k] = v;
}

void make_tree(FlateState* state, tree_spec* spec) {
  tree_entry* tree = spec->tree;
  state->heap_count = 0;
  state->sorted_from = FLATE_HEAP_SIZE;
  int max_code = -1;

  for (int n = 0; n < spec->leaf_count; ++n) {
    if (tree[n].freq != 0) {
      state->heap[++state->heap_count] = n;
      max_code = n;
      state->node_depth[n] = 0;
    } else {
      tree[n].len = 0;
    }
  }

  // A decoder needs at least two codes; give unused symbols one bit each.
  while (state->heap_count < 2) {
    const int node = max_code < 2 ? ++max_code : 0;
    state->heap[++state->heap_count] = node;
    tree[node].freq = 1;
    state->node_depth[node] = 0;
    state->dyn_bits -= 1;
    if (spec->fixed_tree != nullptr) {
      state->fixed_bits -= spec->fixed_tree[node].len;
    }
  }
  spec->max_code = max_code;

  for (int k = state->heap_count / 2; k >= 1; --k) {
    sift_down(state, tree, k);
  }

  int node = spec->leaf_count;
  while (state->heap_count >= 2) {
    const int n = state->heap[1];
    state->heap[1] = state->heap[state->heap_count--];
    sift_down(state, tree, 1);
    const int m = state->heap[1];
    state->heap[--state->sorted_from] = n;
    state->heap[--state->sorted_from] = m;
    tree[node].freq = static_cast<std::uint16_t>(tree[n].freq + tree[m].freq);
    const std::uint8_t deeper =
        state->node_depth[n] >= state->node_depth[m] ? state->node_depth[n] : state->node_depth[m];
    state->node_depth[node] = static_cast<std::uint8_t>(deeper + 1);
    tree[n].dad = static_cast<std::uint16_t>(node);
    tree[m].dad = static_cast<std::uint16_t>(node);
    state->heap[1] = node++;
    sift_down(state, tree, 1);
  }
  state->heap[--state->sorted_from] = state->heap[1];

  limit_lengths(state, spec);
  gen_codes(state, tree, max_code);
}

void limit_lengths(FlateState* state, tree_spec* spec) {
  tree_entry* tree = spec->tree;
  const int max_code = spec->max_code;
  const int limit = spec->len_limit;
  for (auto& count : state->len_count) {
    count = 0;
  }

  // Parents come before children in the sorted part, so one pass from the
  // root gives every node its depth. The parent's length overwrites its
  // parent index, which is no longer needed.
  tree[state->heap[state->sorted_from]].len = 0;
  int overflow = 0;
  for (int h = state->sorted_from + 1; h < FLATE_HEAP_SIZE; ++h) {
    const int n = state->heap[h];
    int bits = tree[tree[n].dad].len + 1;
    if (bits > limit) {
      bits = limit;
      ++overflow;
    }
    tree[n].len = static_cast<std::uint16_t>(bits);
    if (n > max_code) {
      continue;  // internal node
    }
    state->len_count[bits] += 1;
    const std::uint32_t extra =
        n >= spec->first_extra ? spec->extra_bits[n - spec->first_extra] : 0;
    const std::uint32_t freq = tree[n].freq;
    state->dyn_bits += freq * (static_cast<std::uint32_t>(bits) + extra);
    if (spec->fixed_tree != nullptr) {
      state->fixed_bits += freq * (spec->fixed_tree[n].len + extra);
    }
  }
  if (overflow == 0) {
    return;
  }

  // Each step moves one overflowing leaf and a shorter leaf's code to one
  // level below that leaf, which makes room for the leaf's overflowing sibling.
  do {
    int bits = limit - 1;
    while (state->len_count[bits] == 0) {
      --bits;
    }
    state->len_count[bits] -= 1;
    state->len_count[bits + 1] += 2;
    state->len_count[limit] -= 1;
    overflow -= 2;
  } while (overflow > 0);

  // Deal the lengths out again, longest to the least frequent leaves (the
  // first ones to enter the sorted part, at its top).
  int h = FLATE_HEAP_SIZE;
  for (int bits = limit; bits != 0; --bits) {
    int n = state->len_count[bits];
    while (n != 0) {
      const int m = state->heap[--h];
      if (m > max_code) {
        continue;
      }
      if (tree[m].len != bits) {
        state->dyn_bits += static_cast<std::uint32_t>(bits - tree[m].len) * tree[m].freq;
        tree[m].len = static_cast<std::uint16_t>(bits);
      }
      --n;
    }
  }
}

namespace {

// The walk shared by count_runs and put_lengths: runs of equal lengths
// become repeat symbols. `sink(curlen, prevlen, count, min_count)` counts or
// sends one run; runs shorter than min_count go out as plain lengths.
template <typename Sink>
void walk_length_runs(const tree_entry* tree, int max_code, Sink&& sink) {
  int prevlen = -1;
  int nextlen = tree[0].len;
  int count = 0;
  int max_count = 7;
  int min_count = 4;
  if (nextlen == 0) {
    max_count = 138;
    min_count = 3;
  }
  for (int n = 0; n <= max_code; ++n) {
    const int curlen = nextlen;
    nextlen = tree[n + 1].len;
    if (++count < max_count && curlen == nextlen) {
      continue;
    }
    sink(curlen, prevlen, count, min_count);
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      max_count = 138;
      min_count = 3;
    } else if (curlen == nextlen) {
      max_count = 6;
      min_count = 3;
    } else {
      max_count = 7;
      min_count = 4;
    }
  }
}

}  // namespace

void count_runs(FlateState* state, tree_entry* tree, int max_code) {
  tree[max_code + 1].len = 0xFFFF;  // stop mark: ends the last run
  tree_entry* len_tree = state->len_tree;
  walk_length_runs(tree, max_code, [len_tree](int curlen, int prevlen, int count, int min_count) {
    if (count < min_count) {
      len_tree[curlen].freq = static_cast<std::uint16_t>(len_tree[curlen].freq + count);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        len_tree[curlen].freq += 1;
      }
      len_tree[REP_3_6].freq += 1;
    } else if (count <= 10) {
      len_tree[REPZ_3_10].freq += 1;
    } else {
      len_tree[REPZ_11_138].freq += 1;
    }
  });
}

void put_lengths(FlateState* state, const tree_entry* tree, int max_code) {
  const tree_entry* len_tree = state->len_tree;
  walk_length_runs(tree, max_code,
                   [state, len_tree](int curlen, int prevlen, int count, int min_count) {
                     if (count < min_count) {
                       for (; count != 0; --count) {
                         emit_code(state, len_tree, curlen);
                       }
                     } else if (curlen != 0) {
                       if (curlen != prevlen) {
                         emit_code(state, len_tree, curlen);
                         --count;
                       }
                       if (count < 3 || count > 6) {
                         record_failure(state, " 3_6?");
                       }
                       emit_code(state, len_tree, REP_3_6);
                       write_bits(state, static_cast<std::uint32_t>(count - 3) & 3, 2);
                     } else if (count <= 10) {
                       emit_code(state, len_tree, REPZ_3_10);
                       write_bits(state, static_cast<std::uint32_t>(count - 3), 3);
                     } else {
                       emit_code(state, len_tree, REPZ_11_138);
                       write_bits(state, static_cast<std::uint32_t>(count - 11), 7);
                     }
                   });
}

int make_length_tree(FlateState* state) {
  count_runs(state, state->lit_tree, state->lit_spec.max_code);
  count_runs(state, state->dist_tree, state->dist_spec.max_code);
  make_tree(state, &state->len_spec);
  // At least 4 code-length code lengths are always sent.
  int index = FLATE_LENGTH_CODES - 1;
  while (index >= 3 && state->len_tree[lencode_order[index]].len == 0) {
    --index;
  }
  // 3 bits per code-length code length, and 5 + 5 + 4 bits of counts.
  state->dyn_bits += 3 * (static_cast<std::uint32_t>(index) + 1) + 14;
  return index;
}

void put_trees(FlateState* state, int lcodes, int dcodes, int blcodes) {
  if (lcodes < END_BLOCK + 1 || dcodes < 1 || blcodes < 4) {
    record_failure(state, "not enough codes");
  }
  if (lcodes > FLATE_LIT_CODES || dcodes > FLATE_DIST_CODES || blcodes > FLATE_LENGTH_CODES) {
    record_failure(state, "too many codes");
  }
  write_bits(state, static_cast<std::uint32_t>(lcodes - (END_BLOCK + 1)) & 0x1F, 5);
  write_bits(state, static_cast<std::uint32_t>(dcodes - 1) & 0x1F, 5);
  write_bits(state, static_cast<std::uint32_t>(blcodes - 4) & 0xF, 4);
  for (int r = 0; r < blcodes && r < FLATE_LENGTH_CODES; ++r) {
    write_bits(state, state->len_tree[lencode_order[r]].len, 3);
  }
  put_lengths(state, state->lit_tree, lcodes - 1);
  put_lengths(state, state->dist_tree, dcodes - 1);
}

}  // namespace vaultwick
