// The user's line settings in the settings file (section "RS-232C"), and what
// the configuration dialog shows and writes back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/LineSettings.h"
#include "device/Platform.h"
#include "ui/Profile.h"

extern const char kSettingsSection[];  // "RS-232C"

// The settings file's path, NUL included, must fit this buffer.
constexpr std::size_t kSettingsPathSize = 260;

// Copies `path` into `buffer`. A null path, or one too long for the buffer,
// is refused: the buffer is left empty and the result is false, so that no
// other file (a cut path would name one) is ever read or written.
bool storeSettingsPath(char (&buffer)[kSettingsPathSize], const char* path);

// What a missing file gives: COM1, locked, 9600, no parity, one stop bit, 8 bits.
LineSettings defaultSettings();

// Reads the six keys, replacing values out of range by their defaults.
LineSettings readSettings(PrivateProfile& profile, const char* file);

// One item of a drop-down list of the configuration dialog.
struct ChoiceItem {
    const char* text;
    std::int32_t data;
};

constexpr int kPortItemCount = 10;
extern const ChoiceItem kPortItems[kPortItemCount];  // "COM1" to "COM10"
extern const ChoiceItem kRateItems[kStandardRateCount];
extern const ChoiceItem kParityItems[3];
extern const ChoiceItem kStopBitsItems[3];
extern const ChoiceItem kByteSizeItems[4];

// The configuration dialog's choices: the list items selected and the lock.
// They open on exactly what the settings file loads as, so that OK writes
// back every value the user did not touch. A port that is none of COM1 to
// COM10 is offered as one more item after them (`otherPort`, index 10).
struct ConfigChoices {
    int port;
    int rate;
    int parity;
    int stopBits;
    int byteSize;
    bool locked;
    bool hasOtherPort;
    char otherPort[kPortNameSize];
};

ConfigChoices openingChoices(PrivateProfile& profile, const char* file);

// OK: writes all six keys from the choices (an index out of range stands for
// the list's first item) and returns the record they make.
LineSettings confirmChoices(PrivateProfile& profile, const char* file, const ConfigChoices& choices);
