// Port names that stand for network lines rather than COM ports:
//   tcp:HOST:PORT        a raw TCP client
//   telnet:HOST:PORT     a Telnet client, RFC 2217 when the server agrees
//   listen:[ADDRESS:]PORT  one incoming connection at a time, on 127.0.0.1
//                        unless an address is named
// HOST and ADDRESS may be an IPv6 address in brackets. Any other name is a
// COM port.
#pragma once

#include <cstdint>
#include <string>

struct NetworkLineName {
    enum class Kind { Tcp, Telnet, Listen };
    Kind kind = Kind::Tcp;
    std::string host;  // a name or an address; for Listen the address to bind
    std::uint16_t port = 0;
};

// True when the name has one of the network prefixes (in any letter case),
// whether or not the rest of it is well formed.
bool isNetworkLineName(const char* name);

// Splits a network line name; false when it is not one or is malformed
// (no host, a port that is not a number from 1 to 65535, stray text).
bool parseNetworkLineName(const char* name, NetworkLineName& parsed);
