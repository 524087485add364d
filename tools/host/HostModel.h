// How the emulated machine shares the host's threads between its CPU, which
// runs the guest, and its timer.
//
// Emulator: as an emulator's main loop, one thread runs the guest's steps
// until the next timer expiry is due, then runs the plug-in's tick; when the
// tick raised line 4, the guest's interrupt service routine runs at its next
// step. No Win32 event stands between the tick and the guest. This is how a
// PC emulator calls the plug-in.
// Threaded: the timer fires from a thread of its own, and the guest, on the
// command thread, sleeps on an event until line 4 is raised (or a
// millisecond has passed): a host whose CPU and timer threads differ, which
// the plug-in must serve as well.
//
// In virtual time both fire each expiry on the guest's thread when the guest
// lets time pass; they differ in how the guest serves the USART.
#pragma once

#include <windows.h>

#include "tools/host/HostTimer.h"

enum class HostModel { Emulator, Threaded };

void startHost(HostModel model, HostTimer::Clock clock);
void stopHost();
HostModel hostModel();
const char* hostModelName(HostModel model);

// The guest has nothing to do until the timer moves something: lets the
// machine's time run to the next expiry (real time: for at most about a
// millisecond, so that the caller can look at its limits). False when time
// can never move (virtual time with nothing armed).
bool letTimePass();

// Whether line 4 was raised since the last call: the guest's interrupt
// service routine is due.
bool takeInterrupt();

// Lets `milliseconds` of real time pass; the emulator's loop keeps firing
// expiries meanwhile.
void passRealTime(DWORD milliseconds);
