// A network, its connections and a clock that tests turn by hand. Each
// connection's far end is a FakeWire the test keeps, so it can still play the
// peer after the line has taken the transport.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"

struct FakeWire {
    TransportState connecting = TransportState::Connecting;  // until the peer answers
    ConnectFailure failure = ConnectFailure::None;
    std::deque<std::uint8_t> toLine;  // sent by the peer, not yet received
    std::vector<std::uint8_t> fromLine;
    std::size_t sendRoom = std::numeric_limits<std::size_t>::max();  // what the network takes now
    bool peerGone = false;  // after what it sent, the peer hung up
    bool released = false;  // the line let go of the transport
    int receiveCalls = 0;
    int serviceCalls = 0;
    std::uint32_t timeoutMilliseconds = 0;  // what connect() was given

    void answer() { connecting = TransportState::Open; }
    void refuse()
    {
        connecting = TransportState::Closed;
        failure = ConnectFailure::Refused;
    }
    template <typename Bytes>
    void peerSends(const Bytes& bytes)
    {
        toLine.insert(toLine.end(), bytes.begin(), bytes.end());
    }
    void peerSends(const char* text) { peerSends(std::string(text)); }
    // Like a socket: closed once the peer's last byte has been read.
    TransportState state() const
    {
        if (connecting != TransportState::Open) return connecting;
        return peerGone && toLine.empty() ? TransportState::Closed : TransportState::Open;
    }
};

class FakeTransport final : public ByteTransport {
public:
    explicit FakeTransport(std::shared_ptr<FakeWire> wire) : wire_(std::move(wire)) {}
    ~FakeTransport() override { wire_->released = true; }
    TransportState state() override { return wire_->state(); }
    ConnectFailure failure() const override { return wire_->failure; }
    std::size_t receive(std::uint8_t* buffer, std::size_t length) override
    {
        ++wire_->receiveCalls;
        std::size_t got = 0;
        for (; got < length && !wire_->toLine.empty(); ++got) {
            buffer[got] = wire_->toLine.front();
            wire_->toLine.pop_front();
        }
        return got;
    }
    void service(std::uint64_t) override { ++wire_->serviceCalls; }
    std::size_t send(const std::uint8_t* data, std::size_t length) override
    {
        if (wire_->state() != TransportState::Open) return 0;
        const std::size_t taken = length < wire_->sendRoom ? length : wire_->sendRoom;
        wire_->sendRoom -= taken;
        wire_->fromLine.insert(wire_->fromLine.end(), data, data + taken);
        return taken;
    }

private:
    std::shared_ptr<FakeWire> wire_;
};

// Callers wait in `callers` until the line accepts them.
struct FakeListenQueue {
    std::deque<std::shared_ptr<FakeWire>> callers;
    bool released = false;
    std::shared_ptr<FakeWire> call()
    {
        auto wire = std::make_shared<FakeWire>();
        wire->answer();
        callers.push_back(wire);
        return wire;
    }
};

class FakeListener final : public Listener {
public:
    explicit FakeListener(std::shared_ptr<FakeListenQueue> queue) : queue_(std::move(queue)) {}
    ~FakeListener() override { queue_->released = true; }
    std::unique_ptr<ByteTransport> accept() override
    {
        if (queue_->callers.empty()) return nullptr;
        auto wire = queue_->callers.front();
        queue_->callers.pop_front();
        return std::make_unique<FakeTransport>(wire);
    }

private:
    std::shared_ptr<FakeListenQueue> queue_;
};

// A UDP socket's far side: what the line sent, and datagrams to deliver.
struct FakeDatagrams {
    struct Datagram {
        Ipv4Address address;
        std::uint16_t port;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Datagram> sent;
    std::deque<Datagram> arriving;
    bool closed = false;
};

class FakeDatagramSocket final : public DatagramSocket {
public:
    explicit FakeDatagramSocket(std::shared_ptr<FakeDatagrams> far) : far_(std::move(far)) {}
    ~FakeDatagramSocket() override { far_->closed = true; }
    bool sendTo(Ipv4Address address, std::uint16_t port, const std::uint8_t* data, std::size_t length) override
    {
        far_->sent.push_back({address, port, std::vector<std::uint8_t>(data, data + length)});
        return true;
    }
    std::size_t receiveFrom(std::uint8_t* buffer, std::size_t length, Ipv4Address& address,
                            std::uint16_t& port) override
    {
        if (far_->arriving.empty()) return 0;
        const auto datagram = far_->arriving.front();
        far_->arriving.pop_front();
        address = datagram.address;
        port = datagram.port;
        const std::size_t size = datagram.bytes.size() < length ? datagram.bytes.size() : length;
        std::copy(datagram.bytes.begin(), datagram.bytes.begin() + static_cast<std::ptrdiff_t>(size), buffer);
        return size;
    }

private:
    std::shared_ptr<FakeDatagrams> far_;
};

// A look-up the test answers by setting `state` and `found`.
struct FakeAnswer {
    std::string name;
    NameLookup::State state = NameLookup::State::Pending;
    std::vector<Ipv4Address> found;
};

class FakeNameLookup final : public NameLookup {
public:
    explicit FakeNameLookup(std::shared_ptr<FakeAnswer> answer) : answer_(std::move(answer)) {}
    State state() override { return answer_->state; }
    std::vector<Ipv4Address> addresses() override { return answer_->found; }

private:
    std::shared_ptr<FakeAnswer> answer_;
};

class FakeNetwork final : public Network {
public:
    std::unique_ptr<DatagramSocket> openDatagram() override
    {
        if (refuseAll) return nullptr;
        datagramSockets.push_back(std::make_shared<FakeDatagrams>());
        return std::make_unique<FakeDatagramSocket>(datagramSockets.back());
    }
    std::unique_ptr<NameLookup> lookUp(const std::string& name) override
    {
        if (refuseAll) return nullptr;
        lookups.push_back(std::make_shared<FakeAnswer>());
        lookups.back()->name = name;
        return std::make_unique<FakeNameLookup>(lookups.back());
    }
    std::vector<Ipv4Address> ownAddresses() override { return own; }

    std::vector<std::shared_ptr<FakeDatagrams>> datagramSockets;
    std::vector<std::shared_ptr<FakeAnswer>> lookups;
    std::vector<Ipv4Address> own;

    std::unique_ptr<ByteTransport> connect(const std::string& host, std::uint16_t port,
                                           std::uint32_t timeoutMilliseconds) override
    {
        requests.push_back("connect " + host + " " + std::to_string(port));
        if (refuseAll) return nullptr;
        wires.push_back(std::make_shared<FakeWire>());
        wires.back()->timeoutMilliseconds = timeoutMilliseconds;
        return std::make_unique<FakeTransport>(wires.back());
    }
    std::unique_ptr<Listener> listen(const std::string& address, std::uint16_t port) override
    {
        requests.push_back("listen " + address + " " + std::to_string(port));
        if (refuseAll) return nullptr;
        listeners.push_back(std::make_shared<FakeListenQueue>());
        return std::make_unique<FakeListener>(listeners.back());
    }

    std::vector<std::string> requests;
    std::vector<std::shared_ptr<FakeWire>> wires;
    std::vector<std::shared_ptr<FakeListenQueue>> listeners;
    bool refuseAll = false;
};

class FakeClock final : public Clock {
public:
    std::uint64_t nowMicroseconds() override { return now; }
    std::uint64_t now = 1000000;
};
