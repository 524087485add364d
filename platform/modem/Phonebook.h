// The numbers a user has given addresses to, so that a guest program that
// dials only digits can reach a host. Whoever makes the modem supplies it
// (the plug-in reads it from the settings file); the switchboard asks it.
#pragma once

#include <optional>
#include <string>

class Phonebook {
public:
    virtual ~Phonebook() = default;
    // The ADDRESS for a number (see platform/network/Address.h for its
    // forms), or nothing. The number comes as phonebookKey() leaves it: no
    // spaces, dashes, dots or parentheses.
    virtual std::optional<std::string> lookup(const std::string& number) = 0;
};
