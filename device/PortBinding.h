// The line behind the USART: opened by the user's name through the catalog of
// line kinds, kept while the name stays the same and the line is not gone,
// and made ready for polled, byte-at-a-time use every time it is bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/Line.h"
#include "device/LineSettings.h"

class PortBinding {
public:
    enum class Outcome {
        Bound,
        Failed,          // the user is to be told
        FailedQuietly,   // a restore already tried and told
    };

    void construct(LineCatalog* catalog);

    // The open line, or null.
    Line* line() const { return line_.get(); }
    bool hasFeature(LineFeature feature) const { return line_ && (features_ & feature) != 0; }
    const char* openName() const { return openName_; }

    // 1 after the last bind succeeded, 0 after it failed or the line closed
    // with the machine; a restore sets it as saved.
    std::uint8_t portReady() const { return portReady_; }
    void setPortReady(std::uint8_t ready) { portReady_ = ready; }

    // Binds the line named by `name` (kPortNameSize bytes, perhaps without a
    // NUL). `userPortName` is the user's own choice: only that name may reach
    // outside this computer.
    Outcome bind(const char* name, const char* userPortName);
    void close()
    {
        line_.reset();
        features_ = 0;
    }

    // A restore programs the line with several mode bytes; only its first
    // open may reach the catalog, so a line that fails is reported once.
    void beginRestore()
    {
        restoring_ = true;
        restoreOpenAttempted_ = false;
    }
    void endRestore() { restoring_ = restoreOpenAttempted_ = false; }

private:
    LineCatalog* catalog_ = nullptr;
    std::unique_ptr<Line> line_;
    std::uint32_t features_ = 0;  // the open line's, asked once: they never change
    char openName_[kPortNameSize] = {};
    std::uint8_t portReady_ = 0;
    bool restoring_ = false;
    bool restoreOpenAttempted_ = false;
};
