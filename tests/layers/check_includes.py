#!/usr/bin/env python3
"""Fails when an include runs the wrong way between the product's layers.

Dependencies run one way: plugin -> ui -> device, platform -> device, and the
plug-in module (plugin/) wires the platform to the device at load. device/
includes nothing of the others and no Windows header: only its own headers and
the standard library. The build enforces most of this through each layer's
include path; this check also catches what the compiler would let through: a
relative path ("../plugin/X.h") and a Windows header in device/.

    check_includes.py ROOT       checks the tree at ROOT
    check_includes.py --self-test  plants wrong-way includes in a scratch tree
                                   and fails unless each one is caught
"""
import os
import re
import shutil
import sys
import tempfile

# What each layer may include, its own folder included.
ALLOWED = {
    "device": {"device"},
    "platform": {"platform", "device"},
    "ui": {"ui", "device"},
    "plugin": {"plugin", "ui", "device", "platform"},
}
LAYERS = set(ALLOWED)
OTHER_FOLDERS = {"tests", "tools", "fuzz", "bench", "scripts", "cmake", "docs"}
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".rc")

# The C++17 standard library and its C headers: all device/ may include
# besides its own headers.
STANDARD_HEADERS = set("""
algorithm any array atomic bitset cassert cctype cerrno cfenv cfloat charconv chrono cinttypes climits clocale
cmath codecvt complex condition_variable csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime
cuchar cwchar cwctype deque exception execution filesystem forward_list fstream functional future
initializer_list iomanip ios iosfwd iostream istream iterator limits list locale map memory memory_resource mutex
new numeric optional ostream queue random ratio regex scoped_allocator set shared_mutex sstream stack stdexcept
streambuf string string_view system_error thread tuple type_traits typeindex typeinfo unordered_map
unordered_set utility valarray variant vector
""".split())

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(path, root):
    """The top folder of `path` inside the tree, or None when outside it."""
    rel = os.path.relpath(os.path.realpath(path), os.path.realpath(root))
    if rel.startswith(".."):
        return None
    return rel.split(os.sep)[0]


def target_of(source, kind, name, root):
    """The folder an include reaches, or None for a header from outside the tree."""
    if kind == '"':
        beside = os.path.join(os.path.dirname(source), name)
        if os.path.exists(beside):
            return layer_of(beside, root)
    first = name.replace("\\", "/").split("/")[0]
    if first in LAYERS or first in OTHER_FOLDERS:
        return first
    return None


def check(root):
    faults = []
    for layer in sorted(LAYERS):
        top = os.path.join(root, layer)
        for folder, _, files in os.walk(top):
            for file in sorted(files):
                if not file.endswith(SOURCE_SUFFIXES):
                    continue
                source = os.path.join(folder, file)
                with open(source, encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        kind, name = match.groups()
                        where = "%s:%d: %s includes %s%s%s" % (
                            os.path.relpath(source, root), number, layer, kind, name, ">" if kind == "<" else '"')
                        reached = target_of(source, kind, name, root)
                        if reached is None:
                            if layer == "device" and name not in STANDARD_HEADERS:
                                faults.append(where + ": device/ includes only its own headers and the standard library")
                        elif reached not in ALLOWED[layer]:
                            faults.append(where + ": %s/ may not depend on %s/" % (layer, reached))
    return faults


def self_test():
    """Each planted include must be caught, and the clean tree must pass."""
    here = os.path.dirname(os.path.abspath(__file__))
    real_root = os.path.dirname(os.path.dirname(here))
    plants = [
        ("device/Planted.h", '#include "plugin/HostInterface.h"\n'),
        ("device/Planted.h", '#include "../ui/Profile.h"\n'),
        ("device/Planted.h", "#include <windows.h>\n"),
        ("device/Planted.h", '#include "platform/win32/Win32Platform.h"\n'),
        ("ui/Planted.cpp", '#include "plugin/PluginModule.h"\n'),
        ("ui/Planted.cpp", '#include "platform/win32/Win32Platform.h"\n'),
        ("platform/Planted.cpp", '#include "ui/Settings.h"\n'),
        ("device/Planted.cpp", '#include "tests/support/FakeHost.h"\n'),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        for layer in LAYERS:
            shutil.copytree(os.path.join(real_root, layer), os.path.join(scratch, layer))
        if check(scratch):
            print("self-test: the unchanged tree fails the check")
            failures += 1
        for file, include in plants:
            path = os.path.join(scratch, file)
            with open(path, "w") as planted:
                planted.write(include)
            found = check(scratch)
            os.remove(path)
            if len(found) != 1:
                print("self-test: %s in %s gave %d faults, not 1: %r" % (include.strip(), file, len(found), found))
                failures += 1
    print("self-test: %d planted includes, %d missed" % (len(plants), failures))
    return failures == 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return 0 if self_test() else 1
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    faults = check(sys.argv[1])
    for fault in faults:
        print(fault)
    print("%d wrong-way includes" % len(faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
