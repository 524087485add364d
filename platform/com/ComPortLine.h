// A COM port of this computer as a line: each line operation is one or two
// calls of the comm API, always the same calls with the same values, so that
// a port driver sees exactly what it always saw.
#pragma once

#include <memory>

#include "device/Line.h"
#include "platform/com/CommApi.h"
#include "platform/lines/LineKind.h"

class ComPortLine final : public Line {
public:
    // Opens the port by its name (COM1, or a device path such as \\.\COM12)
    // and reads its line settings. Null when it does not open, or when what
    // opened gives no line settings: then it is a file, a pipe or some other
    // device, and it is closed before a byte could reach it.
    static std::unique_ptr<ComPortLine> open(CommApi& comm, const char* name);
    ~ComPortLine() override;
    ComPortLine(const ComPortLine&) = delete;
    ComPortLine& operator=(const ComPortLine&) = delete;

    std::uint32_t features() const override;
    LineState state() override;
    void prepare() override;
    bool setFormat(const LineFormat& format) override;
    bool setRate(std::uint32_t rate) override;
    bool readFormat(LineFormat& format) override;
    bool setControl(Control control, bool on) override;
    bool readInputs(ModemInputs& inputs) override;
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override;
    bool readByte(std::uint8_t& byte) override;
    bool writeByte(std::uint8_t byte) override;
    void discard() override;

private:
    ComPortLine(CommApi& comm, PortHandle port, const CommState& settings);

    CommApi& comm_;
    PortHandle port_;
    CommState lastRead_;  // the settings as the open or state() last read them
};

// The kind for every name no other kind claims: a port of this computer.
class ComPortKind final : public LineKind {
public:
    explicit ComPortKind(CommApi& comm) : comm_(comm) {}
    bool claims(const char* name) const override;
    bool reachesOutside(const char* name) const override;
    std::unique_ptr<Line> open(const char* name) override;
    const char* name() const override { return "com"; }
    std::vector<const char*> forms() const override { return {"COMn", "\\\\.\\NAME"}; }

private:
    CommApi& comm_;
};
