// A call to the dial-up server: what the modem's call is connected to when
// the guest dials a number whose phonebook value is "ppp", "slip" or "cslip"
// (or the built-in number). It is a ByteTransport like a TCP connection: the
// guest's bytes go in through send(), the bytes for the guest come out of
// receive(), and state() turns Closed when the call is over (PPP terminated,
// or "exit" at the login), once the last bytes for the guest have been read.
// A SLIP call never ends on its own: the modem hangs it up.
//
// Its own work (lwIP's timers, and the relay to the host's network) is done
// in the engine's service step, which comes about once a millisecond while
// the call is up; send() hands the guest's bytes to the login or the link at
// once, and what they answer is ready for the next receive(). Nothing in it
// waits, and every buffer has a fixed size.
//
// A monitor that watches the modem is told the call's PPP frames both ways,
// as the line carried them, and how to show the raw bytes meanwhile: as
// frames once PPP runs, masked while the guest types its password at the
// text login.
//
// lwIP is one stack per process, so there is one session at a time;
// destroying it (a hang-up, a saved state loaded) frees everything it held
// in lwIP, and the next starts from a clean stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "lwip/err.h"
#include "lwip/ip4_addr.h"
#include "platform/dialup/DialupSettings.h"
#include "platform/dialup/HdlcFrames.h"
#include "platform/dialup/LoginScreen.h"
#include "platform/dialup/Relay.h"
#include "platform/dialup/SlipFraming.h"
#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"
#include "platform/lines/LineEvents.h"

struct netif;
struct ppp_pcb_s;
struct vjcompress;

namespace dialup {

struct SessionFigures {
    std::uint32_t framesDropped = 0;    // frames for the guest dropped with its link full
    std::uint32_t framesMalformed = 0;  // the guest's SLIP frames, or VJ packets, that were broken
    std::uint32_t poolFailures = 0;     // lwIP's pools or heap empty when asked (since the process started)
    RelayFigures relay;
};

class DialupSession final : public ByteTransport, public ReportsLineEvents {
public:
    struct Services {
        Network& network;
        Clock& clock;
    };
    enum class Link : std::uint8_t { Login, Ppp, Slip, Ended };

    // Bytes for the guest not yet read; past it frames are dropped whole.
    static constexpr std::size_t kGuestBuffer = 16384;
    // New data from the host's connections goes to lwIP only while fewer
    // bytes than this wait for the guest (so that a slow line does not hold
    // seconds of data in front of everything else).
    static constexpr std::size_t kLowWater = 2048;
    // The most of the guest's bytes one send() takes.
    static constexpr std::size_t kMostPerSend = 4096;
    static constexpr std::uint16_t kSlipMtu = 1006;

    // The call, answered: the login's greeting, or SLIP at once. Null while
    // another session holds lwIP.
    static std::unique_ptr<DialupSession> start(Services services, const DialupSettings& settings, Service service);
    ~DialupSession() override;
    DialupSession(const DialupSession&) = delete;
    DialupSession& operator=(const DialupSession&) = delete;

    TransportState state() override;
    ConnectFailure failure() const override { return ConnectFailure::None; }
    std::size_t receive(std::uint8_t* buffer, std::size_t length) override;
    std::size_t send(const std::uint8_t* data, std::size_t length) override;
    // lwIP's timers that are due, and the relay's look at the host's side.
    void service(std::uint64_t nowMicroseconds) override;
    // The modem's monitor, if it has one (null when not); the settings'
    // values that were not understood are told to it first.
    void reportEventsTo(LineEvents* events) override;

    Link link() const { return link_; }
    bool linkUp() const { return linkUp_; }  // PPP's IPCP is open, or SLIP runs
    SessionFigures figures() const;

private:
    DialupSession(Services services, const DialupSettings& settings);
    void startPpp();
    void pppInput(const std::uint8_t* data, std::size_t length);
    void showRawBytes(RawBytes how);
    void startSlip(bool compressed);
    void takeSlip(const std::uint8_t* data, std::size_t length);
    void slipFrame(const std::uint8_t* frame, std::size_t size);
    void ended();

    // The guest's buffer: whole writes or nothing.
    bool queue(const std::uint8_t* data, std::size_t length);
    bool queue(const std::string& text) { return queue(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()); }
    std::size_t queued() const { return count_; }

    static std::uint32_t pppOutput(ppp_pcb_s* pcb, std::uint8_t* data, std::uint32_t length, void* context);
    static void pppStatus(ppp_pcb_s* pcb, int error, void* context);
    static err_t slipOutput(netif* link, struct pbuf* p, const ip4_addr_t* destination);
    static err_t slipInit(netif* link);

    Services services_;
    DialupSettings settings_;
    Link link_ = Link::Login;
    bool linkUp_ = false;
    std::optional<LoginScreen> login_;

    ppp_pcb_s* ppp_ = nullptr;
    std::unique_ptr<netif> pppNetif_;
    std::unique_ptr<netif> slipNetif_;
    std::unique_ptr<vjcompress> vj_;
    bool compressed_ = false;
    SlipDecoder slip_;
    std::unique_ptr<Relay> relay_;

    LineEvents* events_ = nullptr;
    RawBytes shown_ = RawBytes::Shown;
    HdlcFrames fromGuest_;  // the guest's PPP frames, read again for the monitor
    HdlcFrames toGuest_;

    std::uint8_t buffer_[kGuestBuffer];
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    bool dropping_ = false;  // the rest of a PPP frame that did not fit
    std::uint32_t framesDropped_ = 0;
    std::uint32_t framesMalformed_ = 0;
};

}  // namespace dialup
