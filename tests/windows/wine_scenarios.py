#!/usr/bin/env python3
"""End-to-end runs of Vorlund.exe and VorlundSetup.dll under Wine.

Each launcher scenario lays out an install directory (C:\\Bundle, or one of an
exact length under C:\\Deep for the path limits), starts the stand-in user,
runs the launcher with no arguments from drive C: (so that
"\\windows\\wceload.exe" is the stand-in installer) and then checks the journal
of installer runs, message boxes and progress states, the files left and the
exit code. Each setup-hook scenario lets the stand-in installer load the setup
library and call its hooks, and follows the launcher it starts. A soak runs a
few hundred CABs. Run by scripts/test-windows inside an X display.
"""
import argparse
import os
import random
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
NO_VALUE = ("Installation Failed. Error: Cannot locate registry associated with the name "
            "of the Main CAB file.")
DONE = "Installing CAB files ... Done..."
HOOK_KEY = "HKCU\\Software\\TqVorlund"
ARGS = " /nouninstall /noui "
BUNDLE = "C:\\Bundle\\"
# Install directories at the launcher's path limits live under here.
DEEP_ROOT = "C:\\Deep\\"
ALL_HOOKS = ("Install_Init", "Install_Exit", "Uninstall_Init", "Uninstall_Exit")


def command_line(name, bundle=BUNDLE):
    return ARGS + '"' + bundle + name + '"'


def deep_directory(length):
    """A directory path under DEEP_ROOT of exactly `length` characters,
    trailing backslash included, made of components of at most 100 characters."""
    path = DEEP_ROOT
    rest = length - len(path)
    assert rest >= 0
    level = 0
    while rest > 0:
        take = min(rest, 101)
        if rest - take == 1:
            take -= 1
        path += chr(ord("a") + level) * (take - 1) + "\\"
        rest -= take
        level += 1
    assert len(path) == length
    return path


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
    """One launcher run: set up the install directory (C:\\Bundle unless
    told otherwise), run, collect what happened."""

    def __init__(self, wine, title, bundle=BUNDLE):
        assert bundle.endswith("\\")
        self.wine = wine
        self.title = title
        self.show_journal = False
        self.bundle_path = bundle
        self.bundle = wine.path(bundle.rstrip("\\"))
        self.test_dir = wine.path("C:\\VorlundTest")
        for folder in (wine.path("C:\\Bundle"), wine.path(DEEP_ROOT.rstrip("\\")),
                       self.test_dir):
            if folder.exists():
                for entry in folder.rglob("*"):
                    if not entry.is_symlink():
                        entry.chmod(0o755 if entry.is_dir() else 0o644)
                shutil.rmtree(folder)
        for folder in (self.bundle, self.test_dir):
            folder.mkdir(parents=True)
        shutil.copy(wine.launcher, self.bundle / "Vorlund.exe")
        self.journal = []
        self.exit_code = None

    def command_line(self, name):
        return command_line(name, self.bundle_path)

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

    def registry(self, value=None):
        """Sets the key the setup hook reads, afresh: with the value "Default"
        (the install directory), or without it when value is None."""
        self.wine.reg("delete", HOOK_KEY, "/f")
        if value is None:
            self.wine.reg("add", HOOK_KEY, "/f")
        else:
            self.wine.reg("add", HOOK_KEY, "/v", "Default", "/t", "REG_SZ", "/d", value, "/f")

    def attrib(self, *pairs):
        args = []
        for name, flags in pairs:
            args += [self.bundle_path + name, flags]
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

    def start_user(self, hold_close=False):
        args = [str(self.wine.helpers / "StandInUser.exe")]
        if hold_close:
            args += ["--hold-close", str(self.wine.helpers / "HoldAtClose.dll")]
        user = self.wine.start(args)
        if not self.wait_for("user-ready"):
            raise RuntimeError("the stand-in user did not start")
        if hold_close and not any(line == ["hold-hook", "set"] for line in self.journal_lines()):
            raise RuntimeError("the window hook that holds the progress window was not set")
        return user

    def release_when_done_seen(self):
        """With the progress window held at its destruction: let it go once
        the stand-in user has seen its last state (or after a second)."""
        lines = self.journal_lines()
        held = [i for i, line in enumerate(lines) if line[0] == "hold-close"]
        if not held:
            return False
        if not hasattr(self, "_held_since"):
            self._held_since = time.time()
        seen = any(line[0] == "progress" and line[3] == DONE for line in lines)
        if seen or time.time() - self._held_since > 1.0:
            time.sleep(0.1)
            (self.test_dir / "release").write_text("")
            return True
        return False

    def run(self, display=True, hold_ms=None, hold_close=False):
        """Runs the launcher from drive C:. hold_ms: an installer is already
        running for that long. hold_close: the progress window is held at its
        destruction until its last state has been journaled."""
        blocker = None
        if hold_ms is not None:
            blocker = self.wine.start(["C:\\windows\\wceload.exe", "--hold", str(hold_ms)])
            if not self.wait_for("hold-start"):
                raise RuntimeError("the running installer did not start")
        user = self.start_user(hold_close) if display else None
        env = dict(self.wine.env)
        if not display:
            env.pop("DISPLAY", None)
        started = time.time()
        launcher = subprocess.Popen(["wine", self.bundle_path + "Vorlund.exe"],
                                    cwd=self.wine.drive_c, env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        released = not hold_close
        try:
            while launcher.poll() is None:
                if time.time() - started > 150:
                    raise subprocess.TimeoutExpired("Vorlund.exe", 150)
                if not released:
                    released = self.release_when_done_seen()
                time.sleep(0.05)
        finally:
            if launcher.poll() is None:
                launcher.kill()
        self.seconds = time.time() - started
        self.exit_code = launcher.returncode
        (self.test_dir / "stop").write_text("")
        for process in (user, blocker):
            if process is not None:
                process.wait(timeout=30)
        self.journal = self.journal_lines()

    def run_hook(self, calls=("Install_Exit",), linger_ms=0):
        """The platform installer's side of the setup library: the stand-in
        installer owns its window, loads VorlundSetup.dll from the install
        directory, calls `calls` in order, keeps its window linger_ms longer
        and ends. The launcher it may start is waited for."""
        shutil.copy(self.wine.setup_library, self.bundle / "VorlundSetup.dll")
        user = self.start_user()
        started = time.time()
        host = self.wine.run(["C:\\windows\\wceload.exe", "--linger", str(linger_ms),
                              "--calls", ",".join(calls),
                              "--hook", self.bundle_path + "VorlundSetup.dll"], timeout=120)
        self.exit_code = host.returncode
        waited = self.wine.run([str(self.wine.helpers / "PrefixTool.exe"), "wait",
                                "Vorlund.exe", "120000"], timeout=150)
        if waited.returncode != 0:
            raise RuntimeError("the launcher did not end")
        self.seconds = time.time() - started
        (self.test_dir / "stop").write_text("")
        user.wait(timeout=30)
        self.journal = self.journal_lines()

    def hook_results(self):
        """[(hook name, result)] in call order."""
        return [(line[2], line[3]) for line in self.journal if line[0] == "hook"]

    def host_pid(self):
        return next((line[1] for line in self.journal if line[0] == "host-start"), None)

    # What happened, from the journal.
    def starts(self):
        return [line[2] for line in self.journal if line[0] == "start"]

    def boxes(self):
        return [line[1:] for line in self.journal if line[0] == "box"]

    def progress(self):
        return [line[1:] for line in self.journal if line[0] == "progress"]

    def index(self, tag, *fields):
        """Position in the journal of the first line with that tag (and those
        leading fields); None if there is none."""
        for position, line in enumerate(self.journal):
            if line[0] == tag and line[1:1 + len(fields)] == list(fields):
                return position
        return None

    def left(self, folder=None):
        """Entries left in the install directory (top level), by name."""
        where = self.bundle if folder is None else self.bundle.joinpath(*folder.split("\\"))
        return sorted(entry.name for entry in where.iterdir())

    def dump(self):
        """The journal; of a long one only the lines around the unexpected."""
        print("        journal:")
        shown = range(len(self.journal))
        if len(self.journal) > 120:
            marks = [i for i, line in enumerate(self.journal)
                     if line[0] not in ("start", "end", "progress")]
            shown = sorted({j for i in marks for j in range(i - 3, i + 4)
                            if 0 <= j < len(self.journal)})
            print(f"          ({len(self.journal)} lines; those around other than "
                  f"start, end and progress)")
        for i in shown:
            print("          " + " | ".join(self.journal[i])[:300])
        print(f"        left: {self.left()}"[:2000])


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
    # Alone: no other installer window open, no other installer process alive.
    alone = all(line[4] == "alone" and line[6] == "0" for line in s.journal if line[0] == "start")
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
    s = Scenario(wine, "progress window while three CABs install, held at its end")
    for name in ("p1.cab", "p2.cab", "p3.cab"):
        s.file(name)
    s.cab_list(b"p1.cab\r\nnothere.cab\r\np2.cab\r\np3.cab\r\n")
    # A rejected CAB advances the display like an installed one.
    s.installer_plan("* sleep 600\np2.cab exit 5\n")
    # The last state lasts only until the launcher destroys the window: the
    # test hook holds the window there so that it can be read.
    s.run(hold_close=True)
    check_common(results, s)
    seen = s.progress()
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
                  all(t in ("", DONE) or
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
    check_last_state(results, s)
    return s


def check_last_state(results, s):
    """The window's last state, read while the test hook held it: the done
    text and a full bar, after the last installer run and before the sweep."""
    held = [line for line in s.journal if line[0] == "hold-close"]
    results.equal(s, "the window is destroyed once, showing the done text",
                  [line[2] for line in held], [DONE])
    results.check(s, "last state seen: done text, bar full",
                  any(p[0] == "visible" and p[2] == DONE and p[3] == "100" for p in s.progress()),
                  repr(s.progress()[-3:]))
    closed = s.index("hold-close")
    last_end = max((i for i, line in enumerate(s.journal) if line[0] == "end"), default=-1)
    results.check(s, "destroyed after the last installer run",
                  closed is not None and closed > last_end)


def no_display(wine, results):
    s = Scenario(wine, "no display: the window cannot be created")
    s.file("quiet.cab")
    s.cab_list(b"quiet.cab\r\n")
    s.run(display=False)
    results.equal(s, "exit code is 0", s.exit_code, 0)
    results.equal(s, "installed all the same", s.starts(), [command_line("quiet.cab")])
    results.equal(s, "swept all the same", s.left(), ["Vorlund.exe", "Vorlund.ini"])
    return s


def check_hook_boxes(results, s, texts, hooks=(("Install_Exit", "0"),)):
    """Message boxes of the setup hook: texts, form, and owned by the stand-in
    installer's own "MSWCELOAD" window; every hook returned 0."""
    shown = s.boxes()
    results.equal(s, "setup hook messages", [b[1] for b in shown], list(texts))
    results.check(s, "each box: caption, OK only, exclamation, owned by the installer's window",
                  all(b[0] == CAPTION and b[2] == "owned" and b[3] == "1"
                      and b[4] == "exclamation" and b[6] == s.host_pid()
                      and b[7] == "MSWCELOAD" for b in shown),
                  f"installer pid {s.host_pid()}: {shown!r}")
    results.equal(s, "hook results", s.hook_results(), list(hooks))
    results.equal(s, "the stand-in installer ended normally", s.exit_code, 0)


def installation_road(wine, results):
    s = Scenario(wine, "the whole road: setup hooks, notice, launcher, installs, sweep")
    for name in ("first.cab", "second.cab", "third.cab"):
        s.file(name)
    s.file("readme.txt", b"kept")
    s.cab_list(b"second.cab\r\nfirst.cab\r\nthird.cab\r\n")
    s.registry("C:\\Bundle")
    # A subkey too: on the desktop the key must go with its whole tree.
    wine.reg("add", HOOK_KEY + "\\Leftover\\Deeper", "/v", "x", "/d", "y", "/f")
    # The installer keeps its window 3 s after the hooks, as the platform
    # installer finishing its own work: the launcher must wait for it.
    s.run_hook(calls=ALL_HOOKS, linger_ms=3000)
    check_hook_boxes(results, s, [NOTICE], [(name, "0") for name in ALL_HOOKS])
    notice = s.index("box")
    returned = s.index("hook", s.host_pid(), "Install_Exit")
    host_end = s.index("host-end")
    first = s.index("start")
    results.check(s, "notice, Install_Exit returns, the installer ends, then the first install",
                  None not in (notice, returned, host_end, first) and
                  notice < returned < host_end < first,
                  repr((notice, returned, host_end, first)))
    runs = [line for line in s.journal if line[0] == "start"]
    results.check(s, "the first install starts after the installer's process is gone",
                  bool(runs) and runs[0][4] == "alone" and runs[0][6] == "0", repr(runs[:1]))
    results.equal(s, "the launcher installed the list in order", s.starts(),
                  [command_line(n) for n in ("second.cab", "first.cab", "third.cab")])
    check_runs_one_at_a_time(results, s)
    results.check(s, "registry key deleted with its subkeys", wine.reg("query", HOOK_KEY) != 0)
    results.equal(s, "the launcher swept the CABs, other files kept", s.left(),
                  ["Vorlund.exe", "Vorlund.ini", "VorlundSetup.dll", "readme.txt"])
    return s


def other_hooks_do_nothing(wine, results):
    s = Scenario(wine, "Install_Init, Uninstall_Init and Uninstall_Exit do nothing")
    s.file("stays.cab")
    s.cab_list(b"stays.cab\r\n")
    s.registry("C:\\Bundle")
    others = ("Install_Init", "Uninstall_Init", "Uninstall_Exit")
    s.run_hook(calls=others)
    check_hook_boxes(results, s, [], [(name, "0") for name in others])
    results.equal(s, "registry value untouched",
                  wine.reg("query", HOOK_KEY, "/v", "Default"), 0)
    results.equal(s, "no launcher started, nothing deleted", (s.starts(), s.left()),
                  ([], ["Vorlund.exe", "Vorlund.ini", "VorlundSetup.dll", "stays.cab"]))
    wine.reg("delete", HOOK_KEY, "/f")
    return s


def run_hook_without_launcher(wine, results, s, what, left):
    """Runs the hook on C:\\Bundle, which has no launcher it can start: the
    launcher message, nothing installed, the key gone, the CABs swept."""
    s.registry("C:\\Bundle")
    s.run_hook()
    check_hook_boxes(results, s, [NO_LAUNCHER])
    results.equal(s, "nothing installed", s.starts(), [])
    results.check(s, "registry key deleted", wine.reg("query", HOOK_KEY) != 0)
    results.equal(s, what, s.left(), left)


def setup_hook_without_launcher(wine, results):
    s = Scenario(wine, "setup hook finds no launcher")
    (s.bundle / "Vorlund.exe").unlink()
    s.file("stray.cab")
    s.file("sub\\deeper.cab")
    s.cab_list(b"stray.cab\r\n")
    run_hook_without_launcher(wine, results, s, "the hook swept the directory's CABs",
                              ["Vorlund.ini", "VorlundSetup.dll", "sub"])
    results.equal(s, "not those of a subfolder", s.left("sub"), ["deeper.cab"])
    return s


def setup_hook_launcher_is_folder(wine, results):
    s = Scenario(wine, "setup hook finds a folder named Vorlund.exe")
    (s.bundle / "Vorlund.exe").unlink()
    s.folder("Vorlund.exe")
    s.file("Vorlund.exe\\inside.txt", b"x")
    s.file("stray.cab")
    s.cab_list(b"stray.cab\r\n")
    run_hook_without_launcher(wine, results, s, "the hook swept the CABs, the folder stays",
                              ["Vorlund.exe", "Vorlund.ini", "VorlundSetup.dll"])
    return s


def setup_hook_without_key(wine, results):
    s = Scenario(wine, "setup hook finds no registry key")
    s.file("kept.cab")
    s.cab_list(b"kept.cab\r\n")
    wine.reg("delete", HOOK_KEY, "/f")
    s.run_hook()
    check_hook_boxes(results, s, [NO_KEY])
    results.equal(s, "nothing installed, nothing swept", (s.starts(), s.left()),
                  ([], ["Vorlund.exe", "Vorlund.ini", "VorlundSetup.dll", "kept.cab"]))
    return s


def setup_hook_without_value(wine, results):
    s = Scenario(wine, "setup hook finds the key without its value")
    s.file("kept.cab")
    s.cab_list(b"kept.cab\r\n")
    s.registry(None)
    # Neighbours of the value it wants: the key's unnamed value and one named
    # differently, both holding a good directory. Neither is "Default".
    wine.reg("add", HOOK_KEY, "/ve", "/d", "C:\\Bundle", "/f")
    wine.reg("add", HOOK_KEY, "/v", "Defaults", "/d", "C:\\Bundle", "/f")
    results.check(s, "premise: the key holds its unnamed value",
                  wine.reg("query", HOOK_KEY, "/ve") == 0)
    s.run_hook()
    check_hook_boxes(results, s, [NO_VALUE])
    results.check(s, "registry key deleted", wine.reg("query", HOOK_KEY) != 0)
    results.equal(s, "nothing installed, nothing swept", (s.starts(), s.left()),
                  ([], ["Vorlund.exe", "Vorlund.ini", "VorlundSetup.dll", "kept.cab"]))
    return s


def soak(wine, results, count=200):
    s = soak_run(wine, count)
    if UNPACK_FAILED in [box[1] for box in s.boxes()]:
        # Wine itself fails a process start now and then (seen once in some
        # thousands of starts on a busy machine); the launcher then rightly
        # reports it. A fault of the launcher would come back: run once more.
        print("        note: an installer did not start; running the soak once more")
        s.dump()
        s = soak_run(wine, count)
    check_soak(results, s, count)
    return s


def soak_run(wine, count):
    s = Scenario(wine, f"soak: {count} CABs over several list blocks")
    chooser = random.Random(count)
    names = [f"soak-{i:04d}-{'v' * chooser.randint(30, 80)}.cab" for i in range(count)]
    for name in names:
        s.file(name)
    listed = list(names)
    chooser.shuffle(listed)
    # Three names of missing files among them, skipped without a word.
    for position in (5, count // 2, count - 3):
        listed.insert(position, f"absent-{position}.cab")
    s.listed = listed
    s.list_bytes = b"".join(name.encode() + b"\r\n" for name in listed)
    present = [n for n in listed if not n.startswith("absent")]
    s.rejected = set(present[7::41])
    s.deleted = set(present[11::47]) - s.rejected
    plan = [f"{name} exit 4" for name in sorted(s.rejected)]
    plan += [f"{name} delete" for name in sorted(s.deleted)]
    s.installer_plan("\n".join(plan) + "\n")
    s.cab_list(s.list_bytes)
    for other in ("unlisted.cab", "soak.cabinet", "soak.cabx", "notes.txt"):
        s.file(other)
    s.run(hold_close=True)
    print(f"        ({len(s.list_bytes)} bytes of list, {len(s.list_bytes) / BLOCK:.1f} blocks, "
          f"{len(s.rejected)} rejected, {len(s.deleted)} deleted by the installer, "
          f"{s.seconds:.1f} s)")
    return s


def check_soak(results, s, count):
    check_common(results, s)
    wanted = [n for n in s.listed if not n.startswith("absent")]
    results.equal(s, "every present CAB installed once, in list order", s.starts(),
                  [command_line(n) for n in wanted])
    results.check(s, "each CAB exists when its installer starts",
                  all(line[3] == "exists" for line in s.journal if line[0] == "start"))
    check_runs_one_at_a_time(results, s)
    codes = [line[2] for line in s.journal if line[0] == "end"]
    results.equal(s, "the rejected CABs were rejected, the rest accepted", codes,
                  ["4" if n in s.rejected else "0" for n in wanted])
    results.equal(s, "all CABs swept; list, launcher and look-alikes kept", s.left(),
                  ["Vorlund.exe", "Vorlund.ini", "notes.txt", "soak.cabinet", "soak.cabx"])
    counts = [int(p[2].split()[3][:-3]) for p in s.progress()
              if p[2].startswith("Installing CAB file ")]
    results.check(s, "the status text only counts down, from the total to 0",
                  counts == sorted(counts, reverse=True) and all(0 <= c <= count for c in counts),
                  repr(counts[:5]))
    check_last_state(results, s)


# ---- Paths and names at the launcher's limits ---------------------------
# Module path and directory: 260 wide characters with the terminator; CAB
# path and installer command line: 1024; names in the list: 255 bytes.

def longest_module_path(wine, results):
    # 248 + "Vorlund.exe": a module path of 259 characters, the longest that fits.
    bundle = deep_directory(248)
    s = Scenario(wine, "module path of 259 characters", bundle)
    fits = "abcdefg.cab"           # 248 + 11 = 259: the sweep can name it
    too_long = "abcdefgh.cab"      # 260: the sweep passes it over
    longest = "n" * 251 + ".cab"   # a 255-byte name: a 503-character CAB path
    for name in ("a.cab", fits, too_long, longest):
        s.file(name)
    s.cab_list("\r\n".join(("a.cab", fits, too_long, longest)).encode() + b"\r\n")
    s.run()
    check_common(results, s)
    wanted = [s.command_line(n) for n in ("a.cab", fits, too_long, longest)]
    results.equal(s, "all four installed, the longest command line (525) whole", s.starts(),
                  wanted)
    results.equal(s, "premise: the longest command line", len(wanted[-1]), 525)
    results.equal(s, "swept what fits 260 characters, passed over the rest", s.left(),
                  sorted(["Vorlund.exe", "Vorlund.ini", too_long, longest]))
    return s


def module_path_too_long(wine, results):
    # 249 + "Vorlund.exe" = 260 characters: the module path does not fit.
    s = Scenario(wine, "module path of 260 characters", deep_directory(249))
    s.file("a.cab")
    s.cab_list(b"a.cab\r\n")
    s.run()
    check_common(results, s)
    results.equal(s, "the run ends quietly: nothing installed, nothing swept",
                  (s.starts(), s.left()), ([], ["Vorlund.exe", "Vorlund.ini", "a.cab"]))
    results.check(s, "the window (shown on creation) never gets a text",
                  all(p[2] == "" for p in s.progress()), repr(s.progress()))
    return s


def names_at_255_bytes(wine, results):
    s = Scenario(wine, "names of 255 and 256 bytes")
    name255 = "sub\\" + "n" * 247 + ".cab"
    cut255 = "sub\\" + "m" * 247 + ".cab"     # what a 256-byte name cut short would name
    name256 = cut255 + "x"
    top255 = "t" * 251 + ".cab"               # at the top: a 265-character path
    for name in (name255, cut255, name256, top255, "ok.cab"):
        s.file(name)
    assert (len(name255), len(name256), len(top255)) == (255, 256, 255)
    s.cab_list("\r\n".join((name256, name255, top255, "ok.cab")).encode() + b"\r\n")
    s.run()
    check_common(results, s)
    results.equal(s, "255-byte names installed, the 256-byte one passed over (not cut)",
                  s.starts(), [command_line(n) for n in (name255, top255, "ok.cab")])
    results.equal(s, "the sweep passes over the CAB whose path exceeds 259", s.left(),
                  sorted(["Vorlund.exe", "Vorlund.ini", "sub", top255]))
    return s


def hook_longest_launcher_path(wine, results):
    # Value of 247 characters: launcher path 247 + 1 + 11 = 259, the longest.
    bundle = deep_directory(248)
    s = Scenario(wine, "setup hook: launcher path of 259 characters", bundle)
    s.file("a.cab")
    s.cab_list(b"a.cab\r\n")
    s.registry(bundle[:-1])
    s.run_hook()
    check_hook_boxes(results, s, [NOTICE])
    results.equal(s, "the launcher started, installed and swept", (s.starts(), s.left()),
                  ([s.command_line("a.cab")], ["Vorlund.exe", "Vorlund.ini", "VorlundSetup.dll"]))
    results.check(s, "registry key deleted", wine.reg("query", HOOK_KEY) != 0)
    return s


def hook_launcher_path_too_long(wine, results):
    # Value of 248 characters: the launcher path would be 260. The launcher is
    # there, but its path does not fit: reported like a missing launcher.
    bundle = deep_directory(249)
    s = Scenario(wine, "setup hook: launcher path of 260 characters", bundle)
    fits = "abcdef.cab"        # 249 + 10 = 259: swept
    too_long = "abcdefg.cab"   # 260: passed over
    for name in (fits, too_long):
        s.file(name)
    s.registry(bundle[:-1])
    s.run_hook()
    check_hook_boxes(results, s, [NO_LAUNCHER])
    results.equal(s, "nothing installed; the sweep deletes what fits 259", (s.starts(), s.left()),
                  ([], sorted(["Vorlund.exe", "VorlundSetup.dll", too_long])))
    results.check(s, "registry key deleted", wine.reg("query", HOOK_KEY) != 0)
    return s


def hook_directory_too_long(wine, results):
    # Value of 259 characters: with its backslash the directory needs 261.
    bundle = deep_directory(260)
    s = Scenario(wine, "setup hook: value of 259 characters", bundle)
    s.file("c.cab")
    s.registry(bundle[:-1])
    s.run_hook()
    check_hook_boxes(results, s, [NO_LAUNCHER])
    results.equal(s, "nothing installed, nothing swept under a cut name", (s.starts(), s.left()),
                  ([], ["Vorlund.exe", "VorlundSetup.dll", "c.cab"]))
    results.check(s, "registry key deleted", wine.reg("query", HOOK_KEY) != 0)
    return s


LIMIT_SCENARIOS = [
    longest_module_path,
    module_path_too_long,
    names_at_255_bytes,
]

SETUP_LIMIT_SCENARIOS = [
    hook_longest_launcher_path,
    hook_launcher_path_too_long,
    hook_directory_too_long,
]


SETUP_SCENARIOS = [
    installation_road,
    other_hooks_do_nothing,
    setup_hook_without_launcher,
    setup_hook_launcher_is_folder,
    setup_hook_without_key,
    setup_hook_without_value,
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
    soak,
]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--only", help="run only scenarios whose name contains this")
    parser.add_argument("--soak-cabs", type=int, default=200,
                        help="CABs in the soak scenario (200, some 25 to 40 s; "
                             "--soak-cabs 300 takes 30 to 60 s)")
    options = parser.parse_args()
    build = Path(options.build).resolve()
    wine = Wine(build / "wine-prefix", build / "wine-helpers", build / "bin" / "Vorlund.exe",
                build / "bin" / "VorlundSetup.dll")
    scenarios = list(SCENARIOS) + LIMIT_SCENARIOS
    if wine.setup_library.exists():
        scenarios += SETUP_SCENARIOS + SETUP_LIMIT_SCENARIOS
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
            scenario_began = time.time()
            try:
                if scenario is soak:
                    s = soak(wine, results, options.soak_cabs)
                else:
                    s = scenario(wine, results)
                print(f"        ({time.time() - scenario_began:.1f} s)")
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
