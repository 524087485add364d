#include "platform/dialup/DnsMessage.h"

#include <cstring>

#include "platform/dialup/Packet.h"

namespace dialup {
namespace {
constexpr std::size_t kHeader = 12;
constexpr std::size_t kLongestName = 253;

bool hostNameCharacter(std::uint8_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}
}  // namespace

std::optional<DnsQuery> parseDnsQuery(const std::uint8_t* message, std::size_t length)
{
    if (length < kHeader) return std::nullopt;
    const std::uint16_t flags = read16(message + 2);
    const bool response = flags & 0x8000;
    const unsigned opcode = flags >> 11 & 0x0f;
    if (response || opcode != 0 || read16(message + 4) != 1) return std::nullopt;
    DnsQuery query;
    query.id = read16(message);
    query.recursionDesired = flags & 0x0100;
    std::size_t at = kHeader;
    for (;;) {
        if (at >= length) return std::nullopt;
        const std::uint8_t label = message[at++];
        if (label == 0) break;
        if (label > 63 || at + label > length) return std::nullopt;  // compression has no place in a question
        if (!query.name.empty()) query.name += '.';
        for (std::size_t i = 0; i < label; ++i) {
            if (!hostNameCharacter(message[at + i])) return std::nullopt;
            query.name += static_cast<char>(message[at + i]);
        }
        if (query.name.size() > kLongestName) return std::nullopt;
        at += label;
    }
    if (query.name.empty() || at + 4 > length || read16(message + at + 2) != 1) return std::nullopt;
    query.type = read16(message + at);
    query.questionEnd = at + 4;
    return query;
}

std::size_t writeDnsAnswer(const std::uint8_t* message, const DnsQuery& query, DnsCode code,
                           const Ipv4Address* addresses, std::size_t count, std::uint8_t* out)
{
    if (count > kMostAddresses) count = kMostAddresses;
    // The question is at most 12 + 255 + 4 bytes, the answers 8 * 16: within 512.
    write16(out, query.id);
    write16(out + 2, static_cast<std::uint16_t>(0x8000 | (query.recursionDesired ? 0x0100 : 0) | 0x0080 |
                                                static_cast<unsigned>(code)));
    write16(out + 4, 1);
    write16(out + 6, static_cast<std::uint16_t>(count));
    write16(out + 8, 0);
    write16(out + 10, 0);
    std::memcpy(out + kHeader, message + kHeader, query.questionEnd - kHeader);
    std::size_t at = query.questionEnd;
    for (std::size_t i = 0; i < count; ++i) {
        write16(out + at, 0xc000 | kHeader);  // the name, as in the question
        write16(out + at + 2, kDnsTypeA);
        write16(out + at + 4, 1);
        write32(out + at + 6, 60);
        write16(out + at + 10, 4);
        write32(out + at + 12, addresses[i]);
        at += 16;
    }
    return at;
}

}  // namespace dialup
