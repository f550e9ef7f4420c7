#pragma once
#include <cstdint>

namespace platform {

// Milliseconds since the system started, as the OS tick counter gives them:
// 32 bits that wrap after about 49.7 days.
std::uint32_t TickCount();

}  // namespace platform
