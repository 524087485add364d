// The modem line against anything a guest and a network may do: command
// lines of any bytes, calls that answer, fail or hang up at any moment,
// remotes that send anything (Telnet negotiation and broken Telnet included),
// DTR and RTS at any time, clock jumps, restores.
//
// Input: operations, each an operation byte and its operands (fuzz/make_seeds.py
// writes seeds in this form). Checked at every tick: the modem keeps no more
// for the guest than its call's queues hold, a byte it says is waiting can be
// read, and only its service step reaches the network.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "tests/modem/ModemRig.h"

namespace {
enum Operation : std::uint8_t {
    kGuestTypes,    // a length byte, then that many bytes, sent as CTS allows
    kRemoteSends,   // a length byte, then the bytes, from the newest call or caller
    kTimePasses,    // milliseconds (u16); ticks run through the first 200
    kTicks,         // a count byte
    kControls,      // bit 0 DTR, bit 1 RTS
    kCallGoes,      // the newest dialled call: bit 0 answered, else failed with failure = byte >> 1
    kCallerComes,   // a caller at the listener, or, with bit 0, the network takes only byte >> 1 from now
    kLineEvent,     // 0 restored, 1 discard, 2 a new rate, 3 the network fails or works again
    kOperations
};

constexpr std::size_t kMostWaiting = Connection::kInboundCapacity + Connection::kSayCapacity;

int networkCalls(const ModemRig& rig)
{
    int calls = 0;
    for (const auto& wire : rig.network.wires) calls += wire->receiveCalls + wire->serviceCalls;
    return calls;
}

// A tick as the device makes it, checked.
void tick(ModemRig& rig)
{
    rig.clock.now += 1000;
    rig.modem->service();
    const int calls = networkCalls(rig);
    std::uint8_t errors = 0;
    std::uint32_t waiting = 0;
    FUZZ_CHECK(rig.modem->pollErrors(errors, waiting), "a modem's errors could not be read");
    FUZZ_CHECK(waiting <= kMostWaiting, "the modem keeps more for the guest than its queues hold");
    std::uint8_t byte = 0;
    if (waiting > 0) FUZZ_CHECK(rig.modem->readByte(byte), "a byte said to wait could not be read");
    rig.inputs();
    FUZZ_CHECK(networkCalls(rig) == calls, "a read of the modem reached the network");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    ModemRig rig(true);
    rig.phonebook.entries["5551234"] = "tcp:host:2323";
    rig.phonebook.entries["999"] = "no such address";
    std::shared_ptr<FakeWire> newest;
    while (!in.empty()) {
        const std::uint8_t operation = in.byte() % kOperations;
        switch (operation) {
        case kGuestTypes: {
            std::size_t length = 0;
            const std::uint8_t* bytes = in.bytes(in.byte(), length);
            const std::size_t dialled = rig.network.wires.size();
            for (std::size_t i = 0; i < length; ++i) {
                for (int wait = 0; wait < 100 && !rig.inputs().cts; ++wait) tick(rig);
                rig.modem->writeByte(bytes[i]);
                tick(rig);
            }
            if (rig.network.wires.size() > dialled) newest = rig.network.wires.back();
            break;
        }
        case kRemoteSends: {
            std::size_t length = 0;
            const std::uint8_t* bytes = in.bytes(in.byte(), length);
            if (newest) newest->toLine.insert(newest->toLine.end(), bytes, bytes + length);
            break;
        }
        case kTimePasses: {
            const std::uint16_t ms = in.u16();
            for (int i = 0; i < ms && i < 200; ++i) tick(rig);
            if (ms > 200) rig.clock.now += (ms - 200u) * 1000ull;
            tick(rig);
            break;
        }
        case kTicks:
            for (int i = in.byte(); i > 0; --i) tick(rig);
            break;
        case kControls: {
            const std::uint8_t bits = in.byte();
            rig.modem->setControl(Control::Dtr, bits & 1);
            rig.modem->setControl(Control::Rts, bits & 2);
            break;
        }
        case kCallGoes: {
            const std::uint8_t how = in.byte();
            if (rig.network.wires.empty()) break;
            FakeWire& wire = *rig.network.wires.back();
            wire.connecting = (how & 1) ? TransportState::Open : TransportState::Closed;
            wire.failure = static_cast<ConnectFailure>((how >> 1) % 5);
            if (how & 1) wire.peerGone = how & 0x80;
            break;
        }
        case kCallerComes: {
            const std::uint8_t how = in.byte();
            if (!(how & 1))
                newest = rig.call();
            else if (newest)
                newest->sendRoom = how >> 1;
            break;
        }
        case kLineEvent:
            switch (in.byte() % 4) {
            case 0: rig.modem->restored(); break;
            case 1: rig.modem->discard(); break;
            case 2: rig.modem->setRate(in.u32()); break;
            default: rig.network.refuseAll = !rig.network.refuseAll; break;
            }
            break;
        }
    }
    return 0;
}
