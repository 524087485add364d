// The device's platform seam on Windows: the comm API, MessageBoxA, and
// panel figure writes posted to the panel's own thread.
#pragma once

#include <windows.h>

#include "device/Platform.h"

class Win32SerialPorts final : public SerialPorts {
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

class Win32UserAlert final : public UserAlert {
public:
    void show(const char* text) override;
};

// Message the panel procedure handles by applying the figures posted to it.
constexpr UINT kPanelFieldsMessage = WM_USER + 101;

// Panel writes come from the emulation and timer threads with the device's
// locks held, while the panel's thread may be waiting for those locks in its
// LED refresh. So a write never sends: it stores the newest text of the field
// and posts one message; the panel's thread sets the texts when it gets there.
class PanelFieldPoster final : public PanelFields {
public:
    PanelFieldPoster();
    ~PanelFieldPoster() override;
    PanelFieldPoster(const PanelFieldPoster&) = delete;
    PanelFieldPoster& operator=(const PanelFieldPoster&) = delete;

    void setText(WindowHandle panel, int controlId, const char* text) override;
    // On the panel's thread, in answer to kPanelFieldsMessage.
    void applyPending(HWND panel);

private:
    struct Field {
        int controlId;
        bool changed;
        char text[32];
    };
    static constexpr int kFieldCount = 5;

    CRITICAL_SECTION lock_;
    Field fields_[kFieldCount];
    HWND postedTo_;  // the panel a message is on its way to, or none
};
