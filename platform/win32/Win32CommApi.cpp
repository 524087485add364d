// The comm API on Windows: each call goes straight to the imported function,
// so that a tracer patching the module's imports sees every one.
#include "platform/win32/Win32CommApi.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

// Our names for the serial API's values must be the API's own.
static_assert(sizeof(CommState) == sizeof(DCB), "CommState mirrors DCB");
static_assert(offsetof(CommState, BaudRate) == offsetof(DCB, BaudRate), "DCB layout");
static_assert(offsetof(CommState, wReserved) == offsetof(DCB, wReserved), "DCB layout");
static_assert(offsetof(CommState, ByteSize) == offsetof(DCB, ByteSize), "DCB layout");
static_assert(offsetof(CommState, Parity) == offsetof(DCB, Parity), "DCB layout");
static_assert(offsetof(CommState, StopBits) == offsetof(DCB, StopBits), "DCB layout");
static_assert(offsetof(CommState, XonChar) == offsetof(DCB, XonChar), "DCB layout");
static_assert(offsetof(CommState, EvtChar) == offsetof(DCB, EvtChar), "DCB layout");
static_assert(offsetof(CommState, wReserved1) == offsetof(DCB, wReserved1), "DCB layout");
static_assert(sizeof(CommTimeouts) == sizeof(COMMTIMEOUTS), "COMMTIMEOUTS layout");
static_assert(kDcbNoParity == NOPARITY && kDcbOddParity == ODDPARITY && kDcbEvenParity == EVENPARITY &&
                  kDcbMarkParity == MARKPARITY && kDcbSpaceParity == SPACEPARITY,
              "parity codes");
static_assert(kDcbOneStopBit == ONESTOPBIT && kDcbOne5StopBits == ONE5STOPBITS && kDcbTwoStopBits == TWOSTOPBITS, "stop bits");
static_assert(static_cast<DWORD>(EscapeCode::SetRts) == SETRTS && static_cast<DWORD>(EscapeCode::ClrRts) == CLRRTS &&
                  static_cast<DWORD>(EscapeCode::SetDtr) == SETDTR && static_cast<DWORD>(EscapeCode::ClrDtr) == CLRDTR &&
                  static_cast<DWORD>(EscapeCode::SetBreak) == SETBREAK &&
                  static_cast<DWORD>(EscapeCode::ClrBreak) == CLRBREAK,
              "escape codes");
static_assert(kModemCtsOn == MS_CTS_ON && kModemDsrOn == MS_DSR_ON && kModemRingOn == MS_RING_ON &&
                  kModemRlsdOn == MS_RLSD_ON,
              "modem lines");
static_assert(kCommErrorRxOver == CE_RXOVER && kCommErrorOverrun == CE_OVERRUN && kCommErrorParity == CE_RXPARITY &&
                  kCommErrorFrame == CE_FRAME,
              "line errors");
static_assert(kPurgeAll == (PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR), "purge flags");
static_assert(kPortEventMask == (EV_BREAK | EV_ERR | EV_RING), "event mask");
static_assert(kReadReturnsAtOnce == MAXDWORD, "read interval");
static_assert(kDcbLength == sizeof(DCB), "DCB length");

namespace {
HANDLE handleOf(PortHandle port) { return reinterpret_cast<HANDLE>(port); }
}  // namespace

PortHandle Win32CommApi::open(const char* path)
{
    static_assert(sizeof(PortHandle) == sizeof(HANDLE), "port handle width");
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kNoPort : reinterpret_cast<PortHandle>(handle);
}

bool Win32CommApi::close(PortHandle port) { return CloseHandle(handleOf(port)) != FALSE; }

bool Win32CommApi::getState(PortHandle port, CommState& state)
{
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handleOf(port), &dcb)) return false;
    std::memcpy(&state, &dcb, sizeof state);
    return true;
}

bool Win32CommApi::setState(PortHandle port, const CommState& state)
{
    DCB dcb;
    std::memcpy(&dcb, &state, sizeof dcb);
    return SetCommState(handleOf(port), &dcb) != FALSE;
}

bool Win32CommApi::setTimeouts(PortHandle port, const CommTimeouts& timeouts)
{
    COMMTIMEOUTS value;
    std::memcpy(&value, &timeouts, sizeof value);
    return SetCommTimeouts(handleOf(port), &value) != FALSE;
}

bool Win32CommApi::setEventMask(PortHandle port, std::uint32_t mask) { return SetCommMask(handleOf(port), mask) != FALSE; }

bool Win32CommApi::purge(PortHandle port, std::uint32_t flags) { return PurgeComm(handleOf(port), flags) != FALSE; }

bool Win32CommApi::escape(PortHandle port, EscapeCode code)
{
    return EscapeCommFunction(handleOf(port), static_cast<DWORD>(code)) != FALSE;
}

bool Win32CommApi::getModemStatus(PortHandle port, std::uint32_t& lines)
{
    DWORD status = 0;
    if (!GetCommModemStatus(handleOf(port), &status)) return false;
    lines = status;
    return true;
}

bool Win32CommApi::clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued)
{
    DWORD flags = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    if (!ClearCommError(handleOf(port), &flags, &status)) return false;
    errors = flags;
    inputQueued = status.cbInQue;
    return true;
}

bool Win32CommApi::readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead)
{
    DWORD got = 0;
    const BOOL ok = ReadFile(handleOf(port), &byte, 1, &got, nullptr);
    bytesRead = got;
    return ok != FALSE;
}

bool Win32CommApi::writeByte(PortHandle port, std::uint8_t byte)
{
    DWORD written = 0;
    return WriteFile(handleOf(port), &byte, 1, &written, nullptr) != FALSE;
}
