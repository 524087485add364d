// The settings rules over any settings file: what SetPath loads, what the
// dialog opens on, what its OK writes, and what the device then does with the
// port name at the guest's first mode byte.
//
// Input: 6 bytes of dialog edits (port, rate, parity, stop bits, byte size:
// below 0x80 leaves the list as it opened, otherwise selects index byte - 0xC0,
// which may be out of range; the sixth byte's bit 0 toggles the lock box), a
// byte whose bit 0 makes the port refuse to open, then the file's text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "device/Messages.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/GuestSession.h"
#include "tests/support/IniProfile.h"
#include "ui/Settings.h"

namespace {
const char kFile[] = "RS232C.ini";

// What the device may be given: every field within its range.
void checkLoadable(const LineSettings& settings)
{
    FUZZ_CHECK(isStandardRate(settings.baudRate), "loaded rate is not a standard rate");
    FUZZ_CHECK(settings.byteSize >= 5 && settings.byteSize <= 8, "loaded byte size outside 5 to 8");
    FUZZ_CHECK(settings.parity >= 0 && settings.parity <= 2, "loaded parity outside 0 to 2");
    FUZZ_CHECK(settings.stopBits >= 0 && settings.stopBits <= 2, "loaded stop bits outside 0 to 2");
    FUZZ_CHECK(settings.lock == 0 || settings.lock == 1, "loaded lock neither 0 nor 1");
    FUZZ_CHECK(strnlen(settings.portName, kPortNameSize) < kPortNameSize, "port name without its NUL");
}

// The dialog opens on the items that stand for what the file loads as.
void checkOpening(const ConfigChoices& choices, const LineSettings& loaded)
{
    FUZZ_CHECK(choices.rate >= 0 && choices.rate < kStandardRateCount &&
                   kRateItems[choices.rate].data == loaded.baudRate,
               "rate list opens on another rate");
    FUZZ_CHECK(choices.parity >= 0 && choices.parity < 3 && kParityItems[choices.parity].data == loaded.parity,
               "parity list opens on another parity");
    FUZZ_CHECK(choices.stopBits >= 0 && choices.stopBits < 3 && kStopBitsItems[choices.stopBits].data == loaded.stopBits,
               "stop bit list opens on another value");
    FUZZ_CHECK(choices.byteSize >= 0 && choices.byteSize < 4 && kByteSizeItems[choices.byteSize].data == loaded.byteSize,
               "byte size list opens on another size");
    FUZZ_CHECK(choices.locked == (loaded.lock == 1), "lock box differs from the file");
    const char* port = choices.hasOtherPort && choices.port == kPortItemCount ? choices.otherPort
                       : choices.port >= 0 && choices.port < kPortItemCount ? kPortItems[choices.port].text
                                                                           : nullptr;
    FUZZ_CHECK(port != nullptr && strnlen(port, kPortNameSize) < kPortNameSize, "port list opens on no item");
}

void edit(int& index, std::uint8_t byte)
{
    if (byte >= 0x80) index = byte - 0xC0;
}

// The first mode byte after SetPath: the device opens the port the file names.
void openNamedPort(const LineSettings& settings, bool portRefuses)
{
    static const std::uint8_t setup[8] = {1, 0, 5, 27, 0x00, 0x80, 0x25, 0x00};  // panel, COM1, 9600 8N1, 2457600 Hz
    FuzzInput setupInput(setup, sizeof setup);
    GuestSession session(setupInput);
    session.device.storeSettings(settings, true);
    session.lines.fail(LineOp::Open, portRefuses);
    static const std::uint8_t modeByte[] = {GuestSession::kWriteModeCommand, 0x4E, GuestSession::kReadStatus};
    FuzzInput traffic(modeByte, sizeof modeByte);
    session.run(traffic);
    // A name too long for the message buffer is never opened.
    const bool opens = !portRefuses && strnlen(settings.portName, kPortNameSize) <= kMaxPortNameLength;
    FUZZ_CHECK(session.device.inspect().lineOpen == opens, "line open state differs from what the name and line allow");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    std::uint8_t edits[6];
    for (std::uint8_t& byte : edits) byte = in.byte();
    const bool portRefuses = in.byte() & 1;
    std::size_t length = 0;
    const std::uint8_t* text = in.bytes(in.remaining(), length);
    IniTextProfile profile(std::string(reinterpret_cast<const char*>(text), length));

    // SetPath: whatever the file holds loads as settings the device can take.
    const LineSettings loaded = readSettings(profile, kFile);
    checkLoadable(loaded);

    // The dialog opens, the user changes some lists, OK.
    ConfigChoices choices = openingChoices(profile, kFile);
    checkOpening(choices, loaded);
    edit(choices.port, edits[0]);
    edit(choices.rate, edits[1]);
    edit(choices.parity, edits[2]);
    edit(choices.stopBits, edits[3]);
    edit(choices.byteSize, edits[4]);
    if (edits[5] & 1) choices.locked = !choices.locked;
    const LineSettings confirmed = confirmChoices(profile, kFile, choices);
    checkLoadable(confirmed);

    // What OK wrote is what the next SetPath loads, for a file of text (a NUL
    // byte inside a value cuts the port name where the next read does not).
    const LineSettings reloaded = readSettings(profile, kFile);
    const bool textFile = std::memchr(text, 0, length) == nullptr;
    FUZZ_CHECK(!textFile || std::memcmp(&reloaded, &confirmed, sizeof reloaded) == 0,
               "the settings the dialog wrote load back differently");

    openNamedPort(loaded, portRefuses);
    return 0;
}
