#pragma once

// Replaces every form of the test program's operator new and delete, so a
// test can make chosen allocations fail. Link the shim into the one program
// that needs it and define RefuseAllocation there; the array forms are
// replaced too, since a sanitizer's runtime serves them itself otherwise,
// and the aligned forms (the threaded compressor's large blocks), which
// RefuseAllocation is asked about the same way.

#include <cstddef>

namespace vaultwick::test {

// Asked before each allocation, on whichever thread allocates: true makes it
// fail (operator new throws std::bad_alloc, the nothrow forms answer null).
// It must not allocate itself.
bool RefuseAllocation(std::size_t size);

}  // namespace vaultwick::test
