#include "platform/dialup/Relay.h"

#include <algorithm>
#include <cstring>

#include "lwip/ip.h"
#include "lwip/ip4.h"
#include "lwip/netif.h"
#include "lwip/pbuf.h"
#include "lwip/tcp.h"
#include "lwip/priv/tcp_priv.h"
#include "platform/dialup/LwipStack.h"
#include "platform/dialup/Packet.h"
#include "platform/dialup/lwip/DialupHooks.h"

namespace dialup {
namespace {
// The relay that serves the link now; lwIP's hook and output find it here.
Relay* active = nullptr;

ip4_addr_t lwipAddress(Ipv4Address address)
{
    ip4_addr_t out;
    ip4_addr_set_u32(&out, lwip_htonl(address));
    return out;
}

err_t wrappedOutput(struct netif* link, struct pbuf* p, const ip4_addr_t* destination)
{
    return static_cast<err_t>(active->output(link, p, destination));
}
}  // namespace

Relay::Relay(Network& network, Clock& clock, const DialupSettings& settings)
    : network_(network), clock_(clock), guest_(settings.guest), gateway_(settings.gateway), dns_(settings.dns),
      policy_(settings, network.ownAddresses())
{
    for (const PortForward& port : settings.forwards) {
        Forward forward{port, network_.listen(port.hostAddress, port.hostPort)};
        if (forward.listener) forwards_.push_back(std::move(forward));
    }
}

Relay::~Relay()
{
    for (Flow& flow : flows_) release(flow);
    // What lwIP still keeps of closed connections (closing, TIME-WAIT) goes too.
    while (tcp_active_pcbs) tcp_abort(tcp_active_pcbs);
    while (tcp_tw_pcbs) tcp_abort(tcp_tw_pcbs);
    if (listening_) tcp_close(listening_);
    if (link_) link_->output = reinterpret_cast<netif_output_fn>(linkOutput_);
    if (active == this) active = nullptr;
}

void Relay::attach(netif* link)
{
    link_ = link;
    linkOutput_ = reinterpret_cast<void (*)()>(link->output);
    link->output = wrappedOutput;
    active = this;
    tcp_pcb* pcb = tcp_new();
    if (!pcb) return;
    const ip4_addr_t gateway = lwipAddress(gateway_);
    ip_addr_t bound;
    ip_addr_copy_from_ip4(bound, gateway);
    if (tcp_bind(pcb, &bound, kRelayPort) != ERR_OK) {
        tcp_close(pcb);
        return;
    }
    listening_ = tcp_listen(pcb);
    if (!listening_) {
        tcp_close(pcb);
        return;
    }
    tcp_arg(listening_, this);
    tcp_accept(listening_, accepted);
}

std::size_t Relay::openConnections() const
{
    return static_cast<std::size_t>(
        std::count_if(flows_.begin(), flows_.end(), [](const Flow& flow) { return flow.stage != Stage::Free; }));
}

// ---- The guest's datagrams --------------------------------------------------

int Relay::input(pbuf* p)
{
    Datagram datagram(static_cast<std::uint8_t*>(p->payload), p->len, p->tot_len);
    if (!datagram.valid()) return 0;  // lwIP drops it, or answers it if it is for the gateway
    const Ipv4Address to = datagram.destination();
    if (datagram.fragment()) {
        if (to == gateway_) return 0;  // lwIP reassembles what is for itself
        ++figures_.malformed;          // the guest's MTU is the link's: it has no reason to fragment
        pbuf_free(p);
        return 1;
    }
    if (datagram.protocol() == kProtocolTcp) return inputTcp(p, datagram);
    if (datagram.protocol() == kProtocolUdp) return inputUdp(p, datagram);
    if (to == gateway_) return 0;  // ICMP echo, answered by lwIP
    ++figures_.blocked;
    pbuf_free(p);
    return 1;
}

int Relay::inputTcp(pbuf* p, Datagram& datagram)
{
    const Endpoint guest{datagram.source(), datagram.sourcePort()};
    const Endpoint target{datagram.destination(), datagram.destinationPort()};
    const std::uint8_t flags = datagram.tcpFlags();
    if (target.address == gateway_ && target.port == kRelayPort) {
        ++figures_.blocked;  // only rewritten datagrams may reach the relay's port
        pbuf_free(p);
        return 1;
    }
    if (Flow* flow = findFlow(guest, target)) {
        if (flow->stage == Stage::Connecting) {
            pbuf_free(p);  // the SYN is held already; the rest waits for the host
            return 1;
        }
        datagram.setSourcePort(slotPort(*flow));
        datagram.setDestination(gateway_);
        datagram.setDestinationPort(kRelayPort);
        return 0;
    }
    const auto route = policy_.outbound(target);
    if (target.address == gateway_ && !route) return 0;  // lwIP's own: a forwarded connection, or RST
    const bool opening = (flags & (kTcpSyn | kTcpAck | kTcpRst | kTcpFin)) == kTcpSyn;
    const std::size_t length = datagram.headerLength() + datagram.transportLength();
    if (!route || !opening) {
        if (!route) ++figures_.blocked;
        if (!(flags & kTcpRst) && length <= p->len) sendReset(static_cast<std::uint8_t*>(p->payload), length);
        pbuf_free(p);
        return 1;
    }
    const std::size_t connecting = static_cast<std::size_t>(
        std::count_if(flows_.begin(), flows_.end(), [](const Flow& f) { return f.stage == Stage::Connecting; }));
    Flow* flow = connecting < kMostConnecting ? freeFlow() : nullptr;
    if (!flow || length > sizeof flow->syn || length > p->len) {
        ++figures_.overCap;  // the guest tries again, as after a lost SYN
        pbuf_free(p);
        return 1;
    }
    flow->host = network_.connect(formatIpv4(route->address), route->port, kConnectMilliseconds);
    if (!flow->host) {
        ++figures_.refused;
        sendReset(static_cast<std::uint8_t*>(p->payload), length);
        pbuf_free(p);
        return 1;
    }
    flow->stage = Stage::Connecting;
    flow->inbound = false;
    flow->guest = guest;
    flow->target = target;
    flow->guestClosed = flow->hostClosed = false;
    flow->lastHostByte = clock_.nowMicroseconds();
    std::memcpy(flow->syn, p->payload, length);
    flow->synLength = length;
    pbuf_free(p);
    return 1;
}

int Relay::inputUdp(pbuf* p, Datagram& datagram)
{
    const Endpoint guest{datagram.source(), datagram.sourcePort()};
    const Endpoint target{datagram.destination(), datagram.destinationPort()};
    std::uint8_t payload[1500];
    const std::size_t length = std::min<std::size_t>(read16(datagram.transport() + 4) - 8u, sizeof payload);
    pbuf_copy_partial(p, payload, static_cast<u16_t>(length),
                      static_cast<u16_t>(datagram.headerLength() + 8));
    pbuf_free(p);
    if (target.address == dns_ && target.port == 53) {
        answerName(payload, length, guest);
        return 1;
    }
    const auto route = policy_.outbound(target);
    if (!route) {
        ++figures_.blocked;
        return 1;
    }
    if (guest.port == 0) {  // no port for an answer to come back to
        ++figures_.malformed;
        return 1;
    }
    const std::uint64_t now = clock_.nowMicroseconds();
    Binding* binding = nullptr;
    for (Binding& candidate : bindings_)
        if (candidate.guestPort == guest.port) binding = &candidate;
    if (!binding) {
        for (Binding& candidate : bindings_)
            if (!binding && candidate.guestPort == 0) binding = &candidate;
        if (!binding) {
            ++figures_.overCap;
            return 1;
        }
        binding->socket = network_.openDatagram();
        if (!binding->socket) {
            ++figures_.datagramsDropped;
            return 1;
        }
        binding->guestPort = guest.port;
    }
    binding->lastUsed = now;
    if (binding->socket->sendTo(route->address, route->port, payload, length))
        ++figures_.datagramsOut;
    else
        ++figures_.datagramsDropped;
    return 1;
}

void Relay::answerName(const std::uint8_t* message, std::size_t length, Endpoint guest)
{
    const auto query = parseDnsQuery(message, length);
    if (!query) {
        ++figures_.malformed;
        return;
    }
    std::uint8_t answer[kLargestAnswer];
    const Endpoint server{dns_, 53};
    if (query->type != kDnsTypeA) {
        const DnsCode code = query->type == kDnsTypeAaaa ? DnsCode::NoError : DnsCode::NotImplemented;
        sendToGuest(server, guest, answer, writeDnsAnswer(message, *query, code, nullptr, 0, answer));
        ++figures_.nameQueries;
        return;
    }
    for (Lookup& slot : lookups_) {
        if (slot.lookup) continue;
        slot.lookup = network_.lookUp(query->name);
        if (!slot.lookup) {
            sendToGuest(server, guest, answer, writeDnsAnswer(message, *query, DnsCode::ServerFailure, nullptr, 0, answer));
            return;
        }
        slot.guest = guest;
        slot.started = clock_.nowMicroseconds();
        slot.queryLength = std::min(length, sizeof slot.query);
        std::memcpy(slot.query, message, slot.queryLength);
        slot.parsed = *query;
        return;
    }
    ++figures_.overCap;  // the guest's resolver asks again
}

Relay::Flow* Relay::findFlow(const Endpoint& guest, const Endpoint& target)
{
    for (Flow& flow : flows_)
        if (flow.stage != Stage::Free && !flow.inbound && flow.guest == guest && flow.target == target) return &flow;
    return nullptr;
}

Relay::Flow* Relay::freeFlow()
{
    for (Flow& flow : flows_)
        if (flow.stage == Stage::Free) return &flow;
    return nullptr;
}

// ---- Datagrams for the guest ------------------------------------------------

int Relay::output(netif* link, pbuf* p, const void* destination)
{
    const auto send = reinterpret_cast<netif_output_fn>(linkOutput_);
    const auto* to = static_cast<const ip4_addr_t*>(destination);
    Datagram view(static_cast<std::uint8_t*>(p->payload), p->len, p->tot_len);
    if (!view.valid() || !view.hasPorts() || view.protocol() != kProtocolTcp || view.source() != gateway_ ||
        view.sourcePort() != kRelayPort)
        return send(link, p, to);
    const std::size_t slot = static_cast<std::size_t>(view.destinationPort() - kSlotPorts);
    if (view.destinationPort() < kSlotPorts || slot >= flows_.size() || flows_[slot].stage == Stage::Free ||
        flows_[slot].inbound)
        return ERR_OK;  // a relay connection whose slot is gone: nothing to say it as
    pbuf* copy = pbuf_clone(PBUF_RAW, PBUF_RAM, p);
    if (!copy) return ERR_MEM;
    Datagram datagram(static_cast<std::uint8_t*>(copy->payload), copy->len, copy->tot_len);
    const Flow& flow = flows_[slot];
    datagram.setSource(flow.target.address);
    datagram.setSourcePort(flow.target.port);
    datagram.setDestinationPort(flow.guest.port);
    const err_t result = send(link, copy, to);
    pbuf_free(copy);
    return result;
}

void Relay::sendToGuest(const Endpoint& from, const Endpoint& to, const std::uint8_t* payload, std::size_t length)
{
    if (!link_ || length > 1472) {
        ++figures_.datagramsDropped;
        return;
    }
    pbuf* p = pbuf_alloc(PBUF_RAW, static_cast<u16_t>(28 + length), PBUF_RAM);
    if (!p) {
        ++figures_.datagramsDropped;
        return;
    }
    auto* at = static_cast<std::uint8_t*>(p->payload);
    writeIpHeader(at, 28 + length, kProtocolUdp, from.address, to.address, ++identification_);
    std::uint8_t* udp = at + 20;
    write16(udp, from.port);
    write16(udp + 2, to.port);
    write16(udp + 4, static_cast<std::uint16_t>(8 + length));
    write16(udp + 6, 0);
    std::memcpy(udp + 8, payload, length);
    write16(udp + 6, transportChecksum(udp, 8 + length, kProtocolUdp, from.address, to.address));
    const ip4_addr_t destination = lwipAddress(to.address);
    reinterpret_cast<netif_output_fn>(linkOutput_)(link_, p, &destination);
    pbuf_free(p);
}

// RST for a segment no one will take, as its addressee would answer (RFC 793:
// the sequence number from its acknowledgement, or an acknowledgement of it).
void Relay::sendReset(const std::uint8_t* segment, std::size_t length)
{
    Datagram in(const_cast<std::uint8_t*>(segment), length);
    if (!link_ || !in.valid() || !in.hasPorts()) return;
    pbuf* p = pbuf_alloc(PBUF_RAW, 40, PBUF_RAM);
    if (!p) return;
    auto* at = static_cast<std::uint8_t*>(p->payload);
    writeIpHeader(at, 40, kProtocolTcp, in.destination(), in.source(), ++identification_);
    std::uint8_t* tcp = at + 20;
    std::memset(tcp, 0, 20);
    write16(tcp, in.destinationPort());
    write16(tcp + 2, in.sourcePort());
    const std::uint8_t flags = in.tcpFlags();
    if (flags & kTcpAck) {
        write32(tcp + 4, in.tcpAcknowledgement());
        tcp[13] = kTcpRst;
    } else {
        const std::uint32_t taken = static_cast<std::uint32_t>(in.tcpPayload()) + ((flags & kTcpSyn) ? 1 : 0) +
                                    ((flags & kTcpFin) ? 1 : 0);
        write32(tcp + 8, in.tcpSequence() + taken);
        tcp[13] = kTcpRst | kTcpAck;
    }
    tcp[12] = 5 << 4;
    write16(tcp + 16, transportChecksum(tcp, 20, kProtocolTcp, in.destination(), in.source()));
    const ip4_addr_t destination = lwipAddress(in.source());
    reinterpret_cast<netif_output_fn>(linkOutput_)(link_, p, &destination);
    pbuf_free(p);
}

// ---- The service step ---------------------------------------------------------

void Relay::service(std::size_t guestBacklog, std::size_t lowWater)
{
    std::size_t budget = kSocketsPerStep;
    for (std::size_t looked = 0; looked < flows_.size() && budget > 0; ++looked) {
        Flow& flow = flows_[nextFlow_];
        nextFlow_ = (nextFlow_ + 1) % flows_.size();
        if (flow.stage == Stage::Free || flow.stage == Stage::Lingering) continue;
        serviceFlow(flow, guestBacklog, lowWater);
        --budget;
    }
    serviceBindings();
    serviceLookups();
    acceptCallers();
    const std::uint64_t now = clock_.nowMicroseconds();
    if (now >= nextSweep_) {
        nextSweep_ = now + 100000;
        sweepLingering();
    }
}

void Relay::serviceFlow(Flow& flow, std::size_t guestBacklog, std::size_t lowWater)
{
    if (flow.stage == Stage::Connecting && flow.inbound) return;  // lwIP is calling the guest
    const TransportState state = flow.host->state();
    if (flow.stage == Stage::Connecting) {
        if (state == TransportState::Open) {
            connected(flow);
        } else if (state == TransportState::Closed) {
            ++figures_.refused;
            sendReset(flow.syn, flow.synLength);
            release(flow);
        }
        return;
    }
    if (!flow.pcb) return;  // lwIP has not finished the guest's handshake yet
    // Either step may end the connection (freed, or lingering without its pcb
    // and host once both sides have closed): the next looks first.
    sendToHost(flow);
    if (flow.stage != Stage::Open) return;
    if (guestBacklog < lowWater) receiveFromHost(flow);
    if (flow.stage != Stage::Open) return;
    if (flow.guestClosed && !flow.hostClosed &&
        clock_.nowMicroseconds() - flow.lastHostByte > kHalfClosedIdle)
        finish(flow);
}

void Relay::connected(Flow& flow)
{
    flow.stage = Stage::Open;
    ++figures_.connections;
    pbuf* p = pbuf_alloc(PBUF_RAW, static_cast<u16_t>(flow.synLength), PBUF_RAM);
    if (!p) return;  // the guest sends its SYN again
    std::memcpy(p->payload, flow.syn, flow.synLength);
    if (ip_input(p, link_) != ERR_OK) pbuf_free(p);  // PPP's interface has no input function of its own
}

// The guest's data to the host, as much as the host takes now; lwIP opens the
// guest's window again by what was taken.
void Relay::sendToHost(Flow& flow)
{
    while (flow.toHost) {
        const std::size_t sent = flow.host->send(static_cast<const std::uint8_t*>(flow.toHost->payload), flow.toHost->len);
        if (sent == 0) break;
        tcp_recved(flow.pcb, static_cast<u16_t>(sent));
        flow.toHost = pbuf_free_header(flow.toHost, static_cast<u16_t>(sent));
    }
    if (flow.guestClosed && !flow.toHost && flow.hostClosed) finish(flow);
}

// The host's data to the guest, as much as lwIP's send buffer holds and
// lwIP has room for; when the host has hung up and everything is sent, FIN
// to the guest.
void Relay::receiveFromHost(Flow& flow)
{
    std::uint8_t buffer[kChunk];
    const std::size_t room = std::min({std::size_t{tcp_sndbuf(flow.pcb)}, sizeof buffer, LwipStack::roomToSend()});
    if (room > 0 && tcp_sndqueuelen(flow.pcb) < TCP_SND_QUEUELEN) {
        const std::size_t got = flow.host->receive(buffer, room);
        if (got > 0) {
            flow.lastHostByte = clock_.nowMicroseconds();
            if (tcp_write(flow.pcb, buffer, static_cast<u16_t>(got), TCP_WRITE_FLAG_COPY) != ERR_OK) {
                // Not for want of room (that was asked first): the bytes cannot be put back, so the
                // connection cannot go on whole.
                ++figures_.overCap;
                release(flow);
                return;
            }
            tcp_output(flow.pcb);
            return;
        }
    }
    if (!flow.hostClosed && flow.host->state() == TransportState::Closed) {
        flow.hostClosed = true;
        tcp_shutdown(flow.pcb, 0, 1);
        if (flow.guestClosed && !flow.toHost) finish(flow);
    }
}

// Both sides are done: lwIP closes its end toward the guest and keeps the
// pcb until the last FIN is acknowledged; the slot lingers until then, so
// that its last datagrams are still rewritten.
void Relay::finish(Flow& flow)
{
    if (flow.pcb) {
        tcp_arg(flow.pcb, nullptr);
        tcp_recv(flow.pcb, nullptr);
        tcp_err(flow.pcb, nullptr);
        if (tcp_close(flow.pcb) != ERR_OK) tcp_abort(flow.pcb);
        flow.pcb = nullptr;
    }
    flow.host.reset();
    if (flow.toHost) pbuf_free(flow.toHost);
    flow.toHost = nullptr;
    flow.stage = flow.inbound ? Stage::Free : Stage::Lingering;
}

void Relay::release(Flow& flow)
{
    if (flow.pcb) {
        tcp_arg(flow.pcb, nullptr);
        tcp_recv(flow.pcb, nullptr);
        tcp_err(flow.pcb, nullptr);
        tcp_abort(flow.pcb);
        flow.pcb = nullptr;
    }
    flow.host.reset();
    if (flow.toHost) pbuf_free(flow.toHost);
    flow.toHost = nullptr;
    flow.synLength = 0;
    flow.stage = Stage::Free;
}

// A lingering slot is free once lwIP holds no pcb for it any more.
void Relay::sweepLingering()
{
    for (Flow& flow : flows_) {
        if (flow.stage != Stage::Lingering && !(flow.stage == Stage::Open && !flow.pcb)) continue;
        bool held = false;
        for (tcp_pcb* pcb = tcp_active_pcbs; pcb && !held; pcb = pcb->next) held = pcb->remote_port == slotPort(flow);
        for (tcp_pcb* pcb = tcp_tw_pcbs; pcb && !held; pcb = pcb->next) held = pcb->remote_port == slotPort(flow);
        if (flow.stage == Stage::Lingering && !held) flow.stage = Stage::Free;
        // An accepted SYN whose handshake lwIP gave up on leaves an open slot with no pcb.
        if (flow.stage == Stage::Open && !held && clock_.nowMicroseconds() - flow.lastHostByte > kHandshakeLimit)
            release(flow);
    }
}

void Relay::serviceBindings()
{
    const std::uint64_t now = clock_.nowMicroseconds();
    std::uint8_t buffer[1472];
    for (std::size_t looked = 0; looked < bindings_.size(); ++looked) {
        Binding& binding = bindings_[nextBinding_];
        nextBinding_ = (nextBinding_ + 1) % bindings_.size();
        if (binding.guestPort == 0) continue;
        if (now - binding.lastUsed > kBindingIdle) {
            binding.socket.reset();
            binding.guestPort = 0;
            continue;
        }
        // A few datagrams per binding and step: a flooding peer waits its turn.
        for (int i = 0; i < 4; ++i) {
            Endpoint from;
            const std::size_t got = binding.socket->receiveFrom(buffer, sizeof buffer, from.address, from.port);
            if (got == 0) break;
            const auto seenAs = policy_.inbound(from);
            if (!seenAs) {
                ++figures_.blocked;
                continue;
            }
            binding.lastUsed = now;
            sendToGuest(*seenAs, Endpoint{guest_, binding.guestPort}, buffer, got);
            ++figures_.datagramsIn;
        }
    }
}

void Relay::serviceLookups()
{
    const std::uint64_t now = clock_.nowMicroseconds();
    for (Lookup& slot : lookups_) {
        if (!slot.lookup) continue;
        const NameLookup::State state = slot.lookup->state();
        if (state == NameLookup::State::Pending && now - slot.started < kLookupLimit) continue;
        std::uint8_t answer[kLargestAnswer];
        std::size_t length = 0;
        if (state == NameLookup::State::Found) {
            const std::vector<Ipv4Address> found = slot.lookup->addresses();
            length = writeDnsAnswer(slot.query, slot.parsed, found.empty() ? DnsCode::NameError : DnsCode::NoError,
                                    found.data(), found.size(), answer);
        } else {
            const DnsCode code = state == NameLookup::State::NotFound ? DnsCode::NameError : DnsCode::ServerFailure;
            length = writeDnsAnswer(slot.query, slot.parsed, code, nullptr, 0, answer);
        }
        sendToGuest(Endpoint{dns_, 53}, slot.guest, answer, length);
        ++figures_.nameQueries;
        slot.lookup.reset();
    }
}

// Callers of a forwarded port: lwIP connects to the guest's port for each.
void Relay::acceptCallers()
{
    for (Forward& forward : forwards_) {
        std::unique_ptr<ByteTransport> caller = forward.listener->accept();
        if (!caller) continue;
        Flow* flow = freeFlow();
        tcp_pcb* pcb = flow ? tcp_new() : nullptr;
        if (!pcb) {
            ++figures_.overCap;
            continue;  // the caller is hung up on
        }
        const ip4_addr_t gateway = lwipAddress(gateway_);
        const ip4_addr_t guest = lwipAddress(guest_);
        ip_addr_t local, remote;
        ip_addr_copy_from_ip4(local, gateway);
        ip_addr_copy_from_ip4(remote, guest);
        if (tcp_bind(pcb, &local, 0) != ERR_OK) {
            tcp_abort(pcb);
            continue;
        }
        flow->stage = Stage::Connecting;
        flow->inbound = true;
        flow->guest = Endpoint{guest_, forward.port.guestPort};
        flow->target = Endpoint{gateway_, 0};
        flow->host = std::move(caller);
        flow->pcb = pcb;
        flow->guestClosed = flow->hostClosed = false;
        flow->lastHostByte = clock_.nowMicroseconds();
        tcp_arg(pcb, flow);
        tcp_err(pcb, failed);
        if (tcp_connect(pcb, &remote, forward.port.guestPort, guestConnected) != ERR_OK) release(*flow);
    }
}

// ---- lwIP's callbacks -----------------------------------------------------------

err_t Relay::accepted(void* arg, tcp_pcb* pcb, err_t error)
{
    auto* relay = static_cast<Relay*>(arg);
    if (error != ERR_OK || !pcb) return ERR_VAL;
    const std::size_t slot = static_cast<std::size_t>(pcb->remote_port - kSlotPorts);
    if (pcb->remote_port < kSlotPorts || slot >= relay->flows_.size() ||
        relay->flows_[slot].stage != Stage::Open || relay->flows_[slot].pcb || relay->flows_[slot].inbound) {
        tcp_abort(pcb);
        return ERR_ABRT;
    }
    Flow& flow = relay->flows_[slot];
    flow.pcb = pcb;
    tcp_arg(pcb, &flow);
    tcp_recv(pcb, received);
    tcp_err(pcb, failed);
    tcp_nagle_disable(pcb);
    return ERR_OK;
}

err_t Relay::guestConnected(void* arg, tcp_pcb* pcb, err_t error)
{
    auto* flow = static_cast<Flow*>(arg);
    if (!flow || error != ERR_OK) return ERR_VAL;
    flow->stage = Stage::Open;
    tcp_recv(pcb, received);
    tcp_nagle_disable(pcb);
    ++active->figures_.connections;
    return ERR_OK;
}

err_t Relay::received(void* arg, tcp_pcb* pcb, pbuf* p, err_t error)
{
    auto* flow = static_cast<Flow*>(arg);
    if (!flow) {
        if (p) {
            tcp_recved(pcb, p->tot_len);
            pbuf_free(p);
        }
        return ERR_OK;
    }
    if (!p) {
        flow->guestClosed = true;
        flow->lastHostByte = active->clock_.nowMicroseconds();
        return ERR_OK;
    }
    if (error != ERR_OK) {
        pbuf_free(p);
        return ERR_OK;
    }
    // Kept as one copy on lwIP's heap, not in the pool the link receives into.
    pbuf* copy = pbuf_clone(PBUF_RAW, PBUF_RAM, p);
    if (!copy) return ERR_MEM;  // lwIP offers it again later
    pbuf_free(p);
    if (flow->toHost)
        pbuf_cat(flow->toHost, copy);
    else
        flow->toHost = copy;
    return ERR_OK;
}

// lwIP has freed the pcb (the guest reset the connection, or it gave up).
void Relay::failed(void* arg, err_t)
{
    auto* flow = static_cast<Flow*>(arg);
    if (!flow) return;
    flow->pcb = nullptr;
    active->release(*flow);
}

}  // namespace dialup

extern "C" int rs232c_dialup_ip4_input(struct pbuf* p, struct netif*)
{
    return dialup::active ? dialup::active->input(p) : 0;
}
