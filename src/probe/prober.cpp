#include "probe/prober.h"

namespace quorvel {

probe_function echo_prober() {
  return [](const std::string& host, int timeout_ms, const probe_cancel& cancel) {
    return echo_probe(host, timeout_ms, cancel);
  };
}

}  // namespace quorvel
