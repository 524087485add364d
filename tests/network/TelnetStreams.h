// Helpers for the Telnet tests: feeding a session, and reading back what it sent.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/network/Rfc2217Client.h"
#include "platform/network/TelnetSession.h"

using Bytes = std::vector<std::uint8_t>;

struct Received {
    Bytes data;
    Bytes answer;
};

inline Received feed(TelnetSession& session, const Bytes& in)
{
    Received result;
    result.data.resize(in.size());
    result.data.resize(session.receive(in.data(), in.size(), result.data.data(), result.answer));
    return result;
}

// The same bytes one at a time: wherever the stream is split, the result is the same.
inline Received feedByteByByte(TelnetSession& session, const Bytes& in)
{
    Received result;
    for (std::uint8_t byte : in) {
        std::uint8_t data = 0;
        if (session.receive(&byte, 1, &data, result.answer) == 1) result.data.push_back(data);
    }
    return result;
}

// The subnegotiations of one option in what was sent, IAC undoubled, each as
// its bytes after the option code.
inline std::vector<Bytes> subnegotiationsOf(std::uint8_t option, const Bytes& out)
{
    using namespace telnet;
    std::vector<Bytes> found;
    for (std::size_t i = 0; i + 2 < out.size(); ++i) {
        if (out[i] != kIac || out[i + 1] != kSb || out[i + 2] != option) continue;
        Bytes body;
        std::size_t j = i + 3;
        for (; j + 1 < out.size(); ++j) {
            if (out[j] == kIac && out[j + 1] == kSe) break;
            if (out[j] == kIac && out[j + 1] == kIac) ++j;
            body.push_back(out[j]);
        }
        found.push_back(body);
        i = j;
    }
    return found;
}

// A COM-PORT report from the server.
inline Bytes serverSays(std::uint8_t command, std::uint8_t value)
{
    using namespace telnet;
    return {kIac, kSb, rfc2217::kOptionComPort, static_cast<std::uint8_t>(rfc2217::kServerReply + command), value,
            kIac, kSe};
}
