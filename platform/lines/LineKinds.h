// The kinds of line the plug-in ships, wired in this one place: the plug-in
// at its load, the host simulator (which lists them for the release check)
// and the tests all build their catalog here, each with its own services.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ComPortLine.h"
#include "platform/dialup/DialupSwitchboard.h"
#include "platform/lines/LineKindCatalog.h"
#include "platform/modem/ModemLineKind.h"
#include "platform/network/NetworkLineKind.h"

// What the kinds reach the machine through; each outlives the kinds.
struct LineServices {
    CommApi& comm;
    Network& network;
    Clock& clock;
    Phonebook& phonebook;
    dialup::DialupSettingsSource& dialupSettings;  // [RS-232C Dialup], read at each call to the server
    std::string modemIdentity;  // what the modem's ATI shows
};

class LineKinds final : public LineCatalog {
public:
    // Network lines first, then the modem; every other name is a COM port.
    explicit LineKinds(const LineServices& services);

    std::unique_ptr<Line> open(const char* name) override { return catalog_.open(name); }
    bool reachesOutside(const char* name) override { return catalog_.reachesOutside(name); }
    std::vector<std::string> listing() const { return catalog_.listing(); }

private:
    dialup::DialupSwitchboard switchboard_;
    ComPortKind comPorts_;
    NetworkLineKind networkLines_;
    ModemLineKind modems_;
    LineKindCatalog catalog_;
};
