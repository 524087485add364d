#include "platform/network/Address.h"

#include <cctype>
#include <utility>

namespace {
constexpr std::size_t kLongestHostName = 253;  // the longest a DNS name can be
constexpr char kDefaultListenAddress[] = "127.0.0.1";

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

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

// Groups of 1 to 4 hex digits separated by single colons, the last of the
// whole address perhaps an IPv4 address (worth two groups).
bool countGroups(std::string_view text, bool endsAddress, int& groups)
{
    while (!text.empty()) {
        const std::size_t colon = text.find(':');
        const std::string_view group = text.substr(0, colon);
        if (colon == std::string_view::npos && endsAddress && group.find('.') != std::string_view::npos) {
            if (!isIpv4Address(group)) return false;
            groups += 2;
        } else {
            if (group.empty() || group.size() > 4) return false;
            for (char c : group)
                if (!isHexDigit(c)) return false;
            ++groups;
        }
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
        if (text.empty()) return false;  // a colon at the end
    }
    return true;
}

// An IPv6 address: eight groups, or fewer with one "::"; perhaps a zone ("%eth0").
bool isIpv6Address(std::string_view text)
{
    const std::size_t percent = text.find('%');
    if (percent != std::string_view::npos) {
        const std::string_view zone = text.substr(percent + 1);
        if (zone.empty()) return false;
        for (char c : zone)
            if (!isAlnum(c) && c != '-' && c != '_') return false;
        text = text.substr(0, percent);
    }
    const std::size_t gap = text.find("::");
    int groups = 0;
    if (gap == std::string_view::npos) return countGroups(text, true, groups) && groups == 8;
    if (text.find("::", gap + 1) != std::string_view::npos) return false;
    const std::string_view after = text.substr(gap + 2);
    return countGroups(text.substr(0, gap), false, groups) && countGroups(after, true, groups) && groups < 8;
}

// Letters, digits, dashes, dots and underscores; not digits alone, which
// would be a telephone number.
bool isHostName(std::string_view text)
{
    if (text.empty() || text.size() > kLongestHostName) return false;
    bool notDigit = false;
    for (char c : text) {
        if (!isAlnum(c) && c != '-' && c != '.' && c != '_') return false;
        if (!isDigit(c)) notDigit = true;
    }
    return notDigit;
}

// "[V6]" or "[V6]:PORT" into the address inside and the port text (empty
// when none). False when malformed.
bool splitBracketed(std::string_view text, std::string_view& host, std::string_view& port)
{
    const std::size_t close = text.find(']');
    if (text.empty() || text.front() != '[' || close == std::string_view::npos) return false;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || rest.size() == 1)) return false;
    port = rest.empty() ? rest : rest.substr(1);
    return isIpv6Address(host);
}
}  // namespace

bool startsWithWord(std::string_view text, std::string_view word)
{
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return true;
}

bool hasProtocolPrefix(std::string_view text) { return startsWithWord(text, "tcp:") || startsWithWord(text, "telnet:"); }

bool parseCallAddress(std::string_view text, Address& address)
{
    Address parsed;
    if (startsWithWord(text, "telnet:")) {
        parsed.protocol = Protocol::Telnet;
        text.remove_prefix(7);
    } else if (startsWithWord(text, "tcp:")) {
        parsed.protocol = Protocol::Raw;
        text.remove_prefix(4);
    }
    std::string_view host = text;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        if (!splitBracketed(text, host, port)) return false;
    } else if (text.find(':') != text.rfind(':')) {
        if (!isIpv6Address(text)) return false;  // two colons or more, no brackets: an IPv6 address alone
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

bool parseListenAddress(std::string_view text, Address& address)
{
    std::string_view host = kDefaultListenAddress;
    std::string_view port = text;
    if (!text.empty() && text.front() == '[') {
        if (!splitBracketed(text, host, port) || port.empty()) return false;
    } else {
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            if (!isIpv4Address(host)) return false;
        }
    }
    Address parsed;
    if (!parsePort(port, parsed.port)) return false;
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
