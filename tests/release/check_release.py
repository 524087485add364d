#!/usr/bin/env python3
"""Checks the release zip a user downloads.

    check_release.py ZIP TESTED_SHA256 FOLDER

Unpacks ZIP into FOLDER and checks: exactly the files a release holds, at the
zip's top level; that
SHA256SUMS holds for every one of them; that RS232C.dll is the DLL whose hash
the 32-bit test stage recorded in TESTED_SHA256; the DLL's exports, imports,
resources and version resource; that both guides are UTF-8 with a byte order
mark and CRLF line ends, name the version the host shows, and name every
message text the plug-in can show (taken from the code's message table), char
for char; that the sample settings file is plain ASCII with CRLF line ends.
Exit status 1 on any fault."""
import hashlib
import os
import re
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests/plugin"))
import check_dll  # noqa: E402

MESSAGE_TABLE = os.path.join(ROOT, "device/Messages.cpp")
FILES = {"RS232C.dll", "hostsim.exe", "README-ja.txt", "README-en.txt", "RS232C-sample.ini", "LICENSE", "SHA256SUMS"}
GUIDES = ("README-ja.txt", "README-en.txt")
BOM = b"\xef\xbb\xbf"
SIMPLE_ESCAPES = {"n": b"\n", "t": b"\t", "\\": b"\\", '"': b'"', "'": b"'", "0": b"\0"}

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
    """{name: text} of every message in the code's table, decoded from Shift-JIS."""
    with open(MESSAGE_TABLE, encoding="utf-8") as f:
        source = f.read()
    texts = {}
    for name, body in re.findall(r"^const char (k\w+)\[\d*\] =\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+);", source, re.M):
        text = c_literal_bytes(body).decode("cp932")
        # A text kept as the part after the port name is shown with one in front.
        texts[name] = "%s" + text if name.endswith("Suffix") else text
    if len(texts) < 4:
        fault("the message table %s gave only %r" % (MESSAGE_TABLE, sorted(texts)))
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


def read_text(path, bom):
    with open(path, "rb") as f:
        data = f.read()
    name = os.path.basename(path)
    if data.startswith(BOM) != bom:
        fault("%s %s a UTF-8 byte order mark" % (name, "lacks" if bom else "starts with"))
    if data.replace(b"\r\n", b"").count(b"\n") or data.replace(b"\r\n", b"").count(b"\r"):
        fault("%s has line ends other than CRLF" % name)
    try:
        return data[len(BOM) if bom else 0:].decode("utf-8")
    except UnicodeDecodeError as error:
        fault("%s is not UTF-8: %s" % (name, error))
        return ""


def check_guides(top, texts):
    _, _, version, product = check_dll.product_version()
    shown_version = "%s Ver%s" % (product, version)
    for guide in GUIDES:
        body = read_text(os.path.join(top, guide), bom=True)
        if shown_version not in body:
            fault("%s does not name the version the host shows, %r" % (guide, shown_version))
        for name, text in texts.items():
            if "%s" in text:
                # Shown with the port name in front: the guide shows it with one.
                before, after = text.split("%s", 1)
                pattern = re.escape(before) + r"[A-Za-z]+[0-9]*" + re.escape(after)
                if not re.search(pattern, body):
                    fault("%s does not show %s, %r, with a port name in it" % (guide, name, text))
            elif text not in body:
                fault("%s does not name %s, %r" % (guide, name, text))
    print("both guides name %d message texts: %s" % (len(texts), ", ".join(repr(t) for t in texts.values())))


def check_sample(top):
    body = read_text(os.path.join(top, "RS232C-sample.ini"), bom=False)
    if not body.isascii():
        fault("RS232C-sample.ini is not plain ASCII: the profile functions read it in the system's code page")


def main():
    zip_path, tested, folder = sys.argv[1:4]
    texts = message_texts()
    no_texts_outside_the_table()
    top = unpack(zip_path, folder)
    if top:
        check_sums(top)
        check_tested_dll(top, tested)
        dll = os.path.join(top, "RS232C.dll")
        check_dll.check(dll, "i386", True)
        faults.extend(check_dll.faults)
        check_guides(top, texts)
        check_sample(top)
    for text in faults:
        print("FAULT: " + text, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
