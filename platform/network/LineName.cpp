#include "platform/network/LineName.h"

#include <cstring>

namespace {
struct Prefix {
    const char* text;
    NetworkLineName::Kind kind;
};
const Prefix kPrefixes[] = {
    {"tcp:", NetworkLineName::Kind::Tcp},
    {"telnet:", NetworkLineName::Kind::Telnet},
    {"listen:", NetworkLineName::Kind::Listen},
};
const char kDefaultListenAddress[] = "127.0.0.1";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

const Prefix* prefixOf(const char* name)
{
    for (const Prefix& prefix : kPrefixes) {
        std::size_t i = 0;
        while (prefix.text[i] != '\0' && lower(name[i]) == prefix.text[i]) ++i;
        if (prefix.text[i] == '\0') return &prefix;
    }
    return nullptr;
}

bool parsePort(const std::string& text, std::uint16_t& port)
{
    if (text.empty() || text.size() > 5) return false;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// "HOST:PORT" or "[V6]:PORT" into its parts; the host may be absent when
// `hostOptional` (then `host` is left empty).
bool splitHostPort(const std::string& text, bool hostOptional, std::string& host, std::uint16_t& port)
{
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        host = text.substr(1, close - 1);
        if (host.empty()) return false;
        portText = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) {
            if (!hostOptional) return false;
            host.clear();
            portText = text;
        } else {
            host = text.substr(0, colon);
            if (host.empty() || host.find(':') != std::string::npos) return false;  // bare IPv6 needs brackets
            portText = text.substr(colon + 1);
        }
    }
    for (char c : host)
        if (c == ' ' || c == '\t' || c == '[' || c == ']' || c == '/' || c == '\\') return false;
    return parsePort(portText, port);
}
}  // namespace

bool isNetworkLineName(const char* name) { return name != nullptr && prefixOf(name) != nullptr; }

bool parseNetworkLineName(const char* name, NetworkLineName& parsed)
{
    if (name == nullptr) return false;
    const Prefix* prefix = prefixOf(name);
    if (prefix == nullptr) return false;
    const std::string rest(name + std::strlen(prefix->text));
    const bool listening = prefix->kind == NetworkLineName::Kind::Listen;
    NetworkLineName result;
    result.kind = prefix->kind;
    if (!splitHostPort(rest, listening, result.host, result.port)) return false;
    if (listening && result.host.empty()) result.host = kDefaultListenAddress;
    parsed = result;
    return true;
}
