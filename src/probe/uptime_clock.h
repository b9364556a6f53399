// Elapsed time since boot in 100-nanosecond units; used only for differences.
#pragma once

#include <cstdint>

namespace quorvel {

// CLOCK_BOOTTIME (counts across suspend, never goes back), or -1 when it cannot be read.
std::int64_t read_uptime();

}  // namespace quorvel
