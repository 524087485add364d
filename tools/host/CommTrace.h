// Records what the plug-in asks of the real serial port.
//
// Under Wine the port is a pseudo-terminal, which forces 8 data bits and no
// parity and reads back a line-settings record of its own, so the only place
// to see the byte size, parity and flow-control flags the plug-in chose is
// the record it passes to SetCommState. The host patches the plug-in's
// imports of the comm functions with recorders that call the real ones.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Installs the recorders into the module's import table; false if any is missing.
bool traceCommCalls(HMODULE plugin);
// The calls recorded since the last take, one line each, oldest first.
std::vector<std::string> takeCommCalls();

// The calls the character timer and the status reads make too often to list
// one by one are counted and timed instead: one "name count=N us=T" line each,
// totals since the program started. Beside the comm calls, the socket calls
// of the network lines (send, recv, select, ioctlsocket, accept).
std::vector<std::string> commCallTimes();
