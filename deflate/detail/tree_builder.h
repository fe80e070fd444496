#pragma once

// Huffman tree building for the dynamic blocks: code lengths limited to the
// alphabet's maximum, canonical codes, and the run-length coded description
// of the trees that opens a dynamic block.

#include <cstdint>

#include "deflate/flate_state.h"

namespace vaultwick {

// Builds the tree of `spec` from the frequencies in its leaves, adds its cost
// to dyn_bits (and, with a fixed tree, the fixed cost to fixed_bits), and
// leaves code and length in every leaf up to spec->max_code.
void make_tree(FlateState* state, tree_spec* spec);

// Restores the heap order below index k (smaller frequency first, ties to
// the shallower subtree).
void sift_down(FlateState* state, const tree_entry* tree, int k);

// Turns the finished tree into code lengths no longer than spec->len_limit.
void limit_lengths(FlateState* state, tree_spec* spec);

// Counts the code-length symbols that describing `tree` will need.
void count_runs(FlateState* state, tree_entry* tree, int max_code);

// Sends the lengths of `tree` with the code-length code.
void put_lengths(FlateState* state, const tree_entry* tree, int max_code);

// Builds the code-length tree; returns the index in lencode_order of the last
// code-length code length to send (at least 3).
int make_length_tree(FlateState* state);

// Sends the header of a dynamic block after its three type bits.
void put_trees(FlateState* state, int lcodes, int dcodes, int blcodes);

}  // namespace vaultwick
