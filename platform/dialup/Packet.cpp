#include "platform/dialup/Packet.h"

namespace dialup {

std::uint16_t onesComplementSum(const std::uint8_t* data, std::size_t length, std::uint32_t start)
{
    std::uint32_t sum = start;
    for (std::size_t i = 0; i + 1 < length; i += 2) sum += read16(data + i);
    if (length & 1) sum += static_cast<std::uint32_t>(data[length - 1]) << 8;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

std::uint16_t adjustChecksum(std::uint16_t checksum, std::uint16_t before, std::uint16_t after)
{
    // HC' = ~(~HC + ~m + m')
    std::uint32_t sum = static_cast<std::uint16_t>(~checksum);
    sum += static_cast<std::uint16_t>(~before);
    sum += after;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

Datagram::Datagram(std::uint8_t* data, std::size_t contiguous, std::size_t available) : data_(data)
{
    if (contiguous < 20 || contiguous > available || (data[0] >> 4) != 4) return;
    headerLength_ = static_cast<std::size_t>(data[0] & 0x0f) * 4;
    totalLength_ = read16(data + 2);
    if (headerLength_ < 20 || headerLength_ > contiguous || totalLength_ < headerLength_ || totalLength_ > available)
        return;
    valid_ = true;
    if (fragment()) return;
    const std::size_t rest = totalLength_ - headerLength_;
    const std::size_t room = contiguous - headerLength_;
    if (protocol() == kProtocolTcp) {
        const std::size_t tcpHeader = rest >= 20 && room >= 20 ? static_cast<std::size_t>(transport()[12] >> 4) * 4 : 0;
        ports_ = tcpHeader >= 20 && tcpHeader <= rest && tcpHeader <= room;
        valid_ = ports_;
    } else if (protocol() == kProtocolUdp) {
        ports_ = rest >= 8 && room >= 8 && read16(transport() + 4) >= 8 && read16(transport() + 4) <= rest;
        valid_ = ports_;
    }
}

std::size_t Datagram::tcpPayload() const
{
    return transportLength() - static_cast<std::size_t>(transport()[12] >> 4) * 4;
}

std::uint8_t* Datagram::checksumField() const
{
    if (!ports_) return nullptr;
    if (protocol() == kProtocolTcp) return transport() + 16;
    std::uint8_t* field = transport() + 6;
    return read16(field) == 0 ? nullptr : field;
}

void Datagram::setAddress(std::size_t offset, Ipv4Address address)
{
    const Ipv4Address before = read32(data_ + offset);
    write16(data_ + 10, adjustChecksum32(read16(data_ + 10), before, address));
    if (std::uint8_t* field = checksumField()) {
        std::uint16_t adjusted = adjustChecksum32(read16(field), before, address);
        if (protocol() == kProtocolUdp && adjusted == 0) adjusted = 0xffff;  // zero would mean "none"
        write16(field, adjusted);
    }
    write32(data_ + offset, address);
}

void Datagram::setPort(std::size_t offset, std::uint16_t port)
{
    std::uint8_t* at = transport() + offset;
    if (std::uint8_t* field = checksumField()) {
        std::uint16_t adjusted = adjustChecksum(read16(field), read16(at), port);
        if (protocol() == kProtocolUdp && adjusted == 0) adjusted = 0xffff;
        write16(field, adjusted);
    }
    write16(at, port);
}

void writeIpHeader(std::uint8_t* at, std::size_t totalLength, std::uint8_t protocol, Ipv4Address source,
                   Ipv4Address destination, std::uint16_t identification)
{
    at[0] = 0x45;
    at[1] = 0;
    write16(at + 2, static_cast<std::uint16_t>(totalLength));
    write16(at + 4, identification);
    write16(at + 6, 0);
    at[8] = 64;
    at[9] = protocol;
    write16(at + 10, 0);
    write32(at + 12, source);
    write32(at + 16, destination);
    write16(at + 10, static_cast<std::uint16_t>(~onesComplementSum(at, 20)));
}

std::uint16_t transportChecksum(const std::uint8_t* segment, std::size_t length, std::uint8_t protocol,
                                Ipv4Address source, Ipv4Address destination)
{
    std::uint32_t pseudo = (source >> 16) + (source & 0xffff) + (destination >> 16) + (destination & 0xffff) +
                           protocol + static_cast<std::uint32_t>(length);
    const std::uint16_t sum = static_cast<std::uint16_t>(~onesComplementSum(segment, length, pseudo));
    return protocol == kProtocolUdp && sum == 0 ? 0xffff : sum;
}

std::optional<Ipv4Address> parseIpv4(std::string_view text)
{
    Ipv4Address address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 3)
            value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
        if (digits == 0 || value > 255 || (digits > 1 && text[0] == '0')) return std::nullopt;
        text.remove_prefix(digits);
        address = address << 8 | value;
    }
    if (!text.empty()) return std::nullopt;
    return address;
}

std::string formatIpv4(Ipv4Address address)
{
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xff) + "." +
           std::to_string(address >> 8 & 0xff) + "." + std::to_string(address & 0xff);
}

}  // namespace dialup
