// The simulator's command language: one command a line, from a script file
// or standard input. Every command prints its results, one per line, and
// ends with "done <command>"; problems are reported as "error ..." lines.
#pragma once

#include <string>

// Runs one command line; false when it asks to quit.
bool runCommand(const std::string& line);
