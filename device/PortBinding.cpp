// Binding to the real serial port: opened by name, kept while the name stays
// the same and the port answers, set up for byte-at-a-time polling.
#include <cstring>

#include "device/Messages.h"
#include "device/Rs232cDevice.h"

namespace {
constexpr char kDevicePathPrefix[] = "//./";
}  // namespace

void Rs232cDevice::closePort()
{
    platform.serial->close(portHandle);
    portHandle = kNoPort;
    forgetCharacterFormat();
}

int Rs232cDevice::openPort(bool useApplied)
{
    AlertScope alerts(*this);  // the failure message waits until the locks are gone
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    if (!useApplied) std::memcpy(&appliedSettings, &configuredSettings, sizeof appliedSettings);

    // A name from a restored block may lack its NUL, and one from the settings
    // file may be too long for the path: neither is ever opened.
    const char* name = appliedSettings.portName;
    const std::size_t nameLength = strnlen(name, kPortNameSize);
    bool nameUsable = nameLength <= kMaxPortNameLength;

    // A save block may come from anyone: the network line it names is
    // reached only when it is the user's own choice of port.
    if (nameUsable && std::strncmp(name, userPortName, kPortNameSize) != 0) {
        char bareName[kPortNameSize];
        std::memcpy(bareName, name, nameLength);
        bareName[nameLength] = '\0';
        if (platform.serial->reachesNetwork(bareName)) nameUsable = false;
    }

    if (portOpen() && (!nameUsable || std::strncmp(openPortName, name, kPortNameSize) != 0)) closePort();

    // A port kept open whose settings can no longer be read has gone from
    // under its handle (a USB adapter pulled out, a device removed): that
    // handle never works again, so it is closed and the name opened afresh.
    CommState state;
    if (portOpen() && !platform.serial->getState(portHandle, state)) closePort();

    if (!portOpen()) {
        // A restore programs the port with several mode bytes; only the first
        // may open it, so a port that fails shows its message once.
        if (restoreOpenAttempted) {
            chip.portReady = 0;
            return 0;
        }
        if (restoring) restoreOpenAttempted = true;

        if (nameUsable) {
            char path[kMessageBufferSize];
            std::memcpy(path, kDevicePathPrefix, sizeof kDevicePathPrefix - 1);
            std::memcpy(path + sizeof kDevicePathPrefix - 1, name, nameLength);
            path[sizeof kDevicePathPrefix - 1 + nameLength] = '\0';
            portHandle = platform.serial->open(path);
        }
        // Every serial port answers for its line settings. A handle that does
        // not is a file, a pipe or some other device that a hand-edited
        // settings file or someone else's save block named: it is closed at
        // once, before a single byte could be written to it.
        if (portOpen() && !platform.serial->getState(portHandle, state)) closePort();
        if (!portOpen()) {
            chip.portReady = 0;
            char message[kMessageBufferSize];
            formatOpenFailure(message, name, nameLength);
            queueAlert(message);
            return 0;
        }
        forgetCharacterFormat();
    }

    chip.portReady = 1;
    std::memcpy(openPortName, name, kPortNameSize);

    // Re-apply the port's own settings every time (failures are the port's to
    // report, not ours), then make reads return at once with what is buffered.
    platform.serial->setState(portHandle, state);
    forgetCharacterFormat();
    platform.serial->setTimeouts(portHandle, CommTimeouts{kReadReturnsAtOnce, 0, 0, 0, 0});
    platform.serial->setEventMask(portHandle, kPortEventMask);
    return 1;
}
