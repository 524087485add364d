// Where a call goes: what a dial string or a phonebook entry names.
//
//   HOST[:PORT]          a host name or address; port 23 when none
//   [IPv6][:PORT]        an IPv6 address in brackets (without a port, the
//                        brackets may be left out)
//   telnet:HOST[:PORT]   the call speaks Telnet from its first byte
//   tcp:HOST[:PORT]      the call carries raw bytes, whatever the remote sends
//
// Without a prefix the remote decides: a call is Telnet when the remote's
// first byte starts a Telnet negotiation, raw otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class CallProtocol : std::uint8_t { Detect, Telnet, Raw };

struct CallAddress {
    CallProtocol protocol = CallProtocol::Detect;
    std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
    std::uint16_t port = 23;
};

// False when the text names no address (an empty or malformed host, a port
// that is not a number from 1 to 65535, stray characters); `address` is then
// left as it was.
bool parseCallAddress(std::string_view text, CallAddress& address);

// A number as the phonebook knows it: the dialled text without spaces,
// dashes, dots and parentheses.
std::string phonebookKey(std::string_view number);

// True when the text can only be a telephone number (digits with the usual
// punctuation) and not an IPv4 address. Such a number reaches nobody unless
// the phonebook has it: a resolver would read "5551234" as an IPv4 address.
bool isTelephoneNumber(std::string_view text);
