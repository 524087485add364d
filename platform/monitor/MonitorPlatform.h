// What the line monitor needs of the machine, and nothing more: files it
// appends to and renames, threads that write them, and a thread for the
// message that says they could not be written. Win32 code implements it in
// platform/win32 (the MinGW compilers have no std::thread), the standard
// library in platform/native.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class MonitorFile {
public:
    virtual ~MonitorFile() = default;  // closes the file
    // Writes all of `data` at the end of the file; false when it could not
    // (a full disk, a file taken away).
    virtual bool write(const char* data, std::size_t length) = 0;
};

class MonitorPlatform {
public:
    virtual ~MonitorPlatform() = default;

    // Opens the file at `path` (in the ANSI code page on Windows) to write at
    // its end, making it when absent, and sets `size` to its length. Others
    // may read it meanwhile and rename it, but not write it. Null when it
    // cannot be had: a folder that does not exist, a file another program
    // holds, no right to write there.
    virtual std::unique_ptr<MonitorFile> openForAppend(const std::string& path, std::uint64_t& size) = 0;
    // Renames `from` to `to`, replacing a file of that name. False when it could not.
    virtual bool replace(const std::string& from, const std::string& to) = 0;

    // Runs `pass` on a thread of its own every `periodMs` milliseconds until
    // a pass returns false; the thread then destroys `pass` and ends, and
    // nobody waits for it. While it runs it keeps the plug-in's code loaded,
    // so that a host unloading the plug-in meanwhile does not pull the code
    // from under it. False when no thread could be had.
    virtual bool startWriter(std::function<bool()> pass, unsigned periodMs) = 0;
    // Runs `task` on a thread of its own that nobody waits for (a message box
    // that waits for the user).
    virtual void runDetached(std::function<void()> task) = 0;
};
