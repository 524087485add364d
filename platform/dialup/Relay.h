// The guest's way out: user-mode NAT between the guest's link and this
// computer's own sockets, with no virtual adapter and no administrator's
// rights.
//
// TCP. The guest's connections end inside lwIP and are carried on by a host
// connection each. lwIP accepts only datagrams for its own address and a
// listening pcb serves one port, so a connection's datagrams are rewritten on
// their way in: the destination becomes the gateway's relay port and the
// guest's source port becomes the connection's slot (kSlotPorts + slot), so
// lwIP's four-tuple is unique per slot whatever ports the guest reuses. Their
// checksums are adjusted, not recomputed (RFC 1624), so a damaged datagram
// stays damaged. On the way out the interface's output, wrapped, puts the
// original addresses back, on a copy: lwIP keeps its segments for
// retransmission. A new connection's SYN is held until the host connection is
// made, then handed to lwIP; a refused one is answered with RST, as the far
// host would.
//
// UDP is relayed through a host socket per guest port; queries to the DNS
// address are answered through the host's resolver; ICMP echo to the gateway
// is lwIP's own. Forwarded host ports are connected to the guest by lwIP.
//
// Every table has a fixed size and everything drops, and counts, what does
// not fit. Nothing waits: the host side is looked at in the service step,
// a bounded number of sockets per step.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dialup/DialupSettings.h"
#include "platform/dialup/DnsMessage.h"
#include "platform/dialup/HostPolicy.h"
#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"

struct netif;
struct pbuf;
struct tcp_pcb;

namespace dialup {

// What the relay has done and refused, for the figures and the tests.
struct RelayFigures {
    std::uint32_t connections = 0;       // TCP connections relayed, either way
    std::uint32_t refused = 0;           // TCP connections the host refused or could not make
    std::uint32_t blocked = 0;           // datagrams for places the guest may not reach
    std::uint32_t overCap = 0;           // connections or bindings refused at a cap
    std::uint32_t datagramsOut = 0;      // UDP datagrams sent for the guest
    std::uint32_t datagramsIn = 0;       // UDP datagrams delivered to the guest
    std::uint32_t datagramsDropped = 0;  // UDP datagrams lost (network or guest link full)
    std::uint32_t nameQueries = 0;       // DNS queries answered
    std::uint32_t malformed = 0;         // datagrams too broken to relay
};

class Relay {
public:
    static constexpr std::size_t kMostConnections = 64;
    static constexpr std::size_t kMostConnecting = 32;
    // A host that does not answer a guest's SYN is given up after this long,
    // about when the guest's own TCP stops sending it again.
    static constexpr std::uint32_t kConnectMilliseconds = 30000;
    static constexpr std::size_t kMostBindings = 16;
    static constexpr std::size_t kMostLookups = 8;
    static constexpr std::uint16_t kRelayPort = 1;
    static constexpr std::uint16_t kSlotPorts = 20000;
    // Host sockets looked at per service step (the rest at the next steps).
    static constexpr std::size_t kSocketsPerStep = 16;
    // Bytes of a connection's host data handed to lwIP at once: four full
    // segments, so that a download is not cut into runts.
    static constexpr std::size_t kChunk = 4 * 1460;
    // A binding unused this long is closed, and a look-up abandoned.
    static constexpr std::uint64_t kBindingIdle = 60000000;
    static constexpr std::uint64_t kLookupLimit = 10000000;
    // After the guest closed its side, how long the host's may go on without a byte.
    static constexpr std::uint64_t kHalfClosedIdle = 30000000;
    // A connection whose handshake with the guest never finished is given up after this.
    static constexpr std::uint64_t kHandshakeLimit = 30000000;

    Relay(Network& network, Clock& clock, const DialupSettings& settings);
    ~Relay();  // closes everything: every pcb, host connection and socket
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Serves the guest's link from now on (its output wrapped).
    void attach(netif* link);
    // Moves what the host side has, handing lwIP new data for the guest only
    // while the guest's link holds fewer than `lowWater` bytes unsent.
    void service(std::size_t guestBacklog, std::size_t lowWater);

    const RelayFigures& figures() const { return figures_; }
    std::size_t openConnections() const;

    // lwIP's entry points (through the hook and the wrapped output).
    int input(pbuf* p);
    int output(netif* link, pbuf* p, const void* destination);

private:
    enum class Stage : std::uint8_t { Free, Connecting, Open, Lingering };
    struct Flow {
        Stage stage = Stage::Free;
        bool inbound = false;    // a caller of a forwarded port; lwIP connects to the guest
        Endpoint guest;          // the guest's end
        Endpoint target;         // the far end as the guest sees it
        std::unique_ptr<ByteTransport> host;
        tcp_pcb* pcb = nullptr;  // lwIP's end toward the guest, while this side owns it
        pbuf* toHost = nullptr;  // the guest's data the host has not taken yet
        bool guestClosed = false;
        bool hostClosed = false;
        std::uint64_t lastHostByte = 0;
        std::uint8_t syn[120] = {};  // the guest's SYN, held while the host connects
        std::size_t synLength = 0;
    };
    struct Binding {
        std::uint16_t guestPort = 0;  // 0: free
        std::unique_ptr<DatagramSocket> socket;
        std::uint64_t lastUsed = 0;
    };
    struct Lookup {
        std::unique_ptr<NameLookup> lookup;
        Endpoint guest;
        std::uint64_t started = 0;
        std::uint8_t query[kLargestAnswer] = {};
        std::size_t queryLength = 0;
        DnsQuery parsed;
    };
    struct Forward {
        PortForward port;
        std::unique_ptr<Listener> listener;
    };

    int inputTcp(pbuf* p, class Datagram& datagram);
    int inputUdp(pbuf* p, class Datagram& datagram);
    void answerName(const std::uint8_t* message, std::size_t length, Endpoint guest);
    Flow* findFlow(const Endpoint& guest, const Endpoint& target);
    Flow* freeFlow();
    std::size_t flowIndex(const Flow& flow) const { return static_cast<std::size_t>(&flow - flows_.data()); }
    std::uint16_t slotPort(const Flow& flow) const { return static_cast<std::uint16_t>(kSlotPorts + flowIndex(flow)); }

    void serviceFlow(Flow& flow, std::size_t guestBacklog, std::size_t lowWater);
    void connected(Flow& flow);
    void sendToHost(Flow& flow);
    void receiveFromHost(Flow& flow);
    void finish(Flow& flow);
    void release(Flow& flow);
    void sweepLingering();
    void serviceBindings();
    void serviceLookups();
    void acceptCallers();

    void sendReset(const std::uint8_t* segment, std::size_t length);
    void sendToGuest(const Endpoint& from, const Endpoint& to, const std::uint8_t* payload, std::size_t length);

    // lwIP's callbacks.
    static signed char accepted(void* arg, tcp_pcb* pcb, signed char error);
    static signed char guestConnected(void* arg, tcp_pcb* pcb, signed char error);
    static signed char received(void* arg, tcp_pcb* pcb, pbuf* p, signed char error);
    static void failed(void* arg, signed char error);

    Network& network_;
    Clock& clock_;
    Ipv4Address guest_;
    Ipv4Address gateway_;
    Ipv4Address dns_;
    HostPolicy policy_;

    netif* link_ = nullptr;
    void (*linkOutput_)() = nullptr;  // the interface's own output (netif_output_fn)
    tcp_pcb* listening_ = nullptr;

    std::array<Flow, kMostConnections> flows_;
    std::array<Binding, kMostBindings> bindings_;
    std::array<Lookup, kMostLookups> lookups_;
    std::vector<Forward> forwards_;
    std::size_t nextFlow_ = 0;      // where the next service step starts
    std::size_t nextBinding_ = 0;
    std::uint64_t nextSweep_ = 0;
    std::uint16_t identification_ = 0;
    RelayFigures figures_;
};

}  // namespace dialup
