// Test helper: cap the address space of a forked test child, so that a test
// can show that a path allocates nothing large (the allocation fails under
// the cap) without timing it.
#pragma once

#include <cstddef>

namespace craq::test {

// Limits the calling process's address space (RLIMIT_AS, soft limit) to its
// present size plus headroom bytes; any request beyond that fails.  Meant for
// a child of runCaptured: the limit cannot be raised again past the old hard
// limit, and it holds for the rest of the process.  Returns false when the
// present size cannot be read or the limit cannot be set.
bool capAddressSpaceGrowth(std::size_t headroom);

}  // namespace craq::test
