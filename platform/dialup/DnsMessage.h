// The name server the guest is given: its queries are read here, looked up
// through the host's own resolver, and answered here. Only what a resolver of
// the guest asks is handled: one question of class IN per query; A questions
// are answered with the host's addresses for the name, AAAA with none (so
// that the guest asks for A), and anything else as not implemented.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/lines/ByteTransport.h"

namespace dialup {

constexpr std::uint16_t kDnsTypeA = 1;
constexpr std::uint16_t kDnsTypeAaaa = 28;

enum class DnsCode : std::uint8_t { NoError = 0, FormatError = 1, ServerFailure = 2, NameError = 3, NotImplemented = 4 };

struct DnsQuery {
    std::uint16_t id = 0;
    bool recursionDesired = false;
    std::string name;  // dotted, without the final dot
    std::uint16_t type = 0;
    std::size_t questionEnd = 0;  // where the question ends in the message
};

// A standard query with one question of class IN whose name is made of
// letters, digits, '-' and '_' (what a host name may hold); nothing else.
std::optional<DnsQuery> parseDnsQuery(const std::uint8_t* message, std::size_t length);

// The answer to `query` (whose message is given again, for its question)
// with `code` and up to kMostAddresses A records; returns its length, which
// never passes kLargestAnswer.
constexpr std::size_t kMostAddresses = 8;
constexpr std::size_t kLargestAnswer = 512;
std::size_t writeDnsAnswer(const std::uint8_t* message, const DnsQuery& query, DnsCode code,
                           const Ipv4Address* addresses, std::size_t count, std::uint8_t* out);

}  // namespace dialup
