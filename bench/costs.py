#!/usr/bin/env python3
"""Deterministic cost figures of the launcher on the simulated device: one run of
bench/LauncherCost.cpp over 10, 1,000 and 100,000 listed CABs, each under
valgrind's callgrind, and the platform calls each run made; and the list
reader's instructions per byte of a list of 100,000 names. Prints one JSON
object.

The launcher's own instructions are runLauncher's, its callees included, less
the simulated device's: every call from the shipped code (a function of
namespace vorlund) into the device layer (a device:: function)
is subtracted with everything it ran, as callgrind's inclusive cost of that
call, and every call from the device back into the shipped code (the dialog
procedure) is added back the same way. What is left is the shipped code's own
work, the compiler's helpers it calls (memcpy and the like) included. The
platform calls are the simulated device's count of each call of the device
layer, and its repaints. A run over no CAB gives the fixed start (the window,
the list opened twice); the own instructions per CAB beyond it are the
figure that should not depend on the count.

The reader's instructions are nextListedName's, its callees included, over
the bytes of the list: once as they are (the simulated device's block reads
and the conversions of names that are not all ASCII among them), once as its
own (the device layer's calls subtracted, as above)."""
import argparse
import json
import re
import subprocess
import sys
import tempfile
from pathlib import Path

COUNTS = (10, 1000, 100000)
READER_NAMES = 100000
# The shipped code's functions, by name: namespace vorlund, and the hook's entries.
SHIPPED = re.compile(r"^(vorlund::|(Install|Uninstall)_(Init|Exit)\b)")
# The platform calls per CAB the issue names, by the simulated device's names.
NAMED = {"searches": ("findFirst", "findOpen", "findNext"), "opens": ("openForRead",),
         "reads": ("readBytes",), "process starts": ("startProgram",), "waits": ("waitProcess", "waitProcessAnsweringSent"),
         "deletes": ("deleteFile",), "window messages": ("sendMessage",)}


def costs(outfile, root="vorlund::runLauncher("):
    """(root's inclusive Ir, the Ir of the shipped code's calls into device:: less
    the device's calls back into the shipped code, the latter)."""
    total = device = back = 0
    fn = callee = None
    pending_call = False
    for line in Path(outfile).read_text(errors="replace").splitlines():
        if line.startswith("fn="):
            fn = line[3:]
        elif line.startswith("cfn="):
            callee = line[4:]
        elif line.startswith("calls="):
            pending_call = True
        elif pending_call and line[:1].isdigit():
            ir = int(line.split()[1]) if len(line.split()) > 1 else 0
            if callee.startswith(root):
                total += ir
            elif callee.startswith("device::") and SHIPPED.match(fn):
                device += ir
            elif SHIPPED.match(callee) and not SHIPPED.match(fn):
                device -= ir  # the shipped code's own work, run from inside the device
                back += ir
            pending_call = False
    return total, device, back


def callgrind(program, args, out):
    subprocess.run(["valgrind", "--tool=callgrind", "--compress-strings=no", "--compress-pos=no",
                    f"--callgrind-out-file={out}", program, *args], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def measure_reader(program, scratch, non_ascii):
    """The reader's instructions per byte of a list of READER_NAMES names."""
    args = ["--reader", str(READER_NAMES)] + (["--non-ascii"] if non_ascii else [])
    listed = json.loads(subprocess.run([program, *args], check=True, stdout=subprocess.PIPE,
                                       text=True).stdout)
    out = scratch / f"callgrind.reader{'-non-ascii' if non_ascii else ''}"
    callgrind(program, args, out)
    total, device, _ = costs(out, "vorlund::nextListedName(")
    return {"names": listed["names"], "bytes": listed["bytes"],
            "conversions by the device": listed["calls"]["ansiToWide"],
            "instructions per byte": total / listed["bytes"],
            "own instructions per byte": (total - device) / listed["bytes"]}


def fixed_start(program, scratch):
    """The launcher's own instructions in a run over no CAB."""
    out = scratch / "callgrind.0"
    callgrind(program, ["0"], out)
    total, device, _ = costs(out)
    return total - device


def measure(program, count, scratch):
    calls = json.loads(subprocess.run([program, str(count)], check=True, stdout=subprocess.PIPE,
                                      text=True).stdout)
    out = scratch / f"callgrind.{count}"
    callgrind(program, [str(count)], out)
    total, device, back = costs(out)
    per_cab = {name: sum(calls["calls"][op] for op in ops) / count for name, ops in NAMED.items()}
    per_cab["repaints"] = calls["repaints"] / count
    return {"cabs": count, "instructions": {"runLauncher": total, "device layer": device,
                                            "shipped code run by the device": back,
                                            "own": total - device, "own per CAB": (total - device) / count},
            "platform calls per CAB": per_cab, "platform calls": calls["calls"],
            "repaints": calls["repaints"]}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program", type=Path, required=True, help="vorlund_launcher_cost")
    parser.add_argument("--counts", type=int, nargs="*", default=list(COUNTS))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="vorlund-costs-") as scratch:
        runs = [measure(args.program.resolve(), n, Path(scratch)) for n in args.counts]
        fixed = fixed_start(args.program.resolve(), Path(scratch))
        reader = {"all ASCII": measure_reader(args.program.resolve(), Path(scratch), False),
                  "one name in eight not ASCII": measure_reader(args.program.resolve(),
                                                                Path(scratch), True)}
    own = [r["instructions"]["own per CAB"] for r in runs]
    beyond = [(r["instructions"]["own"] - fixed) / r["cabs"] for r in runs]
    result = {"runs": runs, "reader": reader,
              "own per CAB, spread": max(own) / min(own) - 1,
              "own fixed start (no CAB)": fixed,
              "own per CAB beyond the fixed start": {r["cabs"]: b for r, b in zip(runs, beyond)},
              "own per CAB beyond the fixed start, spread": max(beyond) / min(beyond) - 1,
              "platform calls per CAB constant": all(
                  abs(r["platform calls per CAB"][k] - runs[-1]["platform calls per CAB"][k]) < 0.05
                  for r in runs[1:] for k in ("searches", "opens", "process starts", "waits",
                                              "deletes"))}
    # Beyond the fixed start: the growth between the two largest runs, per CAB.
    if len(runs) >= 2:
        a, b = runs[-2], runs[-1]
        result["own per CAB, marginal"] = ((b["instructions"]["own"] - a["instructions"]["own"])
                                           / (b["cabs"] - a["cabs"]))
    json.dump(result, sys.stdout, indent=1)
    print()


if __name__ == "__main__":
    main()
