#include "device/PortBinding.h"

#include <cstring>

#include "device/Messages.h"

void PortBinding::construct(LineCatalog* catalog)
{
    catalog_ = catalog;
    close();
    std::memset(openName_, 0, sizeof openName_);
    portReady_ = 0;
    restoring_ = restoreOpenAttempted_ = false;
}

PortBinding::Outcome PortBinding::bind(const char* name, const char* userPortName)
{
    // A name from a restored block may lack its NUL, and one from the settings
    // file may be too long for the message buffer: neither is ever opened.
    const std::size_t nameLength = strnlen(name, kPortNameSize);
    bool nameUsable = nameLength <= kMaxPortNameLength;
    char bareName[kPortNameSize] = {};
    if (nameUsable) std::memcpy(bareName, name, nameLength);

    // A save block may come from anyone: a name that reaches outside this
    // computer is opened only when it is the user's own choice.
    if (nameUsable && std::strncmp(name, userPortName, kPortNameSize) != 0 && catalog_->reachesOutside(bareName))
        nameUsable = false;

    if (line_ && (!nameUsable || std::strncmp(openName_, name, kPortNameSize) != 0)) close();

    // A line that has gone (an adapter pulled out, a peer that hung up) never
    // works again: it is closed and the name opened afresh.
    if (line_ && line_->state() == LineState::Gone) close();

    if (!line_) {
        if (restoreOpenAttempted_) {
            portReady_ = 0;
            return Outcome::FailedQuietly;
        }
        if (restoring_) restoreOpenAttempted_ = true;
        if (nameUsable) line_ = catalog_->open(bareName);
        if (!line_) {
            portReady_ = 0;
            return Outcome::Failed;
        }
        features_ = line_->features();
    }

    portReady_ = 1;
    std::memcpy(openName_, name, kPortNameSize);
    line_->prepare();
    return Outcome::Bound;
}
