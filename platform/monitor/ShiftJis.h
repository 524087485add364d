// Shift-JIS as Japanese Windows writes it (code page 932), decoded for the
// monitor's log, which is UTF-8. The table of two-byte characters is made
// at build time (cmake/shift_jis_table.py).
#pragma once

#include <cstdint>
#include <string>

constexpr unsigned kShiftJisLeadCount = 60;    // 0x81-0x9F, 0xE0-0xFC
constexpr unsigned kShiftJisTrailCount = 189;  // 0x40-0xFC
extern const std::uint16_t kShiftJisPairs[kShiftJisLeadCount * kShiftJisTrailCount];

inline bool isShiftJisLead(std::uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// The character a lead and a trail byte stand for; 0 when they stand for none.
inline char16_t shiftJisPair(std::uint8_t lead, std::uint8_t trail)
{
    if (!isShiftJisLead(lead) || trail < 0x40 || trail > 0xFC) return 0;
    const unsigned row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31u;
    return kShiftJisPairs[row * kShiftJisTrailCount + (trail - 0x40u)];
}

// The half-width katakana of one byte (0xA1-0xDF); 0 for any other byte.
inline char16_t shiftJisSingle(std::uint8_t byte)
{
    return byte >= 0xA1 && byte <= 0xDF ? static_cast<char16_t>(0xFF61 + (byte - 0xA1)) : 0;
}

inline void appendUtf8(std::string& out, char16_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}
