#include "platform/modem/EscapeGuard.h"

void EscapeGuard::restart(std::uint64_t now)
{
    lastByte_ = now;
    escapes_ = 0;
}

void EscapeGuard::guestByte(std::uint8_t byte, std::uint64_t now, std::uint8_t escapeCharacter,
                            std::uint64_t guardTime)
{
    const std::uint64_t quiet = now - lastByte_;
    lastByte_ = now;
    if (byte != escapeCharacter) {
        escapes_ = 0;  // "a+++" is data
    } else if (escapes_ > 0 && escapes_ < 3 && quiet <= guardTime) {
        ++escapes_;
    } else {
        escapes_ = quiet >= guardTime ? 1 : 0;  // "++++" is data; a fresh start after silence
    }
}

bool EscapeGuard::escaped(std::uint64_t now, std::uint64_t guardTime)
{
    if (escapes_ != 3 || now - lastByte_ < guardTime) return false;
    escapes_ = 0;
    return true;
}
