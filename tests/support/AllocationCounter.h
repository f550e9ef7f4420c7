#pragma once
// Counts heap allocations of the whole program (the global operator new is
// replaced), so tests and benchmarks can check that a hot path takes none.
#include <cstdint>

namespace testsupport {

// Allocations since the program started; compare two readings.
std::uint64_t Allocations();

}  // namespace testsupport
