// Where a line or a call reaches, as a user writes it. One grammar for the
// PORT names of the network lines and the modem, the modem's dial strings and
// the values of its phonebook:
//
//   [tcp:|telnet:]HOST[:PORT]  a place to call. HOST is a host name, an IPv4
//                              address or an IPv6 address in brackets; an
//                              IPv6 address without a port may go bare.
//                              PORT is 1 to 65535, 23 (Telnet's) when none.
//                              telnet: speaks Telnet from the first byte,
//                              tcp: carries the bytes as they are; without
//                              either, the peer's first byte decides.
//   [ADDRESS:]PORT             a place to listen: ADDRESS is an IPv4 address
//                              or a bracketed IPv6 address of this computer
//                              (never a name: nothing may wait on a name
//                              server), 127.0.0.1 when none.
//
// Prefixes and names may be written in any letter case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class Protocol : std::uint8_t { Detect, Telnet, Raw };

struct Address {
    Protocol protocol = Protocol::Detect;
    std::string host;  // a name or an address; an IPv6 address without brackets
    std::uint16_t port = 23;
};

// True when `text` starts with `word` (lower case) in any letter case.
bool startsWithWord(std::string_view text, std::string_view word);

// True when the text starts with tcp: or telnet:.
bool hasProtocolPrefix(std::string_view text);

// A place to call. False, and `address` left as it was, when the text names
// none: an empty or malformed host, a host of digits alone (a telephone
// number), a port that is not a number from 1 to 65535, stray characters.
bool parseCallAddress(std::string_view text, Address& address);

// A place to listen (the protocol is left Detect). False, and `address` left
// as it was, when the text is not [ADDRESS:]PORT.
bool parseListenAddress(std::string_view text, Address& address);

// A number as the phonebook knows it: the dialled text without spaces,
// dashes, dots and parentheses.
std::string phonebookKey(std::string_view number);

// True when the text can only be a telephone number (digits with the usual
// punctuation) and not an IPv4 address. Such a number reaches nobody unless
// the phonebook has it: a resolver would read "5551234" as an IPv4 address.
bool isTelephoneNumber(std::string_view text);
