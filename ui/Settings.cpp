#include "ui/Settings.h"

#include <cstring>

const char kSettingsSection[] = "RS-232C";

const ChoiceItem kPortItems[kPortItemCount] = {
    {"COM1", 1}, {"COM2", 2}, {"COM3", 3}, {"COM4", 4}, {"COM5", 5},
    {"COM6", 6}, {"COM7", 7}, {"COM8", 8}, {"COM9", 9}, {"COM10", 10},
};
const ChoiceItem kRateItems[kStandardRateCount] = {
    {"300", 300},     {"600", 600},     {"1200", 1200},   {"2400", 2400},   {"4800", 4800},
    {"9600", 9600},   {"19200", 19200}, {"38400", 38400}, {"57600", 57600}, {"115200", 115200},
};
const ChoiceItem kParityItems[3] = {{"NONE", kNoParity}, {"ODD", kOddParity}, {"EVEN", kEvenParity}};
const ChoiceItem kStopBitsItems[3] = {{"1", kOneStopBit}, {"1.5", kOne5StopBits}, {"2", kTwoStopBits}};
const ChoiceItem kByteSizeItems[4] = {{"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}};

namespace {
constexpr std::size_t kValueBufferSize = 256;

template <std::size_t N>
int findItem(const ChoiceItem (&items)[N], const char* text)
{
    for (std::size_t i = 0; i < N; ++i)
        if (sameProfileName(items[i].text, text)) return static_cast<int>(i);
    return -1;
}

template <std::size_t N>
int findData(const ChoiceItem (&items)[N], std::int32_t data)
{
    for (std::size_t i = 0; i < N; ++i)
        if (items[i].data == data) return static_cast<int>(i);
    return 0;
}

template <std::size_t N>
const ChoiceItem& pick(const ChoiceItem (&items)[N], int index)
{
    return items[index >= 0 && static_cast<std::size_t>(index) < N ? index : 0];
}

std::int32_t textChoice(PrivateProfile& profile, const char* file, const char* key, const ChoiceItem (&items)[3])
{
    char value[kValueBufferSize];
    profile.getString(kSettingsSection, key, items[0].text, value, sizeof value, file);
    const int index = findItem(items, value);
    return index < 0 ? 0 : items[index].data;
}

void copyPortName(char (&out)[kPortNameSize], const char* name)
{
    std::memset(out, 0, sizeof out);
    std::memcpy(out, name, strnlen(name, sizeof out - 1));
}

// The profile functions trim blanks around a value and take one pair of
// matching quotes off it. A port name that would lose either is written
// inside quotes of its own, so that it loads back exactly as it is.
void writePortName(PrivateProfile& profile, const char* file, const char* name)
{
    const std::size_t length = std::strlen(name);
    const auto edge = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    const bool quotedAlready = length >= 2 && (name[0] == '"' || name[0] == '\'') && name[length - 1] == name[0];
    const bool blankAtEdge = length > 0 && (edge(name[0]) || edge(name[length - 1]));
    if (!quotedAlready && !blankAtEdge) {
        profile.writeString(kSettingsSection, "PORT", name, file);
        return;
    }
    char quoted[kPortNameSize + 2];
    quoted[0] = quoted[length + 1] = name[0] == '"' ? '\'' : '"';
    std::memcpy(quoted + 1, name, length);
    quoted[length + 2] = '\0';
    profile.writeString(kSettingsSection, "PORT", quoted, file);
}
}  // namespace

bool storeSettingsPath(char (&buffer)[kSettingsPathSize], const char* path)
{
    buffer[0] = '\0';
    if (!path) return false;
    const std::size_t length = strnlen(path, kSettingsPathSize);
    if (length == kSettingsPathSize) return false;
    std::memcpy(buffer, path, length + 1);
    return true;
}

LineSettings defaultSettings()
{
    LineSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.lock = 1;
    settings.baudRate = 9600;
    settings.parity = kNoParity;
    settings.stopBits = kOneStopBit;
    settings.byteSize = 8;
    copyPortName(settings.portName, "COM1");
    return settings;
}

LineSettings readSettings(PrivateProfile& profile, const char* file)
{
    LineSettings settings;
    std::memset(&settings, 0, sizeof settings);
    profile.getString(kSettingsSection, "PORT", "COM1", settings.portName, sizeof settings.portName, file);
    settings.lock = profile.getInt(kSettingsSection, "LOCK", 1, file) == 1 ? 1 : 0;
    const std::int32_t rate = profile.getInt(kSettingsSection, "BAUDRATE", 9600, file);
    settings.baudRate = isStandardRate(rate) ? rate : 9600;
    const std::int32_t byteSize = profile.getInt(kSettingsSection, "BYTESIZE", 8, file);
    settings.byteSize = byteSize < 5 || byteSize > 8 ? 8 : byteSize;
    settings.parity = textChoice(profile, file, "PARITY", kParityItems);
    settings.stopBits = textChoice(profile, file, "STOPBITS", kStopBitsItems);
    return settings;
}

ConfigChoices openingChoices(PrivateProfile& profile, const char* file)
{
    const LineSettings settings = readSettings(profile, file);
    ConfigChoices choices;
    std::memset(&choices, 0, sizeof choices);
    choices.rate = findData(kRateItems, settings.baudRate);
    choices.parity = findData(kParityItems, settings.parity);
    choices.stopBits = findData(kStopBitsItems, settings.stopBits);
    choices.byteSize = findData(kByteSizeItems, settings.byteSize);
    choices.locked = settings.lock == 1;
    choices.port = findItem(kPortItems, settings.portName);
    if (choices.port < 0) {
        choices.port = kPortItemCount;
        choices.hasOtherPort = true;
        copyPortName(choices.otherPort, settings.portName);
    }
    return choices;
}

LineSettings confirmChoices(PrivateProfile& profile, const char* file, const ConfigChoices& choices)
{
    LineSettings settings;
    std::memset(&settings, 0, sizeof settings);
    const bool otherPort = choices.hasOtherPort && choices.port == kPortItemCount;
    copyPortName(settings.portName, otherPort ? choices.otherPort : pick(kPortItems, choices.port).text);
    writePortName(profile, file, settings.portName);

    settings.lock = choices.locked ? 1 : 0;
    profile.writeString(kSettingsSection, "LOCK", choices.locked ? "1" : "0", file);

    const ChoiceItem& rate = pick(kRateItems, choices.rate);
    const ChoiceItem& parity = pick(kParityItems, choices.parity);
    const ChoiceItem& stopBits = pick(kStopBitsItems, choices.stopBits);
    const ChoiceItem& byteSize = pick(kByteSizeItems, choices.byteSize);
    profile.writeString(kSettingsSection, "BAUDRATE", rate.text, file);
    profile.writeString(kSettingsSection, "PARITY", parity.text, file);
    profile.writeString(kSettingsSection, "STOPBITS", stopBits.text, file);
    profile.writeString(kSettingsSection, "BYTESIZE", byteSize.text, file);
    settings.baudRate = rate.data;
    settings.parity = parity.data;
    settings.stopBits = stopBits.data;
    settings.byteSize = byteSize.data;
    return settings;
}
