// hostsim: loads RS232C.dll as the PC-emulator host does and plays the guest.
//
//   hostsim [options] [script]
//
//   --dll PATH      the plug-in (default: RS232C.dll beside hostsim.exe)
//   --ini PATH      the settings file handed to SetPath (default: hostsim.ini here)
//   --port NAME     write PORT=NAME into the settings file first
//   --baud RATE     write LOCK=1 and BAUDRATE=RATE into the settings file first
//   --clock HZ      the emulated machine's system clock (default 2457600)
//   --virtual       virtual time: the timer runs only as commands advance it
//   --host MODEL    emulator (default): the guest and the timer share one
//                   thread, as in an emulator's main loop; threaded: the
//                   timer has a thread of its own and the guest waits for
//                   line 4 on an event
//   --terminal PORT the guest programs the USART for 8N1 with its receive
//                   and transmit interrupts and hands its side to PORT (a
//                   second serial port) until a line comes on standard input
//   --list-kinds    prints the kinds of line a PORT name can give, one form a
//                   line ("kind network tcp:HOST[:PORT]"), wired as the
//                   plug-in wires them, and exits
//   --list-modem    prints what the modem answers to, one item a line, from
//                   its own tables ("command &K 0-6", "register S7",
//                   "result NO ANSWER 8", "connect 9600 12"), and exits
//   --monitor       prints the plug-in's line monitor log as it grows (the
//                   log the settings' MONITOR names; hostsim-monitor.log
//                   beside them when they name none)
//
// Commands come from the script file, or from standard input without one;
// see README.md for the list. The emulator host is the default because it
// is how a PC emulator calls the plug-in: one thread runs the CPU and, between
// its instructions, the timer callbacks; the threaded host stays for a host
// whose timer runs on a thread of its own, which the plug-in must serve too.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/lines/LineKinds.h"
#include "platform/modem/Modem.h"
#include "platform/win32/PerformanceCounterClock.h"
#include "platform/win32/Win32CommApi.h"
#include "platform/win32/WinsockNetwork.h"
#include "tools/host/CommTrace.h"
#include "tools/host/CommandInput.h"
#include "tools/host/Commands.h"
#include "tools/host/Console.h"
#include "tools/host/Dialogs.h"
#include "tools/host/EmulatorWindow.h"
#include "tools/host/HostMachine.h"
#include "tools/host/HostModel.h"
#include "tools/host/MonitorFollower.h"

namespace {
struct Options {
    std::string dll;
    std::string ini = "hostsim.ini";
    std::string port;
    std::string baud;
    std::uint32_t clock = 2457600;
    bool virtualTime = false;
    HostModel host = HostModel::Emulator;
    std::string terminal;
    bool monitor = false;
    std::string script;
    bool listKinds = false;
    bool listModem = false;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--dll") options.dll = value();
        else if (a == "--ini") options.ini = value();
        else if (a == "--port") options.port = value();
        else if (a == "--baud") options.baud = value();
        else if (a == "--clock") options.clock = static_cast<std::uint32_t>(std::strtoul(value().c_str(), nullptr, 10));
        else if (a == "--virtual") options.virtualTime = true;
        else if (a == "--list-kinds") options.listKinds = true;
        else if (a == "--list-modem") options.listModem = true;
        else if (a == "--monitor") options.monitor = true;
        else if (a == "--host") {
            const std::string model = value();
            if (model == "emulator") options.host = HostModel::Emulator;
            else if (model == "threaded") options.host = HostModel::Threaded;
            else return false;
        } else if (a == "--terminal") {
            options.terminal = value();
            if (options.terminal.empty()) return false;
        }
        else if (a.rfind("--", 0) == 0) return false;
        else options.script = a;
    }
    return true;
}

std::string besideProgram(const char* name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/") + 1) + name;
}

// The kinds of line the plug-in's sources wire, listed from the same wiring.
int listKinds()
{
    Win32CommApi comm;
    WinsockNetwork network;
    PerformanceCounterClock clock;
    struct NoNumbers final : Phonebook {
        std::optional<std::string> lookup(const std::string&) override { return std::nullopt; }
    } phonebook;
    struct Defaults final : dialup::DialupSettingsSource {
        dialup::DialupSettings read() override { return {}; }
    } dialupSettings;
    const LineKinds kinds(LineServices{comm, network, clock, phonebook, dialupSettings, ""});
    for (const std::string& line : kinds.listing()) std::printf("kind %s\n", line.c_str());
    return 0;
}

int listModem()
{
    for (const std::string& line : Modem::listing()) std::printf("%s\n", line.c_str());
    return 0;
}

// Runs the commands as they come; between them the emulator's loop keeps the
// machine's time running, as a user's emulator does while nobody types.
void runCommands(CommandInput& commands)
{
    const bool machineRunsOn = hostModel() == HostModel::Emulator && !hostTimer().virtualClock();
    std::string line;
    for (;;) {
        if (commands.take(line)) {
            if (!runCommand(line)) return;
        } else if (commands.ended()) {
            return;
        } else if (machineRunsOn) {
            letTimePass();
        } else {
            commands.wait(INFINITE);
        }
    }
}
}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: hostsim [--dll PATH] [--ini PATH] [--port NAME] [--baud RATE] [--clock HZ] "
                             "[--virtual] [--host emulator|threaded] [--terminal PORT] [--monitor] [--list-kinds] [--list-modem] [script]\n");
        return 2;
    }
    if (options.listKinds) return listKinds();
    if (options.listModem) return listModem();
    if (options.dll.empty()) options.dll = besideProgram("RS232C.dll");
    options.ini = absolutePath(options.ini);
    if (!options.port.empty()) WritePrivateProfileStringA("RS-232C", "PORT", options.port.c_str(), options.ini.c_str());
    if (!options.baud.empty()) {
        WritePrivateProfileStringA("RS-232C", "LOCK", "1", options.ini.c_str());
        WritePrivateProfileStringA("RS-232C", "BAUDRATE", options.baud.c_str(), options.ini.c_str());
    }
    if (options.monitor) startMonitorFollower(monitorLogOf(options.ini));

    HostMachine& machine = hostMachine();
    startHost(options.host, options.virtualTime ? HostTimer::Clock::Virtual : HostTimer::Clock::RealTime);
    startAlertWatcher();
    if (!machine.loadPlugin(options.dll.c_str())) return 1;
    traceCommCalls(machine.module());

    // The host's order: settings, entry, system-port hooks, panel, power-on reset.
    char version[64] = "";
    std::int32_t length = machine.plugin().deviceVer(version);
    say("plugin %s version=%s length=%d clock=%u time=%s host=%s", options.dll.c_str(), version, length,
        options.clock, options.virtualTime ? "virtual" : "real", hostModelName(options.host));
    machine.plugin().setPath(options.ini.c_str());
    say("setpath %s", options.ini.c_str());
    say("entry result=%d", machine.enter(options.clock));
    say("conect result=%d", machine.connect());
    if (!emulatorWindow().start(machine.plugin())) return 1;
    machine.machineReset();
    say("ready");

    int status = 0;
    if (!options.terminal.empty()) {
        // As a terminal program's driver starts: 9600 bit/s unless the settings
        // lock a rate, 8N1, receiver and transmitter on with DTR and RTS, and
        // the RxRDY and TxRDY interrupts.
        for (const char* command : {"timer2 16", "mode 4E", "cmd 37", "out 35 05"}) runCommand(command);
        runCommand("terminal " + options.terminal);
    }
    if (options.script.empty()) {
        runCommands(standardInput());
    } else {
        CommandInput script;
        if (script.readScript(options.script)) {
            runCommands(script);
        } else {
            say("error cannot read %s", options.script.c_str());
            status = 1;
        }
    }

    stopHost();
    emulatorWindow().close();
    stopAlertWatcher();
    stopMonitorFollower();
    say("bye");
    return status;
}
