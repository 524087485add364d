// The serial ports the device sees: a name of a network line (tcp:, telnet:,
// listen:) opens a network line, any other name the COM port, whose calls go
// through to the comm API unchanged.
#pragma once

#include "device/Platform.h"

class NetworkLine;

class LineSelector final : public SerialPorts {
public:
    explicit LineSelector(SerialPorts& comPorts) : comPorts_(comPorts) {}

    bool reachesNetwork(const char* name) override;
    PortHandle open(const char* path) override;
    bool close(PortHandle port) override;
    bool getState(PortHandle port, CommState& state) override;
    bool setState(PortHandle port, const CommState& state) override;
    bool setTimeouts(PortHandle port, const CommTimeouts& timeouts) override;
    bool setEventMask(PortHandle port, std::uint32_t mask) override;
    bool purge(PortHandle port, std::uint32_t flags) override;
    bool escape(PortHandle port, EscapeCode code) override;
    bool getModemStatus(PortHandle port, std::uint32_t& lines) override;
    bool clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued) override;
    bool readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead) override;
    bool writeByte(PortHandle port, std::uint8_t byte) override;

private:
    SerialPorts& comPorts_;
};
