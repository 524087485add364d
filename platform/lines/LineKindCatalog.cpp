#include "platform/lines/LineKindCatalog.h"

LineKindCatalog::LineKindCatalog(std::initializer_list<LineKind*> kinds, LineKind& everyOtherName)
    : kinds_(kinds), everyOtherName_(everyOtherName)
{
}

LineKind& LineKindCatalog::kindOf(const char* name) const
{
    for (LineKind* kind : kinds_)
        if (kind->claims(name)) return *kind;
    return everyOtherName_;
}

std::unique_ptr<Line> LineKindCatalog::open(const char* name) { return kindOf(name).open(name); }

bool LineKindCatalog::reachesOutside(const char* name) { return kindOf(name).reachesOutside(name); }

std::vector<std::string> LineKindCatalog::listing() const
{
    std::vector<std::string> lines;
    std::vector<LineKind*> all = kinds_;
    all.push_back(&everyOtherName_);
    for (const LineKind* kind : all)
        for (const char* form : kind->forms()) lines.push_back(std::string(kind->name()) + " " + form);
    return lines;
}
