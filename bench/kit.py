#!/usr/bin/env python3
"""vorlund-kit's real waits, each beside what a user would otherwise run, in
one run: `pack` of a bundle of 998 files (100 MB) against `gcab -c` on the
same files, `inspect` of that CAB against `cabextract -t`, `rehearse` of a
10,000-name list, `inspect` of the largest legal install header (every
directory elsewhere, and every directory under the install directory), and
`inspect` of a 1 GiB file that is no cabinet. The inputs are generated into a
scratch directory (bench/KitInputs.cpp). Prints one JSON object: each
command's wall and CPU seconds per run, the ratios to the anchors per run,
their medians and ranges, and each goal's verdict."""
import argparse
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

# The goals: a ratio to the anchor, or seconds.
RATIO_GOALS = {"pack": ("gcab -c", 1.2), "inspect": ("cabextract -t", 0.5)}
SECONDS_GOALS = {"rehearse 10,000 names": 0.5, "inspect largest header": 0.5,
                 "inspect largest header, all under the install directory": 0.5,
                 "inspect 1 GiB non-cabinet": 0.1}


def timed(args, ok=(0,)):
    """Wall and CPU seconds (user + system, the children's) of one command."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    done = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode not in ok:
        sys.exit(f"{' '.join(map(str, args))}: exit status {done.returncode}\n{done.stderr}")
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return {"wall": wall, "cpu": cpu}


def summary(values):
    return {"median": statistics.median(values), "min": min(values), "max": max(values)}


def measure(kit, inputs_tool, runs, scratch):
    inputs, out = scratch / "inputs", scratch / "out"
    subprocess.run([inputs_tool, inputs], check=True)
    out.mkdir()
    bundle = inputs / "bundle"
    files = sorted(str(p) for p in bundle.iterdir())
    # Exit status 1: findings that are warnings (the bundle's programs are stand-ins).
    warned = (0, 1)

    def pack():
        for name in ("p.cab", "p.inf"):
            (out / name).unlink(missing_ok=True)
        return timed([kit, "pack", bundle, "-o", out / "p.cab"], warned)

    def gcab():
        (out / "g.cab").unlink(missing_ok=True)
        return timed(["gcab", "-c", "-n", out / "g.cab", *files])

    steps = {
        "pack": pack,
        "gcab -c": gcab,
        "inspect": lambda: timed([kit, "inspect", out / "p.cab"], warned),
        "cabextract -t": lambda: timed(["cabextract", "-q", "-t", out / "p.cab"]),
        "rehearse 10,000 names": lambda: timed([kit, "rehearse", inputs / "list"], warned),
        "inspect largest header": lambda: timed([kit, "inspect", inputs / "largest.cab"], warned),
        "inspect largest header, all under the install directory":
            lambda: timed([kit, "inspect", inputs / "largest-inside.cab"], warned),
        "inspect 1 GiB non-cabinet": lambda: timed([kit, "inspect", inputs / "gibibyte.bin"], (2,)),
    }
    pack()  # the CAB that inspect and cabextract read, before the first timed run
    times = {name: [] for name in steps}
    load = []
    for run in range(runs):
        # Each command beside its anchor, in alternating order, so that a drifting
        # load favours neither.
        order = list(steps)
        if run % 2:
            order = [order[i ^ 1] if i < 4 else order[i] for i in range(len(order))]
        for name in order:
            times[name].append(steps[name]())
        load.append(os.getloadavg()[0])

    figures = {}
    for name, goal in RATIO_GOALS.items():
        anchor, most = goal
        ratios = [t["wall"] / a["wall"] for t, a in zip(times[name], times[anchor])]
        cpu_ratios = [t["cpu"] / a["cpu"] for t, a in zip(times[name], times[anchor]) if a["cpu"]]
        figures[name] = {"anchor": anchor, "goal_ratio": most, "ratio": summary(ratios),
                         "cpu_ratio": summary(cpu_ratios) if cpu_ratios else None,
                         "met": statistics.median(ratios) <= most}
    for name, most in SECONDS_GOALS.items():
        walls = [t["wall"] for t in times[name]]
        figures[name] = {"goal_seconds": most, "wall": summary(walls),
                         "cpu": summary([t["cpu"] for t in times[name]]),
                         "met": statistics.median(walls) <= most}
    return {"runs": runs, "times": times, "figures": figures, "load": summary(load),
            "bundle_files": len(files),
            "bundle_bytes": sum(os.path.getsize(f) for f in files),
            "cab_bytes": os.path.getsize(out / "p.cab")}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--kit", type=Path, required=True, help="vorlund-kit as scripts/kit builds it")
    parser.add_argument("--inputs", type=Path, required=True, help="bench/KitInputs.cpp's program")
    parser.add_argument("--runs", type=int, default=5, help="runs of each command")
    args = parser.parse_args()
    for tool in ("gcab", "cabextract"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is not installed")
    with tempfile.TemporaryDirectory(prefix="vorlund-kit-bench-") as scratch:
        result = measure(args.kit.resolve(), args.inputs.resolve(), args.runs, Path(scratch))
    json.dump(result, sys.stdout, indent=1)
    print()


if __name__ == "__main__":
    main()
