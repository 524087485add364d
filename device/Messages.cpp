#include "device/Messages.h"

#include <cstring>

// Shift-JIS bytes, written out so that the source encoding cannot change them.
const char kOpenFailedSuffix[] = "\x82\xcc\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc9\x8e\xb8\x94\x73";
const char kSetCommStateFailed[] = "SetCommState NG";
const char kSnapshotVersionMismatch[] =
    "\x83\x5a\x81\x5b\x83\x75\x83\x66\x81\x5b\x83\x5e\x82\xcc\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93"
    "\x82\xaa\x88\xe1\x82\xa2\x82\xdc\x82\xb7";
const char kTimerAcquireFailed[] = "\x83\x5e\x83\x43\x83\x7d\x8e\xe6\x93\xbe\x8e\xb8\x94\x73";

namespace {
// A Shift-JIS lead byte starts a two-byte character.
bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The longest prefix of `name`, at most `limit` bytes, that ends on a whole character.
std::size_t wholeCharacters(const char* name, std::size_t length, std::size_t limit)
{
    std::size_t taken = 0;
    while (taken < length) {
        const std::size_t width = (isLeadByte(static_cast<unsigned char>(name[taken])) && taken + 1 < length) ? 2 : 1;
        if (taken + width > limit) break;
        taken += width;
    }
    return taken;
}
}  // namespace

void formatOpenFailure(char (&out)[kMessageBufferSize], const char* name, std::size_t nameLength)
{
    const std::size_t nameBytes = wholeCharacters(name, nameLength, kMaxPortNameLength);
    std::memcpy(out, name, nameBytes);
    std::memcpy(out + nameBytes, kOpenFailedSuffix, sizeof kOpenFailedSuffix);
}
