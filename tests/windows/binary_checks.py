#!/usr/bin/env python3
"""Checks of the built Windows binaries needing no Windows: every import is CE 5's
(ce5-allowlist.txt) or the desktop runtime's startup's; the setup library exports the four
hooks, undecorated; Vorlund.exe holds dialog 101 in US English and nothing else."""
import argparse
import re
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


def check_resources(tally, build):
    """The launcher's resources as the linker laid them out: the dialog template the provider
    loads by number (its contents are the Wine rows' to show), nothing else."""
    text = subprocess.run(["llvm-readobj", "--coff-resources", str(build / "bin" / "Vorlund.exe")],
                          check=True, stdout=subprocess.PIPE, text=True).stdout
    found = re.findall(r"Total Number of Resources: (\d+)|(Type|Name|Language): .*\(ID (\d+)\)", text)
    tally.check("Vorlund.exe holds one resource: dialog 101, in US English (1033)",
                found == [("1", "", ""), ("", "Type", "5"), ("", "Name", "101"),
                          ("", "Language", "1033")], repr(found))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    build = Path(parser.parse_args().build).resolve()
    tally = Tally()
    check_binaries(tally, build, read_sections(HERE.parent / "device" / "ce5-allowlist.txt"),
                   read_sections(HERE / "desktop-runtime-imports.txt"))
    check_resources(tally, build)
    print(f"{tally.passed} passed, {tally.failed} failed")
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
