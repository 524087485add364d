// The modem line against anything a guest and a network may do: command
// lines of any bytes, calls that answer, fail or hang up at any moment,
// remotes that send anything, DTR and RTS at any time, clock jumps, restores.
//
// Input: operations, each an operation byte and its operands (fuzz/make_seeds.py
// writes seeds in this form). Checked after each: the modem keeps no more for
// the guest than its queues hold, and a count of bytes waiting is honoured by
// as many reads.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "tests/modem/ModemFakes.h"
#include "platform/modem/Modem.h"

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

constexpr std::size_t kMostWaiting = Modem::kDataCapacity + Modem::kReplyCapacity;

struct Session {
    Session() : modem(Modem::Services{network, clock, phonebook, nullptr}, network.listen("127.0.0.1", 23), "fuzz")
    {
        phonebook.entries["5551234"] = "tcp:host:2323";
        phonebook.entries["999"] = "no such address";
        modem.setFormat(LineFormat{9600, 8, Parity::None, StopBits::One, false});
    }

    void tick()
    {
        clock.advanceMs(1);
        std::uint8_t errors = 0;
        std::uint32_t waiting = 0;
        FUZZ_CHECK(modem.pollErrors(errors, waiting), "a modem's errors could not be read");
        FUZZ_CHECK(waiting <= kMostWaiting, "the modem keeps more for the guest than its queues hold");
        std::uint8_t byte = 0;
        if (waiting > 0) FUZZ_CHECK(modem.readByte(byte), "a byte said to wait could not be read");
    }

    FakeClock clock;
    FakeNetwork network;
    FakePhonebook phonebook;
    Modem modem;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    Session s;
    s.modem.setControl(Control::Dtr, true);
    s.modem.setControl(Control::Rts, true);
    while (!in.empty()) {
        const std::uint8_t operation = in.byte() % kOperations;
        switch (operation) {
        case kGuestTypes: {
            std::size_t length = 0;
            const std::uint8_t* bytes = in.bytes(in.byte(), length);
            for (std::size_t i = 0; i < length; ++i) {
                ModemInputs lines{};
                for (int wait = 0; wait < 100 && s.modem.readInputs(lines) && !lines.cts; ++wait) s.tick();
                s.modem.writeByte(bytes[i]);
                s.tick();
            }
            break;
        }
        case kRemoteSends: {
            std::size_t length = 0;
            const std::uint8_t* bytes = in.bytes(in.byte(), length);
            if (auto peer = s.network.newest) peer->toModem.insert(peer->toModem.end(), bytes, bytes + length);
            break;
        }
        case kTimePasses: {
            const std::uint16_t ms = in.u16();
            for (int i = 0; i < ms && i < 200; ++i) s.tick();
            if (ms > 200) s.clock.advanceMs(ms - 200u);
            s.tick();
            break;
        }
        case kTicks:
            for (int i = in.byte(); i > 0; --i) s.tick();
            break;
        case kControls: {
            const std::uint8_t bits = in.byte();
            s.modem.setControl(Control::Dtr, bits & 1);
            s.modem.setControl(Control::Rts, bits & 2);
            break;
        }
        case kCallGoes: {
            const std::uint8_t how = in.byte();
            if (s.network.calls.empty()) break;
            FakePeer& peer = *s.network.calls.back();
            peer.state = (how & 1) ? TransportState::Open : TransportState::Closed;
            peer.failure = static_cast<ConnectFailure>((how >> 1) % 5);
            break;
        }
        case kCallerComes: {
            const std::uint8_t how = in.byte();
            if (how & 1) {
                if (auto peer = s.network.newest) peer->accepts = how >> 1;
            } else {
                s.network.call();
            }
            break;
        }
        case kLineEvent:
            switch (in.byte() % 4) {
            case 0: s.modem.restored(); break;
            case 1: s.modem.discard(); break;
            case 2: s.modem.setRate(in.u32()); break;
            default: s.network.working = !s.network.working; break;
            }
            break;
        }
    }
    return 0;
}
