#!/usr/bin/env python3
"""End-to-end runs of Vorlund.exe under Wine, as the setup hook would start it.

Each scenario lays out an install directory C:\\Bundle (the launcher, its list
and CAB files), starts the stand-in user, runs the launcher with no arguments
from drive C: (so that "\\windows\\wceload.exe" is the stand-in installer) and
then checks the journal of installer runs and message boxes, the files left
and the exit code. Run by scripts/test-windows inside an X display.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

BLOCK = 4096
CAPTION = "Brannoch Software"
NO_LIST = "Installation Failed. Error: Cannot locate CAB file list: Vorlund.ini."
UNPACK_FAILED = "Installation Failed. Error: Cannot unpack all CAB file."
NOTICE = ("Please press the OK button. The installation will take 20-30 minutes. "
          "Do not use the software until the program completes the unpacking of all "
          "the CAB files.")
NO_LAUNCHER = "Installation Failed. Error: Cannot locate registry launcher: Vorlund.exe."
NO_KEY = ("Installation Failed. Error: Cannot locate registry associated with the path "
          "of the Main CAB file.")
HOOK_KEY = "HKCU\\Software\\TqVorlund"
ARGS = " /nouninstall /noui "
BUNDLE = "C:\\Bundle\\"


def command_line(name):
    return ARGS + '"' + BUNDLE + name + '"'


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def check(self, scenario, what, ok, detail=""):
        if ok:
            self.passed += 1
            print(f"  ok    {what}")
        else:
            self.failed += 1
            print(f"  FAIL  {what}" + (f"\n        {detail}" if detail else ""))
            scenario.show_journal = True

    def equal(self, scenario, what, actual, expected):
        self.check(scenario, what, actual == expected,
                   f"expected {expected!r}\n        actual   {actual!r}")

    def skip(self, what, why):
        self.skipped += 1
        print(f"  skip  {what}: {why}")


class Wine:
    """One private prefix for the whole run, with a persistent wineserver."""

    def __init__(self, prefix, helpers, launcher, setup_library):
        self.setup_library = Path(setup_library)
        self.prefix = Path(prefix)
        self.drive_c = self.prefix / "drive_c"
        self.helpers = Path(helpers)
        self.launcher = Path(launcher)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def run(self, args, timeout=60, env=None):
        return subprocess.run(["wine"] + args, cwd=self.drive_c, env=env or self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=timeout)

    def start(self, args):
        return subprocess.Popen(["wine"] + args, cwd=self.drive_c, env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def create(self):
        if self.prefix.exists():
            shutil.rmtree(self.prefix)
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300, check=True)
        # Keep one wineserver for the whole run: each later start is faster.
        subprocess.run(["wineserver", "-p"], env=self.env, stderr=subprocess.DEVNULL)
        shutil.copy(self.helpers / "FakeInstaller.exe", self.installer)

    def reg(self, *args):
        return self.run(["reg"] + list(args)).returncode

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)

    @property
    def installer(self):
        return self.drive_c / "windows" / "wceload.exe"

    def path(self, windows_path):
        """Unix path of a C:\\ path."""
        assert windows_path[:3].upper() == "C:\\"
        return self.drive_c.joinpath(*windows_path[3:].split("\\"))


class Scenario:
    """One launcher run: set up C:\\Bundle, run, collect what happened."""

    def __init__(self, wine, title):
        self.wine = wine
        self.title = title
        self.show_journal = False
        self.bundle = wine.path("C:\\Bundle")
        self.test_dir = wine.path("C:\\VorlundTest")
        for folder in (self.bundle, self.test_dir):
            if folder.exists():
                for entry in folder.rglob("*"):
                    if not entry.is_symlink():
                        entry.chmod(0o755 if entry.is_dir() else 0o644)
                shutil.rmtree(folder)
            folder.mkdir(parents=True)
        shutil.copy(wine.launcher, self.bundle / "Vorlund.exe")
        self.journal = []
        self.exit_code = None

    def file(self, name, data=b"MSCF fake cabinet\n"):
        target = self.bundle.joinpath(*name.split("\\"))
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)

    def folder(self, name):
        self.bundle.joinpath(*name.split("\\")).mkdir(parents=True, exist_ok=True)

    def cab_list(self, data):
        (self.bundle / "Vorlund.ini").write_bytes(data)

    def installer_plan(self, text):
        (self.test_dir / "installer.txt").write_text(text)

    def attrib(self, *pairs):
        args = []
        for name, flags in pairs:
            args += [BUNDLE + name, flags]
        done = self.wine.run([str(self.wine.helpers / "PrefixTool.exe"), "attrib"] + args)
        if done.returncode != 0:
            raise RuntimeError(f"setting attributes {pairs} failed")

    def search_order(self, pattern):
        done = self.wine.run([str(self.wine.helpers / "PrefixTool.exe"), "list", pattern])
        order = []
        for line in done.stdout.decode("utf-8").splitlines():
            bits, name = line.split("\t", 1)
            order.append((int(bits, 16), name))
        return order

    def journal_lines(self):
        path = self.test_dir / "journal.txt"
        if not path.exists():
            return []
        return [line.split("\t") for line in path.read_text("utf-8").splitlines()]

    def wait_for(self, tag, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if any(line[0] == tag for line in self.journal_lines()):
                return True
            time.sleep(0.05)
        return False

    def run(self, display=True, hold_ms=None):
        blocker = None
        if hold_ms is not None:
            blocker = self.wine.start(["C:\\windows\\wceload.exe", "--hold", str(hold_ms)])
            if not self.wait_for("hold-start"):
                raise RuntimeError("the running installer did not start")
        user = None
        if display:
            user = self.wine.start([str(self.wine.helpers / "StandInUser.exe")])
            if not self.wait_for("user-ready"):
                raise RuntimeError("the stand-in user did not start")
        env = dict(self.wine.env)
        if not display:
            env.pop("DISPLAY", None)
        started = time.time()
        done = self.wine.run([BUNDLE + "Vorlund.exe"], timeout=120, env=env)
        self.seconds = time.time() - started
        self.exit_code = done.returncode
        (self.test_dir / "stop").write_text("")
        for process in (user, blocker):
            if process is not None:
                process.wait(timeout=30)
        self.journal = self.journal_lines()

    def run_hook(self):
        """The end of the main package: the stand-in installer loads the setup
        library from C:\\Bundle and calls Install_Exit; the launcher it starts
        is waited for."""
        shutil.copy(self.wine.setup_library, self.bundle / "VorlundSetup.dll")
        user = self.wine.start([str(self.wine.helpers / "StandInUser.exe")])
        if not self.wait_for("user-ready"):
            raise RuntimeError("the stand-in user did not start")
        host = self.wine.run(["C:\\windows\\wceload.exe", "--hook",
                              BUNDLE + "VorlundSetup.dll"], timeout=120)
        self.exit_code = host.returncode
        waited = self.wine.run([str(self.wine.helpers / "PrefixTool.exe"), "wait",
                                "Vorlund.exe", "120000"], timeout=150)
        if waited.returncode != 0:
            raise RuntimeError("the launcher did not end")
        (self.test_dir / "stop").write_text("")
        user.wait(timeout=30)
        self.journal = self.journal_lines()

    def hook_results(self):
        return [line[2] for line in self.journal if line[0] == "hook-end"]

    # What happened, from the journal.
    def starts(self):
        return [line[2] for line in self.journal if line[0] == "start"]

    def boxes(self):
        return [line[1:] for line in self.journal if line[0] == "box"]

    def progress(self):
        return [line[1:] for line in self.journal if line[0] == "progress"]

    def left(self):
        """Entries left in C:\\Bundle (top level), by name."""
        return sorted(entry.name for entry in self.bundle.iterdir())

    def dump(self):
        print("        journal:")
        for line in self.journal:
            print("          " + " | ".join(line))
        print(f"        left: {self.left()}")


def check_common(results, s, boxes=()):
    """Exit code, and message boxes exactly as expected in text and form."""
    results.equal(s, "exit code is 0", s.exit_code, 0)
    shown = s.boxes()
    results.equal(s, "message texts", [b[1] for b in shown], list(boxes))
    if shown:
        results.check(s, "every box: caption, no owner, OK only, exclamation icon",
                      all(b[0] == CAPTION and b[2] == "unowned" and b[3] == "1"
                          and b[4] == "exclamation" for b in shown), repr(shown))


def check_runs_one_at_a_time(results, s):
    events = [line[0] for line in s.journal if line[0] in ("start", "end")]
    paired = events == ["start", "end"] * (len(events) // 2)
    alone = all(line[4] == "alone" for line in s.journal if line[0] == "start")
    results.check(s, "each installer run ends before the next starts", paired and alone,
                  repr(events))


# ---- Scenarios -------------------------------------------------------------

def several_cabs_in_order(wine, results):
    s = Scenario(wine, "several CABs in list order, one rejected")
    for name in ("alpha.cab", "beta.cab", "gamma.cab", "delta.cab"):
        s.file(name)
    s.file("readme.txt", b"not a cab")
    # CR LF, lone LF, lone CR and blank lines all separate names.
    s.cab_list(b"gamma.cab\r\nalpha.cab\n\n\r\nbeta.cab\rdelta.cab")
    s.installer_plan("beta.cab exit 3\n* sleep 50\n")
    s.run()
    check_common(results, s)
    results.equal(s, "installer command lines, in list order",
                  s.starts(), [command_line(n) for n in
                               ("gamma.cab", "alpha.cab", "beta.cab", "delta.cab")])
    results.check(s, "each CAB exists when its installer starts",
                  all(line[3] == "exists" for line in s.journal if line[0] == "start"))
    check_runs_one_at_a_time(results, s)
    results.equal(s, "CAB files swept, other files kept", s.left(),
                  ["Vorlund.exe", "Vorlund.ini", "readme.txt"])
    return s


def no_list(wine, results):
    s = Scenario(wine, "no list file")
    s.file("orphan.cab")
    s.file("other.txt")
    s.run()
    check_common(results, s, [NO_LIST])
    results.equal(s, "no installer run", s.starts(), [])
    # The window may stand, but without a list it is never started.
    results.check(s, "progress window (if any) keeps its empty text",
                  all(p[2] == "" for p in s.progress()), repr(s.progress()))
    results.equal(s, "sweep still ran", s.left(), ["Vorlund.exe", "other.txt"])
    return s


def installer_missing(wine, results):
    s = Scenario(wine, "installer missing, short list")
    wine.installer.rename(wine.installer.with_suffix(".off"))
    try:
        s.file("one.cab")
        s.file("two.cab")
        s.cab_list(b"one.cab\r\ntwo.cab\r\n")
        s.run()
    finally:
        wine.installer.with_suffix(".off").rename(wine.installer)
    # A failure skips the rest of the block; a short list is one block.
    check_common(results, s, [UNPACK_FAILED])
    results.equal(s, "sweep still ran", s.left(), ["Vorlund.exe", "Vorlund.ini"])
    return s


def block_of(names, filler_prefix):
    """A list block of exactly BLOCK bytes: `names` first, then missing names."""
    data = b"".join(n.encode() + b"\r\n" for n in names)
    index = 0
    while len(data) < BLOCK:
        line = f"{filler_prefix}-{index:04d}.cab\r\n".encode()
        room = BLOCK - len(data)
        if room < len(line) + 2:
            line = b"\r\n" * (room // 2) + b"\n" * (room % 2)
        data += line
        index += 1
    assert len(data) == BLOCK
    return data


def installer_missing_long_list(wine, results):
    s = Scenario(wine, "installer missing, three full blocks and a short fourth")
    wine.installer.rename(wine.installer.with_suffix(".off"))
    try:
        for name in ("b1.cab", "b2.cab", "b4.cab"):
            s.file(name)
        # Block 3 names no existing CAB: it tries nothing and shows nothing.
        s.cab_list(block_of(["b1.cab", "b1.cab"], "absent-a") +
                   block_of(["b2.cab"], "absent-b") +
                   block_of([], "absent-c") +
                   b"b4.cab\r\nb4.cab\r\n")
        s.run()
    finally:
        wine.installer.with_suffix(".off").rename(wine.installer)
    check_common(results, s, [UNPACK_FAILED] * 3)
    results.equal(s, "sweep still ran", s.left(), ["Vorlund.exe", "Vorlund.ini"])
    return s


def names_not_installable(wine, results):
    s = Scenario(wine, "missing, hidden, system and directory names")
    s.file("extra\\hidden.cab")
    s.file("extra\\system.cab")
    s.folder("extra\\folder.cab")
    s.file("extra\\plain.cab")
    s.file("good.cab")
    s.file("twice.cab")
    s.attrib(("extra\\hidden.cab", "+h"), ("extra\\system.cab", "+s"))
    s.cab_list(b"ghost.cab\r\nextra\\hidden.cab\r\nextra\\system.cab\r\n"
               b"extra\\folder.cab\r\nextra\\plain.cab\r\ngood.cab\r\n"
               b"twice.cab\r\ntwice.cab\r\n")
    # The first run of twice.cab removes it, so its second line finds nothing.
    s.installer_plan("twice.cab delete\n")
    s.run()
    check_common(results, s)
    results.equal(s, "only ordinary existing files installed, in order", s.starts(),
                  [command_line(n) for n in ("extra\\plain.cab", "good.cab", "twice.cab")])
    results.equal(s, "files in the subfolder untouched",
                  sorted(p.name for p in (s.bundle / "extra").iterdir()),
                  ["folder.cab", "hidden.cab", "plain.cab", "system.cab"])
    results.equal(s, "top-level CABs swept", s.left(), ["Vorlund.exe", "Vorlund.ini", "extra"])
    return s


def long_list_block_boundaries(wine, results):
    s = Scenario(wine, "long list with names cut by block boundaries")
    # Real CABs sit at each boundary; the rest are names of missing files, so
    # a name that is lost, split or joined with its neighbour shows up as a
    # missing or extra installer run.
    data = bytearray()
    wanted = []
    filler = 0

    def add(name, newline=b"\r\n"):
        data.extend(name.encode() + newline)

    def pad_to(offset):
        nonlocal filler
        while len(data) < offset:
            room = offset - len(data)
            line = f"absent-{filler:04d}.cab\r\n"
            filler += 1
            if room >= len(line) + 12:
                add(line[:-2])
            else:
                data.extend(b"\n" * room)

    def real(name, newline=b"\r\n"):
        s.file(name)
        wanted.append(name)
        add(name, newline)

    real("first.cab")
    # Boundary 1 cuts a name in the middle.
    pad_to(BLOCK - 7)
    real("cut-across-one.cab")
    # Boundary 2 falls between the CR and the LF of a line break.
    pad_to(2 * BLOCK - len("between-cr-lf.cab") - 1)
    real("between-cr-lf.cab")
    assert data[2 * BLOCK - 1:2 * BLOCK + 1] == b"\r\n"
    # Boundary 3 falls exactly after a line break: two whole names meet there.
    pad_to(3 * BLOCK - len("ends-block-three.cab") - 2)
    real("ends-block-three.cab")
    assert len(data) == 3 * BLOCK
    real("starts-block-four.cab")
    real("long-" + "x" * 240 + ".cab")
    real("last-without-break.cab", newline=b"")
    s.cab_list(bytes(data))
    s.run()
    check_common(results, s)
    results.equal(s, "every name installed once, whole and in order", s.starts(),
                  [command_line(n) for n in wanted])
    return s


def waits_for_running_installer(wine, results):
    s = Scenario(wine, "another installer already running")
    s.file("after.cab")
    s.cab_list(b"after.cab\r\n")
    s.run(hold_ms=3000)
    check_common(results, s)
    order = [line[0] for line in s.journal if line[0] in ("hold-start", "hold-end", "start")]
    results.equal(s, "the launcher waited for the running installer to end", order,
                  ["hold-start", "hold-end", "start"])
    results.check(s, "the running installer owned its window",
                  any(line[0] == "hold-start" and line[2] == "window" for line in s.journal))
    results.equal(s, "then installed the list", s.starts(), [command_line("after.cab")])
    return s


def sweep_passes_over_undeletable(wine, results):
    s = Scenario(wine, "sweep with a read-only CAB and look-alike names")
    for name in ("one.cab", "locked.cab", "two.cab", "three.cab", "keep.cabinet",
                 "keep.cabx", "notes.txt"):
        s.file(name)
    s.folder("folder.cab")
    s.attrib(("locked.cab", "+r"))
    s.cab_list(b"")
    order = [name for _, name in s.search_order(BUNDLE + "*.cab")]
    results.check(s, "premise: the search for *.cab also returns the look-alikes",
                  "keep.cabinet" in order and "keep.cabx" in order, repr(order))
    s.run()
    check_common(results, s)
    results.equal(s, "every deletable CAB gone, the rest kept", s.left(),
                  sorted(["Vorlund.exe", "Vorlund.ini", "locked.cab", "folder.cab",
                          "keep.cabinet", "keep.cabx", "notes.txt"]))
    return s


def hidden_cab_ends_sweep(wine, results):
    s = Scenario(wine, "sweep meets a hidden and a system CAB")
    names = [f"c{i}.cab" for i in range(8)]
    for name in names:
        s.file(name)
    s.attrib(("c3.cab", "+h"), ("c6.cab", "+s"))
    s.cab_list(b"")
    order = s.search_order(BUNDLE + "*.cab")
    s.run()
    check_common(results, s)
    # Deleted: the CABs that the search returns before the first hidden or
    # system one; that one and everything after it stay.
    expected_left = set()
    stopped = False
    for bits, name in order:
        stopped = stopped or bool(bits & 0x06)
        if stopped:
            expected_left.add(name)
    results.equal(s, "CABs before the first hidden or system one deleted, the rest kept",
                  s.left(), sorted(expected_left | {"Vorlund.exe", "Vorlund.ini"}))
    return s


def progress_display(wine, results):
    s = Scenario(wine, "progress window while three CABs install")
    for name in ("p1.cab", "p2.cab", "p3.cab"):
        s.file(name)
    s.cab_list(b"p1.cab\r\nnothere.cab\r\np2.cab\r\np3.cab\r\n")
    # A rejected CAB advances the display like an installed one.
    s.installer_plan("* sleep 600\np2.cab exit 5\n")
    s.run()
    check_common(results, s)
    seen = s.progress()
    source = (Path(__file__).resolve().parents[2] / "launcher" / "ProgressWindow.cpp")
    built = source.exists() and "createDialog" in source.read_text()
    if not seen and not built:
        results.skip("progress window", "the progress display is not built yet")
        return s
    shown = [p for p in seen if p[0] == "visible"]
    results.check(s, "the window was shown, with the caption", bool(shown) and
                  all(p[1] == CAPTION for p in shown), repr(seen))
    texts = []
    for p in shown:
        if not texts or texts[-1] != p[2]:
            texts.append(p[2])
    counting = [t for t in texts if t.startswith("Installing CAB file ")]
    # Each state lasts an installer run (600 ms), long enough to be seen.
    results.equal(s, "status text counts down the CABs still to install",
                  [t for t in counting if t != "Installing CAB file 0... Please Wait..."],
                  [f"Installing CAB file {n}... Please Wait..." for n in (3, 2, 1)])
    results.check(s, "no text outside the known ones",
                  all(t in ("", "Installing CAB files ... Done...") or
                      (t.startswith("Installing CAB file ") and t.endswith("... Please Wait..."))
                      for t in texts), repr(texts))
    # Bar: range 0..35, position 5 + 10 per CAB installed.
    fills = {}
    for p in shown:
        fills.setdefault(p[2], []).append(int(p[3]))
    for remaining, share in ((3, 5 / 35), (2, 15 / 35), (1, 25 / 35)):
        values = fills.get(f"Installing CAB file {remaining}... Please Wait...", [])
        final = values[-1] if values else None
        results.check(s, f"bar {round(share * 100)}% full with {remaining} to go",
                      final is not None and abs(final - share * 100) <= 6, repr(values))
    return s


def no_display(wine, results):
    s = Scenario(wine, "no display: the window cannot be created")
    s.file("quiet.cab")
    s.cab_list(b"quiet.cab\r\n")
    s.run(display=False)
    results.equal(s, "exit code is 0", s.exit_code, 0)
    results.equal(s, "installed all the same", s.starts(), [command_line("quiet.cab")])
    results.equal(s, "swept all the same", s.left(), ["Vorlund.exe", "Vorlund.ini"])
    return s


def check_hook_boxes(results, s, texts):
    shown = s.boxes()
    results.equal(s, "setup hook messages", [b[1] for b in shown], list(texts))
    results.check(s, "each box: caption, owned by the installer's window, OK only, exclamation",
                  all(b[0] == CAPTION and b[2] == "owned" and b[3] == "1"
                      and b[4] == "exclamation" for b in shown), repr(shown))
    results.equal(s, "Install_Exit returned 0", s.hook_results(), ["0"])


def setup_hook_starts_launcher(wine, results):
    s = Scenario(wine, "setup hook starts the launcher")
    s.file("first.cab")
    s.file("second.cab")
    s.cab_list(b"first.cab\r\nsecond.cab\r\n")
    wine.reg("add", HOOK_KEY, "/v", "Default", "/t", "REG_SZ", "/d", "C:\\Bundle", "/f")
    # A subkey too: the desktop's key deletion must take the whole tree.
    wine.reg("add", HOOK_KEY + "\\Leftover\\Deeper", "/v", "x", "/d", "y", "/f")
    s.run_hook()
    check_hook_boxes(results, s, [NOTICE])
    order = [line[0] for line in s.journal if line[0] in ("box", "hook-end", "start")]
    results.equal(s, "notice, then the hook returns, then the launcher installs", order,
                  ["box", "hook-end", "start", "start"])
    results.equal(s, "the launcher installed the list", s.starts(),
                  [command_line("first.cab"), command_line("second.cab")])
    results.check(s, "registry key deleted with its subkeys", wine.reg("query", HOOK_KEY) != 0)
    results.equal(s, "the launcher swept the CABs", s.left(),
                  ["Vorlund.exe", "Vorlund.ini", "VorlundSetup.dll"])
    return s


def setup_hook_without_launcher(wine, results):
    s = Scenario(wine, "setup hook finds no launcher")
    (s.bundle / "Vorlund.exe").unlink()
    s.file("stray.cab")
    s.cab_list(b"stray.cab\r\n")
    wine.reg("add", HOOK_KEY, "/v", "Default", "/t", "REG_SZ", "/d", "C:\\Bundle", "/f")
    s.run_hook()
    check_hook_boxes(results, s, [NO_LAUNCHER])
    results.equal(s, "nothing installed", s.starts(), [])
    results.check(s, "registry key deleted", wine.reg("query", HOOK_KEY) != 0)
    results.equal(s, "the hook swept the CABs", s.left(), ["Vorlund.ini", "VorlundSetup.dll"])
    return s


def setup_hook_without_key(wine, results):
    s = Scenario(wine, "setup hook finds no registry key")
    s.file("kept.cab")
    wine.reg("delete", HOOK_KEY, "/f")
    s.run_hook()
    check_hook_boxes(results, s, [NO_KEY])
    results.equal(s, "nothing installed, nothing swept", s.left(),
                  ["Vorlund.exe", "VorlundSetup.dll", "kept.cab"])
    return s


SETUP_SCENARIOS = [
    setup_hook_starts_launcher,
    setup_hook_without_launcher,
    setup_hook_without_key,
]

SCENARIOS = [
    several_cabs_in_order,
    no_list,
    installer_missing,
    installer_missing_long_list,
    names_not_installable,
    long_list_block_boundaries,
    waits_for_running_installer,
    sweep_passes_over_undeletable,
    hidden_cab_ends_sweep,
    progress_display,
    no_display,
]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--only", help="run only scenarios whose name contains this")
    options = parser.parse_args()
    build = Path(options.build).resolve()
    wine = Wine(build / "wine-prefix", build / "wine-helpers", build / "bin" / "Vorlund.exe",
                build / "bin" / "VorlundSetup.dll")
    scenarios = list(SCENARIOS)
    if wine.setup_library.exists():
        scenarios += SETUP_SCENARIOS
    else:
        print("(VorlundSetup.dll is not built yet: its scenarios are left out)")
    results = Results()
    began = time.time()
    print(f"creating a Wine prefix in {wine.prefix}")
    wine.create()
    try:
        for scenario in scenarios:
            if options.only and options.only not in scenario.__name__:
                continue
            print(f"{scenario.__name__}:")
            try:
                s = scenario(wine, results)
                if s.show_journal:
                    s.dump()
            except (RuntimeError, subprocess.TimeoutExpired, OSError) as error:
                results.failed += 1
                print(f"  FAIL  could not run: {error}")
    finally:
        wine.stop()
    print(f"Wine suite took {time.time() - began:.0f} s")
    print(f"{results.passed} passed, {results.failed} failed" +
          (f", {results.skipped} skipped" if results.skipped else ""))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
