// The modem's answers to the guest: result codes (in words or as numbers,
// ITU-T V.250 style) and information text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/modem/ModemProfile.h"

enum class Result : std::uint8_t { Ok, Connect, Ring, NoCarrier, Error, NoDialtone, Busy, NoAnswer };

// Appends the result as the profile wants it: nothing under Q1; under X0 to
// X3 the results that set does not tell apart become NO CARRIER; CONNECT
// carries the rate from X1 on. `rate` is the guest's line rate.
void appendResult(const ModemProfile& profile, Result result, std::uint32_t rate, std::string& out);

// Appends information text (ATI, Sn?, &V): framed by CR LF under V1,
// followed by CR LF under V0.
void appendInformation(const ModemProfile& profile, std::string_view text, std::string& out);

// The result codes, "result NO CARRIER 3", and CONNECT's numbers by rate,
// "connect 9600 12", one a line.
std::vector<std::string> resultListing();
