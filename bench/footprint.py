#!/usr/bin/env python3
"""Footprint of Vorlund.exe and VorlundSetup.dll on the device's ABI, from the
32-bit ARM compile of tests/device/device_check.py: the deepest stack of the
program's own frames from each entry (the compiler's frames, -fstack-usage,
summed along the call graph that the same objects' code shows; the platform's
functions count 0), beside the stack the thread has, and the section sizes of
the shipped objects. Prints one JSON object.

The call graph's edges come from the code alone: a branch to a function is a
call (a tail call when it is no bl/blx); a function whose address is taken
is a callback, called by the platform inside the platform call it is handed
to (the dialog procedure inside CreateDialogIndirectParamW, the window
collector inside EnumWindows), or, when it is handed to a function of our
own, by every call through a pointer that our code makes. A callback whose
taker cannot be told, or a call through a pointer with no callback to go
to, stops the measurement, so that a new callback is never left out."""
import json
import re
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "device"))
import device_check  # noqa: E402

# Entry, the goal for the deepest stack of own frames, and the thread's stack:
# CE gives a program's main thread the stack size in its header (64 KB unless
# the linker is told otherwise); the hook runs on the installer's thread.
DELIVERABLES = {
    "Vorlund.exe": dict(group="LAUNCHER", main="device/win32/LauncherMain.cpp", entry="WinMain",
                        goal=12 * 1024, reserved=64 * 1024,
                        reserved_note="the main thread's stack, 64 KB by default on CE"),
    "VorlundSetup.dll": dict(group="SETUP", main="device/win32/LibraryMain.cpp", entry="Install_Exit",
                             goal=4 * 1024, reserved=None,
                             reserved_note="the hook runs on the installer's thread, whose stack "
                                           "size is not known"),
}
# Instructions that write no register named first: stores, compares, branches.
NO_DESTINATION = re.compile(r"^(str|stm|push|cmp|cmn|tst|teq|cbn?z|it|nop|dmb|udf|"
                            r"b(l|lx|x)?(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?)(\.[wn])?$")


def run(*args, stdin=None):
    return subprocess.run(args, input=stdin, check=True, stdout=subprocess.PIPE, text=True).stdout


class Code:
    """The functions of a set of objects: their frames and what each calls."""

    def __init__(self):
        self.frames = {}      # (object, symbol) -> bytes
        self.calls = {}       # (object, symbol) -> [(callee symbol, tail)]
        self.taken = []       # (taker node, function symbol, receiver symbol or None)
        self.pointer_calls = []  # (node, tail): calls through a pointer our code made
        self.data_refs = []   # (object, symbol) named from outside .text

    def read(self, index, obj):
        su = obj.with_suffix(".su")
        for line in su.read_text().splitlines() if su.exists() else []:
            where, size, kind = line.split("\t")
            assert kind == "static", f"a frame of variable size: {where}"
            self.frames[(index, where.rsplit(":", 1)[1])] = int(size)
        # regs: what each register holds, as far as the code shows it: a symbol's
        # address (movw/movt), or what that address holds (an import's slot).
        node, regs, taken, mnemonic, operands = None, {}, [], "", []
        for line in run("llvm-objdump", "-dr", "--no-show-raw-insn", str(obj)).splitlines():
            if m := re.match(r"^[0-9a-f]+ <(.+)>:$", line):
                self.taken += [(node, symbol, None) for symbol in taken]
                node, regs, taken = (index, m[1]), {}, []
                self.calls.setdefault(node, [])
            elif m := re.match(r"^\s+[0-9a-f]+:\s+IMAGE_REL_ARM_(\w+)\s+(\S+)", line):
                kind, symbol = m[1], m[2]
                if kind.startswith(("BRANCH", "BLX")):
                    self.calls[node].append((symbol, mnemonic not in ("bl", "blx")))
                    # The call that follows an address taken receives it.
                    self.taken += [(node, taken_symbol, symbol) for taken_symbol in taken]
                    taken = []
                elif kind == "MOV32T" and mnemonic == "movw":
                    regs[operands[0]] = symbol
                    if not symbol.startswith("__imp_"):
                        taken.append(symbol)  # a function's address, or data's
            elif (m := re.match(r"^\s+([0-9a-f]+):\s+(\S+)\s*(.*)$", line)) and int(m[1], 16) % 2:
                mnemonic = ""  # bytes the disassembler could not decode, read from an odd place
            elif m:
                mnemonic, operands = m[2], [o.strip() for o in m[3].split(",")]
                load = re.fullmatch(r"\[(\w+)\]", operands[1]) if len(operands) == 2 else None
                if mnemonic in ("blx", "bx") and operands[0] != "lr":
                    target = regs.get(operands[0], "")
                    if target.startswith("__imp_"):
                        self.taken += [(node, taken_symbol, target) for taken_symbol in taken]
                        taken = []
                    else:
                        self.pointer_calls.append((node, mnemonic == "bx"))
                    for r in ("r0", "r1", "r2", "r3", "r12", "lr"):
                        regs.pop(r, None)
                elif mnemonic.startswith("ldr") and load:
                    regs[operands[0]] = regs.get(load[1], "")
                elif mnemonic != "movt" and operands and not NO_DESTINATION.match(mnemonic):
                    regs.pop(operands[0], None)
        self.taken += [(node, symbol, None) for symbol in taken]
        section = ""
        for line in run("llvm-objdump", "-r", str(obj)).splitlines():
            if m := re.match(r"^RELOCATION RECORDS FOR \[(.+)\]:", line):
                section = m[1]
            elif (m := re.match(r"^[0-9a-f]+\s+IMAGE_REL_ARM_\w+\s+(\S+)", line)) and \
                    not section.startswith(".text"):
                self.data_refs.append((index, m[1]))

    def resolve(self, obj, name):
        """The definition of `name`: the object's own first; None for the platform's."""
        return (obj, name) if (obj, name) in self.calls else \
            next((n for n in self.calls if n[1] == name), None)

    def callbacks(self):
        """The edges only the code's taken addresses show, (caller, callee, how), and what
        cannot be told, (node, why): a measurement that reaches such a node stops."""
        edges, handed, unknown = [], [], []
        for taker, function, receiver in self.taken:
            target = self.resolve(taker[0], function)
            if target is None or target not in self.calls:
                continue  # data, not a function
            if receiver is None:
                unknown.append((taker, f"{function}: its address is taken here, and no call "
                                       "receives it"))
            elif receiver.startswith("__imp_"):
                edges.append((taker, target, f"inside {receiver[6:]}"))
            else:
                handed.append((target, receiver))
        for node, _ in self.pointer_calls:
            if not handed:
                unknown.append((node, "a call through a pointer, and no function's address is "
                                      "handed to our own code"))
            for target, receiver in handed:
                edges.append((node, target, f"through the pointer handed to {receiver}"))
        for obj, symbol in self.data_refs:
            if (target := self.resolve(obj, symbol)) is not None:
                unknown.append((target, "its address is stored in data"))
        return edges, unknown


def measure(sources, entry, folder):
    code, sizes = Code(), dict.fromkeys(("text", "rdata", "data", "bss"), 0)
    for i, source in enumerate(sources):
        obj = Path(folder) / (source.replace("/", "_") + ".o")
        done = device_check.compile_arm(source, obj, ["-fstack-usage"])
        if done.returncode:
            sys.exit(done.stdout)
        code.read(i, obj)
        for m in re.finditer(r"^\.(text|rdata|data|bss)\S*\s+(\d+)", run("llvm-size", "-A", str(obj)), re.M):
            sizes[m[1]] += int(m[2])
    plain = dict(zip(code.calls, run("llvm-cxxfilt", stdin="\n".join(n for _, n in code.calls)).split("\n")))
    edges = {node: [(code.resolve(node[0], callee), tail) for callee, tail in callees]
             for node, callees in code.calls.items()}
    found, unknown = code.callbacks()
    for caller, callee, _ in found:
        edges[caller].append((callee, False))
    reached, todo = set(), [code.resolve(None, entry)]
    while todo:
        node = todo.pop()
        if node is not None and node not in reached:
            reached.add(node)
            todo += [target for target, _ in edges[node]]
    for node, why in unknown:
        if node in reached:
            sys.exit(f"{plain[node]}: {why}: the stack cannot be measured without knowing "
                     "who calls what there")
    memo, on_path = {}, set()

    def deepest(node):  # (bytes, [(function, frame)]) from the node down; a tail call reuses the frame
        if node in memo:
            return memo[node]
        if node in on_path:  # a cycle: once round it is counted
            return 0, []
        on_path.add(node)
        frame = code.frames.get(node, 0)
        best = (frame, [])
        for target, tail in edges[node]:
            if target is not None:
                depth, path = deepest(target)
                best = max(best, (depth if tail else frame + depth, path), key=lambda b: b[0])
        on_path.discard(node)
        memo[node] = (best[0], [(plain[node], frame)] + best[1])
        return memo[node]

    stack, path = deepest(code.resolve(None, entry))
    def named(how):  # a mangled receiver, as C++ spells it
        return re.sub(r"_Z\w+", lambda m: run("llvm-cxxfilt", m[0]).strip(), how)

    callbacks = [{"caller": plain[a], "callee": plain[b], "how": named(how)}
                 for a, b, how in found if a in reached]
    return dict(entry=entry, stack=stack, path=path, callbacks=callbacks, **sizes)


def main():
    groups = device_check.source_groups()
    figures = {}
    with tempfile.TemporaryDirectory() as folder:
        for name, d in DELIVERABLES.items():
            m = measure(groups["COMMON"] + groups[d["group"]] +
                        ["device/win32/Win32DeviceServices.cpp", d["main"]], d["entry"], folder)
            m.update(label=f"deepest stack of own frames from {d['entry']}, 32-bit ARM "
                           "(the platform's frames not counted)",
                     goal=d["goal"], met=m["stack"] <= d["goal"], reserved=d["reserved"],
                     reserved_note=d["reserved_note"])
            figures[name] = m
    print(json.dumps(figures, indent=1))


if __name__ == "__main__":
    main()
