#include "probe/default_gateway.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace quorvel {

namespace {

// Columns of /proc/net/route: Iface Destination Gateway Flags RefCnt Use Metric Mask ...
enum column { destination = 1, gateway = 2, flags = 3, metric = 6, mask = 7, columns_needed = 8 };

constexpr unsigned route_up = 0x1;       // RTF_UP
constexpr unsigned route_gateway = 0x2;  // RTF_GATEWAY

std::vector<std::string_view> fields_of(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t begin = line.find_first_not_of(" \t", pos);
        if (begin == std::string_view::npos) break;
        const std::size_t end = std::min(line.find_first_of(" \t", begin), line.size());
        fields.push_back(line.substr(begin, end - begin));
        pos = end;
    }
    return fields;
}

bool parse_number(std::string_view text, int base, std::uint32_t& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

// The kernel prints each address as the 32-bit number that holds it in network byte order.
std::string dotted_quad(std::uint32_t address_in_memory_order)
{
    in_addr address{};
    std::memcpy(&address, &address_in_memory_order, sizeof address);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

struct default_route {
    std::uint32_t metric;
    std::string gateway;
};

bool parse_default_route(std::string_view line, default_route& route)
{
    const std::vector<std::string_view> fields = fields_of(line);
    if (fields.size() < columns_needed) return false;
    std::uint32_t target = 0, via = 0, route_flags = 0, netmask = 0;
    if (!parse_number(fields[destination], 16, target) || !parse_number(fields[gateway], 16, via) ||
        !parse_number(fields[flags], 16, route_flags) || !parse_number(fields[mask], 16, netmask) ||
        !parse_number(fields[metric], 10, route.metric))
        return false;
    const unsigned wanted = route_up | route_gateway;
    if (target != 0 || netmask != 0 || via == 0 || (route_flags & wanted) != wanted) return false;
    route.gateway = dotted_quad(via);
    return true;
}

}  // namespace

std::vector<std::string> default_gateways(std::string_view route_table)
{
    std::vector<default_route> routes;
    while (!route_table.empty()) {
        const std::size_t newline = route_table.find('\n');
        const std::string_view line = route_table.substr(0, newline);
        route_table.remove_prefix(newline == std::string_view::npos ? route_table.size() : newline + 1);
        default_route route{};
        if (parse_default_route(line, route)) routes.push_back(route);
    }
    std::stable_sort(routes.begin(), routes.end(),
                     [](const default_route& a, const default_route& b) { return a.metric < b.metric; });
    std::vector<std::string> gateways;
    for (const default_route& route : routes)
        if (std::find(gateways.begin(), gateways.end(), route.gateway) == gateways.end())
            gateways.push_back(route.gateway);
    return gateways;
}

std::string read_route_table()
{
    const int fd = ::open("/proc/net/route", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return text;
}

}  // namespace quorvel
