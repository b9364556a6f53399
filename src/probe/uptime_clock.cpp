#include "probe/uptime_clock.h"

#include <ctime>

namespace quorvel {

std::int64_t read_uptime()
{
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return -1;
    return static_cast<std::int64_t>(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
}

}  // namespace quorvel
