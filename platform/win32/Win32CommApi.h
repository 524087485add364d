// The comm API of the COM port line, passed through to Windows.
#pragma once

#include "platform/com/CommApi.h"

class Win32CommApi final : public CommApi {
public:
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
};
