#!/usr/bin/env python3
"""Pictures of the launcher's real progress window under Wine, for the README: at the
start, midway and done (docs/progress-*.png).

The launcher installs four CABs through the stand-in installer (2.5 s each) inside a
Wine virtual desktop, which draws the window's frame and caption. The stand-in user
journals each state of the window with its rectangle; the picture is taken from the X
display once that state is on screen. The done state lasts only until the launcher
destroys the window, so the stand-in user's window hook holds it there until its
picture is taken. Reuses the Wine tier's driver (tests/windows/wine_scenarios.py).
Run by scripts/progress-pictures inside an X display (needs ImageMagick's `import`
and xwininfo). Prints "N passed, N failed".
"""
import argparse
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "windows"))
from wine_scenarios import CAPTION, DONE, Row, Wine, expect, lay_out, lines, tally  # noqa: E402

DESKTOP = "vorlund,640x400"
MARGIN = 16
CABS = ("maps.cab", "viewer.cab", "help.cab", "fonts.cab")
# Picture name, status text, bar fill in percent (range 0..45, 5 + 10 per CAB).
SHOTS = (
    ("progress-start.png", "Installing CAB file 4... Please Wait...", 11),
    ("progress-midway.png", "Installing CAB file 2... Please Wait...", 56),
    ("progress-done.png", DONE, 100),
)


def desktop_origin():
    """Where Wine's virtual desktop sits on the X screen (0,0 without a window
    manager); read with xwininfo when it is there."""
    try:
        tree = subprocess.run(["xwininfo", "-root", "-tree"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, timeout=10).stdout
    except (OSError, subprocess.TimeoutExpired):
        return 0, 0
    for line in tree.splitlines():
        if "Wine desktop" in line:
            found = re.search(r"\d+x\d+\+(-?\d+)\+(-?\d+)", line)
            if found:
                return int(found.group(1)), int(found.group(2))
    return 0, 0


def take_picture(rect, target):
    """Crops the X screen to the window's rectangle plus a margin."""
    left, top, right, bottom = rect
    x0, y0 = desktop_origin()
    x, y = max(0, x0 + left - MARGIN), max(0, y0 + top - MARGIN)
    width, height = right - left + 2 * MARGIN, bottom - top + 2 * MARGIN
    subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}",
                    "+repage", "-strip", str(target)], check=True, timeout=30)


def shown(wine, text):
    """The last journaled state of the visible window with that status text, as
    [caption, text, fill, rect]; the done text only while the window is held."""
    journal = wine.journal()
    if text == DONE and not any(line[0] == "closing" for line in journal):
        return None
    states = [line[2:] for line in journal
              if line[:2] == ["progress", "visible"] and line[3] == text]
    return states[-1] if states else None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--out", required=True, help="folder for the pictures")
    options = parser.parse_args()
    build = Path(options.build).resolve()
    out = Path(options.out).resolve()
    # Pictures go to the build folder first, and to `out` only if every state
    # was caught as it should look.
    taken = build / "screenshots"
    taken.mkdir(parents=True, exist_ok=True)
    wine = Wine(build, "wine-prefix-shots")
    print(f"creating a Wine prefix in {wine.prefix}")
    wine.create()
    try:
        lay_out(wine, Row("pictures", files=CABS, cab_list=lines(*CABS), plan="* sleep 2500\n"))
        desktop = ["explorer", f"/desktop={DESKTOP}"]
        wine.start(*desktop, wine.standin, "user")
        if wine.await_line("user")[1] != "ready":
            raise RuntimeError("the stand-in user could not set its window hook")
        wine.start(*desktop, "C:\\Bundle\\Vorlund.exe")
        pending = list(SHOTS)
        deadline = time.time() + 60
        while pending and time.time() < deadline:
            name, text, fill = pending[0]
            if shown(wine, text):
                time.sleep(0.4)  # let the state's repaint reach the screen
                state = shown(wine, text)  # as last journaled, bar fill included
                take_picture(tuple(int(v) for v in state[3].split(",")), taken / name)
                expect(f"{name}: \"{text}\", caption, bar {fill}% full",
                       (state[0], abs(int(state[2]) - fill) <= 6), (CAPTION, True))
                pending.pop(0)
            time.sleep(0.05)
        for name, text, _ in pending:
            expect(f"{name}: \"{text}\" seen", "never shown", "shown")
        wine.path("C:\\VorlundTest\\hold").unlink(missing_ok=True)
        wine.path("C:\\VorlundTest\\stop").write_text("")
        # The stand-in user ends once the launcher has ended.
        wine.await_line("user", 2)
        expect("the CABs were installed and swept", sorted(p.name for p in
               wine.path("C:\\Bundle").iterdir()), ["Vorlund.exe", "Vorlund.ini"])
    finally:
        subprocess.run(["wineserver", "-k"], env=wine.env)
    if tally["failed"] == 0:
        for name, _, _ in SHOTS:
            shutil.copy(taken / name, out / name)
            print(f"  {out / name}: {(out / name).stat().st_size} bytes")
    else:
        print(f"  pictures left in {taken}, not copied to {out}")
    print(f"{tally['passed']} passed, {tally['failed']} failed")
    return 1 if tally["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
