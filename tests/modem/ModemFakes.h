// Stand-ins for what the modem works with: a clock turned by hand, a network
// whose connections the test completes, refuses or feeds, and a phonebook.
// Shared by the modem's unit tests and its fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"
#include "platform/modem/Phonebook.h"

class FakeClock : public Clock {
public:
    std::uint64_t nowMicroseconds() override { return now; }
    void advanceMs(std::uint64_t ms) { now += ms * 1000; }
    std::uint64_t now = 1000000;
};

// The remote end of one connection, kept by the test after the modem has
// dropped its transport (which only closes it).
struct FakePeer {
    TransportState state = TransportState::Connecting;
    ConnectFailure failure = ConnectFailure::None;
    std::deque<std::uint8_t> toModem;      // what the remote sends
    std::vector<std::uint8_t> fromModem;   // what reached the remote
    std::size_t accepts = SIZE_MAX;        // bytes the network still takes from the modem
    bool dropped = false;                  // the modem let go of the connection

    void say(const std::string& text) { toModem.insert(toModem.end(), text.begin(), text.end()); }
    void say(const std::vector<std::uint8_t>& bytes) { toModem.insert(toModem.end(), bytes.begin(), bytes.end()); }
    std::string heard() const { return std::string(fromModem.begin(), fromModem.end()); }
};

class FakeTransport : public ByteTransport {
public:
    explicit FakeTransport(std::shared_ptr<FakePeer> peer) : peer_(std::move(peer)) {}
    ~FakeTransport() override { peer_->dropped = true; }
    TransportState state() override
    {
        // Like a socket, bytes that arrived before the hang-up are read first.
        if (peer_->state == TransportState::Closed && !peer_->toModem.empty()) return TransportState::Open;
        return peer_->state;
    }
    ConnectFailure failure() const override { return peer_->failure; }
    std::size_t receive(std::uint8_t* buffer, std::size_t length) override
    {
        if (peer_->state == TransportState::Connecting) return 0;
        std::size_t count = 0;
        while (count < length && !peer_->toModem.empty()) {
            buffer[count++] = peer_->toModem.front();
            peer_->toModem.pop_front();
        }
        return count;
    }
    std::size_t send(const std::uint8_t* data, std::size_t length) override
    {
        if (peer_->state != TransportState::Open) return 0;
        const std::size_t taken = length < peer_->accepts ? length : peer_->accepts;
        peer_->fromModem.insert(peer_->fromModem.end(), data, data + taken);
        if (peer_->accepts != SIZE_MAX) peer_->accepts -= taken;
        return taken;
    }

private:
    std::shared_ptr<FakePeer> peer_;
};

class FakeListener : public Listener {
public:
    explicit FakeListener(std::deque<std::shared_ptr<FakePeer>>& callers) : callers_(callers) {}
    std::unique_ptr<ByteTransport> accept() override
    {
        if (callers_.empty()) return nullptr;
        auto peer = callers_.front();
        callers_.pop_front();
        return std::make_unique<FakeTransport>(peer);
    }

private:
    std::deque<std::shared_ptr<FakePeer>>& callers_;
};

class FakeNetwork : public Network {
public:
    std::unique_ptr<ByteTransport> connect(const std::string& host, std::uint16_t port) override
    {
        dialled.push_back(host + ":" + std::to_string(port));
        if (!working) return nullptr;
        calls.push_back(std::make_shared<FakePeer>());
        newest = calls.back();
        return std::make_unique<FakeTransport>(calls.back());
    }
    std::unique_ptr<Listener> listen(const std::string&, std::uint16_t) override
    {
        return std::make_unique<FakeListener>(callers);
    }

    // A caller waiting at the listener, already connected.
    std::shared_ptr<FakePeer> call()
    {
        callers.push_back(std::make_shared<FakePeer>());
        callers.back()->state = TransportState::Open;
        newest = callers.back();
        return callers.back();
    }

    bool working = true;
    std::vector<std::string> dialled;
    std::vector<std::shared_ptr<FakePeer>> calls;
    std::deque<std::shared_ptr<FakePeer>> callers;  // waiting at the listener
    std::shared_ptr<FakePeer> newest;               // the last call dialled or caller come
};

class FakePhonebook : public Phonebook {
public:
    std::optional<std::string> lookup(const std::string& number) override
    {
        const auto found = entries.find(number);
        if (found == entries.end()) return std::nullopt;
        return found->second;
    }
    std::map<std::string, std::string> entries;
};
