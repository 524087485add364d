#include "platform/modem/CallAddress.h"

#include <cctype>
#include <utility>

namespace {
constexpr std::size_t kLongestHostName = 253;  // the longest a DNS name can be

bool startsWithWord(std::string_view text, std::string_view word)
{
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool parsePort(std::string_view text, std::uint16_t& port)
{
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (!isDigit(c)) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool isHostName(std::string_view text)
{
    if (text.empty() || text.size() > kLongestHostName) return false;
    for (char c : text) {
        const bool allowed = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
        if (!allowed) return false;
    }
    return true;
}

// An IPv6 address, perhaps with an embedded IPv4 part or a zone ("%eth0").
bool isIpv6Address(std::string_view text)
{
    if (text.size() < 2 || text.size() > 64 || text.find(':') == std::string_view::npos) return false;
    const std::size_t zone = text.find('%');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == zone) continue;
        const bool allowed = i > zone ? (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')
                                      : (std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.');
        if (!allowed) return false;
    }
    return zone != text.size() - 1;
}

bool isIpv4Address(std::string_view text)
{
    int groups = 0;
    std::size_t digits = 0;
    for (char c : text) {
        if (isDigit(c)) {
            if (++digits > 3) return false;
        } else if (c == '.' && digits > 0) {
            ++groups;
            digits = 0;
        } else {
            return false;
        }
    }
    return groups == 3 && digits > 0;
}
}  // namespace

bool parseCallAddress(std::string_view text, CallAddress& address)
{
    CallAddress parsed;
    if (startsWithWord(text, "telnet:")) {
        parsed.protocol = CallProtocol::Telnet;
        text.remove_prefix(7);
    } else if (startsWithWord(text, "tcp:")) {
        parsed.protocol = CallProtocol::Raw;
        text.remove_prefix(4);
    }

    std::string_view host = text;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            port = rest.substr(1);
            if (port.empty()) return false;
        }
        if (!isIpv6Address(host)) return false;
    } else if (text.find(':') != text.rfind(':')) {
        // Two colons or more and no brackets: an IPv6 address alone.
        if (!isIpv6Address(host)) return false;
    } else {
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            if (port.empty()) return false;
        }
        if (!isHostName(host)) return false;
    }
    if (!port.empty() && !parsePort(port, parsed.port)) return false;
    parsed.host = std::string(host);
    address = std::move(parsed);
    return true;
}

std::string phonebookKey(std::string_view number)
{
    std::string key;
    for (char c : number)
        if (c != ' ' && c != '-' && c != '.' && c != '(' && c != ')') key.push_back(c);
    return key;
}

bool isTelephoneNumber(std::string_view text)
{
    bool digit = false;
    for (char c : text) {
        if (isDigit(c))
            digit = true;
        else if (c != ' ' && c != '-' && c != '.' && c != '(' && c != ')' && c != '+')
            return false;
    }
    return digit && !isIpv4Address(text);
}
