#include "platform/modem/CommandParser.h"

#include <cctype>

namespace {
// Large enough for every register and setting; more digits are an error
// rather than an overflow.
constexpr unsigned kLargestNumber = 99999;

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
}  // namespace

bool CommandParser::number(unsigned& value)
{
    value = 0;
    while (at_ < line_.size() && std::isdigit(static_cast<unsigned char>(line_[at_]))) {
        value = value * 10 + static_cast<unsigned>(line_[at_++] - '0');
        if (value > kLargestNumber) return false;
    }
    return true;
}

bool CommandParser::next(ModemCommand& command)
{
    command = ModemCommand{};
    if (done()) return false;
    char c = line_[at_++];

    if (c == '+') {
        const std::size_t end = line_.find(';', at_);
        command.kind = ModemCommand::Kind::Extended;
        command.text = std::string(line_.substr(at_, end == std::string::npos ? end : end - at_));
        for (char& letter : command.text) letter = upper(letter);
        at_ = end == std::string::npos ? line_.size() : end + 1;
        return !command.text.empty();
    }
    if (c == '&' || c == '\\' || c == '%') {
        if (done()) return false;
        command.prefix = c;
        c = line_[at_++];
    }
    command.letter = upper(c);
    if (!std::isalpha(static_cast<unsigned char>(c))) return false;

    if (command.prefix == 0 && command.letter == 'D') {
        command.kind = ModemCommand::Kind::Dial;
        command.text = std::string(line_.substr(at_));
        at_ = line_.size();
        return true;
    }
    if (command.prefix == 0 && command.letter == 'S') {
        if (!number(command.number)) return false;
        if (done()) return false;
        const char operation = line_[at_++];
        if (operation == '?') {
            command.kind = ModemCommand::Kind::ReadRegister;
            return true;
        }
        command.kind = ModemCommand::Kind::SetRegister;
        return operation == '=' && number(command.value);
    }
    return number(command.number);
}
