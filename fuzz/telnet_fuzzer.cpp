// The network line's byte stream against anything a server may send,
// interleaved with the guest's port settings.
//
// Input: a byte whose bit 0 picks Telnet over raw TCP, then operations: an
// operation byte (below 0x80: that many received bytes follow, at most 0x7F;
// otherwise a port setting whose value follows). Two codecs run the same
// operations, one given each received chunk whole, the other one byte at a
// time: what they decode, answer and report must agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "platform/network/TelnetCodec.h"

namespace {
struct Side {
    explicit Side(TelnetCodec::Protocol protocol) : codec(protocol) { codec.start(out); }
    TelnetCodec codec;
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> out;
    std::uint8_t errors = 0;
};

void receiveWhole(Side& side, const std::uint8_t* in, std::size_t length)
{
    std::vector<std::uint8_t> data(length + 1);
    const std::size_t got = side.codec.receive(in, length, data.data(), side.out);
    FUZZ_CHECK(got <= length, "more data decoded than bytes received");
    if (side.codec.protocol() == TelnetCodec::Protocol::Raw)
        FUZZ_CHECK(got == length && std::equal(in, in + length, data.begin()), "a raw line changed the data");
    side.data.insert(side.data.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(got));
}

void receiveBytewise(Side& side, const std::uint8_t* in, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t byte = 0;
        if (side.codec.receive(in + i, 1, &byte, side.out) == 1) side.data.push_back(byte);
    }
}

void setting(Side& side, std::uint8_t op, std::uint32_t value)
{
    switch (op & 7) {
    case 0: side.codec.setBaudRate(value, side.out); break;
    case 1: side.codec.setFormat(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF, side.out); break;
    case 2: side.codec.setDtr(value & 1, side.out); break;
    case 3: side.codec.setRts(value & 1, side.out); break;
    case 4: side.codec.setBreak(value & 1, side.out); break;
    case 5: side.codec.purge(value & 0xFF, side.out); break;
    case 6: side.errors |= side.codec.takeLineErrors(); break;
    default: {
        const std::size_t before = side.out.size();
        side.codec.sendData(value & 0xFF, side.out);
        const std::size_t grew = side.out.size() - before;
        FUZZ_CHECK(grew == 1 || grew == 2, "one data byte took neither one nor two bytes on the wire");
        FUZZ_CHECK(side.out[before] == (value & 0xFF), "a data byte was not sent as itself");
        if ((value & 0xFF) == telnet::kIac && side.codec.protocol() == TelnetCodec::Protocol::Telnet)
            FUZZ_CHECK(grew == 2 && side.out[before + 1] == telnet::kIac, "IAC in the data was not doubled");
        break;
    }
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const auto protocol = (in.byte() & 1) ? TelnetCodec::Protocol::Telnet : TelnetCodec::Protocol::Raw;
    Side whole(protocol);
    Side bytewise(protocol);
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
    whole.errors |= whole.codec.takeLineErrors();
    bytewise.errors |= bytewise.codec.takeLineErrors();

    FUZZ_CHECK(whole.data == bytewise.data, "decoded data depends on where the stream was split");
    FUZZ_CHECK(whole.out == bytewise.out, "what is sent depends on where the stream was split");
    FUZZ_CHECK(whole.codec.comPortActive() == bytewise.codec.comPortActive(), "option state depends on the split");
    FUZZ_CHECK(whole.codec.modemLinesKnown() == bytewise.codec.modemLinesKnown() &&
                   whole.codec.modemLines() == bytewise.codec.modemLines(),
               "modem lines depend on the split");
    FUZZ_CHECK(whole.errors == bytewise.errors, "line errors depend on the split");
    FUZZ_CHECK((whole.codec.modemLines() & ~telnet::kModemStateLines) == 0, "modem lines outside CD, RI, DSR, CTS");
    FUZZ_CHECK((whole.errors & ~telnet::kLineStateErrors) == 0, "line errors outside overrun, parity, framing");
    FUZZ_CHECK(whole.data.size() <= received, "more data decoded than bytes received");
    return 0;
}
