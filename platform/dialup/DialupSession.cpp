#include "platform/dialup/DialupSession.h"

#include <algorithm>
#include <cstring>

#include "lwip/ip.h"
#include "lwip/netif.h"
#include "lwip/pbuf.h"
#include "netif/ppp/ppp.h"
#include "netif/ppp/ppp_impl.h"
#include "netif/ppp/pppos.h"
#include "netif/ppp/vj.h"
#include "platform/dialup/LwipStack.h"
#include "platform/dialup/Packet.h"

namespace dialup {
namespace {
ip4_addr_t lwipAddress(Ipv4Address address)
{
    ip4_addr_t out;
    ip4_addr_set_u32(&out, lwip_htonl(address));
    return out;
}
}  // namespace

std::unique_ptr<DialupSession> DialupSession::start(Services services, const DialupSettings& settings, Service service)
{
    if (!LwipStack::acquire(services.clock)) return nullptr;
    std::unique_ptr<DialupSession> session(new DialupSession(services, settings));
    if (service == Service::Login) {
        session->login_.emplace(session->settings_);
        session->queue(LoginScreen::greeting());
    } else {
        session->startSlip(service == Service::Cslip);
    }
    return session;
}

DialupSession::DialupSession(Services services, const DialupSettings& settings)
    : services_(services), settings_(settings)
{
}

DialupSession::~DialupSession()
{
    relay_.reset();  // every connection's pcb, and the host's sockets
    if (ppp_) {
        link_ = Link::Ended;
        // The carrier is gone, whatever phase the link was in: every protocol
        // goes down with its timers, and the link is dead at once (lwIP's own
        // ppp_close takes that path only from the running phase, and would
        // otherwise send Terminate-Requests and wait).
        if (ppp_->phase != PPP_PHASE_DEAD) link_terminated(ppp_);
        ppp_free(ppp_);
    }
    if (slipNetif_) netif_remove(slipNetif_.get());
    LwipStack::release();
    showRawBytes(RawBytes::Shown);  // the modem's own words again
}

void DialupSession::reportEventsTo(LineEvents* events)
{
    events_ = events;
    if (!events_) return;
    for (const std::string& key : settings_.rejected)
        events_->callEvent("dial-up settings: " + key + " not understood, its default kept");
}

void DialupSession::showRawBytes(RawBytes how)
{
    if (how == shown_) return;
    shown_ = how;
    if (events_) events_->rawBytes(how);
}

// ---- The guest's side -------------------------------------------------------------

TransportState DialupSession::state()
{
    // The guest's Terminate-Request has been answered: once the Terminate-Ack
    // has left for it the call is over, and the carrier drops then, as an
    // ISP's modem hangs up, rather than when LCP's restart timer runs out
    // seconds later.
    if (link_ == Link::Ppp && ppp_ && ppp_->lcp_fsm.state == PPP_FSM_STOPPING && count_ == 0) ended();
    return link_ == Link::Ended && count_ == 0 ? TransportState::Closed : TransportState::Open;
}

std::size_t DialupSession::receive(std::uint8_t* buffer, std::size_t length)
{
    const std::size_t taken = std::min(length, count_);
    for (std::size_t i = 0; i < taken; ++i) buffer[i] = buffer_[(head_ + i) % kGuestBuffer];
    // The server's frames are told as they leave for the guest.
    if (link_ == Link::Ppp && events_)
        for (std::size_t i = 0; i < taken; ++i)
            if (toGuest_.take(buffer[i]))
                events_->pppFrame(LineDirection::ToGuest, toGuest_.frame(), toGuest_.size());
    head_ = (head_ + taken) % kGuestBuffer;
    count_ -= taken;
    return taken;
}

std::size_t DialupSession::send(const std::uint8_t* data, std::size_t length)
{
    length = std::min(length, kMostPerSend);
    std::size_t used = 0;
    if (link_ == Link::Login) {
        std::string reply;
        used = login_->take(data, length, reply);
        queue(reply);
        switch (login_->outcome()) {
        case LoginScreen::Outcome::Waiting: break;
        case LoginScreen::Outcome::Ppp: {
            startPpp();
            const std::string& start = login_->frameStart();
            pppInput(reinterpret_cast<const std::uint8_t*>(start.data()), start.size());
            break;
        }
        case LoginScreen::Outcome::Slip: startSlip(false); break;
        case LoginScreen::Outcome::Cslip: startSlip(true); break;
        case LoginScreen::Outcome::HangUp: ended(); break;
        }
        // The password is masked from its prompt to the end of its line.
        if (link_ == Link::Login) showRawBytes(login_->typingPassword() ? RawBytes::Secret : RawBytes::Shown);
    }
    if (link_ == Link::Ppp && used < length)
        pppInput(data + used, length - used);
    else if (link_ == Link::Slip && used < length)
        takeSlip(data + used, length - used);
    return length;
}

void DialupSession::pppInput(const std::uint8_t* data, std::size_t length)
{
    if (!ppp_ || length == 0) return;
    if (events_)
        for (std::size_t i = 0; i < length; ++i)
            if (fromGuest_.take(data[i]))
                events_->pppFrame(LineDirection::FromGuest, fromGuest_.frame(), fromGuest_.size());
    // lwIP's framer reads a frame whose sound check sequence follows its
    // header at once (no information field) through a buffer it never made.
    // Such a frame carries nothing: just before each closing flag, one with
    // no information yet is turned into an extra flag, which the framer skips.
    auto* framer = static_cast<pppos_pcb*>(ppp_->link_ctx_cb);
    const std::uint8_t* end = data + length;
    while (data < end) {
        const auto* flag = static_cast<const std::uint8_t*>(std::memchr(data, PPP_FLAG, static_cast<std::size_t>(end - data)));
        const std::uint8_t* upTo = flag ? flag : end;
        if (upTo > data) pppos_input(ppp_, const_cast<u8_t*>(data), static_cast<int>(upTo - data));
        if (!flag) break;
        if (framer->in_state == PDDATA && !framer->in_tail) framer->in_state = PDADDRESS;
        pppos_input(ppp_, const_cast<u8_t*>(flag), 1);
        data = flag + 1;
    }
}

bool DialupSession::queue(const std::uint8_t* data, std::size_t length)
{
    if (length > kGuestBuffer - count_) return false;
    for (std::size_t i = 0; i < length; ++i) buffer_[(head_ + count_ + i) % kGuestBuffer] = data[i];
    count_ += length;
    return true;
}

void DialupSession::service(std::uint64_t)
{
    LwipStack::service();
    if (relay_) relay_->service(count_, kLowWater);
}

void DialupSession::ended()
{
    link_ = Link::Ended;
    linkUp_ = false;
}

SessionFigures DialupSession::figures() const
{
    SessionFigures figures;
    figures.framesDropped = framesDropped_;
    figures.framesMalformed = framesMalformed_ + slip_.dropped();
    figures.poolFailures = LwipStack::poolFailures();
    if (relay_) figures.relay = relay_->figures();
    return figures;
}

// ---- PPP --------------------------------------------------------------------------

void DialupSession::startPpp()
{
    link_ = Link::Ppp;
    showRawBytes(RawBytes::AsFrames);
    pppNetif_ = std::make_unique<netif>();
    ppp_ = pppos_create(pppNetif_.get(), pppOutput, pppStatus, this);
    if (!ppp_) {
        ended();
        return;
    }
    const ip4_addr_t gateway = lwipAddress(settings_.gateway);
    const ip4_addr_t guest = lwipAddress(settings_.guest);
    const ip4_addr_t dns = lwipAddress(settings_.dns);
    ppp_set_ipcp_ouraddr(ppp_, &gateway);
    ppp_set_ipcp_hisaddr(ppp_, &guest);
    ppp_set_ipcp_dnsaddr(ppp_, 0, &dns);
    // With no login to check, any is taken: the guest is not asked for one.
    // A login in the settings is asked for by PAP or CHAP, as the guest prefers.
    if (settings_.checksLogin()) {
        ppp_set_auth(ppp_, PPPAUTHTYPE_PAP | PPPAUTHTYPE_CHAP, settings_.user.c_str(), settings_.password.c_str());
        ppp_set_auth_required(ppp_, 1);
    }
    relay_ = std::make_unique<Relay>(services_.network, services_.clock, settings_);
    relay_->attach(ppp_netif(ppp_));
    netif_set_default(ppp_netif(ppp_));
    ppp_listen(ppp_);
}

std::uint32_t DialupSession::pppOutput(ppp_pcb_s*, std::uint8_t* data, std::uint32_t length, void* context)
{
    auto* session = static_cast<DialupSession*>(context);
    // A frame whose start did not fit is dropped to its end, so that the
    // guest never sees half of one.
    const bool ends = length > 0 && data[length - 1] == 0x7e;
    if (session->dropping_ || !session->queue(data, length)) {
        if (!session->dropping_) ++session->framesDropped_;
        session->dropping_ = !ends;
        return 0;
    }
    return length;
}

void DialupSession::pppStatus(ppp_pcb_s*, int error, void* context)
{
    auto* session = static_cast<DialupSession*>(context);
    if (error == PPPERR_NONE) {
        session->linkUp_ = true;
        return;
    }
    session->ended();
}

// ---- SLIP -------------------------------------------------------------------------

void DialupSession::startSlip(bool compressed)
{
    link_ = Link::Slip;
    compressed_ = compressed;
    if (compressed) {
        vj_ = std::make_unique<vjcompress>();
        vj_compress_init(vj_.get());
    }
    slipNetif_ = std::make_unique<netif>();
    const ip4_addr_t gateway = lwipAddress(settings_.gateway);
    const ip4_addr_t mask = lwipAddress(0xffffffff);
    const ip4_addr_t guest = lwipAddress(settings_.guest);
    if (!netif_add(slipNetif_.get(), &gateway, &mask, &guest, this, slipInit, ip_input)) {
        slipNetif_.reset();
        ended();
        return;
    }
    relay_ = std::make_unique<Relay>(services_.network, services_.clock, settings_);
    relay_->attach(slipNetif_.get());
    netif_set_default(slipNetif_.get());
    netif_set_link_up(slipNetif_.get());
    netif_set_up(slipNetif_.get());
    linkUp_ = true;
}

err_t DialupSession::slipInit(netif* link)
{
    link->name[0] = 's';
    link->name[1] = 'l';
    link->mtu = kSlipMtu;
    link->flags = 0;
    link->output = slipOutput;
    return ERR_OK;
}

void DialupSession::takeSlip(const std::uint8_t* data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint32_t droppedBefore = slip_.dropped();
        if (slip_.take(data[i])) slipFrame(slip_.frame(), slip_.size());
        if (slip_.dropped() != droppedBefore && vj_) vj_uncompress_err(vj_.get());
    }
}

// A frame from the guest: an IP datagram, or with CSLIP a VJ-compressed or
// -uncompressed TCP one, told apart by its first byte (RFC 1144).
void DialupSession::slipFrame(const std::uint8_t* frame, std::size_t size)
{
    const std::uint8_t type = frame[0] & 0xf0;
    const bool ip = type == 0x40;
    if (!ip && !vj_) {
        ++framesMalformed_;
        return;
    }
    pbuf* p = pbuf_alloc(PBUF_RAW, static_cast<u16_t>(size), PBUF_POOL);
    if (!p) return;  // counted by lwIP
    pbuf_take(p, frame, static_cast<u16_t>(size));
    if (!ip) {
        auto* first = static_cast<std::uint8_t*>(p->payload);
        int result = -1;
        if (type & 0x80) {
            result = vj_uncompress_tcp(&p, vj_.get());
        } else if (type == 0x70) {
            *first = static_cast<std::uint8_t>(*first & 0x4f);
            result = vj_uncompress_uncomp(p, vj_.get());
        }
        if (result < 0) {
            ++framesMalformed_;
            if (p) pbuf_free(p);
            return;
        }
    }
    if (slipNetif_->input(p, slipNetif_.get()) != ERR_OK) pbuf_free(p);
}

err_t DialupSession::slipOutput(netif* link, pbuf* p, const ip4_addr_t*)
{
    auto* session = static_cast<DialupSession*>(link->state);
    // Compression works on a copy of its own, which it hands back in place
    // of the datagram (lwIP's datagram stays as it was, for retransmission).
    pbuf* out = p;
    std::uint8_t type = TYPE_IP;
    if (session->compressed_) type = vj_compress_tcp(session->vj_.get(), &out);
    std::uint8_t packet[1600];
    std::uint8_t framed[slipEncodedLimit(sizeof packet)];
    const std::size_t size = std::min<std::size_t>(out->tot_len, sizeof packet);
    pbuf_copy_partial(out, packet, static_cast<u16_t>(size), 0);
    if (out != p) pbuf_free(out);
    if (type == TYPE_COMPRESSED_TCP) packet[0] |= 0x80;
    if (type == TYPE_UNCOMPRESSED_TCP) packet[0] = static_cast<std::uint8_t>((packet[0] & 0x0f) | 0x70);
    if (!session->queue(framed, slipEncode(packet, size, framed))) ++session->framesDropped_;
    return ERR_OK;
}

}  // namespace dialup
