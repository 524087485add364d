#include "platform/monitor/Pcapng.h"

namespace {
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A, kInterfaceDescription = 0x00000001,
                        kEnhancedPacket = 0x00000006;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kEndOfOptions = 0, kShbUserApplication = 4, kIfName = 2, kEpbFlags = 2;
constexpr std::uint32_t kInbound = 1, kOutbound = 2;  // epb_flags bits 0-1

void put16(std::string& out, std::uint16_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void put32(std::string& out, std::uint32_t value)
{
    put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

void pad(std::string& out)
{
    while (out.size() % 4) out += '\0';
}

void option(std::string& out, std::uint16_t code, const std::string& value)
{
    put16(out, code);
    put16(out, static_cast<std::uint16_t>(value.size()));
    out += value;
    pad(out);
}

// A block around `body`: its type, its total length before and after.
std::string block(std::uint32_t type, const std::string& body)
{
    std::string out;
    const std::uint32_t total = static_cast<std::uint32_t>(12 + body.size());
    put32(out, type);
    put32(out, total);
    out += body;
    put32(out, total);
    return out;
}

// Option values are at most 65535 bytes; names far shorter in practice.
std::string clipped(const std::string& text) { return text.substr(0, 256); }
}  // namespace

namespace pcapng {
std::string sectionStart(const std::string& application, const std::string& interfaceName)
{
    std::string section;
    put32(section, kByteOrderMagic);
    put16(section, 1);  // version 1.0
    put16(section, 0);
    put32(section, 0xFFFFFFFF);  // section length not given
    put32(section, 0xFFFFFFFF);
    option(section, kShbUserApplication, clipped(application));
    put32(section, kEndOfOptions);

    std::string interface;
    put16(interface, kLinkTypePppWithDirection);
    put16(interface, 0);
    put32(interface, 0);  // no snapshot length: frames are kept whole
    option(interface, kIfName, clipped(interfaceName));
    put32(interface, kEndOfOptions);
    return block(kSectionHeader, section) + block(kInterfaceDescription, interface);
}

std::string packet(std::uint64_t microsecondsSince1970, LineDirection direction, const std::uint8_t* frame,
                   std::size_t length)
{
    const bool sent = direction == LineDirection::FromGuest;
    std::string body;
    put32(body, 0);  // interface 0
    put32(body, static_cast<std::uint32_t>(microsecondsSince1970 >> 32));
    put32(body, static_cast<std::uint32_t>(microsecondsSince1970 & 0xFFFFFFFF));
    const std::uint32_t captured = static_cast<std::uint32_t>(length + 1);
    put32(body, captured);
    put32(body, captured);
    body += static_cast<char>(sent ? 1 : 0);
    body.append(reinterpret_cast<const char*>(frame), length);
    pad(body);
    put16(body, kEpbFlags);
    put16(body, 4);
    put32(body, sent ? kOutbound : kInbound);
    put32(body, kEndOfOptions);
    return block(kEnhancedPacket, body);
}
}  // namespace pcapng
