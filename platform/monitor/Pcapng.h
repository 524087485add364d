// The blocks of a pcapng capture (the format Wireshark and tshark read) of
// PPP frames with their direction: link type PPP_WITH_DIR, whose packets
// start with one byte that says which way the frame went, seen from the
// emulated PC: 1 for a frame it sent, 0 for one it received. Timestamps are
// microseconds since 1970 (the interface's default resolution). Every block
// is written little-endian, as the section header's byte-order magic says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/lines/LineEvents.h"

namespace pcapng {
constexpr std::uint16_t kLinkTypePppWithDirection = 204;

// A section header naming the program that wrote it, followed by the one
// interface, named after the line. Starts a file, and may start another
// section further on in one: a capture appended to holds one per session.
std::string sectionStart(const std::string& application, const std::string& interfaceName);

// An enhanced packet block: the direction byte and the frame, with the
// direction also in the block's flags.
std::string packet(std::uint64_t microsecondsSince1970, LineDirection direction, const std::uint8_t* frame,
                   std::size_t length);
}  // namespace pcapng
