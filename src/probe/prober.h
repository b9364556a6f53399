// What a channel calls to probe its target. The program uses the echo probe; tests script results.
#pragma once

#include "probe/echo_probe.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quorvel {

// Called off the GUI thread; must return promptly (-1) once `cancel` fires.
using probe_function =
    std::function<std::int32_t(const std::string& host, int timeout_ms, const probe_cancel& cancel)>;

probe_function echo_prober();

}  // namespace quorvel
