#!/usr/bin/env python3
"""Footprint of Vorlund.exe and VorlundSetup.dll on the device's ABI, from the
32-bit ARM compile of tests/device/device_check.py: the deepest stack from each
entry (the compiler's frames, -fstack-usage, summed along the call graph that
the same objects' branch relocations show; the platform's functions count 0)
and the section sizes of the shipped objects. Prints one JSON object."""
import json
import re
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "device"))
import device_check  # noqa: E402

# Calls no relocation shows: the platform runs the dialog procedure inside
# createDialog (CreateDialogIndirectParamW), through the provider's trampoline.
CALLBACKS = [("device::createDialog(", "dialogTrampoline("), ("dialogTrampoline(", "progressProcedure(")]
DELIVERABLES = {"Vorlund.exe": ("LAUNCHER", "device/win32/LauncherMain.cpp", "WinMain"),
                "VorlundSetup.dll": ("SETUP", "device/win32/LibraryMain.cpp", "Install_Exit")}


def run(*args, stdin=None):
    return subprocess.run(args, input=stdin, check=True, stdout=subprocess.PIPE, text=True).stdout


def measure(sources, entry, folder):
    frames, edges, sizes = {}, {}, dict.fromkeys(("text", "rdata", "data", "bss"), 0)
    for i, source in enumerate(sources):
        obj = Path(folder) / (source.replace("/", "_") + ".o")
        done = device_check.compile_arm(source, obj, ["-fstack-usage"])
        if done.returncode:
            sys.exit(done.stdout)
        su = obj.with_suffix(".su")
        for line in su.read_text().splitlines() if su.exists() else []:
            where, size, kind = line.split("\t")
            frames[(i, where.rsplit(":", 1)[1])] = (int(size), kind)
        mnemonic = ""
        for line in run("llvm-objdump", "-dr", "--no-show-raw-insn", str(obj)).splitlines():
            if m := re.match(r"^[0-9a-f]+ <(.+)>:$", line):
                calls = edges.setdefault((i, m[1]), [])
            elif m := re.match(r"^\s+[0-9a-f]+:\s+IMAGE_REL_ARM_(?:BRANCH|BLX)\w+\s+(\S+)", line):
                calls.append((m[1], mnemonic not in ("bl", "blx")))  # else a tail call
            elif m := re.match(r"^\s+[0-9a-f]+:\s+(\S+)", line):
                mnemonic = m[1]
        for m in re.finditer(r"^\.(text|rdata|data|bss)\S*\s+(\d+)", run("llvm-size", "-A", str(obj)), re.M):
            sizes[m[1]] += int(m[2])
    plain = dict(zip(edges, run("llvm-cxxfilt", stdin="\n".join(n for _, n in edges)).split("\n")))
    for caller, callee in CALLBACKS:
        for node in (n for n in edges if caller in plain[n]):
            edges[node] += [(n, False) for n in edges if callee in plain[n]]

    def resolve(obj, name):  # the object's own definition first; None: the platform's
        if isinstance(name, tuple):
            return name
        return (obj, name) if (obj, name) in edges else next((n for n in edges if n[1] == name), None)

    memo = {}

    def deepest(node):  # (bytes, [(function, frame)]) from the node down; a tail call reuses the frame
        if node not in memo:
            frame, best = frames[node][0], (frames[node][0], [])
            for callee, tail in edges[node]:
                if (target := resolve(node[0], callee)) is not None:
                    depth, path = deepest(target)
                    best = max(best, (depth if tail else frame + depth, path), key=lambda b: b[0])
            memo[node] = (best[0], [(plain[node], frame)] + best[1])
        return memo[node]

    assert all(kind == "static" for _, kind in frames.values()), "a frame of variable size"
    stack, path = deepest(resolve(None, entry))
    return dict(entry=entry, stack=stack, path=path, **sizes)


def main():
    groups = device_check.source_groups()
    with tempfile.TemporaryDirectory() as folder:
        print(json.dumps({name: measure(groups["COMMON"] + groups[group] + [
            "device/win32/Win32DeviceServices.cpp", main_source], entry, folder)
            for name, (group, main_source, entry) in DELIVERABLES.items()}, indent=1))


if __name__ == "__main__":
    main()
