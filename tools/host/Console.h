// Machine-readable output of the host simulator: one result per line, written
// whole from whichever thread produced it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

void say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// Prints `line` followed by `text`, ANSI bytes of code page 932, decoded and in
// quotes: as UTF-8 when the output is a pipe or a file, in the console's own
// characters when it is a console.
void sayWithText(const std::string& line, const std::string& text);
// Prints a line of UTF-8 text: as it is on a pipe or a file, in the console's
// own characters on a console.
void sayUtf8(const std::string& line);
std::string hexOf(const std::uint8_t* bytes, std::size_t count);
