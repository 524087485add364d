// The Windows serial communications API, as far as the COM port line uses it,
// in portable terms: the handle, the DCB and timeout records, the values the
// calls take and give, and the calls themselves. platform/win32 passes each
// call through to the real function; the tests bring a recording fake.
#pragma once

#include <cstdint>

// An open serial port, as the API identifies it.
using PortHandle = std::uintptr_t;
constexpr PortHandle kNoPort = ~PortHandle{0};  // INVALID_HANDLE_VALUE

// The port's line-settings record, laid out like the Win32 DCB so that the
// values and the flag word carry over unchanged.
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

// The API's values under names of our own, so that they never collide with
// the <windows.h> macros (the Win32 pass-through checks that they agree).
enum DcbParity : std::uint8_t { kDcbNoParity = 0, kDcbOddParity = 1, kDcbEvenParity = 2, kDcbMarkParity = 3, kDcbSpaceParity = 4 };
enum DcbStopBits : std::uint8_t { kDcbOneStopBit = 0, kDcbOne5StopBits = 1, kDcbTwoStopBits = 2 };

enum class EscapeCode : std::uint32_t {
    SetRts = 3,
    ClrRts = 4,
    SetDtr = 5,
    ClrDtr = 6,
    SetBreak = 8,
    ClrBreak = 9,
};

// GetCommModemStatus bits.
constexpr std::uint32_t kModemCtsOn = 0x10;
constexpr std::uint32_t kModemDsrOn = 0x20;
constexpr std::uint32_t kModemRingOn = 0x40;
constexpr std::uint32_t kModemRlsdOn = 0x80;

// ClearCommError bits.
constexpr std::uint32_t kCommErrorRxOver = 0x01;
constexpr std::uint32_t kCommErrorOverrun = 0x02;
constexpr std::uint32_t kCommErrorParity = 0x04;
constexpr std::uint32_t kCommErrorFrame = 0x08;

// The flag word below its 17 kept top bits: fBinary, fTXContinueOnXoff, DTR
// and RTS handshake, no other flow control; fParity is bit 1.
constexpr std::uint32_t kDcbFlagsKeptMask = 0xFFFF8000u;
constexpr std::uint32_t kDcbFlags = 0x20A1;
constexpr std::uint32_t kDcbParityFlag = 0x0002;
constexpr std::uint32_t kDcbLength = 28;

// PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR
constexpr std::uint32_t kPurgeAll = 0x0F;
// EV_BREAK | EV_ERR | EV_RING; nothing ever waits on them, all I/O is polled
constexpr std::uint32_t kPortEventMask = 0x1C0;
constexpr std::uint32_t kReadReturnsAtOnce = 0xFFFFFFFFu;  // MAXDWORD read interval

// The calls. Every operation reports success; a read reports how many bytes
// it returned.
class CommApi {
public:
    virtual ~CommApi() = default;
    // CreateFileA for exclusive, synchronous reading and writing; kNoPort
    // when the path cannot be opened.
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
};
