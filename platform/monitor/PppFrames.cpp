#include "platform/monitor/PppFrames.h"

#include <cstdio>

namespace {
constexpr std::uint16_t kLcp = 0xC021, kPap = 0xC023, kChap = 0xC223, kIpcp = 0x8021, kIpv6cp = 0x8057,
                        kCcp = 0x80FD, kIp = 0x0021, kVjCompressed = 0x002D, kVjUncompressed = 0x002F,
                        kIpv6 = 0x0057;
constexpr std::uint8_t kPapRequest = 1, kChapResponse = 2;

// Where the protocol field starts and how long it is: the address and
// control fields (FF 03) may be left out, and a protocol whose first byte is
// odd was compressed to that one byte.
struct Header {
    std::uint16_t protocol = 0;
    std::size_t info = 0;  // offset of the information field
    bool whole = false;
};

Header headerOf(const std::uint8_t* frame, std::size_t length)
{
    Header header;
    std::size_t at = length >= 2 && frame[0] == 0xFF && frame[1] == 0x03 ? 2 : 0;
    if (at >= length) return header;
    if (frame[at] & 1) {
        header.protocol = frame[at];
        header.info = at + 1;
    } else {
        if (at + 2 > length) return header;
        header.protocol = static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]);
        header.info = at + 2;
    }
    header.whole = true;
    return header;
}

void maskRun(std::uint8_t* frame, std::size_t from, std::size_t count, std::size_t end)
{
    for (std::size_t i = from; i < from + count && i < end; ++i) frame[i] = '*';
}

const char* controlCode(std::uint16_t protocol, std::uint8_t code)
{
    static const char* const configuration[] = {
        nullptr,          "Configure-Request", "Configure-Ack",   "Configure-Nak",   "Configure-Reject",
        "Terminate-Request", "Terminate-Ack",  "Code-Reject",     "Protocol-Reject", "Echo-Request",
        "Echo-Reply",     "Discard-Request",
    };
    static const char* const pap[] = {nullptr, "Authenticate-Request", "Authenticate-Ack", "Authenticate-Nak"};
    static const char* const chap[] = {nullptr, "Challenge", "Response", "Success", "Failure"};
    if (protocol == kPap) return code < 4 ? pap[code] : nullptr;
    if (protocol == kChap) return code < 5 ? chap[code] : nullptr;
    const std::uint8_t last = protocol == kLcp ? 11 : 7;  // the network control protocols stop at Code-Reject
    return code <= last ? configuration[code] : nullptr;
}

const char* protocolName(std::uint16_t protocol)
{
    switch (protocol) {
    case kLcp: return "LCP";
    case kPap: return "PAP";
    case kChap: return "CHAP";
    case kIpcp: return "IPCP";
    case kIpv6cp: return "IPV6CP";
    case kCcp: return "CCP";
    case kIp: return "IP";
    case kVjCompressed: return "VJ compressed TCP/IP";
    case kVjUncompressed: return "VJ uncompressed TCP/IP";
    case kIpv6: return "IPv6";
    default: return nullptr;
    }
}

std::string describeIp(const std::uint8_t* p, std::size_t length)
{
    if (length < 20 || (p[0] >> 4) != 4) return "IP";
    const std::size_t headerLength = static_cast<std::size_t>(p[0] & 0x0F) * 4;
    char text[128];
    int used = std::snprintf(text, sizeof text, "IP %u.%u.%u.%u > %u.%u.%u.%u", p[12], p[13], p[14], p[15], p[16],
                             p[17], p[18], p[19]);
    const std::uint8_t* l4 = p + headerLength;
    const std::size_t l4Length = length > headerLength ? length - headerLength : 0;
    const unsigned source = l4Length >= 4 ? static_cast<unsigned>(l4[0] << 8 | l4[1]) : 0;
    const unsigned destination = l4Length >= 4 ? static_cast<unsigned>(l4[2] << 8 | l4[3]) : 0;
    std::string out(text, static_cast<std::size_t>(used));
    if (p[9] == 6 && l4Length >= 14) {
        std::snprintf(text, sizeof text, " TCP %u > %u", source, destination);
        out += text;
        static const char* const flags[] = {"FIN", "SYN", "RST", "PSH", "ACK", "URG"};
        for (int bit = 0; bit < 6; ++bit)
            if (l4[13] & (1 << bit)) out += std::string(" ") + flags[bit];
    } else if (p[9] == 17 && l4Length >= 4) {
        std::snprintf(text, sizeof text, " UDP %u > %u", source, destination);
        out += text;
    } else if (p[9] == 1 && l4Length >= 1) {
        out += l4[0] == 8 ? " ICMP echo request" : l4[0] == 0 ? " ICMP echo reply" : " ICMP";
    }
    return out;
}
}  // namespace

void maskSecrets(std::uint8_t* frame, std::size_t length)
{
    const Header header = headerOf(frame, length);
    const std::size_t info = header.info;
    if (!header.whole || info + 5 > length) return;
    // The bounds are the frame's own, not the packet's length field: a guest
    // that gets that field wrong still has its secret masked.
    if (header.protocol == kPap && frame[info] == kPapRequest) {
        // Code, id, length; Peer-ID length, Peer-ID; password length, password:
        // everything after the password's length goes.
        const std::size_t passwordLengthAt = info + 5 + frame[info + 4];
        maskRun(frame, passwordLengthAt + 1, length, length);
    } else if (header.protocol == kChap && frame[info] == kChapResponse) {
        // Code, id, length; value size, value; name, which stays.
        maskRun(frame, info + 5, frame[info + 4], length);
    }
}

std::string describeFrame(const std::uint8_t* frame, std::size_t length)
{
    const Header header = headerOf(frame, length);
    if (!header.whole) return "too short for PPP";
    const char* name = protocolName(header.protocol);
    char text[64];
    if (!name) {
        std::snprintf(text, sizeof text, "protocol 0x%04X", header.protocol);
        return text;
    }
    const std::uint8_t* info = frame + header.info;
    const std::size_t infoLength = length - header.info;
    if (header.protocol == kIp) return describeIp(info, infoLength);
    if ((header.protocol & 0xC000) != 0x8000 && (header.protocol & 0xC000) != 0xC000) return name;
    if (infoLength < 2) return name;
    const char* code = controlCode(header.protocol, info[0]);
    if (code)
        std::snprintf(text, sizeof text, "%s %s id %u", name, code, info[1]);
    else
        std::snprintf(text, sizeof text, "%s code %u id %u", name, info[0], info[1]);
    return text;
}
