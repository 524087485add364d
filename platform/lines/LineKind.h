// One kind of line a user can name in the settings: a COM port, a network
// line, a modem. The catalog asks each kind in turn whether a name is its own.
#pragma once

#include <memory>

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
};
