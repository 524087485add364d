// Message boxes wait for the user. The device's operations queue them here and
// the outermost operation on the thread shows them once its locks are gone.
#include <string>
#include <vector>

#include "device/Rs232cDevice.h"

namespace {
thread_local int scopeDepth = 0;
thread_local std::vector<std::string>* pendingAlerts = nullptr;

void showNow(Rs232cDevice& device, const char* text)
{
    if (device.platform.alert) device.platform.alert->show(text);
}
}  // namespace

AlertScope::AlertScope(Rs232cDevice& device) : device_(device) { ++scopeDepth; }

AlertScope::~AlertScope()
{
    if (--scopeDepth != 0 || !pendingAlerts) return;
    // Take the list first: a message box pumps messages, and whatever runs
    // inside it may raise alerts of its own.
    std::vector<std::string>* alerts = pendingAlerts;
    pendingAlerts = nullptr;
    for (const std::string& text : *alerts) showNow(device_, text.c_str());
    delete alerts;
}

void Rs232cDevice::queueAlert(const char* text)
{
    if (scopeDepth == 0) {
        showNow(*this, text);
        return;
    }
    if (!pendingAlerts) pendingAlerts = new std::vector<std::string>();
    pendingAlerts->emplace_back(text);
}
