// Counts the bytes the process holds from malloc while a window is open, so that the benchmark
// can tell the peak memory of one pass. Every allocation of the process goes through it; only
// those made and given back inside the window are counted.
#pragma once

#include <cstdint>

namespace alloc_meter {

struct Window {
  std::int64_t peak;          // highest live bytes above the window's start
  std::int64_t net;           // live bytes above the start when the window closed
  std::uint64_t allocations;  // allocations made inside the window
};

// Opens a window; windows do not nest.
void open() noexcept;

// Closes the window and tells what happened in it.
Window close() noexcept;

}  // namespace alloc_meter
