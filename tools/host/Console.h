// Machine-readable output of the host simulator: one result per line, written
// whole from whichever thread produced it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

void say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string hexOf(const std::uint8_t* bytes, std::size_t count);
