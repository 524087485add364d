"""Writes the line monitor's Shift-JIS table, a C++ source, from Python's
cp932 codec (code page 932, the Shift-JIS of Japanese Windows): for every
lead byte 0x81-0x9F and 0xE0-0xFC and every trail byte 0x40-0xFC, the
UTF-16 code unit of the character the pair stands for, or 0 for a pair that
stands for none. The user-defined area (leads 0xF0-0xF9) maps to Unicode's
private use area, which nothing can show, and is left at 0.

    python3 shift_jis_table.py OUTPUT.cpp
"""
import sys

LEADS = list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))
TRAILS = range(0x40, 0xFD)


def code(lead, trail):
    if 0xF0 <= lead <= 0xF9:
        return 0
    try:
        text = bytes([lead, trail]).decode("cp932")
    except UnicodeDecodeError:
        return 0
    if len(text) != 1 or ord(text) > 0xFFFF or 0xE000 <= ord(text) <= 0xF8FF:
        return 0
    return ord(text)


def main():
    values = [code(lead, trail) for lead in LEADS for trail in TRAILS]
    rows = [", ".join(f"0x{v:04X}" for v in values[i:i + 12]) for i in range(0, len(values), 12)]
    with open(sys.argv[1], "w", encoding="ascii", newline="\n") as out:
        out.write("// Generated at build time by cmake/shift_jis_table.py from Python's cp932 codec.\n")
        out.write('#include "platform/monitor/ShiftJis.h"\n\n')
        out.write("const std::uint16_t kShiftJisPairs[kShiftJisLeadCount * kShiftJisTrailCount] = {\n")
        out.write("".join(f"    {row},\n" for row in rows))
        out.write("};\n")


if __name__ == "__main__":
    main()
