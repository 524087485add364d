// What the device needs of the computer it runs on, and nothing more: the real
// serial port, the user's attention, and the status panel's figure fields.
// The Win32 implementation lives in platform/win32; tests bring fakes.
#pragma once

#include <cstdint>

// An open serial port, as the platform identifies it.
using PortHandle = std::uintptr_t;
constexpr PortHandle kNoPort = ~PortHandle{0};  // the invalid handle value

// The status panel window, or none.
using WindowHandle = void*;

// The serial port's line-settings record, laid out like the Win32 DCB so that
// the values and the flag word carry over unchanged.
struct CommState {
    std::uint32_t DCBlength;
    std::uint32_t BaudRate;
    std::uint32_t flags;  // the DCB's bit fields, fBinary in bit 0
    std::uint16_t wReserved;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    std::uint16_t wReserved1;
};
static_assert(sizeof(CommState) == 28, "CommState mirrors the 28-byte DCB");

struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
};

// Values of the serial API, under names of our own so that they never collide
// with the <windows.h> macros (the Win32 implementation checks that they agree).
enum ParityCode : std::uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2 };
enum StopBitsCode : std::uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

enum class EscapeCode : std::uint32_t {
    SetRts = 3,
    ClrRts = 4,
    SetDtr = 5,
    ClrDtr = 6,
    SetBreak = 8,
    ClrBreak = 9,
};

constexpr std::uint32_t kModemCtsOn = 0x10;
constexpr std::uint32_t kModemDsrOn = 0x20;
constexpr std::uint32_t kModemRingOn = 0x40;
constexpr std::uint32_t kModemRlsdOn = 0x80;

constexpr std::uint32_t kLineErrorRxOver = 0x01;
constexpr std::uint32_t kLineErrorOverrun = 0x02;
constexpr std::uint32_t kLineErrorParity = 0x04;
constexpr std::uint32_t kLineErrorFrame = 0x08;

// PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR
constexpr std::uint32_t kPurgeAll = 0x0F;
// EV_BREAK | EV_ERR | EV_RING; nothing ever waits on them, all I/O is polled
constexpr std::uint32_t kPortEventMask = 0x1C0;
constexpr std::uint32_t kReadReturnsAtOnce = 0xFFFFFFFFu;  // MAXDWORD read interval

// The real serial port. Every operation reports success; a read reports how
// many bytes it returned.
class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    // Opens the path for exclusive, synchronous reading and writing;
    // kNoPort when it cannot be opened.
    virtual PortHandle open(const char* path) = 0;
    virtual bool close(PortHandle port) = 0;
    virtual bool getState(PortHandle port, CommState& state) = 0;
    virtual bool setState(PortHandle port, const CommState& state) = 0;
    virtual bool setTimeouts(PortHandle port, const CommTimeouts& timeouts) = 0;
    virtual bool setEventMask(PortHandle port, std::uint32_t mask) = 0;
    virtual bool purge(PortHandle port, std::uint32_t flags) = 0;
    virtual bool escape(PortHandle port, EscapeCode code) = 0;
    virtual bool getModemStatus(PortHandle port, std::uint32_t& lines) = 0;
    virtual bool clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued) = 0;
    virtual bool readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead) = 0;
    virtual bool writeByte(PortHandle port, std::uint8_t byte) = 0;
    // True when opening the name would reach out over the network rather
    // than to a port of this computer.
    virtual bool reachesNetwork(const char* name)
    {
        (void)name;
        return false;
    }
};

// A message the user must see: no owner window, the default title, OK only.
// It blocks until the user closes it, so the device shows it with no lock held.
class UserAlert {
public:
    virtual ~UserAlert() = default;
    virtual void show(const char* text) = 0;
};

// Sets the text of one figure field of the status panel. Called with the
// device's locks held from any thread, so it must never wait for the panel's
// own thread (which may itself be waiting for those locks).
class PanelFields {
public:
    virtual ~PanelFields() = default;
    virtual void setText(WindowHandle panel, int controlId, const char* text) = 0;
};

// Everything the device reaches the platform through.
struct Platform {
    SerialPorts* serial;
    UserAlert* alert;
    PanelFields* panelFields;
};
