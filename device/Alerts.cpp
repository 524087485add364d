// Message boxes wait for the user. The device's operations queue them here and
// the outermost operation on the thread shows them once its locks are gone.
#include <string>
#include <vector>

#include "device/Rs232cDevice.h"

namespace {
thread_local int scopeDepth = 0;
thread_local std::vector<std::string>* pendingAlerts = nullptr;

void showNow(UserAlert* alert, const char* text)
{
    if (alert) alert->show(text);
}
}  // namespace

AlertScope::AlertScope(UserAlert* alert) : alert_(alert) { ++scopeDepth; }

AlertScope::~AlertScope()
{
    if (--scopeDepth != 0 || !pendingAlerts) return;
    // Take the list first: a message box pumps messages, and whatever runs
    // inside it may raise alerts of its own.
    std::vector<std::string>* alerts = pendingAlerts;
    pendingAlerts = nullptr;
    for (const std::string& text : *alerts) showNow(alert_, text.c_str());
    delete alerts;
}

void queueAlert(UserAlert* alert, const char* text)
{
    if (scopeDepth == 0) {
        showNow(alert, text);
        return;
    }
    if (!pendingAlerts) pendingAlerts = new std::vector<std::string>();
    pendingAlerts->emplace_back(text);
}
