#!/usr/bin/env python3
"""Checks of the built Windows binaries needing no Windows: the setup library exports the four
hooks, undecorated; Vorlund.exe holds dialog 101 in US English and nothing else. (What the
shipped code imports is held to CE 5's functions by the device compile check.)"""
import argparse
import re
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "device"))
from device_check import Tally  # noqa: E402

HOOKS = ["Install_Exit", "Install_Init", "Uninstall_Exit", "Uninstall_Init"]


def readobj(binary, *options):
    return subprocess.run(["llvm-readobj", *options, str(binary)], check=True,
                          stdout=subprocess.PIPE, text=True).stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    build = Path(parser.parse_args().build).resolve() / "bin"
    tally = Tally()
    exports = re.findall(r"^\s*Name: (\S+)$", readobj(build / "VorlundSetup.dll", "--coff-exports"), re.M)
    tally.check("VorlundSetup.dll exports exactly the four hooks, undecorated",
                sorted(exports) == HOOKS, repr(exports))
    # The dialog template the provider loads by number (its contents are the Wine rows' to show).
    found = re.findall(r"Total Number of Resources: (\d+)|(Type|Name|Language): .*\(ID (\d+)\)",
                       readobj(build / "Vorlund.exe", "--coff-resources"))
    tally.check("Vorlund.exe holds one resource: dialog 101, in US English (1033)",
                found == [("1", "", ""), ("", "Type", "5"), ("", "Name", "101"),
                          ("", "Language", "1033")], repr(found))
    print(f"{tally.passed} passed, {tally.failed} failed")
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
