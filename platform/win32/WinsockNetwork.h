// TCP on Winsock for the network lines and the modem: non-blocking sockets,
// and a thread of its own for each connect, so that neither a slow name
// server nor an address that never answers holds up the emulator.
#pragma once

#include "platform/lines/ByteTransport.h"

class WinsockNetwork final : public Network {
public:
    std::unique_ptr<ByteTransport> connect(const std::string& host, std::uint16_t port,
                                           std::uint32_t timeoutMilliseconds) override;
    std::unique_ptr<Listener> listen(const std::string& address, std::uint16_t port) override;

    // For the dial-up server: UDP, names looked up on a thread, this computer's addresses.
    std::unique_ptr<DatagramSocket> openDatagram() override;
    std::unique_ptr<NameLookup> lookUp(const std::string& name) override;
    std::vector<Ipv4Address> ownAddresses() override;
};
