#!/usr/bin/env python3
"""Runs what bench/ measures and prints the figures as one JSON object:
the host benchmarks' medians, the launcher's instructions and platform calls
per CAB (bench/costs.py), vorlund-kit's waits beside gcab and cabextract
(bench/kit.py), the footprint on the device's ABI (bench/footprint.py) and the
Wine timings. scripts/benchmark builds the programs and calls this inside an X
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
PAUSE_MS = 250  # the launcher's pause before its window, by design


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


# A run that starts no installer for this long is stuck (a message box nobody
# answers, a hung start): it is ended and counted as failed.
STALL_SECONDS = 60


class RunFailed(Exception):
    """A Wine run that did not go as designed: it is reported, never timed."""


def wine_figures(windows_build, reps):
    """Each program run under Timed.exe, which stamps its start and end on the stand-in
    installer's clock and answers any message box. Per run: the time from one installer
    start to the next (middle 80%), from the start to the first installer start, and from
    the last installer start to the end; from these, the launcher's milliseconds per CAB
    beyond the bare loop's and its fixed start and end, each by its parts."""
    prefix = (windows_build / "bench" / "wine-prefix").resolve()
    shutil.rmtree(prefix, ignore_errors=True)
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    drive = prefix / "drive_c"
    stamps = drive / "starts.txt"  # the stand-in installer's start times, in microseconds
    times = drive / "times.txt"    # Timed.exe's: start, answered message boxes, end

    def wine(*args, display=True, timeout=900):
        """Runs one Wine program; ends it when no installer has started for STALL_SECONDS."""
        use = env if display else {k: v for k, v in env.items() if k != "DISPLAY"}
        process = subprocess.Popen(["wine", *args], cwd=drive, env=use, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        start = last = time.monotonic()
        seen = -1
        while process.poll() is None:
            time.sleep(0.2)
            size = stamps.stat().st_size if stamps.exists() else 0
            if size != seen:
                seen, last = size, time.monotonic()
            stalled = time.monotonic() - last > STALL_SECONDS
            if stalled or time.monotonic() - start > timeout:
                subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
                process.wait()
                raise RunFailed(f"{' '.join(args)}: " + (f"no installer start for {STALL_SECONDS} s"
                                                          if stalled else f"over {timeout} s"))
        return time.monotonic() - start

    def timed(program, count, display=True):
        """One run under Timed.exe: its figures, or RunFailed saying why."""
        stamps.unlink(missing_ok=True)
        times.unlink(missing_ok=True)
        wall = wine(r"C:\Timed.exe", *program, display=display)
        starts = [int(t) for t in stamps.read_text().split()] if stamps.exists() else []
        notes = [line.split(" ", 2) for line in times.read_text(errors="replace").splitlines()]
        boxes = [n[2] if len(n) > 2 else "" for n in notes if n[0] == "box"]
        if boxes:
            raise RunFailed(f"{program[0]} showed a message box: {boxes[0]!r}")
        ends = [n for n in notes if n[0] == "end"]
        begin = [int(n[1]) for n in notes if n[0] == "start"]
        if not ends or not begin or ends[0][2:3] == ["-1 cannot be started"]:
            raise RunFailed(f"{program[0]}: " + (ends[0][2] if ends else "no end noted"))
        if len(starts) != count:
            raise RunFailed(f"{program[0]} started the installer {len(starts)} times, not {count}")
        begin, end = begin[0], int(ends[0][1])
        gaps = sorted(b - a for a, b in zip(starts, starts[1:]))
        middle = gaps[len(gaps) // 10:len(gaps) - len(gaps) // 10]
        return {"wall": wall, "total_ms": (end - begin) / 1e3,
                "interval_ms": statistics.mean(middle) / 1e3 if middle else None,
                "first_ms": (starts[0] - begin) / 1e3 if starts else None,
                "tail_ms": (end - starts[-1]) / 1e3 if starts else None}

    subprocess.run(["wineboot", "-i"], env=env, check=True, capture_output=True, timeout=600)
    subprocess.run(["wineserver", "-p"], env=env, check=True, stderr=subprocess.DEVNULL)
    # Wine's own desktop: without a window manager, Wine waits 2 s for an X
    # window to close, a cost no device has.
    wine("reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "Default", "/f")
    wine("reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default", "/d", "800x600", "/f")
    # The desktop wineboot started has no such setting: a new one, from a new wineserver, does.
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=env, check=True, stderr=subprocess.DEVNULL)
    shutil.copy(windows_build / "bench" / "NullInstaller.exe", drive / "windows" / "wceload.exe")
    for program in ("BareLoop.exe", "Timed.exe"):
        shutil.copy(windows_build / "bench" / program, drive / program)
    bundle = drive / "Bundle"
    bundle.mkdir()
    shutil.copy(windows_build / "bin" / "Vorlund.exe", bundle)

    def launcher(count, display=True):
        names = [f"cab{i}.cab" for i in range(count)]
        (bundle / "Vorlund.ini").write_bytes("".join(n + "\r\n" for n in names).encode())
        for name in names:
            (bundle / name).write_bytes(b"MSCF")
        run = timed([r"C:\Bundle\Vorlund.exe"], count, display)
        if list(bundle.glob("*.cab")):
            raise RunFailed("Vorlund.exe left CAB files behind: the run did not go to its end")
        return run

    def bare(count):
        return timed([r"C:\BareLoop.exe", str(count), "C:\\Bundle\\"], count)

    # Each repetition: the launcher and the bare loop over CABS, 1 and 0 CABs, which goes
    # first alternating so that a drifting load favours neither; and the launcher over
    # CABS with no display (its window cannot be created). A failed run loses its
    # repetition, which is reported.
    plan = [("L", CABS), ("B", CABS), ("L", 1), ("B", 1), ("L", 0), ("B", 0)]
    runs, failed, load = [], [], []
    try:
        try:  # Wine's desktop starts with the first window, untraced: it outlives the run.
            launcher(1)
        except RunFailed as e:
            failed.append({"rep": -1, "why": str(e)})
        for rep in range(reps):
            order = plan if rep % 2 == 0 else [plan[i ^ 1] for i in range(len(plan))]
            try:
                rep_runs = {}
                for kind, count in order:
                    rep_runs[f"{kind}{count}"] = launcher(count) if kind == "L" else bare(count)
                rep_runs["L_blind"] = launcher(CABS, display=False)
                runs.append(rep_runs)
            except RunFailed as e:
                failed.append({"rep": rep, "why": str(e)})
            load.append(os.getloadavg()[0])
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    if not runs:
        sys.exit(f"every Wine run failed: {failed}")

    def per_run(f):
        return [f(r) for r in runs]

    def med(values):
        return {"median": statistics.median(values), "min": min(values), "max": max(values)}

    n = CABS - 1
    # The launcher's parts, each per run: beyond the bare loop, or against its own
    # run with no display.
    per_cab = per_run(lambda r: r[f"L{CABS}"]["interval_ms"] - r[f"B{CABS}"]["interval_ms"])
    per_cab_blind = per_run(lambda r: r["L_blind"]["interval_ms"] - r[f"B{CABS}"]["interval_ms"])
    window = per_run(lambda r: r[f"L{CABS}"]["first_ms"] - r["L_blind"]["first_ms"])
    counting = per_run(lambda r: (r[f"L{CABS}"]["first_ms"] - r["L1"]["first_ms"]) / n)
    start_rest = per_run(lambda r: r["L1"]["first_ms"] - r["B1"]["first_ms"]
                         - (r[f"L{CABS}"]["first_ms"] - r["L_blind"]["first_ms"])
                         - (r[f"L{CABS}"]["first_ms"] - r["L1"]["first_ms"]) / n - PAUSE_MS)
    sweep = per_run(lambda r: ((r[f"L{CABS}"]["tail_ms"] - r[f"B{CABS}"]["tail_ms"])
                               - (r["L1"]["tail_ms"] - r["B1"]["tail_ms"])) / n)
    end_fixed = per_run(lambda r: (r["L1"]["tail_ms"] - r["B1"]["tail_ms"])
                        - ((r[f"L{CABS}"]["tail_ms"] - r[f"B{CABS}"]["tail_ms"])
                           - (r["L1"]["tail_ms"] - r["B1"]["tail_ms"])) / n)
    fixed = per_run(lambda r: r["L0"]["total_ms"] - r["B0"]["total_ms"])
    return {
        # The figures in milliseconds, none of them a ratio that depends on the CAB count.
        "per_cab_ms": med(per_cab),
        "per_cab_no_window_ms": med(per_cab_blind),
        "fixed_ms": med(fixed),
        "parts_ms": {
            "pause (by design)": PAUSE_MS,
            "window (created and first drawn)": med(window),
            "counting pass, per CAB": med(counting),
            "rest of the start": med(start_rest),
            "sweep, per CAB": med(sweep),
            "end (last update, window closed)": med(end_fixed),
        },
        "bare_per_cab_ms": med(per_run(lambda r: r[f"B{CABS}"]["interval_ms"])),
        "runs": runs, "failed": failed, "load": statistics.median(load) if load else None,
        # As before, for scripts/performance_report.py: wall-clock ratios at CABS CABs.
        "with": per_run(lambda r: r[f"L{CABS}"]["wall"] / r[f"B{CABS}"]["wall"]),
        "without": per_run(lambda r: r[f"L{CABS}"]["interval_ms"] / r[f"B{CABS}"]["interval_ms"]),
        "no window": per_run(lambda r: r["L_blind"]["interval_ms"] / r[f"B{CABS}"]["interval_ms"]),
        "fixed": statistics.median(r["L0"]["wall"] - r["B0"]["wall"] for r in runs),
        "bare": statistics.median(r[f"B{CABS}"]["wall"] for r in runs),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", type=Path, required=True, help="vorlund_bench")
    parser.add_argument("--cost", type=Path, required=True, help="vorlund_launcher_cost")
    parser.add_argument("--kit", type=Path, required=True, help="vorlund-kit, as scripts/kit builds it")
    parser.add_argument("--kit-inputs", type=Path, required=True, help="vorlund_kit_inputs")
    parser.add_argument("--windows-build", type=Path, required=True)
    parser.add_argument("--reps", type=int, default=5, help="repetitions of each host benchmark")
    parser.add_argument("--wine-runs", type=int, default=11, help="runs of each program under Wine")
    parser.add_argument("--kit-runs", type=int, default=5, help="runs of each kit command")
    args = parser.parse_args()
    print("benchmark: simulated device ...", file=sys.stderr)
    host = host_figures(args.bench, args.reps)
    print("benchmark: instructions and platform calls (callgrind) ...", file=sys.stderr)
    costs = json.loads(output(sys.executable, str(ROOT / "bench" / "costs.py"), "--program", args.cost))
    print("benchmark: vorlund-kit ...", file=sys.stderr)
    kit = json.loads(output(sys.executable, str(ROOT / "bench" / "kit.py"), "--kit", args.kit,
                            "--inputs", args.kit_inputs, "--runs", str(args.kit_runs)))
    print("benchmark: footprint on 32-bit ARM ...", file=sys.stderr)
    foot = json.loads(output(sys.executable, str(ROOT / "bench" / "footprint.py")))
    print("benchmark: Wine ...", file=sys.stderr)
    wine = wine_figures(args.windows_build, args.wine_runs)
    json.dump({"host": host, "costs": costs, "kit": kit, "footprint": foot, "wine": wine,
               "reps": args.reps, "wine_runs": args.wine_runs, "kit_runs": args.kit_runs},
              sys.stdout)


if __name__ == "__main__":
    main()
