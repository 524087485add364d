// What the dial-up server is told by the settings file: its addresses, the
// login it asks for, the host's services the guest may reach and the ports
// forwarded to the guest. The plug-in reads the section [RS-232C Dialup] at
// each dial and hands its "key=value" entries here, so an edit counts from
// the next call. A value that does not parse leaves that setting at its
// default (and is named in `rejected`), so a typo never opens more than the
// defaults do.
//
//   Guest=10.0.2.15        the guest's address (PPP's IPCP gives it; SLIP's is fixed)
//   Gateway=10.0.2.2       the server's own address, which is also the host's for HostPorts
//   DNS=10.0.2.3           the name server the guest is given, answered through the host's resolver
//   User=, Password=       a login to check (PPP's PAP and CHAP, and the text login);
//                          both empty: any name and password are taken and PPP asks for none
//   HostPorts=80,8080      ports of this computer (127.0.0.1) the guest reaches at the gateway
//   Forward=2323:23,0.0.0.0:8080:80
//                          [address:]host port:guest port, TCP callers of the host port
//                          (on 127.0.0.1 unless an address is given) reach the guest's port
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/lines/ByteTransport.h"

namespace dialup {

// How a call starts: a text login that leads to PPP or SLIP (and starts PPP
// at once when the guest sends a PPP frame), or SLIP framing from CONNECT on.
enum class Service : std::uint8_t { Login, Slip, Cslip };

// The value of a phonebook entry that makes a number the dial-up server:
// "ppp" (the login, which also offers slip and cslip), "slip" or "cslip";
// letters in either case. Nothing for any other value (an address).
std::optional<Service> serviceForPhonebookValue(std::string_view value);

// The number that reaches the login server with no phonebook entry.
constexpr char kBuiltInNumber[] = "777";

struct PortForward {
    std::string hostAddress = "127.0.0.1";
    std::uint16_t hostPort = 0;
    std::uint16_t guestPort = 0;
};

struct DialupSettings {
    static constexpr char kSection[] = "RS-232C Dialup";
    static constexpr std::size_t kMostHostPorts = 16;
    static constexpr std::size_t kMostForwards = 8;
    static constexpr std::size_t kLongestLogin = 64;

    Ipv4Address guest = 0x0a00020f;    // 10.0.2.15
    Ipv4Address gateway = 0x0a000202;  // 10.0.2.2
    Ipv4Address dns = 0x0a000203;      // 10.0.2.3
    std::string user;
    std::string password;
    std::vector<std::uint16_t> hostPorts;
    std::vector<PortForward> forwards;
    // Keys whose values were refused, for a message to the user.
    std::vector<std::string> rejected;

    bool checksLogin() const { return !user.empty() || !password.empty(); }

    // From the section's entries, "key=value" each (keys without regard to
    // case, spaces around keys and values ignored, ';' lines are comments).
    static DialupSettings parse(const std::vector<std::string>& entries);
};

// Where the settings come from: the plug-in reads its settings file at each
// dial, so an edit counts from the next call.
class DialupSettingsSource {
public:
    virtual ~DialupSettingsSource() = default;
    virtual DialupSettings read() = 0;
};

}  // namespace dialup
