// The text a caller meets before its link starts, as a Unix dial-up host of
// the time showed it: a login and password prompt, then a shell prompt that
// takes "ppp", "slip" or "cslip". Scripts of old diallers wait for "ogin:"
// and "assword:", send the word, and start their stack.
//
// A dialler that starts PPP without a word (Windows' does, right after
// CONNECT) is noticed by its first frame at any point: the start of an LCP
// frame, with the address and control fields escaped or not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/dialup/DialupSettings.h"

namespace dialup {

class LoginScreen {
public:
    enum class Outcome : std::uint8_t { Waiting, Ppp, Slip, Cslip, HangUp };

    static constexpr char kGreeting[] = "\r\n\r\ndialup login: ";
    static constexpr char kPasswordPrompt[] = "Password:";
    static constexpr char kLoginIncorrect[] = "\r\nLogin incorrect\r\n\r\ndialup login: ";
    static constexpr char kShellPrompt[] = "$ ";
    static constexpr std::size_t kLongestLine = 64;

    explicit LoginScreen(const DialupSettings& settings);

    // What the caller sees on CONNECT.
    static std::string greeting() { return kGreeting; }

    // Reads the caller's bytes in order, until an outcome other than Waiting;
    // what to show the caller (echo, prompts) is added to `reply`. Returns how
    // many bytes were read; the rest belong to the link that starts.
    std::size_t take(const std::uint8_t* data, std::size_t length, std::string& reply);
    Outcome outcome() const { return outcome_; }
    // The start of the PPP frame that began the link (a flag, then what of
    // the frame has been read), for PPP to read before the rest.
    const std::string& frameStart() const { return frameStart_; }
    // From the password prompt until the line that answers it has ended:
    // what the caller types now is its password.
    bool typingPassword() const { return phase_ == Phase::Password; }

private:
    enum class Phase : std::uint8_t { Name, Password, Command };
    void takeByte(std::uint8_t byte, std::string& reply);
    bool framePrefix(std::uint8_t byte);
    void finishLine(std::string& reply);
    void command(std::string& reply);

    std::string user_;
    std::string password_;
    bool checks_;
    Ipv4Address guest_;
    Ipv4Address gateway_;

    Phase phase_ = Phase::Name;
    Outcome outcome_ = Outcome::Waiting;
    std::string line_;
    std::string name_;
    std::uint8_t lastReturn_ = 0;  // the CR or LF just read, if the last byte was one
    std::uint8_t recent_[5] = {};  // the last bytes, for spotting a frame
    std::string frameStart_;
};

}  // namespace dialup
