#include "platform/win32/LineSelector.h"

#include <cstring>

#include "platform/network/LineName.h"
#include "platform/win32/NetworkLine.h"

namespace {
// A network line's handle is its object's address with the low bit set.
// Kernel handles never have it: their two low bits are always clear.
constexpr PortHandle kNetworkTag = 1;

bool isNetwork(PortHandle port) { return port != kNoPort && (port & kNetworkTag) != 0; }
NetworkLine* lineOf(PortHandle port) { return reinterpret_cast<NetworkLine*>(port & ~kNetworkTag); }

// The device names ports by their device path, "//./NAME".
const char* nameIn(const char* path)
{
    if (std::strncmp(path, "//./", 4) == 0 || std::strncmp(path, "\\\\.\\", 4) == 0) return path + 4;
    return path;
}
}  // namespace

bool LineSelector::reachesNetwork(const char* name) { return isNetworkLineName(nameIn(name)); }

PortHandle LineSelector::open(const char* path)
{
    const char* name = nameIn(path);
    if (!isNetworkLineName(name)) return comPorts_.open(path);
    NetworkLineName parsed;
    if (!parseNetworkLineName(name, parsed)) return kNoPort;
    NetworkLine* line = NetworkLine::start(parsed);
    return line ? (reinterpret_cast<PortHandle>(line) | kNetworkTag) : kNoPort;
}

bool LineSelector::close(PortHandle port)
{
    if (!isNetwork(port)) return comPorts_.close(port);
    delete lineOf(port);
    return true;
}

bool LineSelector::getState(PortHandle port, CommState& state)
{
    return isNetwork(port) ? lineOf(port)->getState(state) : comPorts_.getState(port, state);
}

bool LineSelector::setState(PortHandle port, const CommState& state)
{
    return isNetwork(port) ? lineOf(port)->setState(state) : comPorts_.setState(port, state);
}

bool LineSelector::setTimeouts(PortHandle port, const CommTimeouts& timeouts)
{
    // A network line never waits: every read returns at once already.
    return isNetwork(port) ? true : comPorts_.setTimeouts(port, timeouts);
}

bool LineSelector::setEventMask(PortHandle port, std::uint32_t mask)
{
    return isNetwork(port) ? true : comPorts_.setEventMask(port, mask);
}

bool LineSelector::purge(PortHandle port, std::uint32_t flags)
{
    return isNetwork(port) ? lineOf(port)->purge(flags) : comPorts_.purge(port, flags);
}

bool LineSelector::escape(PortHandle port, EscapeCode code)
{
    return isNetwork(port) ? lineOf(port)->escape(code) : comPorts_.escape(port, code);
}

bool LineSelector::getModemStatus(PortHandle port, std::uint32_t& lines)
{
    return isNetwork(port) ? lineOf(port)->getModemStatus(lines) : comPorts_.getModemStatus(port, lines);
}

bool LineSelector::clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued)
{
    return isNetwork(port) ? lineOf(port)->clearErrors(errors, inputQueued)
                           : comPorts_.clearErrors(port, errors, inputQueued);
}

bool LineSelector::readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead)
{
    return isNetwork(port) ? lineOf(port)->readByte(byte, bytesRead) : comPorts_.readByte(port, byte, bytesRead);
}

bool LineSelector::writeByte(PortHandle port, std::uint8_t byte)
{
    return isNetwork(port) ? lineOf(port)->writeByte(byte) : comPorts_.writeByte(port, byte);
}
