#include "tools/host/TerminalLine.h"

#include <windows.h>

#include <deque>

#include "tools/host/Console.h"

namespace {
// Bytes held on each side: enough to keep the line busy between the guest's
// steps, few enough that a far end that stops reading holds the guest back
// (the received byte then waits in the USART, and the line's own flow control
// takes over).
constexpr std::size_t kHeld = 4096;

class TerminalPort : public GuestData {
public:
    explicit TerminalPort(HANDLE port) : port_(port) {}

    bool sends() const override { return true; }
    bool receives() const override { return true; }
    bool nextOut(std::uint8_t& byte) override
    {
        if (fromTerminal_.empty()) return false;
        byte = fromTerminal_.front();
        return true;
    }
    void takeOut() override { fromTerminal_.pop_front(); }
    bool roomIn() const override { return toTerminal_.size() < kHeld; }
    void putIn(std::uint8_t byte) override
    {
        if (toTerminal_.empty()) QueryPerformanceCounter(&firstHeld_);
        toTerminal_.push_back(byte);
    }
    bool complete() const override { return false; }

    // Writes what the guest received and reads what waits at the port; a
    // status query first, so that a port with nothing waiting costs no read.
    // A write costs under Wine about as much as a character's time at 115200
    // bit/s, so received bytes go out a millisecond's worth at a time: one
    // write a byte held the guest below the line's pace there.
    void exchange() override
    {
        if (heldLongEnough()) flush();
        DWORD errors = 0;
        COMSTAT status{};
        if (fromTerminal_.size() >= kHeld || !ClearCommError(port_, &errors, &status) || !status.cbInQue) return;
        std::uint8_t buffer[kHeld];
        const DWORD room = static_cast<DWORD>(kHeld - fromTerminal_.size());
        DWORD got = 0;
        if (ReadFile(port_, buffer, status.cbInQue < room ? status.cbInQue : room, &got, nullptr))
            fromTerminal_.insert(fromTerminal_.end(), buffer, buffer + got);
    }

    void flush()
    {
        if (toTerminal_.empty()) return;
        std::uint8_t buffer[kHeld];
        const std::size_t count = toTerminal_.size();
        for (std::size_t i = 0; i < count; ++i) buffer[i] = toTerminal_[i];
        DWORD written = 0;
        if (WriteFile(port_, buffer, static_cast<DWORD>(count), &written, nullptr))
            toTerminal_.erase(toTerminal_.begin(), toTerminal_.begin() + written);
    }

private:
    bool heldLongEnough() const
    {
        if (toTerminal_.empty()) return false;
        if (toTerminal_.size() >= kBatch) return true;
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return (now.QuadPart - firstHeld_.QuadPart) * 1000 >= frequency.QuadPart;
    }

    static constexpr std::size_t kBatch = 256;
    HANDLE port_;
    LARGE_INTEGER firstHeld_{};
    std::deque<std::uint8_t> fromTerminal_;
    std::deque<std::uint8_t> toTerminal_;
};

// Raw eight-bit bytes with no flow control, as a pseudo-terminal carries them;
// reads that return at once; writes that give up rather than stall the guest.
bool prepare(HANDLE port)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb)) {
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = dcb.fInX = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(port, &dcb);  // a pseudo-terminal keeps 8N1 whatever it is told
    }
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 1};
    return SetCommTimeouts(port, &timeouts) != 0;
}
}  // namespace

bool runTerminal(const std::string& port, bool (*stopWanted)(), Transfer& result)
{
    const std::string path = "//./" + port;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        say("error cannot open %s (error %lu)", port.c_str(), GetLastError());
        return false;
    }
    if (!prepare(handle)) {
        say("error %s takes no timeouts (error %lu)", port.c_str(), GetLastError());
        CloseHandle(handle);
        return false;
    }
    TerminalPort terminal(handle);
    TransferLimits limits;
    limits.idleMilliseconds = MAXDWORD;  // the line may be quiet for as long as its user likes
    result = drive(terminal, limits, stopWanted);
    terminal.flush();
    CloseHandle(handle);
    return true;
}
