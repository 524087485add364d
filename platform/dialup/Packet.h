// IPv4, TCP and UDP headers as the relay reads and rewrites them in place,
// and the Internet checksum, computed whole or adjusted for a changed field
// (RFC 1624), so that a rewritten header stays exactly as valid as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/lines/ByteTransport.h"

namespace dialup {

constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kProtocolUdp = 17;

constexpr std::uint8_t kTcpFin = 0x01;
constexpr std::uint8_t kTcpSyn = 0x02;
constexpr std::uint8_t kTcpRst = 0x04;
constexpr std::uint8_t kTcpAck = 0x10;

inline std::uint16_t read16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }
inline std::uint32_t read32(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
           static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}
inline void write16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}
inline void write32(std::uint8_t* at, std::uint32_t value)
{
    write16(at, static_cast<std::uint16_t>(value >> 16));
    write16(at + 2, static_cast<std::uint16_t>(value));
}

// The one's complement sum of `length` bytes, folded to 16 bits, not inverted.
std::uint16_t onesComplementSum(const std::uint8_t* data, std::size_t length, std::uint32_t start = 0);
// The checksum field after a 16-bit word it covers changed from `before` to
// `after` (RFC 1624, equation 3).
std::uint16_t adjustChecksum(std::uint16_t checksum, std::uint16_t before, std::uint16_t after);
inline std::uint16_t adjustChecksum32(std::uint16_t checksum, std::uint32_t before, std::uint32_t after)
{
    checksum = adjustChecksum(checksum, static_cast<std::uint16_t>(before >> 16), static_cast<std::uint16_t>(after >> 16));
    return adjustChecksum(checksum, static_cast<std::uint16_t>(before), static_cast<std::uint16_t>(after));
}

// A view of one IPv4 datagram's headers. valid() only when the IP header,
// and for TCP and UDP their own header, lie wholly inside the datagram and
// the contiguous part of the buffer.
class Datagram {
public:
    // `contiguous` bytes lie at `data`, of a datagram of which `available`
    // bytes arrived (the headers must lie in the contiguous part).
    Datagram(std::uint8_t* data, std::size_t contiguous, std::size_t available);
    Datagram(std::uint8_t* data, std::size_t length) : Datagram(data, length, length) {}
    bool valid() const { return valid_; }
    std::uint8_t protocol() const { return data_[9]; }
    Ipv4Address source() const { return read32(data_ + 12); }
    Ipv4Address destination() const { return read32(data_ + 16); }
    // A piece of a fragmented datagram: only the first holds the ports.
    bool fragment() const { return (read16(data_ + 6) & 0x3fff) != 0; }
    std::size_t headerLength() const { return headerLength_; }
    std::size_t totalLength() const { return totalLength_; }
    bool hasPorts() const { return ports_; }  // TCP or UDP, unfragmented
    std::uint16_t sourcePort() const { return read16(transport()); }
    std::uint16_t destinationPort() const { return read16(transport() + 2); }
    std::uint8_t tcpFlags() const { return transport()[13]; }
    std::uint32_t tcpSequence() const { return read32(transport() + 4); }
    std::uint32_t tcpAcknowledgement() const { return read32(transport() + 8); }
    // The TCP segment's payload length (its header's length taken off).
    std::size_t tcpPayload() const;
    std::uint8_t* transport() const { return data_ + headerLength_; }
    std::size_t transportLength() const { return totalLength_ - headerLength_; }

    // Rewrite an address or port, adjusting the IP header's checksum and the
    // TCP or UDP checksum (a UDP checksum of zero means none, and stays so).
    void setSource(Ipv4Address address) { setAddress(12, address); }
    void setDestination(Ipv4Address address) { setAddress(16, address); }
    void setSourcePort(std::uint16_t port) { setPort(0, port); }
    void setDestinationPort(std::uint16_t port) { setPort(2, port); }

private:
    void setAddress(std::size_t offset, Ipv4Address address);
    void setPort(std::size_t offset, std::uint16_t port);
    std::uint8_t* checksumField() const;

    std::uint8_t* data_;
    std::size_t headerLength_ = 0;
    std::size_t totalLength_ = 0;
    bool valid_ = false;
    bool ports_ = false;
};

// Writes an IPv4 header (20 bytes, no options) with its checksum.
void writeIpHeader(std::uint8_t* at, std::size_t totalLength, std::uint8_t protocol, Ipv4Address source,
                   Ipv4Address destination, std::uint16_t identification);
// The TCP or UDP checksum of a segment over the IPv4 pseudo-header.
std::uint16_t transportChecksum(const std::uint8_t* segment, std::size_t length, std::uint8_t protocol,
                                Ipv4Address source, Ipv4Address destination);

// "a.b.c.d" and back; nothing for anything else (no leading zeros, no names).
std::optional<Ipv4Address> parseIpv4(std::string_view text);
std::string formatIpv4(Ipv4Address address);

}  // namespace dialup
