#include "platform/modem/ResultCodes.h"

namespace {
struct ResultName {
    const char* words;
    std::uint8_t number;
};

// Indexed by Result.
constexpr ResultName kResults[] = {
    {"OK", 0}, {"CONNECT", 1}, {"RING", 2}, {"NO CARRIER", 3},
    {"ERROR", 4}, {"NO DIALTONE", 6}, {"BUSY", 7}, {"NO ANSWER", 8},
};

// The numbers of CONNECT with a rate, as the widespread Hayes-compatible
// chipsets number them; a rate without one of its own reads as plain CONNECT.
struct ConnectCode {
    std::uint32_t rate;
    std::uint8_t number;
};
constexpr ConnectCode kConnectCodes[] = {
    {600, 9},    {1200, 5},   {2400, 10},  {4800, 11},  {9600, 12},
    {19200, 16}, {38400, 17}, {57600, 18}, {115200, 19},
};

Result asTheSetTellsIt(Result result, std::uint8_t resultSet)
{
    const bool dialTone = resultSet == 2 || resultSet >= 4;
    const bool busy = resultSet >= 3;
    if (result == Result::NoDialtone && !dialTone) return Result::NoCarrier;
    if ((result == Result::Busy || result == Result::NoAnswer) && !busy) return Result::NoCarrier;
    return result;
}

void appendLineEnd(const ModemProfile& profile, std::string& out)
{
    out.push_back(static_cast<char>(profile.s[kLineEnd]));
    out.push_back(static_cast<char>(profile.s[kLineFeed]));
}
}  // namespace

void appendResult(const ModemProfile& profile, Result result, std::uint32_t rate, std::string& out)
{
    if (profile.quiet) return;
    result = asTheSetTellsIt(result, profile.resultSet);
    const ResultName& name = kResults[static_cast<int>(result)];
    const bool withRate = result == Result::Connect && profile.resultSet >= 1;
    if (!profile.verbose) {
        std::uint8_t number = name.number;
        if (withRate)
            for (const ConnectCode& code : kConnectCodes)
                if (code.rate == rate) number = code.number;
        out += std::to_string(number);
        out.push_back(static_cast<char>(profile.s[kLineEnd]));
        return;
    }
    appendLineEnd(profile, out);
    out += name.words;
    if (withRate) out += " " + std::to_string(rate);
    appendLineEnd(profile, out);
}

void appendInformation(const ModemProfile& profile, std::string_view text, std::string& out)
{
    if (profile.verbose) appendLineEnd(profile, out);
    out += text;
    appendLineEnd(profile, out);
}

std::vector<std::string> resultListing()
{
    std::vector<std::string> lines;
    for (const ResultName& name : kResults)
        lines.push_back(std::string("result ") + name.words + " " + std::to_string(name.number));
    for (const ConnectCode& code : kConnectCodes)
        lines.push_back("connect " + std::to_string(code.rate) + " " + std::to_string(code.number));
    return lines;
}
