// The device's side of the binding: which settings name the line, the
// message when it cannot be opened, and pacing that follows a new line.
#include <cstring>

#include "device/Messages.h"
#include "device/Rs232cDevice.h"

int Rs232cDevice::openPort(bool useApplied)
{
    AlertScope alerts(platform_.alert);  // the failure message waits until the locks are gone
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    return bindLine(useApplied);
}

int Rs232cDevice::bindLine(bool useApplied)
{
    if (!useApplied) appliedSettings_ = configuredSettings_;
    const PortBinding::Outcome outcome = binding_.bind(appliedSettings_.portName, userPortName_);
    pacing_.forgetFormat();
    if (outcome == PortBinding::Outcome::Failed) {
        char message[kMessageBufferSize];
        formatOpenFailure(message, appliedSettings_.portName, strnlen(appliedSettings_.portName, kPortNameSize));
        alertUser(message);
    }
    return outcome == PortBinding::Outcome::Bound ? 1 : 0;
}

void Rs232cDevice::closeLine()
{
    binding_.close();
    pacing_.forgetFormat();
}
