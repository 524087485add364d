#include "platform/dialup/DialupSettings.h"

#include <algorithm>
#include <cctype>

#include "platform/dialup/Packet.h"

namespace dialup {
namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<std::uint16_t> parsePort(std::string_view text)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// Comma-separated items, each trimmed, empty ones skipped.
std::vector<std::string_view> items(std::string_view text)
{
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = trimmed(text.substr(0, comma));
        if (!item.empty()) out.push_back(item);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return out;
}

// An address the guest's network may use: not 0.x, loopback, multicast or reserved.
bool usableAddress(Ipv4Address address)
{
    const unsigned first = address >> 24;
    return first != 0 && first != 127 && first < 224;
}

std::optional<std::vector<std::uint16_t>> parseHostPorts(std::string_view text)
{
    std::vector<std::uint16_t> ports;
    for (std::string_view item : items(text)) {
        const auto port = parsePort(item);
        if (!port || ports.size() == DialupSettings::kMostHostPorts) return std::nullopt;
        if (std::find(ports.begin(), ports.end(), *port) == ports.end()) ports.push_back(*port);
    }
    return ports;
}

std::optional<PortForward> parseForward(std::string_view item)
{
    PortForward forward;
    const std::size_t last = item.rfind(':');
    if (last == std::string_view::npos) return std::nullopt;
    const auto guestPort = parsePort(item.substr(last + 1));
    std::string_view host = item.substr(0, last);
    const std::size_t middle = host.rfind(':');
    if (middle != std::string_view::npos) {
        const auto address = parseIpv4(trimmed(host.substr(0, middle)));
        if (!address) return std::nullopt;
        forward.hostAddress = formatIpv4(*address);
        host.remove_prefix(middle + 1);
    }
    const auto hostPort = parsePort(host);
    if (!guestPort || !hostPort) return std::nullopt;
    forward.hostPort = *hostPort;
    forward.guestPort = *guestPort;
    return forward;
}

std::optional<std::vector<PortForward>> parseForwards(std::string_view text)
{
    std::vector<PortForward> forwards;
    for (std::string_view item : items(text)) {
        const auto forward = parseForward(item);
        if (!forward || forwards.size() == DialupSettings::kMostForwards) return std::nullopt;
        for (const PortForward& other : forwards)
            if (other.hostPort == forward->hostPort) return std::nullopt;
        forwards.push_back(*forward);
    }
    return forwards;
}

}  // namespace

std::optional<Service> serviceForPhonebookValue(std::string_view value)
{
    const std::string word = lowered(trimmed(value));
    if (word == "ppp") return Service::Login;
    if (word == "slip") return Service::Slip;
    if (word == "cslip") return Service::Cslip;
    return std::nullopt;
}

DialupSettings DialupSettings::parse(const std::vector<std::string>& entries)
{
    DialupSettings settings;
    const DialupSettings defaults;
    for (const std::string& entry : entries) {
        const std::string_view line = trimmed(entry);
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == ';' || equals == std::string_view::npos) continue;
        const std::string key = lowered(trimmed(line.substr(0, equals)));
        const std::string_view value = trimmed(line.substr(equals + 1));
        bool good = true;
        if (key == "guest" || key == "gateway" || key == "dns") {
            const auto address = parseIpv4(value);
            good = address && usableAddress(*address);
            if (good) (key == "guest" ? settings.guest : key == "gateway" ? settings.gateway : settings.dns) = *address;
        } else if (key == "user" || key == "password") {
            good = value.size() <= kLongestLogin;
            if (good) (key == "user" ? settings.user : settings.password) = std::string(value);
        } else if (key == "hostports") {
            const auto ports = parseHostPorts(value);
            good = ports.has_value();
            if (good) settings.hostPorts = *ports;
        } else if (key == "forward") {
            const auto forwards = parseForwards(value);
            good = forwards.has_value();
            if (good) settings.forwards = *forwards;
        } else {
            continue;  // not ours
        }
        if (!good) settings.rejected.push_back(std::string(trimmed(line.substr(0, equals))));
    }
    // Three different addresses, or the plan as a whole falls back.
    if (settings.guest == settings.gateway || settings.guest == settings.dns || settings.gateway == settings.dns) {
        settings.rejected.push_back("Guest/Gateway/DNS");
        settings.guest = defaults.guest;
        settings.gateway = defaults.gateway;
        settings.dns = defaults.dns;
    }
    return settings;
}

}  // namespace dialup
