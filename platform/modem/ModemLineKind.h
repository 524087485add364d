// The modem as a kind of line:
//   modem                   a modem that dials out
//   modem:[ADDRESS:]PORT    one that also answers calls on that TCP port, on
//                           127.0.0.1 unless an address is named (as listen:)
// Any letter case. A modem dials outside this computer, so a save block may
// name one only when it is the user's own choice.
#pragma once

#include <string>

#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"
#include "platform/lines/LineKind.h"
#include "platform/modem/Switchboard.h"

class ModemLineKind final : public LineKind {
public:
    // The identity ATI shows is cut to this length.
    static constexpr std::size_t kLongestIdentity = 200;

    // All three outlive the kind and its lines: the switchboard places the
    // modems' calls, the network takes their callers. `identity` is what ATI
    // shows, one line.
    ModemLineKind(Switchboard& switchboard, Network& network, Clock& clock, std::string identity);
    bool claims(const char* name) const override;
    bool reachesOutside(const char*) const override { return true; }
    // Null for a malformed name, and when the port to answer on cannot be had.
    std::unique_ptr<Line> open(const char* name) override;
    const char* name() const override { return "modem"; }
    std::vector<const char*> forms() const override { return {"modem", "modem:[ADDRESS:]PORT"}; }

private:
    Switchboard& switchboard_;
    Network& network_;
    Clock& clock_;
    std::string identity_;
};
