// The IPv4 default gateways of the system's routing table, as the kernel lists it in
// /proc/net/route.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The gateways of the default routes in a /proc/net/route text, as dotted quads, the preferred
// (lowest metric) first, each address once. Routes that are down or have no gateway are left out.
std::vector<std::string> default_gateways(std::string_view route_table);

// The text of /proc/net/route; empty when it cannot be read.
std::string read_route_table();

}  // namespace quorvel
