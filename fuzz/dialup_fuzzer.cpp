// The dial-up server against any guest and any host network: raw bytes on
// the line (the login, PPP's and SLIP's framing), SLIP datagrams with sound
// headers and any body (the relay: TCP, UDP, DNS, ICMP to any address), and
// a host side that answers, refuses, floods, stalls and hangs up.
//
// Input: a byte that picks the service (login, SLIP, CSLIP) and whether a
// login is checked, then operations, each a byte (its value modulo 8) and
// its arguments. Checked as it goes: no host connection or datagram ever
// goes to this computer; the guest's buffer stays within its size; and once
// the call is dropped, lwIP holds nothing of it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "platform/dialup/DialupSession.h"
#include "platform/dialup/LwipStack.h"
#include "platform/dialup/Packet.h"
#include "platform/dialup/SlipFraming.h"
#include "tests/network/FakeNetwork.h"

using namespace dialup;

namespace {
// lwIP's clock goes on from one input to the next, never back.
FakeClock& sharedClock()
{
    static FakeClock clock;
    return clock;
}

const Ipv4Address kOwn = 0xc0a80114;  // 192.168.1.20, this computer's address
const Ipv4Address kDestinations[] = {0x5db8d822, 0x0a000202, 0x0a000203, 0x7f000001, kOwn, 0xffffffff, 0x0a00020f, 0xc0000207};

// A datagram from the guest: a sound IPv4 header (and TCP or UDP checksum)
// around whatever the input gives.
std::vector<std::uint8_t> datagram(FuzzInput& in)
{
    const std::uint8_t protocols[] = {kProtocolTcp, kProtocolUdp, kProtocolIcmp, 47};
    const std::uint8_t protocol = protocols[in.byte() % 4];
    const Ipv4Address to = kDestinations[in.byte() % 8];
    std::size_t length = 0;
    const std::uint8_t* body = in.bytes(in.byte(), length);
    std::vector<std::uint8_t> d(20 + length);
    writeIpHeader(d.data(), d.size(), protocol, 0x0a00020f, to, 9);
    std::memcpy(d.data() + 20, body, length);
    if (protocol == kProtocolTcp && length >= 20) {
        d[32] = static_cast<std::uint8_t>((d[32] & 0x0f) | 0x50);
        write16(d.data() + 36, 0);
        write16(d.data() + 36, transportChecksum(d.data() + 20, length, kProtocolTcp, 0x0a00020f, to));
    } else if (protocol == kProtocolUdp && length >= 8) {
        write16(d.data() + 24, static_cast<std::uint16_t>(length));
        write16(d.data() + 26, 0);
        write16(d.data() + 26, transportChecksum(d.data() + 20, length, kProtocolUdp, 0x0a00020f, to));
    }
    return d;
}

void checkNothingForThisComputer(const FakeNetwork& network)
{
    for (const std::string& request : network.requests)
        FUZZ_CHECK(request.rfind("connect 127.", 0) != 0 && request.rfind("connect 192.168.1.20 ", 0) != 0,
                   "a host connection went to this computer");
    for (const auto& socket : network.datagramSockets)
        for (const auto& sent : socket->sent)
            FUZZ_CHECK((sent.address >> 24) != 127 && sent.address != kOwn, "a datagram went to this computer");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    FakeNetwork network;
    network.own = {kOwn};
    FakeClock& clock = sharedClock();
    const std::uint8_t first = in.byte();
    DialupSettings settings;
    settings.hostPorts = {8080};
    if (first & 0x10) {
        settings.user = "user";
        settings.password = "pass";
    }
    const Service services[] = {Service::Login, Service::Slip, Service::Cslip};
    auto session = DialupSession::start({network, clock}, settings, services[first % 3]);
    FUZZ_CHECK(session != nullptr, "the stack was not free for a new call");

    std::uint8_t buffer[4096];
    for (int operations = 0; !in.empty() && operations < 2000; ++operations) {
        switch (in.byte() % 8) {
        case 0: {  // raw bytes on the line
            std::size_t length = 0;
            const std::uint8_t* bytes = in.bytes(in.u16() % 2048, length);
            FUZZ_CHECK(session->send(bytes, length) <= length, "took more than given");
            break;
        }
        case 1: {  // a SLIP datagram
            const auto d = datagram(in);
            std::vector<std::uint8_t> line(slipEncodedLimit(d.size()));
            line.resize(slipEncode(d.data(), d.size(), line.data()));
            session->send(line.data(), line.size());
            break;
        }
        case 2: {  // a host connection answers, is refused, sends, or hangs up
            if (network.wires.empty()) break;
            FakeWire& wire = *network.wires[in.byte() % network.wires.size()];
            const std::uint8_t what = in.byte();
            if (what % 4 == 0) wire.answer();
            if (what % 4 == 1 && wire.connecting == TransportState::Connecting) wire.refuse();
            if (what % 4 == 2) wire.peerSends(std::vector<std::uint8_t>(what * 8u, 'x'));
            if (what % 4 == 3) wire.peerGone = true;
            break;
        }
        case 3:  // time passes, the session serviced each millisecond
            for (unsigned ms = in.byte() % 64 + 1; ms > 0; --ms) {
                clock.now += 1000;
                session->service(clock.now);
            }
            break;
        case 4:  // the guest reads
            session->receive(buffer, in.byte() * 16u);
            break;
        case 5: {  // a datagram from the host's network
            if (network.datagramSockets.empty()) break;
            auto& far = *network.datagramSockets[in.byte() % network.datagramSockets.size()];
            const Ipv4Address from = kDestinations[in.byte() % 8];
            std::size_t length = 0;
            const std::uint8_t* bytes = in.bytes(in.byte() * 8u, length);
            far.arriving.push_back({from, in.u16(), std::vector<std::uint8_t>(bytes, bytes + length)});
            break;
        }
        case 6: {  // the resolver answers
            if (network.lookups.empty()) break;
            auto& answer = *network.lookups[in.byte() % network.lookups.size()];
            const std::uint8_t what = in.byte();
            answer.state = what % 3 == 0 ? NameLookup::State::Found
                           : what % 3 == 1 ? NameLookup::State::NotFound : NameLookup::State::Failed;
            for (unsigned i = 0; i < what % 12u; ++i) answer.found.push_back(kDestinations[i % 8] + i);
            break;
        }
        case 7:  // a host connection takes fewer bytes now
            if (!network.wires.empty()) network.wires[in.byte() % network.wires.size()]->sendRoom = in.byte();
            break;
        }
        checkNothingForThisComputer(network);
    }
    session.reset();
    // Once lwIP's own timers have run out, nothing of the call is left.
    FUZZ_CHECK(LwipStack::acquire(clock), "the stack was not given back");
    for (int i = 0; i < 12; ++i) {
        clock.now += 500000;
        LwipStack::service();
    }
    FUZZ_CHECK(LwipStack::poolsInUse() == 0, "lwIP's pools still hold something of a dropped call");
    FUZZ_CHECK(LwipStack::heapInUse() == 0, "lwIP's heap still holds something of a dropped call");
    LwipStack::release();
    return 0;
}
