#!/usr/bin/env python3
"""Runs what bench/ measures and prints the figures as one JSON object:
the host benchmarks' medians, the footprint on the device's ABI and the Wine
timings. scripts/benchmark builds the programs and calls this inside an X
display; scripts/performance_report.py turns its output into
docs/PERFORMANCE.md."""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CABS = 100


def output(*args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True).stdout


def host_figures(binary, reps):
    """Medians of the Google Benchmark runs, by run name."""
    text = output(binary, f"--benchmark_repetitions={reps}", "--benchmark_format=json",
                  "--benchmark_report_aggregates_only=true")
    runs = {b["run_name"]: b for b in json.loads(text)["benchmarks"] if b["aggregate_name"] == "median"}
    failed = [b["run_name"] for b in json.loads(text)["benchmarks"] if b.get("error_occurred")]
    if failed or len(runs) < 15:
        sys.exit(f"benchmarks failed: {failed or sorted(runs)}")
    return runs


def wine_figures(windows_build, reps):
    """Per run, the launcher's time per CAB over the bare loop's, with its fixed start and
    without it; the fixed start; the load."""
    prefix = (windows_build / "bench" / "wine-prefix").resolve()
    shutil.rmtree(prefix, ignore_errors=True)
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    drive = prefix / "drive_c"
    stamps = drive / "starts.txt"  # the stand-in installer's start times, in microseconds

    def wine(*args, installs=None, display=True):
        """Wall seconds, and the mean time from one installer start to the next (middle 80%)."""
        stamps.unlink(missing_ok=True)
        start = time.monotonic()
        use = env if display else {k: v for k, v in env.items() if k != "DISPLAY"}
        subprocess.run(["wine", *args], cwd=drive, env=use, check=True, timeout=900,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seconds = time.monotonic() - start
        starts = [int(t) / 1e6 for t in stamps.read_text().split()] if stamps.exists() else []
        if installs is not None and len(starts) != installs:
            sys.exit(f"{args[0]} started the installer {len(starts)} times, not {installs}")
        gaps = sorted(b - a for a, b in zip(starts, starts[1:]))
        middle = gaps[len(gaps) // 10:len(gaps) - len(gaps) // 10]
        return seconds, statistics.mean(middle) if middle else 0

    subprocess.run(["wineboot", "-i"], env=env, check=True, capture_output=True, timeout=600)
    subprocess.run(["wineserver", "-p"], env=env, check=True, stderr=subprocess.DEVNULL)
    # Wine's own desktop: without a window manager, Wine waits 2 s for an X
    # window to close, a cost no device has.
    wine("reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "Default", "/f")
    wine("reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default", "/d", "800x600", "/f")
    shutil.copy(windows_build / "bench" / "NullInstaller.exe", drive / "windows" / "wceload.exe")
    shutil.copy(windows_build / "bench" / "BareLoop.exe", drive / "BareLoop.exe")
    bundle = drive / "Bundle"
    bundle.mkdir()
    shutil.copy(windows_build / "bin" / "Vorlund.exe", bundle)

    def launcher(count, measured=True, display=True):
        names = [f"cab{i}.cab" for i in range(count)]
        (bundle / "Vorlund.ini").write_bytes("".join(n + "\r\n" for n in names).encode())
        for name in names:
            (bundle / name).write_bytes(b"MSCF")
        timing = wine(r"C:\Bundle\Vorlund.exe", installs=count if measured else None, display=display)
        if list(bundle.glob("*.cab")):
            sys.exit("Vorlund.exe left CAB files behind: the run did not go to its end")
        return timing

    def bare(count):
        return wine(r"C:\BareLoop.exe", str(count), "C:\\Bundle\\", installs=count)

    # Each: launcher over CABS, bare loop over CABS, launcher over 0, bare over 0, launcher over
    # CABS with no display (its window cannot be created).
    runs, load = [], []
    try:
        # Wine's desktop starts with the first window, untraced: it outlives the run.
        launcher(1, measured=False)
        for rep in range(reps):
            if rep % 2:  # which goes first alternates, so that a drifting load favours neither
                b100, l100, b0, l0 = bare(CABS), launcher(CABS), bare(0), launcher(0)
            else:
                l100, b100, l0, b0 = launcher(CABS), bare(CABS), launcher(0), bare(0)
            runs.append((l100, b100, l0, b0, launcher(CABS, display=False)))
            load.append(os.getloadavg()[0])
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    # Each run's ratios come from times taken side by side, under the same load.
    return {"with": [l100[0] / b100[0] for l100, b100, *_ in runs],
            "without": [l100[1] / b100[1] for l100, b100, *_ in runs],
            "no window": [blind[1] / b100[1] for _, b100, _, _, blind in runs],
            "fixed": statistics.median(l0[0] - b0[0] for _, _, l0, b0, _ in runs),
            "bare": statistics.median(b100[0] for _, b100, *_ in runs),
            "load": statistics.median(load)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", type=Path, required=True)
    parser.add_argument("--windows-build", type=Path, required=True)
    parser.add_argument("--reps", type=int, default=5, help="repetitions of each host benchmark")
    parser.add_argument("--wine-runs", type=int, default=11, help="runs of each program under Wine")
    args = parser.parse_args()
    print("benchmark: simulated device ...", file=sys.stderr)
    host = host_figures(args.bench, args.reps)
    print("benchmark: footprint on 32-bit ARM ...", file=sys.stderr)
    foot = json.loads(output(sys.executable, str(ROOT / "bench" / "footprint.py")))
    print("benchmark: Wine ...", file=sys.stderr)
    wine = wine_figures(args.windows_build, args.wine_runs)
    json.dump({"host": host, "footprint": foot, "wine": wine, "reps": args.reps,
               "wine_runs": args.wine_runs}, sys.stdout)


if __name__ == "__main__":
    main()
