#include "fuzz/FuzzPort.h"

#include <cstring>

#include "device/Messages.h"
#include "device/ReentrantLock.h"
#include "fuzz/FuzzCheck.h"

namespace {
bool holdsDeviceOrRegisterLock()
{
    return lock_order::heldDepth(LockRank::Device) > 0 || lock_order::heldDepth(LockRank::Register) > 0;
}
}  // namespace

FuzzPort::FuzzPort()
{
    // What a port reports before anyone configured it: 9600 8N1, binary mode.
    state.DCBlength = 28;
    state.BaudRate = 9600;
    state.flags = 0x0001;
    state.ByteSize = 8;
}

void FuzzPort::checkInUse(PortHandle port) const
{
    FUZZ_CHECK(openHandle != kNoPort && port == openHandle, "port call on a handle that is not open");
    FUZZ_CHECK(holdsDeviceOrRegisterLock(), "port call without the device or register lock");
}

// A handle that has not yet answered for its line settings may be a file or a
// pipe: the device may only ask for them, or close it.
void FuzzPort::checkIsSerialPort() const
{
    FUZZ_CHECK(settingsRead, "port call on a handle that never gave its line settings");
}

PortHandle FuzzPort::open(const char* path)
{
    FUZZ_CHECK(holdsDeviceOrRegisterLock(), "port opened without the device's locks");
    FUZZ_CHECK(openHandle == kNoPort, "a second port opened while one is open");
    FUZZ_CHECK(std::strncmp(path, "//./", 4) == 0, "device path does not start with //./");
    FUZZ_CHECK(std::strlen(path) <= 4 + kMaxPortNameLength, "device path longer than its buffer allows");
    if (fails(kOpen)) return kNoPort;
    openHandle = nextHandle_++;
    settingsRead = false;
    return openHandle;
}

bool FuzzPort::close(PortHandle port)
{
    checkInUse(port);
    FUZZ_CHECK(lock_order::heldDepth(LockRank::Register) > 0, "port closed without the register lock");
    // A failed CloseHandle still leaves the handle unusable.
    openHandle = kNoPort;
    return !fails(kClose);
}

bool FuzzPort::getState(PortHandle port, CommState& out)
{
    checkInUse(port);
    if (fails(kGetState)) return false;
    settingsRead = true;
    out = state;
    return true;
}

bool FuzzPort::setState(PortHandle port, const CommState& in)
{
    checkInUse(port);
    checkIsSerialPort();
    // The driver refuses what a UART cannot do.
    const bool valid = in.BaudRate != 0 && in.ByteSize >= 5 && in.ByteSize <= 8 && in.Parity <= 4 && in.StopBits <= 2;
    if (fails(kSetState) || !valid) return false;
    state = in;
    return true;
}

bool FuzzPort::setTimeouts(PortHandle port, const CommTimeouts&)
{
    checkInUse(port);
    checkIsSerialPort();
    return !fails(kSetTimeouts);
}

bool FuzzPort::setEventMask(PortHandle port, std::uint32_t)
{
    checkInUse(port);
    checkIsSerialPort();
    return !fails(kSetEventMask);
}

bool FuzzPort::purge(PortHandle port, std::uint32_t flags)
{
    checkInUse(port);
    checkIsSerialPort();
    if (fails(kPurge)) return false;
    if (flags & 0x08) input.clear();  // PURGE_RXCLEAR
    return true;
}

bool FuzzPort::escape(PortHandle port, EscapeCode)
{
    checkInUse(port);
    checkIsSerialPort();
    return !fails(kEscape);
}

bool FuzzPort::getModemStatus(PortHandle port, std::uint32_t& lines)
{
    checkInUse(port);
    checkIsSerialPort();
    if (fails(kModemStatus)) return false;
    lines = modemLines;
    return true;
}

bool FuzzPort::clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued)
{
    checkInUse(port);
    checkIsSerialPort();
    if (fails(kClearErrors)) return false;
    errors = lineErrors;
    lineErrors = 0;
    inputQueued = static_cast<std::uint32_t>(input.size()) + phantomQueued;
    return true;
}

bool FuzzPort::readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead)
{
    checkInUse(port);
    checkIsSerialPort();
    bytesRead = 0;
    if (fails(kRead)) return false;
    if (input.empty()) return true;
    byte = lastDelivered = input.front();
    input.pop_front();
    bytesRead = 1;
    ++readsDelivered;
    return true;
}

bool FuzzPort::writeByte(PortHandle port, std::uint8_t byte)
{
    checkInUse(port);
    checkIsSerialPort();
    written.push_back(byte);  // what the device tried to send counts, failed or not
    return !fails(kWrite);
}
