// The windows the plug-in shows, read and driven the way a test needs:
// message boxes read and closed, the configuration dialog driven by window
// messages, the status panel's LEDs and figures read back.
#pragma once

#include <string>
#include <vector>

// Watches for the plug-in's message boxes from a thread of its own; prints
// each one's caption and text (hex bytes of the ANSI texts) and presses OK.
void startAlertWatcher();
void stopAlertWatcher();

// Opens the configuration dialog and applies the actions in order:
//   dump | select <id> <text> | click <id> | wait <ms> | ok | cancel | escape
// then waits for the dialog to close and prints its result.
bool driveConfigDialog(const std::vector<std::string>& actions);

// Prints the tabs, the four LEDs (lit, dark or what they hold) and the five
// figure fields of the status panel.
bool dumpPanel();
