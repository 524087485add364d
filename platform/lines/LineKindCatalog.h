// The catalog of line kinds: a name belongs to the first kind that claims it,
// and to the COM port when no other kind does, since any name the user has
// not marked as something else is a port of this computer.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/lines/LineKind.h"

class LineKindCatalog final : public LineCatalog {
public:
    // The kinds are asked in the order given; `everyOtherName` takes the
    // names none of them claims. All of them outlive the catalog.
    LineKindCatalog(std::initializer_list<LineKind*> kinds, LineKind& everyOtherName);

    std::unique_ptr<Line> open(const char* name) override;
    bool reachesOutside(const char* name) override;

    // One line per form a name takes, "KIND FORM", every other name's kind last.
    std::vector<std::string> listing() const;

private:
    LineKind& kindOf(const char* name) const;

    std::vector<LineKind*> kinds_;
    LineKind& everyOtherName_;
};
