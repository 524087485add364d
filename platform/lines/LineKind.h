// One kind of line a user can name in the settings: a COM port, a network
// line, a modem. The catalog asks each kind in turn whether a name is its own.
#pragma once

#include <memory>
#include <vector>

#include "device/Line.h"

class LineKind {
public:
    virtual ~LineKind() = default;
    // True when the name stands for a line of this kind, whether or not the
    // rest of it is well formed (a malformed one then fails to open).
    virtual bool claims(const char* name) const = 0;
    // True when a line of this kind reaches outside this computer.
    virtual bool reachesOutside(const char* name) const = 0;
    // The line the name stands for; null when it cannot be opened.
    virtual std::unique_ptr<Line> open(const char* name) = 0;

    // For the list of kinds a user can name (hostsim --list-kinds): the
    // kind's name, and the forms its names take, their fixed part in lower
    // case and what the user fills in in upper case ("tcp:HOST[:PORT]").
    virtual const char* name() const = 0;
    virtual std::vector<const char*> forms() const = 0;
};
