// Splits a command line (the text after "AT") into its commands, V.250
// style: a letter with an optional number ("E0", "H"), the same after "&",
// "\" or "%" ("&C1", "\N3", "%C0"), S-register settings and queries ("S7=45",
// "S0?"), the dial command, whose dial string runs to the end of the line,
// and extended commands after "+", which run to the next ";".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

struct ModemCommand {
    enum class Kind { Basic, SetRegister, ReadRegister, Dial, Extended };
    Kind kind = Kind::Basic;
    char prefix = 0;           // 0, '&', '\\' or '%' for a Basic command
    char letter = 0;           // upper case
    unsigned number = 0;       // a Basic command's value (0 when none), a register's number
    unsigned value = 0;        // what SetRegister stores
    std::string text;          // a dial string, or an extended command without its "+"
};

class CommandParser {
public:
    explicit CommandParser(std::string line) : line_(std::move(line)) {}
    bool done() const { return at_ >= line_.size(); }
    // The next command; false when the text there is no command.
    bool next(ModemCommand& command);

private:
    bool number(unsigned& value);

    std::string line_;
    std::size_t at_ = 0;
};
