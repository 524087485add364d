// A modem on a fake network, driven the way the device drives a line: one
// tick a millisecond with its service step, a byte read when one waits, a
// byte written when CTS is on.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/modem/Modem.h"
#include "tests/network/FakeNetwork.h"

class FakePhonebook final : public Phonebook {
public:
    std::optional<std::string> lookup(const std::string& number) override
    {
        const auto found = entries.find(number);
        if (found == entries.end()) return std::nullopt;
        return found->second;
    }
    std::map<std::string, std::string> entries;
};

// What a line monitor of the modem is told: its call events, and the frames
// and byte modes of a dial-up call.
struct HeardEvents final : LineEvents {
    void modemCommand(std::string_view) override {}
    void modemResult(std::string_view) override {}
    void callEvent(std::string_view text) override { calls.emplace_back(text); }
    void pppFrame(LineDirection direction, const std::uint8_t* frame, std::size_t length) override
    {
        (direction == LineDirection::FromGuest ? fromGuest : toGuest).emplace_back(frame, frame + length);
    }
    void rawBytes(RawBytes how) override { raw.push_back(how); }

    std::vector<std::string> calls;
    std::vector<std::vector<std::uint8_t>> fromGuest, toGuest;
    std::vector<RawBytes> raw;
};

inline std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct ModemRig {
    explicit ModemRig(bool listening = false) : ModemRig(nullptr, nullptr, listening) {}
    // A modem whose calls another switchboard places, on another clock (the
    // dial-up server's tests keep lwIP's one clock).
    ModemRig(Switchboard* board, FakeClock* time, bool listening = false) : clock(time ? *time : ownClock)
    {
        modem = std::make_unique<Modem>(Modem::Services{board ? *board : switchboard, clock},
                                        listening ? network.listen("127.0.0.1", 2323) : nullptr, "RS232C modem 1.0");
        modem->setFormat(LineFormat{9600, 8, Parity::None, StopBits::One, false});
        modem->setControl(Control::Dtr, true);
        modem->setControl(Control::Rts, true);
    }

    ModemInputs inputs()
    {
        ModemInputs lines{};
        modem->readInputs(lines);
        return lines;
    }

    // One tick: what reached the guest, if anything.
    void tick(std::string& heard)
    {
        clock.now += 1000;
        modem->service();
        std::uint8_t errors = 0;
        std::uint32_t waiting = 0;
        modem->pollErrors(errors, waiting);
        std::uint8_t byte = 0;
        if (waiting > 0 && modem->readByte(byte)) heard.push_back(static_cast<char>(byte));
    }

    // Runs `ms` ticks and returns what the guest heard.
    std::string listen(int ms = 300)
    {
        std::string heard;
        for (int i = 0; i < ms; ++i) tick(heard);
        return heard;
    }

    // Sends the text at the line's pace, as CTS lets it through; returns what
    // the guest heard meanwhile and for `after` ticks more.
    std::string type(const std::string& typed, int after = 300)
    {
        std::string heard;
        for (char c : typed) {
            while (!inputs().cts) tick(heard);
            modem->writeByte(static_cast<std::uint8_t>(c));
            tick(heard);
        }
        return heard + listen(after);
    }

    std::string command(const std::string& line) { return type(line + "\r"); }

    // Dials and lets the fake network answer; the far end of the call.
    std::shared_ptr<FakeWire> connect(const std::string& dial = "ATDTbbs.example.org")
    {
        type(dial + "\r", 2);
        network.wires.back()->answer();
        listen();
        return network.wires.back();
    }

    // A caller at the listening port.
    std::shared_ptr<FakeWire> call() { return network.listeners.back()->call(); }

    FakeClock ownClock;
    FakeClock& clock;
    FakeNetwork network;
    FakePhonebook phonebook;
    Switchboard switchboard{network, phonebook};
    std::unique_ptr<Modem> modem;
};
