// The Telnet session and the COM-PORT option's client against anything a
// peer may send, interleaved with the guest's port settings and data.
//
// Input: a byte that picks the session (bit 0: a client that offers Telnet
// and the COM-PORT option, as a telnet: line does; otherwise a passive
// session, a server when bit 1 is set, that the peer's first byte decides),
// then operations: an operation byte (below 0x80: that many received bytes
// follow, at most 0x7F; otherwise a port setting or a data byte whose value
// follows). Two sessions run the same operations, one given each received
// chunk whole, the other one byte at a time: what they decode, answer and
// report must agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "platform/network/Rfc2217Client.h"
#include "platform/network/TelnetSession.h"

namespace {
struct Side {
    explicit Side(std::uint8_t kind)
        : session((kind & 2) ? TelnetSession::Role::Server : TelnetSession::Role::Client)
    {
        const bool offering = (kind & 1) != 0;
        if (offering) session.addOption(comPort);
        session.start(offering ? TelnetSession::Start::Offering : TelnetSession::Start::Passive, out);
    }
    Rfc2217Client comPort;
    TelnetSession session;
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> out;
    std::uint8_t errors = 0;
};

void receiveWhole(Side& side, const std::uint8_t* in, std::size_t length)
{
    std::vector<std::uint8_t> data(length + 1);
    const std::size_t got = side.session.receive(in, length, data.data(), side.out);
    FUZZ_CHECK(got <= length, "more data decoded than bytes received");
    if (!side.session.negotiating())
        FUZZ_CHECK(got == length && std::equal(in, in + length, data.begin()), "a raw stream changed the data");
    side.data.insert(side.data.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(got));
}

void receiveBytewise(Side& side, const std::uint8_t* in, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t byte = 0;
        if (side.session.receive(in + i, 1, &byte, side.out) == 1) side.data.push_back(byte);
    }
}

void sendData(Side& side, std::uint8_t byte)
{
    const std::size_t before = side.out.size();
    side.session.sendData(byte, side.out);
    const std::size_t grew = side.out.size() - before;
    FUZZ_CHECK(grew == 1 || grew == 2, "one data byte took neither one nor two bytes on the wire");
    FUZZ_CHECK(side.out[before] == byte, "a data byte was not sent as itself");
    if (!side.session.negotiating()) FUZZ_CHECK(grew == 1, "a raw stream framed a data byte");
    if (byte == telnet::kIac && side.session.negotiating())
        FUZZ_CHECK(grew == 2 && side.out[before + 1] == telnet::kIac, "IAC in the data was not doubled");
}

void setting(Side& side, std::uint8_t op, std::uint32_t value)
{
    Rfc2217Client& port = side.comPort;
    switch (op & 7) {
    case 0: port.setBaudRate(value, side.out); break;
    case 1: port.setFormat(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF, side.out); break;
    case 2: port.setDtr(value & 1, side.out); break;
    case 3: port.setRts(value & 1, side.out); break;
    case 4: port.setBreak(value & 1, side.out); break;
    case 5: port.purge(value & 0xFF, side.out); break;
    case 6: side.errors |= port.takeLineErrors(); break;
    default: sendData(side, value & 0xFF); break;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::uint8_t kind = in.byte();
    Side whole(kind);
    Side bytewise(kind);
    std::size_t received = 0;
    while (!in.empty()) {
        const std::uint8_t op = in.byte();
        if (op < 0x80) {
            std::size_t length = 0;
            const std::uint8_t* chunk = in.bytes(op, length);
            received += length;
            receiveWhole(whole, chunk, length);
            receiveBytewise(bytewise, chunk, length);
        } else {
            const std::uint32_t value = in.u32();
            setting(whole, op, value);
            setting(bytewise, op, value);
        }
    }
    whole.errors |= whole.comPort.takeLineErrors();
    bytewise.errors |= bytewise.comPort.takeLineErrors();

    FUZZ_CHECK(whole.data == bytewise.data, "decoded data depends on where the stream was split");
    FUZZ_CHECK(whole.out == bytewise.out, "what is sent depends on where the stream was split");
    FUZZ_CHECK(whole.session.negotiating() == bytewise.session.negotiating(), "the mode depends on the split");
    FUZZ_CHECK(whole.comPort.active() == bytewise.comPort.active(), "option state depends on the split");
    FUZZ_CHECK(whole.comPort.modemLinesKnown() == bytewise.comPort.modemLinesKnown() &&
                   whole.comPort.modemLines() == bytewise.comPort.modemLines(),
               "modem lines depend on the split");
    FUZZ_CHECK(whole.errors == bytewise.errors, "line errors depend on the split");
    FUZZ_CHECK((whole.comPort.modemLines() & ~rfc2217::kModemStateLines) == 0, "modem lines outside CD, RI, DSR, CTS");
    FUZZ_CHECK((whole.errors & ~rfc2217::kLineStateErrors) == 0, "line errors outside overrun, parity, framing");
    FUZZ_CHECK(!whole.comPort.active() || (kind & 1), "a passive session agreed to an option it never added");
    FUZZ_CHECK(whole.data.size() <= received, "more data decoded than bytes received");
    return 0;
}
