#include "tools/host/Commands.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "tools/host/CommTrace.h"
#include "tools/host/CommandInput.h"
#include "tools/host/Console.h"
#include "tools/host/Dialogs.h"
#include "tools/host/EmulatorWindow.h"
#include "tools/host/Guest.h"
#include "tools/host/HostMachine.h"
#include "tools/host/HostModel.h"
#include "tools/host/HostTimer.h"
#include "tools/host/TerminalLine.h"

namespace {
TransferLimits limits;

unsigned long number(const std::string& text, int base = 10) { return std::strtoul(text.c_str(), nullptr, base); }

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    std::uint8_t buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + count);
    std::fclose(file);
    return true;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// hex:414243, text:anything up to the end of the line, file:path
bool parseSource(const std::string& source, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    if (source.rfind("hex:", 0) == 0) {
        std::string digits = source.substr(4);
        if (digits.size() % 2) return false;
        for (std::size_t i = 0; i < digits.size(); i += 2)
            bytes.push_back(static_cast<std::uint8_t>(number(digits.substr(i, 2), 16)));
        return true;
    }
    if (source.rfind("text:", 0) == 0) {
        std::string text = source.substr(5);
        bytes.assign(text.begin(), text.end());
        return true;
    }
    if (source.rfind("file:", 0) == 0) return readFile(source.substr(5), bytes);
    return false;
}

// Bytes shown as text where printable, as \xNN otherwise.
std::string printable(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

void reportTransfer(const char* what, const Transfer& t)
{
    say("%s sent=%zu received=%zu units=%llu first=%llu expiries=%llu seconds=%.3f end=%s", what, t.sent,
        t.received, static_cast<unsigned long long>(t.elapsedUnits), static_cast<unsigned long long>(t.firstUnits),
        static_cast<unsigned long long>(t.expiries), t.seconds, t.end);
}

void reportReceived(const Transfer& t, const std::string& outFile)
{
    if (!outFile.empty()) {
        if (!writeFile(outFile, t.data)) say("error cannot write %s", outFile.c_str());
    } else if (t.data.size() <= 1024) {
        say("data hex=%s", hexOf(t.data.data(), t.data.size()).c_str());
        say("data text=%s", printable(t.data).c_str());
    }
}

void reportLines()
{
    std::uint8_t portB = guestIn(0x33);
    std::uint8_t status = guestIn(0x32);
    // Port B holds CI, CS and CD active low; the USART's status bit 7 is DSR.
    say("lines CS=%s CI=%s CD=%s DSR=%s portb=%02X status=%02X", (portB & 0x40) ? "off" : "on",
        (portB & 0x80) ? "off" : "on", (portB & 0x20) ? "off" : "on", (status & 0x80) ? "on" : "off", portB, status);
}

void reportTimer(bool forget)
{
    HostTimer::Report r = hostTimer().report();
    std::string periods;
    for (std::size_t i = 0; i < r.recentPeriods.size(); ++i) {
        if (i) periods += ',';
        periods += std::to_string(r.recentPeriods[i]);
    }
    say("timer acquired=%d armed=%d now=%llu expiries=%llu sets=%u starts=%u stops=%u halts=%u tick_us=%llu "
        "periods=%s",
        r.acquired ? 1 : 0, r.armed ? 1 : 0, static_cast<unsigned long long>(r.now),
        static_cast<unsigned long long>(r.expiries), r.sets, r.starts, r.stops, r.halts,
        static_cast<unsigned long long>(r.tickMicroseconds), periods.c_str());
    if (forget) hostTimer().forgetPeriods();
}

// CPU time of the whole process, and the real time spent inside the plug-in:
// its ticks (on the timer's thread) and the guest's port accesses.
void reportCpu()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto microseconds = [](const FILETIME& t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10;
    };
    HostTimer::Report r = hostTimer().report();
    say("cpu user_us=%llu kernel_us=%llu tick_us=%llu ticks=%llu guest_us=%llu accesses=%llu", microseconds(user),
        microseconds(kernel), static_cast<unsigned long long>(r.tickMicroseconds),
        static_cast<unsigned long long>(r.expiries), static_cast<unsigned long long>(guestMicroseconds()),
        static_cast<unsigned long long>(guestAccesses()));
    for (const std::string& call : commCallTimes()) say("cpu %s", call.c_str());
}

// The longest single tick and port access since the last "longest clear".
void reportLongest(bool forget)
{
    const HostTimer::Report r = hostTimer().report();
    if (forget) hostTimer().forgetLongest();
    const LongestAccess access = guestLongestAccess(forget);
    say("longest tick_us=%llu ticks_over_1ms=%llu ticks=%llu access_us=%llu accesses_over_1ms=%llu accesses=%llu",
        static_cast<unsigned long long>(r.longestTickMicroseconds),
        static_cast<unsigned long long>(r.ticksOverMillisecond), static_cast<unsigned long long>(r.ticksTimed),
        static_cast<unsigned long long>(access.microseconds), static_cast<unsigned long long>(access.overMillisecond),
        static_cast<unsigned long long>(access.timed));
}

// "load PATH after MS": the host restores the machine from a thread of its
// own while the guest goes on, as a user's click on "load" would.
struct LaterLoad {
    std::vector<std::uint8_t> block;
    DWORD delay;
};

DWORD WINAPI loadLater(void* context)
{
    auto* job = static_cast<LaterLoad*>(context);
    Sleep(job->delay);
    std::uint8_t result = 0;
    bool ok = hostMachine().load(job->block.data(), result);
    say("loaded result=%u%s", result, ok ? "" : " error");
    delete job;
    return 0;
}

bool needVirtual(const char* command)
{
    if (hostTimer().virtualClock()) return true;
    say("error %s needs virtual time (--virtual)", command);
    return false;
}

// The rest of the line after the first `words` words.
std::string rest(const std::string& line, int words)
{
    std::size_t at = 0;
    for (int i = 0; i < words; ++i) {
        at = line.find_first_not_of(" \t", at);
        at = at == std::string::npos ? at : line.find_first_of(" \t", at);
        if (at == std::string::npos) return "";
    }
    at = line.find_first_not_of(" \t", at);
    return at == std::string::npos ? "" : line.substr(at);
}

bool execute(const std::string& line, const std::vector<std::string>& word)
{
    const std::string& name = word[0];
    auto arg = [&](std::size_t i) { return i < word.size() ? word[i] : std::string(); };
    HostMachine& machine = hostMachine();

    if (name == "mode" || name == "cmd") {
        guestOut(0x32, static_cast<std::uint8_t>(number(arg(1), 16)));
    } else if (name == "write") {
        guestOut(0x30, static_cast<std::uint8_t>(number(arg(1), 16)));
    } else if (name == "out") {
        if (!machine.writePort(static_cast<std::uint16_t>(number(arg(1), 16)),
                               static_cast<std::uint8_t>(number(arg(2), 16)))) {
            say("error nothing answers writes to port %s", arg(1).c_str());
            return false;
        }
    } else if (name == "in" || name == "status" || name == "data" || name == "portb" || name == "portc") {
        std::uint16_t port = name == "in" ? static_cast<std::uint16_t>(number(arg(1), 16))
                             : name == "status" ? 0x32
                             : name == "data"   ? 0x30
                             : name == "portb"  ? 0x33
                                                : 0x35;
        std::uint8_t value = 0;
        if (!machine.readPort(port, value)) {
            say("error nothing answers reads of port %02X", port);
            return false;
        }
        say("%s %02X port=%02X", name.c_str(), value, port);
    } else if (name == "lines") {
        reportLines();
    } else if (name == "send" || name == "xfer") {
        std::vector<std::uint8_t> bytes;
        std::string source = name == "send" ? rest(line, 1) : arg(1);
        if (!parseSource(source, bytes)) {
            say("error cannot read %s", source.c_str());
            return false;
        }
        std::size_t want = name == "xfer" ? number(arg(2)) : 0;
        Transfer t = transfer(bytes, want, limits);
        reportTransfer(name == "send" ? "sent" : "xfer", t);
        if (name == "xfer") reportReceived(t, arg(3).rfind("file:", 0) == 0 ? arg(3).substr(5) : "");
        return std::string(t.end) == "done";
    } else if (name == "recv") {
        Transfer t = transfer({}, number(arg(1)), limits);
        reportTransfer("recv", t);
        reportReceived(t, arg(2).rfind("file:", 0) == 0 ? arg(2).substr(5) : "");
        return std::string(t.end) == "done";
    } else if (name == "listen") {
        TransferLimits window = limits;
        window.totalMilliseconds = static_cast<std::uint32_t>(number(arg(1)));
        window.idleMilliseconds = window.totalMilliseconds + 1;
        Transfer t = transfer({}, static_cast<std::size_t>(-1), window);
        reportTransfer("listen", t);
        reportReceived(t, arg(2).rfind("file:", 0) == 0 ? arg(2).substr(5) : "");
    } else if (name == "idle") {
        limits.idleMilliseconds = static_cast<std::uint32_t>(number(arg(1)));
    } else if (name == "ticks") {
        if (!needVirtual("ticks")) return false;
        unsigned long count = number(arg(1)), fired = 0;
        while (fired < count && hostTimer().fireNext()) ++fired;
        say("ticks fired=%lu now=%llu", fired, static_cast<unsigned long long>(hostTimer().now()));
    } else if (name == "advance") {
        if (!needVirtual("advance")) return false;
        std::uint64_t fired = hostTimer().advance(number(arg(1)));
        say("advanced fired=%llu now=%llu", static_cast<unsigned long long>(fired),
            static_cast<unsigned long long>(hostTimer().now()));
    } else if (name == "timer") {
        reportTimer(arg(1) == "clear");
    } else if (name == "timer2") {
        if (!machine.timer2Changed(static_cast<std::int32_t>(std::strtol(arg(1).c_str(), nullptr, 10)))) {
            say("error no Timer2 listener");
            return false;
        }
    } else if (name == "irq") {
        say("irq count=%u line=%d", machine.interruptCount(), machine.lastInterruptLine());
        if (arg(1) == "clear") machine.clearInterrupts();
    } else if (name == "reset") {
        if (!machine.machineReset()) return false;
    } else if (name == "poweroff") {
        if (!machine.powerOff()) return false;
    } else if (name == "save") {
        std::vector<std::uint8_t> block(machine.saveSize);
        std::uint32_t size = 0;
        if (!machine.save(block.data(), size) || !writeFile(arg(1), block)) {
            say("error cannot save to %s", arg(1).c_str());
            return false;
        }
        say("saved bytes=%u", size);
    } else if (name == "load") {
        std::vector<std::uint8_t> block;
        if (!readFile(arg(1), block) || block.size() != machine.saveSize) {
            say("error %s is not a %u-byte block", arg(1).c_str(), machine.saveSize);
            return false;
        }
        if (arg(2) == "after") {
            HANDLE thread = CreateThread(nullptr, 0, loadLater,
                                         new LaterLoad{block, static_cast<DWORD>(number(arg(3)))}, 0, nullptr);
            if (!thread) return false;
            CloseHandle(thread);
            return true;
        }
        std::uint8_t result = 0;
        if (!machine.load(block.data(), result)) return false;
        say("loaded result=%u", result);
    } else if (name == "config") {
        return driveConfigDialog(std::vector<std::string>(word.begin() + 1, word.end()));
    } else if (name == "panel") {
        return dumpPanel();
    } else if (name == "cpu") {
        reportCpu();
    } else if (name == "longest") {
        reportLongest(arg(1) == "clear");
    } else if (name == "comm") {
        for (const std::string& call : takeCommCalls()) say("%s", call.c_str());
    } else if (name == "registrations") {
        for (const std::string& what : machine.registrations()) say("registered %s", what.c_str());
    } else if (name == "version") {
        char text[64] = "";
        std::int32_t length = machine.plugin().deviceVer(text);
        say("version length=%d text=%s", length, text);
    } else if (name == "exclusive") {
        // Whether a file can be opened with no sharing, as a port is: it
        // cannot while any process, the plug-in included, still holds it.
        HANDLE file = CreateFileA(arg(1).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            say("exclusive result=failed error=%lu", GetLastError());
        } else {
            CloseHandle(file);
            say("exclusive result=ok");
        }
    } else if (name == "wait") {
        passRealTime(static_cast<DWORD>(number(arg(1))));
    } else if (name == "terminal") {
        Transfer t;
        if (!runTerminal(arg(1), [] { return standardInput().waiting(); }, t)) return false;
        reportTransfer("terminal", t);
    } else if (name == "setpath") {
        // A host that lets its user choose another settings file hands the new path over.
        machine.plugin().setPath(absolutePath(arg(1)).c_str());
    } else if (name == "sync") {
        emulatorWindow().sync();
    } else if (name == "echo") {
        say("%s", rest(line, 1).c_str());
    } else {
        say("error unknown command %s", name.c_str());
        return false;
    }
    return true;
}
}  // namespace

bool runCommand(const std::string& line)
{
    std::istringstream stream(line);
    std::vector<std::string> word;
    for (std::string w; stream >> w;) word.push_back(w);
    if (word.empty() || word[0][0] == '#') return true;
    if (word[0] == "quit" || word[0] == "exit") return false;
    bool ok = execute(line, word);
    say("%s %s", ok ? "done" : "failed", word[0].c_str());
    return true;
}
