#include "platform/com/ComPortLine.h"

#include <cstring>
#include <string>

// The line's parity and stop-bit values are the DCB's own, so they pass as they are.
static_assert(static_cast<int>(Parity::None) == kDcbNoParity && static_cast<int>(Parity::Odd) == kDcbOddParity &&
                  static_cast<int>(Parity::Even) == kDcbEvenParity && static_cast<int>(Parity::Mark) == kDcbMarkParity &&
                  static_cast<int>(Parity::Space) == kDcbSpaceParity,
              "parity codes");
static_assert(static_cast<int>(StopBits::One) == kDcbOneStopBit && static_cast<int>(StopBits::OneAndHalf) == kDcbOne5StopBits &&
                  static_cast<int>(StopBits::Two) == kDcbTwoStopBits,
              "stop bits");

namespace {
// Ports are opened by device path, which also reaches COM10 and above.
constexpr char kDevicePathPrefix[] = "//./";
constexpr std::size_t kPrefixLength = sizeof kDevicePathPrefix - 1;

// A user who already wrote the device path (\\.\COM12, as Windows' own
// documentation spells it) means the same port as by its bare name.
std::string devicePathOf(const char* name)
{
    if (std::strncmp(name, "\\\\.\\", kPrefixLength) == 0 || std::strncmp(name, kDevicePathPrefix, kPrefixLength) == 0)
        name += kPrefixLength;
    return kDevicePathPrefix + std::string(name);
}

EscapeCode escapeFor(Control control, bool on)
{
    switch (control) {
    case Control::Dtr: return on ? EscapeCode::SetDtr : EscapeCode::ClrDtr;
    case Control::Rts: return on ? EscapeCode::SetRts : EscapeCode::ClrRts;
    case Control::Break: break;
    }
    return on ? EscapeCode::SetBreak : EscapeCode::ClrBreak;
}
}  // namespace

std::unique_ptr<ComPortLine> ComPortLine::open(CommApi& comm, const char* name)
{
    const PortHandle port = comm.open(devicePathOf(name).c_str());
    if (port == kNoPort) return nullptr;
    CommState settings;
    if (!comm.getState(port, settings)) {
        comm.close(port);
        return nullptr;
    }
    return std::unique_ptr<ComPortLine>(new ComPortLine(comm, port, settings));
}

ComPortLine::ComPortLine(CommApi& comm, PortHandle port, const CommState& settings)
    : comm_(comm), port_(port), lastRead_(settings)
{
}

ComPortLine::~ComPortLine() { comm_.close(port_); }

std::uint32_t ComPortLine::features() const { return kLineHasFormat | kLineHasControls | kLineHasBreak; }

// A port whose settings can no longer be read has gone from under its handle
// (a USB adapter pulled out): that handle never works again.
LineState ComPortLine::state() { return comm_.getState(port_, lastRead_) ? LineState::Open : LineState::Gone; }

// The port's own settings written back as read, every time (a driver that
// lost them gets them again), then reads that return at once with what is
// buffered. Failures here are the port's own business.
void ComPortLine::prepare()
{
    comm_.setState(port_, lastRead_);
    comm_.setTimeouts(port_, CommTimeouts{kReadReturnsAtOnce, 0, 0, 0, 0});
    comm_.setEventMask(port_, kPortEventMask);
}

// Read, modify, write: everything the format does not name stays as the port
// reported it, the top bits of the flag word included. A record that could
// not be read is not written back, since its other fields would be guesses.
bool ComPortLine::setFormat(const LineFormat& format)
{
    CommState settings;
    if (!comm_.getState(port_, settings)) return false;
    settings.ByteSize = format.dataBits;
    settings.Parity = static_cast<std::uint8_t>(format.parity);
    settings.StopBits = static_cast<std::uint8_t>(format.stopBits);
    settings.BaudRate = format.rate;
    settings.DCBlength = kDcbLength;
    settings.flags = (settings.flags & kDcbFlagsKeptMask) | kDcbFlags | (format.checkParity ? kDcbParityFlag : 0);
    return comm_.setState(port_, settings);
}

bool ComPortLine::setRate(std::uint32_t rate)
{
    CommState settings;
    if (!comm_.getState(port_, settings)) return false;
    settings.BaudRate = rate;
    return comm_.setState(port_, settings);
}

// The fields pass as the port reports them, even values no format names: the
// character time is counted from them as they are.
bool ComPortLine::readFormat(LineFormat& format)
{
    CommState settings;
    if (!comm_.getState(port_, settings)) return false;
    format.rate = settings.BaudRate;
    format.dataBits = settings.ByteSize;
    format.parity = static_cast<Parity>(settings.Parity);
    format.stopBits = static_cast<StopBits>(settings.StopBits);
    format.checkParity = (settings.flags & kDcbParityFlag) != 0;
    return true;
}

bool ComPortLine::setControl(Control control, bool on) { return comm_.escape(port_, escapeFor(control, on)); }

bool ComPortLine::readInputs(ModemInputs& inputs)
{
    std::uint32_t lines = 0;
    if (!comm_.getModemStatus(port_, lines)) return false;
    inputs.cts = (lines & kModemCtsOn) != 0;
    inputs.dsr = (lines & kModemDsrOn) != 0;
    inputs.ring = (lines & kModemRingOn) != 0;
    inputs.dcd = (lines & kModemRlsdOn) != 0;
    return true;
}

bool ComPortLine::pollErrors(std::uint8_t& errors, std::uint32_t& waiting)
{
    std::uint32_t flags = 0;
    std::uint32_t queued = 0;
    if (!comm_.clearErrors(port_, flags, queued)) return false;
    errors = 0;
    if (flags & (kCommErrorRxOver | kCommErrorOverrun)) errors |= kLineErrorOverrun;
    if (flags & kCommErrorParity) errors |= kLineErrorParity;
    if (flags & kCommErrorFrame) errors |= kLineErrorFraming;
    waiting = queued;
    return true;
}

bool ComPortLine::readByte(std::uint8_t& byte)
{
    std::uint32_t got = 0;
    return comm_.readByte(port_, byte, got) && got == 1;
}

bool ComPortLine::writeByte(std::uint8_t byte) { return comm_.writeByte(port_, byte); }

void ComPortLine::discard() { comm_.purge(port_, kPurgeAll); }

bool ComPortKind::claims(const char*) const { return true; }

bool ComPortKind::reachesOutside(const char*) const { return false; }

std::unique_ptr<Line> ComPortKind::open(const char* name) { return ComPortLine::open(comm_, name); }
