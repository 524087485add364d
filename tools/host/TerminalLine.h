// The guest's side of the USART handed to a second serial port: what arrives
// there the guest sends through the USART, at the line's pace, and what the
// guest receives it writes there. Under Wine that port is a pseudo-terminal,
// so a Linux program at its far end (a terminal program, chat, ckermit,
// lrzsz) plays the guest's communication software.
#pragma once

#include <string>

#include "tools/host/Guest.h"

// Opens `port` (a name such as COM2) and pumps both ways until `stopWanted`
// says so; false, with the reason said, when the port does not open.
bool runTerminal(const std::string& port, bool (*stopWanted)(), Transfer& result);
