// Every text the plug-in shows in a message box, as ANSI strings in the
// Japanese code page (Shift-JIS), the way the host's users read them.
#pragma once

#include <cstddef>

// "のオープンに失敗": follows the port name.
extern const char kOpenFailedSuffix[17];
// "SetCommState NG"
extern const char kSetCommStateFailed[];
// "セーブデータのバージョンが違います"
extern const char kSnapshotVersionMismatch[];
// "タイマ取得失敗"
extern const char kTimerAcquireFailed[];

// Message texts are formatted into buffers of this size.
constexpr std::size_t kMessageBufferSize = 256;
// The longest port name the path and message buffers hold: the message's
// Shift-JIS text after the name takes 16 bytes, plus the NUL.
constexpr std::size_t kMaxPortNameLength = 239;
static_assert(kMaxPortNameLength + sizeof kOpenFailedSuffix == kMessageBufferSize, "the longest name and the text fill the buffer");

// Fills `out` with the open-failure message for a port name of `nameLength`
// bytes. A name too long for the buffer is cut at a whole character.
void formatOpenFailure(char (&out)[kMessageBufferSize], const char* name, std::size_t nameLength);
