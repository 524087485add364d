// The product's version: the one place it is written. The version text of the
// host's plug-in list, the file's version resource and the release package's
// name and guide all take it from here.
#pragma once

#define RS232C_VERSION_MAJOR 1
#define RS232C_VERSION_MINOR 0
// The same version as text, the minor number in two digits ("1.00"): the host
// shows it at the end of "RS-232C Interface Ver1.00".
#define RS232C_VERSION_TEXT "1.00"

#define RS232C_PRODUCT_NAME "RS-232C Interface"

#ifndef RC_INVOKED
// The text and the numbers must say the same: "<major>.<minor as two digits>".
namespace rs232c_version_check {
constexpr bool textMatchesNumbers(const char* text, int major, int minor)
{
    int parsedMajor = 0;
    while (*text >= '0' && *text <= '9') parsedMajor = parsedMajor * 10 + (*text++ - '0');
    if (*text++ != '.') return false;
    if (!(text[0] >= '0' && text[0] <= '9' && text[1] >= '0' && text[1] <= '9' && text[2] == '\0')) return false;
    return parsedMajor == major && (text[0] - '0') * 10 + (text[1] - '0') == minor;
}
static_assert(textMatchesNumbers(RS232C_VERSION_TEXT, RS232C_VERSION_MAJOR, RS232C_VERSION_MINOR),
              "RS232C_VERSION_TEXT must be RS232C_VERSION_MAJOR.RS232C_VERSION_MINOR with two minor digits");
}  // namespace rs232c_version_check
#endif
