#!/usr/bin/env python3
"""Checks the release zip a user downloads.

    check_release.py ZIP TESTED_SHA256 FOLDER BUILD

Unpacks ZIP into FOLDER and checks: exactly the files a release holds, at the
zip's top level; that SHA256SUMS holds for every one of them; that RS232C.dll
is the DLL whose hash the 32-bit test stage recorded in TESTED_SHA256; the
DLL's exports, imports, resources and version resource; that both guides are
UTF-8 with a byte order mark and CRLF line ends, name the version the host
shows, name every message text the plug-in can show (taken from the code's
message table) char for char, and read in a window 80 columns wide with no
katakana word broken across lines; that the sample settings file is
Shift-JIS (code page 932) with CRLF line ends and no byte order mark, its
sections and keys in ASCII, and Japanese comments in every paragraph of
comments beside the English; that both guides name every AT command,
S-register and result code the modem answers to, as the host simulator of
BUILD lists them with --list-modem from the modem's own tables; and that
both guides and the sample name every
settings key (the line monitor's too) and section, the dial-up server's keys
and its built-in number, and every kind of port name the plug-in takes: the COM ports at
the ends of the dialog's list, and the kinds of line and the forms of their
names as the host simulator of BUILD (the 64-bit twin of the same sources,
which Wine runs at full speed) lists them with --list-kinds, from the same
wiring of the kinds as the plug-in's. Exit status 1 on any fault."""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import unicodedata
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path[:0] = [os.path.join(ROOT, "tests/plugin"), os.path.join(ROOT, "tools/host")]
import check_dll  # noqa: E402
from winehost import WINE, WINESERVER, base_prefix  # noqa: E402

# The device's messages, and the line monitor's.
MESSAGE_TABLES = [os.path.join(ROOT, "device/Messages.cpp"), os.path.join(ROOT, "platform/monitor/MonitorMessages.cpp")]
SETTINGS_CODE = os.path.join(ROOT, "ui/Settings.cpp")
PHONEBOOK_CODE = os.path.join(ROOT, "plugin/SettingsPhonebook.h")
MONITOR_CODE = os.path.join(ROOT, "plugin/SettingsMonitor.h")
DIALUP_HEADER = os.path.join(ROOT, "platform/dialup/DialupSettings.h")
DIALUP_CODE = os.path.join(ROOT, "platform/dialup/DialupSettings.cpp")
FILES = {"RS232C.dll", "hostsim.exe", "README-ja.txt", "README-en.txt", "RS232C-sample.ini", "LICENSE", "SHA256SUMS"}
GUIDES = ("README-ja.txt", "README-en.txt")
BOM = b"\xef\xbb\xbf"
SIMPLE_ESCAPES = {"n": b"\n", "t": b"\t", "\\": b"\\", '"': b'"', "'": b"'", "0": b"\0"}
# Notepad's width with wrapping off in a maximised window on a small screen;
# East Asian wide and ambiguous characters take two columns.
GUIDE_COLUMNS = 80
KATAKANA = "[\u30a1-\u30fa\u30fc\uff66-\uff9f]"
# A line this wide was wrapped by hand: a katakana word broken at its end
# reads as two words. A shorter one is a heading or a label.
WRAPPED_LINE_COLUMNS = 50

faults = []


def fault(text):
    faults.append(text)


def c_literal_bytes(body):
    """The bytes of C string literals written one after another ("a" "b")."""
    out = bytearray()
    for literal in re.findall(r'"((?:[^"\\]|\\.)*)"', body):
        i = 0
        while i < len(literal):
            c = literal[i]
            if c != "\\":
                out += c.encode("ascii")
                i += 1
                continue
            escape = literal[i + 1]
            if escape == "x":
                digits = re.match(r"[0-9a-fA-F]+", literal[i + 2:]).group(0)
                out.append(int(digits, 16))
                i += 2 + len(digits)
            else:
                out += SIMPLE_ESCAPES[escape]
                i += 2
    return bytes(out)


def message_texts():
    """{name: text} of every message in the code's tables, decoded from Shift-JIS."""
    texts = {}
    for table in MESSAGE_TABLES:
        with open(table, encoding="utf-8") as f:
            source = f.read()
        for name, body in re.findall(r"^const char (k\w+)\[\d*\] =\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+);", source, re.M):
            text = c_literal_bytes(body).decode("cp932")
            # A text kept as the part after the port name is shown with one in
            # front; one kept as the part before a file's path, with one after.
            texts[name] = "%s" + text if name.endswith("Suffix") else text + "%p" if name.endswith("Prefix") else text
    if len(texts) < 5:
        fault("the message tables %s gave only %r" % (MESSAGE_TABLES, sorted(texts)))
    return texts


def no_texts_outside_the_table():
    """Every message box the code raises takes its text from the table, never a literal."""
    for folder in ("device", "ui", "plugin", "platform"):
        for directory, _, names in os.walk(os.path.join(ROOT, folder)):
            for name in names:
                if not name.endswith((".cpp", ".h")):
                    continue
                with open(os.path.join(directory, name), encoding="utf-8", errors="replace") as f:
                    source = f.read()
                for call in re.findall(r"(?:queueAlert|->show|MessageBox[AW]?)\s*\(([^;]*)\)", source):
                    if '"' in call:
                        fault("%s/%s shows a message text that is not in the table: %s" % (folder, name, call))


def unpack(zip_path, folder):
    """The files sit at the zip's top level: Windows' "Extract All" already
    makes a folder named after the zip, and a folder inside would be doubled."""
    with zipfile.ZipFile(zip_path) as archive:
        names = archive.namelist()
        for name in names:
            if name.startswith("/") or ".." in name.split("/"):
                fault("unsafe path in the zip: %r" % name)
                return None
        found = set(names)
        if found != FILES:
            fault("the zip's top level holds %r; missing %r, unexpected %r"
                  % (sorted(found), sorted(FILES - found), sorted(found - FILES)))
        archive.extractall(folder)
    return folder


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def check_sums(top):
    with open(os.path.join(top, "SHA256SUMS"), encoding="ascii") as f:
        lines = f.read().splitlines()
    listed = {}
    for line in lines:
        match = re.fullmatch(r"([0-9a-f]{64})  (\S+)", line)
        if not match:
            fault("SHA256SUMS line %r is not '<sha256>  <name>'" % line)
            continue
        listed[match.group(2)] = match.group(1)
    if set(listed) != FILES - {"SHA256SUMS"}:
        fault("SHA256SUMS covers %r" % sorted(listed))
    for name, digest in listed.items():
        path = os.path.join(top, name)
        if os.path.exists(path) and sha256(path) != digest:
            fault("%s does not match its line in SHA256SUMS" % name)


def check_tested_dll(top, tested):
    if not os.path.exists(tested):
        fault("%s is missing: the 32-bit test stage has not recorded the DLL it ran, so the zip's DLL cannot be "
              "shown to be the tested one (run scripts/test.sh, which runs that stage first)" % tested)
        return
    with open(tested, encoding="ascii") as f:
        want = f.read().split()[0]
    got = sha256(os.path.join(top, "RS232C.dll"))
    if got != want:
        fault("the zip's RS232C.dll (sha256 %s) is not the DLL the 32-bit stage ran (%s)" % (got, want))
    else:
        print("RS232C.dll is the DLL the 32-bit stage ran (sha256 %s)" % got)


def read_text(path, bom, encoding="utf-8"):
    with open(path, "rb") as f:
        data = f.read()
    name = os.path.basename(path)
    if data.startswith(BOM) != bom:
        fault("%s %s a UTF-8 byte order mark" % (name, "lacks" if bom else "starts with"))
    if data.replace(b"\r\n", b"").count(b"\n") or data.replace(b"\r\n", b"").count(b"\r"):
        fault("%s has line ends other than CRLF" % name)
    try:
        return data[len(BOM) if bom else 0:].decode(encoding)
    except UnicodeDecodeError as error:
        fault("%s is not %s: %s" % (name, encoding, error))
        return ""


def source_of(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError as error:
        fault("cannot read %s: %s" % (path, error))
        return ""


def settings_keys():
    """The keys the settings code reads: the upper-case names in readSettings."""
    body = re.search(r"^LineSettings readSettings\(.*?^}", source_of(SETTINGS_CODE), re.M | re.S)
    keys = re.findall(r'"([A-Z]+)"', body.group(0)) if body else []
    if len(keys) < 6:
        fault("%s gave the settings keys %r" % (SETTINGS_CODE, keys))
    return keys


def hostsim_listing(build, flag):
    """What `hostsim FLAG` of BUILD prints, run under Wine in a copy of the
    cached booted prefix."""
    with tempfile.TemporaryDirectory() as work:
        log = os.path.join(work, "wine.log")
        prefix = os.path.join(work, "prefix")
        subprocess.run(["cp", "-a", base_prefix(log), prefix], check=True)
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
        try:
            return subprocess.run([WINE, os.path.join(build, "hostsim.exe"), flag], env=env,
                                  capture_output=True, text=True, timeout=300).stdout
        finally:
            subprocess.run([WINESERVER, "-k"], env=env, check=False, capture_output=True)
            subprocess.run([WINESERVER, "-w"], env=env, check=False, capture_output=True)


def listed_kinds(build):
    """[(kind, form)] as `hostsim --list-kinds` of BUILD prints them."""
    listing = hostsim_listing(build, "--list-kinds")
    kinds = re.findall(r"^kind (\S+) (\S+)\r?$", listing, re.M)
    if not {"com", "network", "modem"} <= {kind for kind, _ in kinds}:
        fault("hostsim --list-kinds of %s listed %r" % (build, listing))
    return kinds


def port_forms(build):
    """The kinds of PORT value the plug-in takes, each as a pattern and what it
    stands for: the ends of the dialog's COM port list, and each form of name
    the program lists whose fixed part is a lower-case word ("modem", or a
    prefix such as "tcp:" followed by the rest of a name)."""
    listed = re.findall(r'\{"(COM\d+)", \d+\}', source_of(SETTINGS_CODE))
    if len(listed) < 2:
        fault("the port names in %s gave %r" % (SETTINGS_CODE, listed))
        return {}
    forms = {name: r"\b%s\b" % name for name in (listed[0], listed[-1])}
    for _, form in listed_kinds(build):
        fixed = re.match(r"[a-z]+:?", form)
        if not fixed:
            continue
        if fixed.group(0) == form:
            forms[form] = r"\b%s\b" % re.escape(form)
        else:
            forms[fixed.group(0) + "..."] = r"\b%s\S" % re.escape(fixed.group(0))
    return forms


def monitor_keys():
    """The line monitor's keys in [RS-232C], as its settings code names them."""
    keys = re.findall(r'k\w+Key\[\] = "([A-Z]+)"', source_of(MONITOR_CODE))
    if len(keys) < 3:
        fault("%s gave the monitor's keys %r" % (MONITOR_CODE, keys))
    return keys


def sections():
    """The settings file's sections besides [RS-232C]: the modem's phonebook and the dial-up server's."""
    found = []
    for code in (PHONEBOOK_CODE, DIALUP_HEADER):
        section = re.search(r'kSection\[\] = "([^"]+)"', source_of(code))
        if section:
            found.append("[%s]" % section.group(1))
        else:
            fault("%s gave no section" % code)
    return found


def dialup_names():
    """The dial-up server's keys (taken without regard to case, so the guides may
    write them as they like) and its built-in number, as a pattern each."""
    keys = re.findall(r'key == "([a-z]+)"', source_of(DIALUP_CODE))
    number = re.search(r'kBuiltInNumber\[\] = "(\d+)"', source_of(DIALUP_HEADER))
    if len(keys) < 7 or not number:
        fault("%s and %s gave the dial-up keys %r and number %r" % (DIALUP_CODE, DIALUP_HEADER, keys, number))
        return {}
    names = {key: r"(?i)\b%s=" % key for key in keys}
    names["the number " + number.group(1)] = r"\b%s\b" % number.group(1)
    return names


def check_dialup_names(texts, names):
    """Each dial-up key is shown as KEY=..., and the built-in number, in each of `texts`."""
    for name, body in texts.items():
        for what, pattern in names.items():
            if not re.search(pattern, body):
                fault("%s does not show the dial-up server's %s" % (name, what))
    print("%s show the dial-up server's %s" % (", ".join(texts), ", ".join(names)))


def check_names(texts, keys, forms, section_names=()):
    """Every key, section and kind of port name, in each of `texts` ({file: body})."""
    for name, body in texts.items():
        for key in keys:
            if not re.search(r"\b%s\b" % key, body):
                fault("%s does not name the settings key %s" % (name, key))
        for section in section_names:
            if section not in body:
                fault("%s does not name the settings section %s" % (name, section))
        for form, pattern in forms.items():
            if not re.search(pattern, body):
                fault("%s does not show the port name %s" % (name, form))
    print("%s name the keys %s and the port names %s" % (", ".join(texts), " ".join(keys), " ".join(forms)))


def display_width(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WFA" else 1 for c in line)


def check_layout(guide, body):
    lines = body.splitlines()
    for number, line in enumerate(lines, 1):
        width = display_width(line)
        if width > GUIDE_COLUMNS:
            fault("%s line %d is %d columns wide: %r" % (guide, number, width, line))
        if (number < len(lines) and display_width(line) >= WRAPPED_LINE_COLUMNS
                and re.search(KATAKANA + "$", line) and re.match(r"\s*" + KATAKANA, lines[number])):
            fault("%s lines %d-%d break a katakana word: %r / %r"
                  % (guide, number, number + 1, line.strip()[-8:], lines[number].strip()[:8]))


def check_guides(top, texts):
    """Checks both guides; returns {name: text}."""
    _, _, version, product = check_dll.product_version()
    shown_version = "%s Ver%s" % (product, version)
    bodies = {}
    for guide in GUIDES:
        body = bodies[guide] = read_text(os.path.join(top, guide), bom=True)
        check_layout(guide, body)
        if shown_version not in body:
            fault("%s does not name the version the host shows, %r" % (guide, shown_version))
        for name, text in texts.items():
            if text.endswith("%p"):
                # Shown with a file's path after it: the guide shows it with one.
                if not re.search(re.escape(text[:-2]) + r"[A-Za-z]:\\\S+", body):
                    fault("%s does not show %s, %r, with a path in it" % (guide, name, text))
            elif "%s" in text:
                # Shown with the port name in front: the guide shows it with one.
                before, after = text.split("%s", 1)
                pattern = re.escape(before) + r"[A-Za-z]+[0-9]*" + re.escape(after)
                if not re.search(pattern, body):
                    fault("%s does not show %s, %r, with a port name in it" % (guide, name, text))
            elif text not in body:
                fault("%s does not name %s, %r" % (guide, name, text))
    print("both guides name %d message texts: %s" % (len(texts), ", ".join(repr(t) for t in texts.values())))
    return bodies


def modem_names(build):
    """{what: pattern} for each AT command, S-register and result code that
    `hostsim --list-modem` of BUILD lists. A command is looked for as a word of
    its own or with a value after it (E0, &K3, \\N, +MS=), a register as Sn, a
    result code as its words and, for CONNECT, each rate's number beside its rate."""
    listing = hostsim_listing(build, "--list-modem")
    names = {}
    for line in listing.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] in ("command", "inert"):
            names["command " + words[1]] = r"(?<![\w&\\%%+])%s(?![A-Za-z])" % re.escape(words[1])
        elif len(words) == 2 and words[0] == "register":
            names["register " + words[1]] = r"\b%s\b" % words[1]
        elif len(words) >= 3 and words[0] == "result":
            names["result " + " ".join(words[1:-1])] = r"\b%s\b" % re.escape(" ".join(words[1:-1]))
        elif len(words) == 3 and words[0] == "connect":
            # "600 が 9" or "600 -> 9": the rate, then its number, in one phrase.
            names["CONNECT %s's number %s" % (words[1], words[2])] = r"\b%s\D{1,6}%s\b" % (words[1], words[2])
    if not any(what.startswith("result ") for what in names) or len(names) < 20:
        fault("hostsim --list-modem of %s listed %r" % (build, listing))
    return names


def check_modem_names(bodies, names):
    for guide in GUIDES:
        for what, pattern in names.items():
            if not re.search(pattern, bodies[guide]):
                fault("%s does not name the modem's %s" % (guide, what))
    print("both guides name the modem's %d commands, registers and result codes" % len(names))


JAPANESE = re.compile("[\u3041-\u30ff\u4e00-\u9fff]")


def check_sample(top):
    """Shift-JIS with CRLF: comments in Japanese beside the English, in every
    paragraph of comments; sections and key lines in ASCII, which reads the
    same in any code page."""
    body = read_text(os.path.join(top, "RS232C-sample.ini"), bom=False, encoding="cp932")
    for number, line in enumerate(body.splitlines(), 1):
        if not line.lstrip().startswith(";") and not line.isascii():
            fault("RS232C-sample.ini line %d is not a comment and not ASCII: %r" % (number, line))
    paragraphs = [p for p in re.split(r"\n\s*\n", body.replace("\r\n", "\n"))
                  if any(l.startswith(";") for l in p.splitlines())]
    for paragraph in paragraphs:
        comments = [l for l in paragraph.splitlines() if l.startswith(";") and not re.match(r";\w+=", l)]
        if comments and not any(JAPANESE.search(l) for l in comments):
            fault("RS232C-sample.ini has comments with no Japanese beside them: %r" % comments[0])
    print("RS232C-sample.ini: Shift-JIS, CRLF, %d paragraphs of comments, each with Japanese" % len(paragraphs))
    return body


def main():
    zip_path, tested, folder, build = sys.argv[1:5]
    texts = message_texts()
    no_texts_outside_the_table()
    top = unpack(zip_path, folder)
    if top:
        check_sums(top)
        check_tested_dll(top, tested)
        dll = os.path.join(top, "RS232C.dll")
        check_dll.check(dll, "i386", True)
        faults.extend(check_dll.faults)
        bodies = check_guides(top, texts)
        bodies["RS232C-sample.ini"] = check_sample(top)
        check_names(bodies, settings_keys() + monitor_keys(), port_forms(build), sections())
        check_dialup_names(bodies, dialup_names())
        check_modem_names(bodies, modem_names(build))
    for text in faults:
        print("FAULT: " + text, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
