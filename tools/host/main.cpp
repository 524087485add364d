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
//
// Commands come from the script file, or from standard input without one;
// see README.md for the list.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "tools/host/CommTrace.h"
#include "tools/host/Commands.h"
#include "tools/host/Console.h"
#include "tools/host/Dialogs.h"
#include "tools/host/HostMachine.h"
#include "tools/host/HostTimer.h"
#include "tools/host/EmulatorWindow.h"

namespace {
struct Options {
    std::string dll;
    std::string ini = "hostsim.ini";
    std::string port;
    std::string baud;
    std::uint32_t clock = 2457600;
    bool virtualTime = false;
    std::string script;
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

// The private-profile functions take a bare name as a file in the Windows
// folder, so the settings path is made absolute.
std::string absolute(const std::string& path)
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::string(full) : path;
}

int runScript(std::istream& input)
{
    std::string line;
    while (std::getline(input, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!runCommand(line)) break;
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: hostsim [--dll PATH] [--ini PATH] [--port NAME] [--baud RATE] [--clock HZ] "
                             "[--virtual] [script]\n");
        return 2;
    }
    if (options.dll.empty()) options.dll = besideProgram("RS232C.dll");
    options.ini = absolute(options.ini);
    if (!options.port.empty()) WritePrivateProfileStringA("RS-232C", "PORT", options.port.c_str(), options.ini.c_str());
    if (!options.baud.empty()) {
        WritePrivateProfileStringA("RS-232C", "LOCK", "1", options.ini.c_str());
        WritePrivateProfileStringA("RS-232C", "BAUDRATE", options.baud.c_str(), options.ini.c_str());
    }

    HostMachine& machine = hostMachine();
    hostTimer().start(options.virtualTime ? HostTimer::Clock::Virtual : HostTimer::Clock::RealTime);
    startAlertWatcher();
    if (!machine.loadPlugin(options.dll.c_str())) return 1;
    traceCommCalls(machine.module());

    // The host's order: settings, entry, system-port hooks, panel, power-on reset.
    char version[64] = "";
    std::int32_t length = machine.plugin().deviceVer(version);
    say("plugin %s version=%s length=%d clock=%u time=%s", options.dll.c_str(), version, length, options.clock,
        options.virtualTime ? "virtual" : "real");
    machine.plugin().setPath(options.ini.c_str());
    say("setpath %s", options.ini.c_str());
    say("entry result=%d", machine.enter(options.clock));
    say("conect result=%d", machine.connect());
    if (!emulatorWindow().start(machine.plugin())) return 1;
    machine.machineReset();
    say("ready");

    int status;
    if (options.script.empty()) {
        status = runScript(std::cin);
    } else {
        std::ifstream script(options.script);
        status = script ? runScript(script) : (say("error cannot read %s", options.script.c_str()), 1);
    }

    hostTimer().stop();
    emulatorWindow().close();
    stopAlertWatcher();
    say("bye");
    return status;
}
