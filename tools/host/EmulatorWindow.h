// The host's window: a tab control whose pages are the plug-ins' panels. It
// runs on a thread of its own, as the host's user interface does, and the
// status panel and the configuration dialog run there too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/host/HostMachine.h"

class EmulatorWindow {
public:
    // Creates the window on its own thread and gives the plug-in its tab
    // (FastGUI at position 0, before the host's own "System" tab).
    bool start(const PluginExports& plugin);
    void close();

    HWND window() const { return window_; }
    HWND tabs() const { return tabs_; }
    HWND panel() const { return panel_; }
    // The tab items the plug-in inserted, as it passed them:
    // "position=0 mask=5 text=232C limit=4 image=-1".
    const std::vector<std::string>& tabInsertions() const { return tabInsertions_; }

    // Returns once the window's thread has handled every message posted to it
    // before, so that what the plug-in posted to the panel has been applied.
    void sync();

    // Opens the configuration dialog on the window's thread; returns at once.
    void openConfig();
    // Waits for the dialog to close; false on time-out.
    bool waitConfig(DWORD milliseconds, std::intptr_t& result);

private:
    static DWORD WINAPI threadMain(void* self);
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK watchTabs(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void run();
    void layOut();
    void showSelectedPage();

    const PluginExports* plugin_ = nullptr;
    HWND window_ = nullptr;
    HWND tabs_ = nullptr;
    HWND panel_ = nullptr;
    HANDLE ready_ = nullptr;
    HANDLE configDone_ = nullptr;
    std::intptr_t configResult_ = 0;
    HANDLE thread_ = nullptr;
    WNDPROC tabsProcedure_ = nullptr;
    std::vector<std::string> tabInsertions_;
};

EmulatorWindow& emulatorWindow();
