#!/usr/bin/env python3
"""Checks on the built Windows binaries that need no Windows to run.

1. Imports: the shipped objects (provider, logic, entry) may call only system
   functions that Windows CE 5 provides (ce5-allowlist.txt); the linked
   binaries may in addition import what the desktop C runtime's startup needs
   (desktop-runtime-imports.txt), and nothing else.
2. Resources: the progress window's dialog template in Vorlund.exe carries
   exactly the intended values.
Prints "N passed, N failed"; exits non-zero on a failure.
"""
import argparse
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOOL_PREFIX = "x86_64-w64-mingw32-"

# Desktop DLL -> the CE library that provides the same functions.
CE_HOME = {"kernel32": "coredll", "user32": "coredll", "advapi32": "coredll",
           "gdi32": "coredll", "msvcrt": "coredll", "comctl32": "commctrl"}

SHIPPED_TARGETS = ("Vorlund", "VorlundSetup")


def read_sections(path):
    """{section: set(names)} from a list file with [section] headers."""
    sections = {}
    current = None
    for raw in Path(path).read_text().splitlines():
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].lower(), set())
        else:
            current.add(line)
    return sections


def imports_of(binary):
    """[(dll, function)] from the import table of a PE file."""
    text = subprocess.run([TOOL_PREFIX + "objdump", "-p", str(binary)], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    found = []
    dll = None
    in_table = False
    for line in text.splitlines():
        stripped = line.strip()
        if stripped.startswith("DLL Name:"):
            dll = stripped.split(":", 1)[1].strip().lower()
            dll = dll[:-4] if dll.endswith(".dll") else dll
            in_table = False
        elif dll and stripped.startswith("vma:"):
            in_table = True
        elif dll and in_table:
            parts = stripped.split()
            if len(parts) >= 3 and all(c in "0123456789abcdef" for c in parts[0]):
                found.append((dll, parts[2]))
            elif not stripped:
                dll = None
                in_table = False
    return found


def symbols(obj, defined):
    flag = "--defined-only" if defined else "-u"
    text = subprocess.run([TOOL_PREFIX + "nm", flag, str(obj)], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    return {line.split()[-1] for line in text.splitlines() if line.strip()}


def unexplained_imports(binary, allowed, runtime):
    bad = []
    for dll, name in imports_of(binary):
        home = CE_HOME.get(dll)
        if home is not None and name in allowed.get(home, set()):
            continue
        if name in runtime.get(dll, set()):
            continue
        bad.append(f"{dll}!{name}")
    return bad


def unexplained_references(objects, allowed):
    """Outside references of a set of objects that CE 5 does not provide."""
    defined = set()
    for obj in objects:
        defined |= symbols(obj, True)
    ce = allowed.get("coredll", set()) | allowed.get("commctrl", set())
    bad = set()
    for obj in objects:
        for name in symbols(obj, False):
            if name in defined:
                continue
            plain = name[len("__imp_"):] if name.startswith("__imp_") else name
            if plain in ce or name in allowed.get("compiler", set()):
                continue
            bad.add(plain)
    return sorted(bad)


# ---- Dialog template -------------------------------------------------------

def resource_data(pe_path, type_id, name_id):
    """{language: bytes} of one resource of a PE file."""
    data = Path(pe_path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections_count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    rsrc_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    sections = []
    table = optional + optional_size
    for i in range(sections_count):
        vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, table + i * 40 + 8)
        sections.append((vaddr, max(vsize, rsize), raddr))

    def offset(rva):
        for vaddr, size, raddr in sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError(f"rva {rva:#x} outside every section")

    base = offset(rsrc_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield ident, target

    out = {}
    for ident, target in entries(0):
        if ident != type_id:
            continue
        for name, target2 in entries(target & 0x7FFFFFFF):
            if name != name_id:
                continue
            for language, leaf in entries(target2 & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                start = offset(rva)
                out[language] = data[start:start + size]
    return out


def parse_dialog(blob):
    """A DLGTEMPLATE and its items as plain values."""
    position = 0

    def take(fmt):
        nonlocal position
        values = struct.unpack_from("<" + fmt, blob, position)
        position += struct.calcsize("<" + fmt)
        return values

    def sz_or_ordinal():
        nonlocal position
        first = struct.unpack_from("<H", blob, position)[0]
        if first == 0xFFFF:
            position += 4
            return ("ordinal", struct.unpack_from("<H", blob, position - 2)[0])
        end = position
        while struct.unpack_from("<H", blob, end)[0] != 0:
            end += 2
        text = blob[position:end].decode("utf-16-le")
        position = end + 2
        return text

    style, exstyle, count, x, y, cx, cy = take("IIHhhhh")
    dialog = {"style": style, "exstyle": exstyle, "items": count, "rect": (x, y, cx, cy),
              "menu": sz_or_ordinal(), "class": sz_or_ordinal(), "caption": sz_or_ordinal()}
    if style & 0x40:  # DS_SETFONT
        dialog["points"] = take("H")[0]
        dialog["font"] = sz_or_ordinal()
    controls = []
    for _ in range(count):
        position = (position + 3) & ~3
        style, exstyle, x, y, cx, cy, ident = take("IIhhhhH")
        control = {"style": style, "exstyle": exstyle, "rect": (x, y, cx, cy), "id": ident,
                   "class": sz_or_ordinal(), "text": sz_or_ordinal()}
        control["extra"] = take("H")[0]
        position += control["extra"]
        controls.append(control)
    dialog["controls"] = controls
    dialog["trailing"] = len(blob) - position
    return dialog


EXPECTED_DIALOG = {
    "style": 0x90C00A40, "exstyle": 0, "items": 2, "rect": (0, 0, 133, 41),
    "menu": "", "class": "", "caption": "Brannoch Software", "points": 10, "font": "Tahoma",
    "controls": [
        {"style": 0x50020001, "exstyle": 0, "rect": (0, 7, 132, 8), "id": 0xFFFF,
         "class": "static", "text": "", "extra": 0},
        {"style": 0x50800001, "exstyle": 0, "rect": (1, 22, 131, 10), "id": 1002,
         "class": "msctls_progress32", "text": "", "extra": 0},
    ],
    "trailing": 0,
}

# The style words spelled out, as the window manager reads them.
DIALOG_STYLE_BITS = {"WS_POPUP": 0x80000000, "WS_VISIBLE": 0x10000000,
                     "WS_CAPTION": 0x00C00000, "DS_CENTER": 0x0800,
                     "DS_SETFOREGROUND": 0x0200, "DS_SETFONT": 0x0040}
STATIC_STYLE_BITS = {"WS_CHILD": 0x40000000, "WS_VISIBLE": 0x10000000,
                     "WS_GROUP": 0x00020000, "SS_CENTER": 0x0001}
PROGRESS_STYLE_BITS = {"WS_CHILD": 0x40000000, "WS_VISIBLE": 0x10000000,
                       "WS_BORDER": 0x00800000, "PBS_SMOOTH": 0x0001}


class Tally:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, what, ok, detail=""):
        if ok:
            self.passed += 1
            print(f"  ok    {what}")
        else:
            self.failed += 1
            print(f"  FAIL  {what}" + (f"\n        {detail}" if detail else ""))


def check_imports(tally, build, allowed, runtime):
    print("imports:")
    for target in SHIPPED_TARGETS:
        objects = sorted((build / "CMakeFiles" / f"{target}.dir").rglob("*.obj"))
        suffix = ".exe" if target == "Vorlund" else ".dll"
        binary = build / "bin" / (target + suffix)
        if not objects and not binary.exists():
            print(f"  ({target} is not built yet)")
            continue
        bad = unexplained_references(objects, allowed)
        tally.check(f"{target}: shipped objects call only CE 5 functions", not bad,
                    "not in ce5-allowlist.txt: " + ", ".join(bad))
        if binary.exists():
            bad = unexplained_imports(binary, allowed, runtime)
            tally.check(f"{binary.name}: every import is CE 5's or the desktop runtime's",
                        not bad, "unexplained: " + ", ".join(bad))
        else:
            tally.check(f"{binary.name} was linked", False)
    if (build / "bin" / "VorlundSetup.dll").exists():
        exports = subprocess.run([TOOL_PREFIX + "objdump", "-p",
                                  str(build / "bin" / "VorlundSetup.dll")],
                                 stdout=subprocess.PIPE, text=True).stdout
        names = {"Install_Init", "Install_Exit", "Uninstall_Init", "Uninstall_Exit"}
        listed = {n for n in names if f"] {n}\n" in exports or f" {n}\n" in exports}
        tally.check("VorlundSetup.dll exports the four hooks undecorated", listed == names,
                    f"missing: {sorted(names - listed)}")


def check_checker_rejects(tally, allowed):
    """The check must catch a call that CE 5 lacks, not just pass everything."""
    probe_source = (
        "#include <windows.h>\n#include <shlwapi.h>\n"
        "int probe(wchar_t* b) { GetCurrentDirectoryW(10, b);"
        " return (int)SHDeleteKeyW(HKEY_CURRENT_USER, b); }\n")
    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder) / "probe.cpp"
        source.write_text(probe_source)
        obj = Path(folder) / "probe.obj"
        subprocess.run([TOOL_PREFIX + "g++", "-c", str(source), "-o", str(obj)], check=True)
        bad = unexplained_references([obj], allowed)
    tally.check("the check flags functions CE 5 lacks (current directory, shlwapi)",
                bad == ["GetCurrentDirectoryW", "SHDeleteKeyW"], repr(bad))


def check_dialog(tally, build):
    print("progress window template:")
    exe = build / "bin" / "Vorlund.exe"
    found = resource_data(exe, 5, 101)
    tally.check("one dialog 101, in US English (0x409) only", list(found) == [0x409],
                f"languages: {[hex(k) for k in found]}")
    if 0x409 not in found:
        return
    blob = found[0x409]
    tally.check("a plain template, not the extended form",
                struct.unpack_from("<I", blob, 0)[0] != 0xFFFF0001)
    dialog = parse_dialog(blob)
    header = {k: v for k, v in dialog.items() if k != "controls"}
    expected_header = {k: v for k, v in EXPECTED_DIALOG.items() if k != "controls"}
    tally.check("dialog: style 0x90C00A40, no extended style, 133 x 41 at (0,0), no menu, "
                "default class, caption, Tahoma 10, nothing after the controls",
                header == expected_header,
                "differs: " + repr({k: (header.get(k), v) for k, v in expected_header.items()
                                    if header.get(k) != v}))
    for index, (actual, expected) in enumerate(zip(dialog["controls"],
                                                   EXPECTED_DIALOG["controls"]), 1):
        tally.check(f"control {index}: class \"{expected['class']}\", style "
                    f"{expected['style']:#010x}, {expected['rect']}, id {expected['id']}, no text",
                    actual == expected, f"actual {actual!r}")
    # The numbers above are the named flags of the design, nothing more or less.
    spelled = []
    for bits, style in ((DIALOG_STYLE_BITS, EXPECTED_DIALOG["style"]),
                        (STATIC_STYLE_BITS, EXPECTED_DIALOG["controls"][0]["style"]),
                        (PROGRESS_STYLE_BITS, EXPECTED_DIALOG["controls"][1]["style"])):
        total = 0
        for value in bits.values():
            total |= value
        spelled.append(total == style)
    tally.check("each style value is exactly the sum of its named flags", all(spelled))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    build = Path(parser.parse_args().build).resolve()
    allowed = read_sections(HERE / "ce5-allowlist.txt")
    runtime = read_sections(HERE / "desktop-runtime-imports.txt")
    tally = Tally()
    check_imports(tally, build, allowed, runtime)
    check_checker_rejects(tally, allowed)
    check_dialog(tally, build)
    print(f"{tally.passed} passed, {tally.failed} failed")
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
