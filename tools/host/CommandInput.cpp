#include "tools/host/CommandInput.h"

#include <fstream>

#include "tools/host/SectionGuard.h"

bool CommandInput::readScript(const std::string& path)
{
    InitializeCriticalSection(&lock_);
    arrived_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    std::ifstream script(path);
    if (!script) return false;
    for (std::string line; std::getline(script, line);) add(line);
    ended_ = true;
    return true;
}

void CommandInput::readStandardInput()
{
    InitializeCriticalSection(&lock_);
    arrived_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, readThread, this, 0, nullptr);
    if (thread) CloseHandle(thread);
}

// Reads with ReadFile rather than the C runtime's streams: a read left
// waiting when the program ends then holds no runtime lock that the exit
// would wait for.
void CommandInput::readLines()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            add(pending.substr(0, end));
    }
    if (!pending.empty()) add(pending);
    SectionGuard guard(lock_);
    ended_ = true;
    SetEvent(arrived_);
}

DWORD WINAPI CommandInput::readThread(void* self)
{
    static_cast<CommandInput*>(self)->readLines();
    return 0;
}

void CommandInput::add(const std::string& line)
{
    SectionGuard guard(lock_);
    lines_.push_back(!line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
    SetEvent(arrived_);
}

bool CommandInput::take(std::string& line)
{
    SectionGuard guard(lock_);
    if (lines_.empty()) return false;
    line = lines_.front();
    lines_.pop_front();
    if (lines_.empty() && !ended_) ResetEvent(arrived_);
    return true;
}

bool CommandInput::waiting()
{
    SectionGuard guard(lock_);
    return ended_ || !lines_.empty();
}

bool CommandInput::ended()
{
    SectionGuard guard(lock_);
    return ended_ && lines_.empty();
}

void CommandInput::wait(DWORD milliseconds) { WaitForSingleObject(arrived_, milliseconds); }

CommandInput& standardInput()
{
    static CommandInput* input = [] {
        auto* reader = new CommandInput;
        reader->readStandardInput();
        return reader;
    }();
    return *input;
}
