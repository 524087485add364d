// A network line, and the connection engine beneath it, over a transport
// whose peer, network and clock are all the fuzzer's, with the guest's calls
// in between.
//
// Input: a byte that picks the line (0 a raw client, 1 a Telnet client,
// 2 a listener), then operations, each a byte (its value modulo 12) and
// sometimes an argument: the peer sends N bytes, the network takes N*16 more,
// the peer answers (or a caller calls), the peer hangs up, time passes, the
// guest writes a byte, reads a byte, reads the modem lines, polls errors,
// the line has its service step, the guest changes a setting, discards its
// input. Only the service step may reach the transport; a client once gone
// stays gone, a listener is never gone.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "platform/network/Connection.h"
#include "platform/network/NetworkLineKind.h"
#include "tests/network/FakeNetwork.h"

namespace {
bool startsWith(const std::vector<std::uint8_t>& whole, const std::vector<std::uint8_t>& part)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

struct Session {
    explicit Session(std::uint8_t kind) : lineKind(network, clock), raw(kind % 3 != 1)
    {
        static const char* const names[] = {"tcp:peer:23", "telnet:peer:23", "listen:5000"};
        line = lineKind.open(names[kind % 3]);
        listening = kind % 3 == 2;
    }

    // The far end now: the connection's wire, or the current caller's.
    FakeWire* far()
    {
        if (!listening) return network.wires.back().get();
        return callers.empty() ? nullptr : callers.back().get();
    }

    FakeNetwork network;
    FakeClock clock;
    NetworkLineKind lineKind;
    std::unique_ptr<Line> line;
    bool raw;
    bool listening = false;
    std::vector<std::shared_ptr<FakeWire>> callers;
    std::vector<std::uint8_t> peerSent, guestRead, guestWrote;
    bool discarded = false;
};

void step(Session& s, FuzzInput& in)
{
    Line& line = *s.line;
    FakeWire* far = s.far();
    const std::uint8_t op = in.byte() % 12;
    const int receives = far ? far->receiveCalls : 0;
    const int services = far ? far->serviceCalls : 0;
    switch (op) {
    case 0: {
        std::size_t length = 0;
        const std::uint8_t* bytes = in.bytes(in.byte(), length);
        if (far && !far->peerGone) {
            far->toLine.insert(far->toLine.end(), bytes, bytes + length);
            s.peerSent.insert(s.peerSent.end(), bytes, bytes + length);
        }
        break;
    }
    case 1:
        if (far) far->sendRoom = std::size_t{in.byte()} * 16;
        break;
    case 2:
        if (s.listening && s.callers.size() < 4)
            s.callers.push_back(s.network.listeners.back()->call());
        else if (!s.listening && far->connecting == TransportState::Connecting)
            far->answer();
        break;
    case 3:
        if (far && far->connecting == TransportState::Connecting)
            far->refuse();
        else if (far)
            far->peerGone = true;
        break;
    case 4: s.clock.now += std::uint64_t{in.byte()} * 100; break;
    case 5: {
        const std::uint8_t byte = in.byte();
        if (line.writeByte(byte)) s.guestWrote.push_back(byte);
        break;
    }
    case 6: {
        std::uint8_t byte = 0;
        if (line.readByte(byte)) s.guestRead.push_back(byte);
        break;
    }
    case 7: {
        ModemInputs inputs{true, true, true, true};
        FUZZ_CHECK(line.readInputs(inputs), "a network line could not read its inputs");
        if (line.state() != LineState::Open)
            FUZZ_CHECK(!inputs.cts && !inputs.dsr && !inputs.dcd && !inputs.ring, "lines on with no one there");
        break;
    }
    case 8: {
        std::uint8_t errors = 0;
        std::uint32_t waiting = 0;
        FUZZ_CHECK(line.pollErrors(errors, waiting), "a network line could not poll");
        FUZZ_CHECK(waiting <= Connection::kInboundCapacity, "the input buffer outgrew its bound");
        if (s.raw) FUZZ_CHECK(errors == 0, "a raw line reported line errors");
        break;
    }
    case 9: line.service(); break;
    case 10: {
        const std::uint8_t which = in.byte();
        const bool taken = (which & 3) == 0   ? line.setFormat({in.u32(), 8, Parity::Even, StopBits::Two, true})
                           : (which & 3) == 1 ? line.setRate(in.u32())
                                              : line.setControl(static_cast<Control>(which % 3), which & 4);
        if (s.raw) FUZZ_CHECK(!taken, "a raw line took a setting it has no way to carry");
        break;
    }
    default:
        line.discard();
        s.discarded = true;
        break;
    }
    if (op >= 5 && op != 9 && far)
        FUZZ_CHECK(far->receiveCalls == receives && far->serviceCalls == services,
                   "a call other than the service step reached the transport");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    Session s(in.byte());
    while (!in.empty()) {
        const LineState before = s.line->state();
        step(s, in);
        const LineState after = s.line->state();
        FUZZ_CHECK(before != LineState::Gone || after == LineState::Gone, "a line came back once gone");
        FUZZ_CHECK(!s.listening || after != LineState::Gone, "a listener is gone");
    }
    // A raw client is a wire: what the guest read is what the peer sent, in
    // order, and what left is what the guest wrote.
    if (s.raw && !s.listening) {
        if (!s.discarded) FUZZ_CHECK(startsWith(s.peerSent, s.guestRead), "the guest read what the peer never sent");
        FUZZ_CHECK(startsWith(s.guestWrote, s.network.wires.back()->fromLine), "the peer got what the guest never wrote");
    }
    return 0;
}
