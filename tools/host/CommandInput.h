// The simulator's commands, one a line, from a script file or from standard
// input. Standard input is read on a thread of its own, so that the emulated
// machine runs on while no command has come, and so that a running terminal
// line can see that its user typed something.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

class CommandInput {
public:
    // Every line of the file at once; false when it cannot be read.
    bool readScript(const std::string& path);
    // Standard input, read as it comes.
    void readStandardInput();

    bool take(std::string& line);  // the next line, if one has come
    bool waiting();                // a line has come, or the input has ended
    bool ended();                  // the input has ended and every line was taken
    void wait(DWORD milliseconds); // until a line comes or the input ends

private:
    static DWORD WINAPI readThread(void* self);
    void readLines();
    void add(const std::string& line);

    CRITICAL_SECTION lock_;
    HANDLE arrived_ = nullptr;
    std::deque<std::string> lines_;
    bool ended_ = false;
};

// Standard input's lines; started at first use.
CommandInput& standardInput();
