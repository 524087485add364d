#!/usr/bin/env python3
"""Checks a built RS232C.dll: machine and kind, the export names, the DLLs it
imports, and its resources (the two dialog templates and the two LED bitmaps).
and its version resource (product name, version and description, the version
the same as in ui/resources/Version.h). Reads the PE file itself (standard
library only). Exit status 1 on any fault."""
import os
import re
import struct
import sys

EXPORTS = {"SetPath", "DeviceEntry", "DeviceConect", "DeviceVer", "FastGUI", "DeviceConfig"}
# System DLLs the plug-in may use: the C++ runtime must be linked in.
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll", "advapi32.dll",
                   "ws2_32.dll"}
MACHINES = {"i386": 0x14C, "amd64": 0x8664}

RT_BITMAP, RT_DIALOG, RT_VERSION = 2, 5, 16
WS_VISIBLE, WS_CHILD, WS_POPUP, WS_TABSTOP = 0x10000000, 0x40000000, 0x80000000, 0x00010000
WS_CAPTION, WS_SYSMENU, WS_BORDER, WS_VSCROLL = 0x00C00000, 0x00080000, 0x00800000, 0x00200000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
CBS_DROPDOWNLIST, CBS_SORT = 0x3, 0x100
BS_TYPEMASK, BS_AUTOCHECKBOX, BS_GROUPBOX, BS_PUSHBUTTON, BS_DEFPUSHBUTTON = 0xF, 0x3, 0x7, 0x0, 0x1
SS_TYPEMASK, SS_LEFT, SS_BITMAP, SS_REALSIZEIMAGE = 0x1F, 0x0, 0xE, 0x800
ES_RIGHT, ES_READONLY, ES_NUMBER = 0x2, 0x800, 0x2000
FONT = (9, "ＭＳ Ｐゴシック")

# (class, id, text, x, y, cx, cy, kind)
CONFIG_CONTROLS = [
    ("Static", -1, "使用ポート", 15, 8, 32, 8, "label"),
    ("ComboBox", 1000, "", 50, 5, 40, 50, "list"),
    ("Button", 1023, "ポート設定を固定する", 10, 30, 79, 10, "check"),
    ("Static", -1, "BaudRate", 15, 42, 30, 8, "label"),
    ("ComboBox", 1022, "", 50, 40, 40, 50, "list"),
    ("Static", -1, "Parity", 15, 57, 18, 8, "label"),
    ("ComboBox", 1024, "", 50, 55, 40, 50, "list"),
    ("Static", -1, "StopBits", 15, 73, 26, 8, "label"),
    ("ComboBox", 1026, "", 50, 70, 40, 50, "list"),
    ("Static", -1, "ByteSize", 15, 87, 27, 8, "label"),
    ("ComboBox", 1025, "", 50, 85, 40, 50, "list"),
    ("Button", -1, "ポート設定", 5, 20, 95, 85, "group"),
    ("Button", 1, "OK", 5, 110, 45, 14, "default"),
    ("Button", 2, "CANCEL", 55, 110, 45, 14, "button"),
]
PANEL_CONTROLS = [
    ("Static", 1004, 118, 20, 17, 7, 5, "led"),
    ("Static", -1, "CS", 30, 16, 10, 8, "label"),
    ("Static", 1009, 118, 20, 27, 7, 5, "led"),
    ("Static", -1, "CI", 30, 26, 8, 8, "label"),
    ("Static", 1010, 118, 20, 37, 7, 5, "led"),
    ("Static", -1, "CD", 30, 36, 10, 8, "label"),
    ("Static", 1005, 118, 20, 47, 7, 5, "led"),
    ("Static", -1, "DSR", 30, 46, 14, 8, "label"),
    ("Button", -1, "Line Status", 10, 5, 45, 55, "group"),
    ("Static", -1, "ｼｽﾃﾑｸﾛｯｸ", 65, 10, 32, 8, "label"),
    ("Edit", 1013, "", 100, 10, 25, 12, "figure-right"),
    ("Static", -1, "Hz", 125, 10, 8, 8, "label"),
    ("Static", -1, "Timer2", 70, 25, 21, 8, "label"),
    ("Edit", 1011, "", 100, 25, 30, 12, "figure"),
    ("Static", -1, "分周比 ", 70, 40, 24, 8, "label"),
    ("Edit", 1014, "", 100, 40, 34, 12, "figure"),
    ("Static", -1, "速度(算出値)", 140, 10, 40, 8, "label"),
    ("Edit", 1007, "", 180, 10, 25, 12, "figure-right"),
    ("Static", -1, "Baud", 205, 10, 16, 8, "label"),
    ("Static", -1, "速度(実速度)", 140, 25, 40, 8, "label"),
    ("Edit", 1008, "", 180, 25, 25, 12, "figure-right"),
    ("Static", -1, "Baud", 205, 25, 16, 8, "label"),
    ("Static", -1, "･RS-232C BIOS未実装", 65, 85, 68, 8, "label"),
    ("Static", -1, "･非同期通信のみｻﾎﾟｰﾄ", 65, 95, 71, 8, "label"),
    ("Static", -1, "･V・FASTﾓｰﾄﾞ未実装", 65, 105, 63, 8, "label"),
    ("Static", -1, "･ﾌﾞﾚｰｸ信号検出未実装", 65, 115, 70, 8, "label"),
]
LED_COLOURS = {118: (128, 0, 0), 119: (255, 0, 0)}
VERSION_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../ui/resources/Version.h")

faults = []


def fault(text):
    faults.append(text)


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            _, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rsize), raw))

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError("address 0x%x outside every section" % rva)

    def u16(self, rva):
        return struct.unpack_from("<H", self.data, self.offset(rva))[0]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def cstr(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return []
        count, names = self.u32(rva + 24), self.u32(rva + 32)
        return [self.cstr(self.u32(names + 4 * i)) for i in range(count)]

    def exported_functions(self):
        rva, size = self.directories[0]
        return self.u32(rva + 20) if size else 0

    def imports(self):
        rva, size = self.directories[1]
        found = []
        while size:
            name = self.u32(rva + 12)
            if name == 0:
                break
            found.append(self.cstr(name))
            rva += 20
        return found

    def resources(self):
        """{(type, id): bytes} for numbered types and names, first language."""
        base, size = self.directories[2]
        found = {}
        if not size:
            return found

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, self.offset(base + directory + 12))
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, self.offset(base + directory + 16 + 8 * i))
                yield ident, target

        for type_id, type_dir in entries(0):
            for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
                if type_id & 0x80000000 or name_id & 0x80000000:
                    continue
                _, leaf = next(entries(name_dir & 0x7FFFFFFF))
                data_rva, data_size = struct.unpack_from("<II", self.data, self.offset(base + leaf))
                start = self.offset(data_rva)
                found[(type_id, name_id)] = self.data[start:start + data_size]
        return found


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0xFFFF:
            self.at += 2
            return self.take("H")
        return self.text()

    def align(self):
        self.at = (self.at + 3) & ~3


CLASS_ATOMS = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox", 0x85: "ComboBox"}


def dialog(data):
    r = Reader(data)
    style, _, count, x, y, cx, cy = r.take("IIHhhhh")
    if style >> 16 == 0xFFFF:
        raise ValueError("extended dialog template")
    r.name_or_ordinal()  # menu
    r.name_or_ordinal()  # class
    caption = r.text()
    font = (r.take("H"), r.text()) if style & DS_SETFONT else None
    controls = []
    for _ in range(count):
        r.align()
        cstyle, _, px, py, pcx, pcy, ident = r.take("IIhhhhH")
        cls = r.name_or_ordinal()
        cls = CLASS_ATOMS.get(cls, cls) if isinstance(cls, int) else cls
        text = r.name_or_ordinal()
        extra = r.take("H")
        r.at += extra
        controls.append((cls, ident - 0x10000 if ident == 0xFFFF else ident, text, px, py, pcx, pcy, cstyle))
    return dict(style=style, rect=(x, y, cx, cy), caption=caption, font=font, controls=controls)


def style_faults(kind, style):
    """What is wrong with a control's style for its kind, or ''."""
    def has(bits):
        return style & bits == bits

    tab = bool(style & WS_TABSTOP)
    wrong = []
    if not has(WS_CHILD | WS_VISIBLE):
        wrong.append("not a visible child")
    if kind == "list":
        if style & 0xF != CBS_DROPDOWNLIST or style & CBS_SORT or not has(WS_VSCROLL) or not tab:
            wrong.append("not an unsorted drop-down list with a scroll bar and tab stop")
    elif kind == "check":
        if style & BS_TYPEMASK != BS_AUTOCHECKBOX or not tab:
            wrong.append("not an automatic check box with tab stop")
    elif kind in ("default", "button"):
        want = BS_DEFPUSHBUTTON if kind == "default" else BS_PUSHBUTTON
        if style & BS_TYPEMASK != want or not tab:
            wrong.append("wrong button kind or no tab stop")
    elif kind == "group":
        if style & BS_TYPEMASK != BS_GROUPBOX:
            wrong.append("not a group box")
    elif kind == "label":
        if style & SS_TYPEMASK != SS_LEFT:
            wrong.append("not a left-aligned label")
    elif kind == "led":
        if style & SS_TYPEMASK != SS_BITMAP or not has(SS_REALSIZEIMAGE):
            wrong.append("not a real-size bitmap")
    elif kind.startswith("figure"):
        if not has(ES_READONLY | ES_NUMBER) or style & (WS_BORDER | WS_TABSTOP):
            wrong.append("not a borderless read-only number field outside the tab order")
        if bool(style & ES_RIGHT) != (kind == "figure-right"):
            wrong.append("wrong alignment")
    return "; ".join(wrong)


def check_dialog(resources, number, caption, rect, want_style, no_style, expected):
    data = resources.get((RT_DIALOG, number))
    if data is None:
        fault("dialog %d missing" % number)
        return
    d = dialog(data)
    if d["caption"] != caption:
        fault("dialog %d caption %r" % (number, d["caption"]))
    if d["rect"] != rect:
        fault("dialog %d at %r" % (number, d["rect"]))
    if d["font"] != FONT:
        fault("dialog %d font %r" % (number, d["font"]))
    if d["style"] & want_style != want_style or d["style"] & no_style:
        fault("dialog %d style 0x%08x" % (number, d["style"]))
    if len(d["controls"]) != len(expected):
        fault("dialog %d has %d controls, expected %d" % (number, len(d["controls"]), len(expected)))
    for got, want in zip(d["controls"], expected):
        if got[:7] != want[:7]:
            fault("dialog %d control %r, expected %r" % (number, got[:7], want[:7]))
        elif style_faults(want[7], got[7]):
            fault("dialog %d control %r: %s (style 0x%08x)" % (number, want[:3], style_faults(want[7], got[7]), got[7]))


def check_bitmap(resources, number, colour):
    data = resources.get((RT_BITMAP, number))
    if data is None:
        fault("bitmap %d missing" % number)
        return
    size, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data, 0)
    colours = struct.unpack_from("<I", data, 32)[0] or 16
    if (width, height, bits, compression) != (12, 7, 4, 0):
        fault("bitmap %d is %dx%d at %d bpp (compression %d)" % (number, width, height, bits, compression))
        return
    palette = [struct.unpack_from("<BBB", data, size + 4 * i)[::-1] for i in range(colours)]
    pixels = size + 4 * colours
    stride = (width * bits + 31) // 32 * 4
    for row in range(height):
        for column in range(width):
            byte = data[pixels + row * stride + column // 2]
            index = byte >> 4 if column % 2 == 0 else byte & 0xF
            if palette[index] != colour:
                fault("bitmap %d pixel (%d, %d) is %r, expected %r" % (number, column, row, palette[index], colour))
                return


def product_version():
    """(major, minor, text, product name) as ui/resources/Version.h defines them."""
    with open(VERSION_HEADER, encoding="utf-8") as f:
        header = f.read()

    def define(name):
        return re.search(r"^#define %s (.+)$" % name, header, re.M).group(1).strip()

    return (int(define("RS232C_VERSION_MAJOR")), int(define("RS232C_VERSION_MINOR")),
            define("RS232C_VERSION_TEXT").strip('"'), define("RS232C_PRODUCT_NAME").strip('"'))


def version_nodes(data, at=0):
    """A VS_VERSIONINFO tree node at `at`: (key, value bytes, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length  # text values count UTF-16 units
    value = data[value_at:value_at + value_size]
    children = []
    child = (value_at + value_size + 3) & ~3
    while child < end:
        node = version_nodes(data, child)
        children.append(node)
        child = (node[3] + 3) & ~3
    return key, value, children, end


def version_info(data):
    """The fixed version numbers and the string table of a version resource."""
    key, fixed, children, _ = version_nodes(data)
    if key != "VS_VERSION_INFO" or struct.unpack_from("<I", fixed, 0)[0] != 0xFEEF04BD:
        raise ValueError("version resource without VS_VERSION_INFO")
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)
    file_type = struct.unpack_from("<I", fixed, 36)[0]
    strings = {}
    for child_key, _, tables, _ in children:
        if child_key == "StringFileInfo":
            for _, _, entries, _ in tables:
                for name, value, _, _ in entries:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    versions = [(file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF),
                (product_ms >> 16, product_ms & 0xFFFF, product_ls >> 16, product_ls & 0xFFFF)]
    return versions, file_type, strings


def check_version(path, resources):
    data = resources.get((RT_VERSION, 1))
    if data is None:
        fault("%s: no version resource" % path)
        return
    major, minor, text, product = product_version()
    versions, file_type, strings = version_info(data)
    if versions != [(major, minor, 0, 0)] * 2:
        fault("%s: file and product versions %r, expected %d.%d.0.0" % (path, versions, major, minor))
    if file_type != 2:  # VFT_DLL
        fault("%s: version resource file type %d, not a DLL" % (path, file_type))
    expected = {"FileVersion": text, "ProductVersion": text, "ProductName": product,
                "OriginalFilename": "RS232C.dll"}
    for name, value in expected.items():
        if strings.get(name) != value:
            fault("%s: version %s is %r, expected %r" % (path, name, strings.get(name), value))
    if not strings.get("FileDescription"):
        fault("%s: version resource without a file description" % path)


def check(path, machine, resources_too):
    with open(path, "rb") as f:
        pe = Pe(f.read())
    if pe.machine != MACHINES[machine] or not pe.characteristics & 0x2000:
        fault("%s: machine 0x%x, characteristics 0x%x: not a %s DLL" % (path, pe.machine, pe.characteristics, machine))
    if pe.magic != (0x10B if machine == "i386" else 0x20B):
        fault("%s: optional header magic 0x%x" % (path, pe.magic))
    names = pe.exports()
    if sorted(names) != sorted(EXPORTS) or pe.exported_functions() != len(EXPORTS):
        fault("%s exports %r (%d functions)" % (path, names, pe.exported_functions()))
    imports = pe.imports()
    strangers = [name for name in imports if name.lower() not in ALLOWED_IMPORTS]
    if strangers:
        fault("%s imports from %r" % (path, strangers))
    if resources_too:
        resources = pe.resources()
        check_dialog(resources, 101, "RS-232C Configration", (0, 0, 103, 129),
                     WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, WS_SYSMENU | WS_CHILD, CONFIG_CONTROLS)
        check_dialog(resources, 103, "", (10, 20, 226, 141), WS_CHILD | WS_VISIBLE | DS_SETFONT,
                     WS_CAPTION | WS_POPUP, PANEL_CONTROLS)
        for number, colour in LED_COLOURS.items():
            check_bitmap(resources, number, colour)
        check_version(path, resources)
    print("%s: %s DLL, exports %s; imports %s" % (path, machine, ", ".join(sorted(names)), ", ".join(imports)))


def main():
    # check_dll.py FILE i386|amd64 [--resources] ...
    args = sys.argv[1:]
    while args:
        path, machine = args[0], args[1]
        resources_too = len(args) > 2 and args[2] == "--resources"
        args = args[3:] if resources_too else args[2:]
        try:
            check(path, machine, resources_too)
        except (OSError, ValueError, struct.error, IndexError, UnicodeDecodeError, StopIteration) as error:
            fault("%s: %s" % (path, error))
    for text in faults:
        print("FAULT: " + text, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
