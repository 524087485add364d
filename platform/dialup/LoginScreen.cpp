#include "platform/dialup/LoginScreen.h"

#include <cctype>
#include <cstring>

#include "platform/dialup/Packet.h"

namespace dialup {
namespace {
// An LCP frame's first bytes after its flag: address 0xFF, control 0x03
// (escaped as 7D 23 under the default control-character map, or sent plain),
// protocol C0 21.
constexpr std::uint8_t kEscapedStart[] = {0xff, 0x7d, 0x23, 0xc0, 0x21};
constexpr std::uint8_t kPlainStart[] = {0xff, 0x03, 0xc0, 0x21};

std::string lowered(const std::string& text)
{
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
}  // namespace

LoginScreen::LoginScreen(const DialupSettings& settings)
    : user_(settings.user), password_(settings.password), checks_(settings.checksLogin()),
      guest_(settings.guest), gateway_(settings.gateway)
{
}

std::size_t LoginScreen::take(const std::uint8_t* data, std::size_t length, std::string& reply)
{
    std::size_t used = 0;
    while (used < length && outcome_ == Outcome::Waiting) takeByte(data[used++], reply);
    return used;
}

bool LoginScreen::framePrefix(std::uint8_t byte)
{
    std::memmove(recent_, recent_ + 1, sizeof recent_ - 1);
    recent_[sizeof recent_ - 1] = byte;
    const auto endsWith = [this](const std::uint8_t* pattern, std::size_t size) {
        return std::memcmp(recent_ + sizeof recent_ - size, pattern, size) == 0;
    };
    const std::uint8_t* found = nullptr;
    std::size_t size = 0;
    if (endsWith(kEscapedStart, sizeof kEscapedStart)) {
        found = kEscapedStart;
        size = sizeof kEscapedStart;
    } else if (endsWith(kPlainStart, sizeof kPlainStart)) {
        found = kPlainStart;
        size = sizeof kPlainStart;
    }
    if (!found) return false;
    frameStart_.assign(1, '\x7e');
    frameStart_.append(reinterpret_cast<const char*>(found), size);
    return true;
}

void LoginScreen::takeByte(std::uint8_t byte, std::string& reply)
{
    if (framePrefix(byte)) {
        outcome_ = Outcome::Ppp;
        return;
    }
    if (byte == '\r' || byte == '\n') {
        // CR LF (or LF CR) ends one line, not two.
        const bool pair = lastReturn_ != 0 && lastReturn_ != byte;
        lastReturn_ = pair ? 0 : byte;
        if (!pair) finishLine(reply);
        return;
    }
    lastReturn_ = 0;
    const bool echo = phase_ != Phase::Password;
    if (byte == 0x08 || byte == 0x7f) {
        if (!line_.empty()) {
            line_.pop_back();
            if (echo) reply += "\b \b";
        }
    } else if (byte >= 0x20 && byte < 0x7f && line_.size() < kLongestLine) {
        line_ += static_cast<char>(byte);
        if (echo) reply += static_cast<char>(byte);
    }
}

void LoginScreen::finishLine(std::string& reply)
{
    reply += "\r\n";
    std::string line;
    line.swap(line_);
    switch (phase_) {
    case Phase::Name:
        if (line.empty()) {
            reply += "dialup login: ";
            return;
        }
        name_ = line;
        phase_ = Phase::Password;
        reply += kPasswordPrompt;
        return;
    case Phase::Password:
        if (checks_ && (name_ != user_ || line != password_)) {
            phase_ = Phase::Name;
            reply += kLoginIncorrect + 2;  // the line has just been ended
            return;
        }
        phase_ = Phase::Command;
        reply += "Type ppp, slip or cslip to start your connection.\r\n";
        reply += kShellPrompt;
        return;
    case Phase::Command:
        line_ = line;
        command(reply);
        line_.clear();
        return;
    }
}

void LoginScreen::command(std::string& reply)
{
    std::string word = line_;
    while (!word.empty() && word.front() == ' ') word.erase(word.begin());
    while (!word.empty() && word.back() == ' ') word.pop_back();
    const std::string name = lowered(word);
    if (name == "ppp") {
        outcome_ = Outcome::Ppp;
    } else if (name == "slip" || name == "cslip") {
        outcome_ = name == "slip" ? Outcome::Slip : Outcome::Cslip;
        reply += "Entering SLIP mode.\r\nYour IP address is " + formatIpv4(guest_) +
                 ", MTU is 1006 bytes\r\nServer address is " + formatIpv4(gateway_) + "\r\n";
    } else if (name == "exit" || name == "logout") {
        outcome_ = Outcome::HangUp;
    } else if (name.empty()) {
        reply += kShellPrompt;
    } else {
        reply += "sh: " + word.substr(0, word.find(' ')) + ": not found\r\n";
        reply += kShellPrompt;
    }
}

}  // namespace dialup
