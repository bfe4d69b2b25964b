#!/usr/bin/env python3
"""Checks on the built Windows binaries that need no Windows to run.

1. Imports: every import of Vorlund.exe and VorlundSetup.dll is a function
   that CE 5 provides (tests/device/ce5-allowlist.txt), or one that the
   desktop C runtime's own startup needs (desktop-runtime-imports.txt).
2. Exports: the setup library exports the four hooks, undecorated.
3. Resources: the progress window's dialog template in Vorlund.exe carries
   exactly the intended values.
Prints "N passed, N failed"; exits non-zero on a failure.
"""
import argparse
import struct
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "device"))
from device_check import Tally, read_sections  # noqa: E402

# Desktop DLL -> the CE library that provides the same functions.
CE_HOME = {"kernel32": "coredll", "user32": "coredll", "advapi32": "coredll",
           "gdi32": "coredll", "msvcrt": "coredll", "comctl32": "commctrl"}
HOOKS = ["Install_Exit", "Install_Init", "Uninstall_Exit", "Uninstall_Init"]


def linked_names(binary):
    """([(dll, function)] imported, [name] exported) of a PE file."""
    text = subprocess.run(["llvm-readobj", "--coff-imports", "--coff-exports", str(binary)],
                          check=True, stdout=subprocess.PIPE, text=True).stdout
    imports, exports, dll, block = [], [], None, None
    for line in text.splitlines():
        key, _, value = line.strip().partition(": ")
        if line.endswith("{"):
            block = line.split()[0]
        elif block == "Import" and key == "Name":
            dll = value.lower().removesuffix(".dll")
        elif block == "Import" and key == "Symbol":
            imports.append((dll, value.split(" (")[0]))
        elif block == "Export" and key == "Name" and value:
            exports.append(value)
    return imports, exports


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


def check_binaries(tally, build, allowed, runtime):
    print("imports and exports:")
    for binary in (build / "bin" / "Vorlund.exe", build / "bin" / "VorlundSetup.dll"):
        imports, exports = linked_names(binary)
        bad = [f"{dll}!{name}" for dll, name in imports
               if name not in allowed.get(CE_HOME.get(dll), set()) | runtime.get(dll, set())]
        tally.check(f"{binary.name}: every import is CE 5's or the desktop runtime's startup's",
                    not bad, "unexplained: " + ", ".join(bad))
        if binary.suffix == ".dll":
            tally.check("VorlundSetup.dll exports exactly the four hooks, undecorated",
                        sorted(exports) == HOOKS, repr(exports))


def check_dialog(tally, build):
    print("progress window template:")
    found = resource_data(build / "bin" / "Vorlund.exe", 5, 101)
    tally.check("one dialog 101, in US English (0x409) only", list(found) == [0x409],
                f"languages: {[hex(k) for k in found]}")
    if 0x409 in found:
        dialog = parse_dialog(found[0x409])
        tally.check("the template: header and both controls exactly as intended",
                    dialog == EXPECTED_DIALOG, "differs: " + repr(
                        {k: (dialog.get(k), v) for k, v in EXPECTED_DIALOG.items() if dialog.get(k) != v}))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    build = Path(parser.parse_args().build).resolve()
    tally = Tally()
    check_binaries(tally, build, read_sections(HERE.parent / "device" / "ce5-allowlist.txt"),
                   read_sections(HERE / "desktop-runtime-imports.txt"))
    check_dialog(tally, build)
    print(f"{tally.passed} passed, {tally.failed} failed")
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
