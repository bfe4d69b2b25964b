#!/usr/bin/env python3
"""The Wine tier: the real Vorlund.exe and VorlundSetup.dll among the stand-ins of StandIn.exe,
one table of rows (ROWS) played by lay_out, play and check; --soak CABS (scripts/reliability)
plays a few hundred CABs instead."""
import argparse
import collections
import os
import random
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

CAPTION = "Brannoch Software"
FAILED = "Installation Failed. Error: Cannot "
NO_LIST, UNPACK = FAILED + "locate CAB file list: Vorlund.ini.", FAILED + "unpack all CAB file."
NO_LAUNCHER = FAILED + "locate registry launcher: Vorlund.exe."
NO_KEY, NO_VALUE = (FAILED + f"locate registry associated with the {what} of the Main CAB file."
                    for what in ("path", "name"))
NOTICE = ("Please press the OK button. The installation will take 20-30 minutes. Do not use the "
          "software until the program completes the unpacking of all the CAB files.")
DONE = "Installing CAB files ... Done..."
KEY = "HKCU\\Software\\TqVorlund"
CABS = "every top-level .cab file"
EXIT = ("Install_Exit",)
tally = collections.Counter()


def states(total):
    """The progress window's states with `total` CABs: text, bar in % of 0..10N+5."""
    return tuple((f"Installing CAB file {n}... Please Wait...",
                  round(100 * (10 * (total - n) + 5) / (10 * total + 5)))
                 for n in range(total, 0, -1)) + ((DONE, 100),)


def lines(*names):
    return b"".join(name.encode() + b"\r\n" for name in names)


def deep(length):
    """A directory of exactly `length` (210 to 463) characters, its backslash included."""
    head = "C:\\Deep\\" + "a" * 99 + "\\" + "b" * 99 + "\\"
    return head + "c" * (length - len(head) - 1) + "\\"


@dataclass
class Row:
    name: str
    files: tuple = ()         # entries made in the install directory; "x\\" is a folder
    cab_list: bytes = None    # Vorlund.ini; None: there is none
    attrs: tuple = ()         # (entry, letters of h s r) set before the run
    search_has: tuple = ()    # premise: the search for *.cab returns these
    plan: str = ""            # installer.txt of the stand-in installer
    bundle: str = "C:\\Bundle\\"
    launcher: bool = True     # Vorlund.exe in the directory
    installer: bool = True    # \windows\wceload.exe there
    display: bool = True
    holds: tuple = ()         # (class, ms, topmost): programs running first, in this order
    hooks: tuple = None       # hooks the stand-in installer calls; None: the launcher alone
    standin: tuple = ()       # StandIn.exe's mode and arguments, played instead of the launcher
    linger: int = 0           # ms the stand-in installer stays after its hooks
    key: tuple = (("Default", "{dir}"),)  # ("sub\\name" or "" for unnamed, data) under KEY
    installs: tuple = ()      # expected: names handed to the installer, in order
    boxes: tuple = ()         # expected: message texts
    gone: object = CABS       # expected: top-level entries gone (or a function of the search)
    progress: tuple = None    # expected: (text, bar %) states in order; None: not looked at
    check: object = None      # the row's own checks, given the journal
    limit: int = 180          # s the row may take; past it, every process of the prefix ends


def before_hidden(found):
    """The sweep deletes what the search returns before the first hidden or system CAB."""
    first = next((i for i, (bits, _) in enumerate(found) if bits & 6), len(found))
    return {name for _, name in found[:first]}


def listed(*names):
    """A row's fields for CABs that are there, listed and installed in this order."""
    return dict(files=names, cab_list=lines(*names), installs=names)


def walked(journal):
    """Each case of the real provider's walk met every window once, back to front."""
    walks = [line[1:] for line in journal if line[0] == "walk"]
    expect("the provider's walk, nine cases, each ok", [w for w in walks if w[0] != "ok"], [],
           len(walks) == 9 and all(w[0] == "ok" for w in walks))


def soak_row(count):
    """`count` CABs listed shuffled, three missing, some rejected or deleted by the installer."""
    chooser = random.Random(count)
    names = [f"soak-{i:04d}-{'v' * chooser.randint(30, 80)}.cab" for i in range(count)]
    listed = chooser.sample(names, count)
    for at in (5, count // 2, count - 3):
        listed.insert(at, f"absent-{at}.cab")
    plan = "".join([f"{n} exit 4\n" for n in names[7::41]] +
                   [f"{n} delete\n" for n in names[11::47]])
    return Row(f"soak: {count} CABs", files=names + ["unlisted.cab", "x.cabinet", "x.cabx"],
               cab_list=lines(*listed), plan=plan, check=expect_last_state,
               installs=[n for n in listed if not n.startswith("absent")])


D248, D249, D260 = deep(248), deep(249), deep(260)
ROWS = [
    Row("list order, progress window, sweep",
        files=("alpha.cab", "beta.cab", "gamma.cab", "delta.cab", "readme.txt", "locked.cab", "folder.cab\\", "keep.cabinet", "keep.cabx"),
        # CR LF, lone LF, lone CR and blank lines all end a name; the last has no break.
        cab_list=b"gamma.cab\r\nalpha.cab\n\n\r\nbeta.cab\rnothere.cab\r\ndelta.cab",
        attrs=(("locked.cab", "r"),), search_has=("keep.cabinet", "keep.cabx"),
        # Each state lasts 600 ms, long enough to be read; a rejected CAB counts as installed.
        plan="* sleep 600\nbeta.cab exit 3\n", installs=("gamma.cab", "alpha.cab", "beta.cab", "delta.cab"),
        gone=("alpha.cab", "beta.cab", "gamma.cab", "delta.cab"), progress=states(4)),
    Row("no list", files=("orphan.cab", "other.txt"), boxes=(NO_LIST,), progress=()),
    # The platform cannot start the installer: one message, the rest of the block passed over.
    Row("installer missing", installer=False, files=("a.cab", "b.cab"), cab_list=lines("a.cab", "b.cab"), boxes=(UNPACK,)),
    Row("names that are not installable files",
        files=("extra\\hidden.cab", "extra\\system.cab", "extra\\folder.cab\\", "extra\\plain.cab", "good.cab", "twice.cab"),
        attrs=(("extra\\hidden.cab", "h"), ("extra\\system.cab", "s")), plan="twice.cab delete\n",
        cab_list=lines("ghost.cab", "extra\\hidden.cab", "extra\\system.cab", "extra\\folder.cab", "extra\\plain.cab",
                       "good.cab", "twice.cab", "twice.cab"), installs=("extra\\plain.cab", "good.cab", "twice.cab")),
    Row("a hidden and a system CAB end the sweep", files=[f"c{i}.cab" for i in range(8)],
        attrs=(("c3.cab", "h"), ("c6.cab", "s")), cab_list=b"", gone=before_hidden),
    Row("no display: no window", display=False, **listed("quiet.cab")),
    # The one started first has the window last in Z-order, met first by the walk, and ends while it is waited for.
    Row("two installers running", holds=(("MSWCELOAD", 4000, False), ("MSWCELOAD", 7000, False)), **listed("after.cab")),
    Row("a topmost window, then a running installer", holds=(("Topmost", 60000, True), ("MSWCELOAD", 3000, False)), **listed("after.cab")),
    Row("the provider's walk: windows closing, moving and opening", standin=("probe",), check=walked),
    Row("installers that broadcast a settings change", plan="* broadcast\n", limit=60, **listed("a.cab", "b.cab", "c.cab"),
        check=lambda journal: expect("every broadcast answered", [line[1] for line in journal if line[0] == "broadcast"],
                                     ["sent", "answered"] * 3)),
    # 248 + "Vorlund.exe": a module path of 259; the sweep passes over paths past 259.
    Row("module path of 259 characters", bundle=D248, **listed("a.cab", "abcdefg.cab", "abcdefgh.cab", "t" * 251 + ".cab"),
        gone=("a.cab", "abcdefg.cab")),
    Row("module path of 260 characters: a quiet end", bundle=D249, files=("a.cab",), cab_list=lines("a.cab"), gone=(), progress=()),
    Row("the whole road through the setup hook", hooks=("Install_Init", "Install_Exit", "Uninstall_Init", "Uninstall_Exit"),
        linger=3000, key=(("Default", "{dir}"), ("Leftover\\Deeper\\x", "y")),  # goes with its subkeys
        boxes=(NOTICE,), **listed("second.cab", "first.cab", "third.cab")),
    Row("hook: no launcher", hooks=EXIT, launcher=False, files=("stray.cab",), cab_list=lines("stray.cab"), boxes=(NO_LAUNCHER,)),
    Row("hook: a folder named Vorlund.exe", hooks=EXIT, launcher=False, files=("Vorlund.exe\\", "Vorlund.exe\\inside.cab", "stray.cab"),
        cab_list=lines("stray.cab"), boxes=(NO_LAUNCHER,)),
    Row("hook: no key", hooks=EXIT, key=None, files=("kept.cab",), cab_list=lines("kept.cab"), boxes=(NO_KEY,), gone=()),
    # Its neighbours hold a good directory: the unnamed value and "Defaults".
    Row("hook: the key without its value", hooks=EXIT, key=(("", "{dir}"), ("Defaults", "{dir}")), files=("kept.cab",),
        cab_list=lines("kept.cab"), boxes=(NO_VALUE,), gone=()),
    Row("hook: launcher path of 259", hooks=EXIT, bundle=D248, boxes=(NOTICE,), **listed("a.cab")),
    Row("hook: launcher path of 260, launcher there", hooks=EXIT, bundle=D249, files=("abcdef.cab", "abcdefg.cab"),
        boxes=(NO_LAUNCHER,), gone=("abcdef.cab",)),
    Row("hook: value of 259 characters", hooks=EXIT, bundle=D260, files=("c.cab",), boxes=(NO_LAUNCHER,), gone=()),
]


class SetupError(Exception):
    """A premise of the row did not hold: one failure, and its checks do not run."""


class Wine:
    """One private prefix with one wineserver for the whole run."""

    def __init__(self, build, name="wine-prefix"):
        self.build, self.prefix = build, build / name
        self.standin = build / "wine-helpers" / "StandIn.exe"
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def start(self, *args, env=None):
        return subprocess.Popen(["wine", *map(str, args)], cwd=self.path("C:\\"), env=env or
                                self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run(self, *args):
        return self.start(*args).wait(timeout=60)

    def create(self):
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["wineboot", "-i"], env=self.env, capture_output=True, timeout=300,
                       check=True)
        subprocess.run(["wineserver", "-p"], env=self.env)  # later starts are faster

    def end_all(self):
        """Ends every process of the prefix, one that hangs included."""
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)

    def path(self, windows_path):
        return self.prefix.joinpath("drive_c", *windows_path[3:].rstrip("\\").split("\\"))

    def journal(self):
        path = self.path("C:\\VorlundTest\\journal.txt")
        text = path.read_bytes().decode("utf-16-le", "ignore") if path.exists() else ""
        return [line.split("\t") for line in text.split("\n")[:-1]]  # whole lines only

    def await_line(self, tag, count=1):
        for _ in range(600):
            found = [line for line in self.journal() if line[0] == tag]
            if len(found) >= count:
                return found[count - 1]
            time.sleep(0.05)
        raise SetupError(f"no '{tag}' line in the journal")


def entries(folder):
    return sorted(str(path.relative_to(folder)) for path in folder.rglob("*"))


def lay_out(wine, row):
    """Makes the row's files, plan and registry; returns the entries and the search for *.cab."""
    for folder in ("C:\\VorlundTest", "C:\\Bundle", "C:\\Deep"):
        shutil.rmtree(wine.path(folder), ignore_errors=True)
    bundle = wine.path(row.bundle)
    bundle.mkdir(parents=True)
    for name in row.files:
        target = bundle.joinpath(*name.rstrip("\\").split("\\"))
        target.parent.mkdir(parents=True, exist_ok=True)
        target.mkdir() if name.endswith("\\") else target.write_bytes(b"MSCF stand-in\n")
    programs = ["Vorlund.exe"] * row.launcher + ["VorlundSetup.dll"] * (row.hooks is not None)
    for name in programs:
        shutil.copy(wine.build / "bin" / name, bundle)
    if row.cab_list is not None:
        (bundle / "Vorlund.ini").write_bytes(row.cab_list)
    wine.path("C:\\VorlundTest").mkdir()
    wine.path("C:\\VorlundTest\\installer.txt").write_text(row.plan)
    wine.path("C:\\VorlundTest\\hold").write_text("")
    installer = wine.path("C:\\windows\\wceload.exe")
    shutil.copy(wine.standin, installer) if row.installer else installer.unlink(missing_ok=True)
    if row.hooks is not None:
        wine.run("reg", "delete", KEY, "/f")
        for path, data in row.key or ():
            sub, _, name = path.rpartition("\\")
            if wine.run("reg", "add", KEY + "\\" * bool(sub) + sub, *(["/v", name] if name else
                        ["/ve"]), "/d", data.format(dir=row.bundle[:-1]), "/f"):
                raise SetupError(f"the registry value {path!r} could not be set")
    found = []
    if row.attrs or row.search_has or callable(row.gone):
        pairs = [arg for name, letters in row.attrs for arg in (letters, row.bundle + name)]
        if wine.run(wine.standin, "prepare", row.bundle + "*.cab", *pairs):
            raise SetupError(f"the attributes {row.attrs} did not take")
        found = [(int(line[1]), line[2]) for line in wine.journal() if line[0] == "found"]
        if not set(row.search_has) <= {name for _, name in found}:
            raise SetupError(f"the search for *.cab returns {found}, not all of {row.search_has}")
    return entries(bundle), found


def play(wine, row):
    """Runs the row; returns the exit code of the launcher or the stand-in installer."""
    holds = []
    for count, (window_class, ms, topmost) in enumerate(row.holds, 1):
        holds.append(wine.start(wine.standin, "hold", ms, window_class, *["topmost"] * topmost))
        if wine.await_line("hold-start", count)[3] != "window":
            raise SetupError(f"the running {window_class} has no window")
    user = wine.start(wine.standin, "user")
    if wine.await_line("user")[1] != "ready":
        raise SetupError("the stand-in user could not set its window hook")
    env = {k: v for k, v in wine.env.items() if row.display or k != "DISPLAY"}
    if row.standin:
        main = wine.start(wine.standin, *row.standin)
    elif row.hooks is None:
        main = wine.start(row.bundle + "Vorlund.exe", env=env)
    else:
        main = wine.start("C:\\windows\\wceload.exe", "hold", row.linger, "MSWCELOAD",
                          row.bundle + "VorlundSetup.dll", *row.hooks)
    deadline = time.time() + row.limit
    while user.poll() is None:  # it ends once told to stop and no launcher runs any more
        if time.time() > deadline:
            for process in [user, main] + holds:
                process.kill()
            wine.end_all()
            raise RuntimeError(f"the row did not end within {row.limit} s")
        hold = wine.path("C:\\VorlundTest\\hold")
        if hold.exists() and any(line[:2] == ["progress", "visible"] and line[3:4] == [DONE]
                                 for line in wine.journal()):
            hold.unlink()  # the last state has been read: let the window go
        if main.poll() is not None:
            wine.path("C:\\VorlundTest\\stop").write_text("")
        time.sleep(0.05)
    for process in holds:
        process.wait(timeout=30)
    return main.returncode


def expect(what, actual, expected, ok=None):
    ok = actual == expected if ok is None else ok
    tally["passed" if ok else "failed"] += 1
    print(f"  {'ok  ' if ok else 'FAIL'}  {what}" +
          ("" if ok else f"\n        expected {expected!r}\n        actual   {actual!r}"))


def expect_last_state(journal):
    """Read while the hook held the window, destroyed once, after the last installer run."""
    full = [line[4] for line in journal if line[:2] == ["progress", "visible"] and line[3] == DONE]
    closing = [i for i, line in enumerate(journal) if line[0] == "closing"]
    last_end = max([i for i, line in enumerate(journal) if line[0] == "end"], default=-1)
    expect("last state: done text, bar full; destroyed once, after the last installer run",
           ([journal[i][1] for i in closing], full[-1:], min(closing, default=-1) > last_end),
           ([DONE], ["100"], True))


def check(row, wine, exit_code, before, found):
    journal = wine.journal()
    tagged = lambda tag: [line[1:] for line in journal if line[0] == tag]  # noqa: E731
    at = lambda *tags: [i for i, line in enumerate(journal) if line[0] in tags]  # noqa: E731
    starts, boxes = tagged("start"), tagged("box")
    if row.hooks is None:
        expect("the launcher's exit code" if not row.standin else "StandIn's exit code",
               exit_code, 0)
    else:
        expect("each hook called returns 0", tagged("hook"), [[hook, "0"] for hook in row.hooks])
    expect("message texts", [box[1] for box in boxes], list(row.boxes))
    if boxes:
        owner = ["", "0"] if row.hooks is None else ["MSWCELOAD", tagged("hold-start")[0][1]]
        expect("each box: caption, OK only, owner " +
               ("none" if row.hooks is None else "the stand-in installer's window"),
               [[box[0], *box[2:]] for box in boxes], [[CAPTION, "1 ", *owner]] * len(boxes))
    if boxes and row.hooks is not None:
        exit_at = [i for i in at("hook") if journal[i][1] == "Install_Exit"]
        expect("the message comes before Install_Exit returns",
               max(at("box")) < min(exit_at, default=-1), True)
    expect("installer command lines", [start[0] for start in starts],
           [f' /nouninstall /noui "{row.bundle}{name}"' for name in row.installs])
    if starts:
        expect("one installer at a time, each on a CAB that is there",
               ([journal[i][0] for i in at("start", "end")], {start[1] for start in starts}),
               (["start", "end"] * len(starts), {""}))
        running = [i for i in at("hold-end") if journal[i][1] == "MSWCELOAD"]
        if running:
            expect("no install before the running installers have ended",
                   max(running) < at("start")[0], True)
    gone = row.gone(found) if callable(row.gone) else set(row.gone) if row.gone != CABS else {
        name for name in row.files if "\\" not in name and name.lower().endswith(".cab")}
    expect("entries left, subfolders included", entries(wine.path(row.bundle)),
           [entry for entry in before if entry.split("/")[0] not in gone])
    if row.hooks is not None and row.key:
        expect("registry key deleted, with its subkeys", wine.run("reg", "query", KEY), 1)
    if row.progress is not None:
        shown = [line[2:] for line in journal if line[:2] == ["progress", "visible"]]
        texts = [p[1] for p in shown if p[1] and " 0... " not in p[1]]  # 0 lasts an instant
        expect("status texts", [t for i, t in enumerate(texts) if texts[i - 1:i] != [t]],
               [text for text, _ in row.progress])
        fills, captions = {p[1]: int(p[2]) for p in shown}, {p[0] for p in shown if p[1]}
        if row.progress:
            expect("caption; bar drawn, in % of its width (within 6)",
                   (captions, [fills.get(text) for text, _ in row.progress]),
                   ({CAPTION}, [fill for _, fill in row.progress]), captions == {CAPTION} and
                   all(abs(fills.get(text, -99) - fill) <= 6 for text, fill in row.progress))
            expect_last_state(journal)
        else:
            expect("never destroyed", tagged("closing"), [])
    if row.check:
        row.check(journal)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--only", default="", help="play only rows whose name contains this")
    parser.add_argument("--soak", type=int, metavar="CABS", help="play only the soak")
    options = parser.parse_args()
    rows = [soak_row(options.soak)] if options.soak else [r for r in ROWS if options.only in r.name]
    wine, began = Wine(Path(options.build).resolve()), time.time()
    wine.create()
    try:
        for row in rows:
            print(f"{row.name}:")
            row_began, failed_before = time.time(), tally["failed"]
            try:
                before, found = lay_out(wine, row)
                check(row, wine, play(wine, row), before, found)
            except Exception as error:  # a row that breaks is one failure
                tally["failed"] += 1
                print(f"  FAIL  could not be played: {error}")
            print(f"        ({time.time() - row_began:.1f} s)")
            if tally["failed"] > failed_before:
                print("        journal, last 80 lines:", *(" | ".join(line)[:240] for line in
                      wine.journal()[-80:]), sep="\n          ")
    finally:
        subprocess.run(["wineserver", "-k"], env=wine.env)
    print(f"Wine rows took {time.time() - began:.0f} s")
    print(f"{tally['passed']} passed, {tally['failed']} failed")
    return 1 if tally["failed"] else 0


if __name__ == "__main__":
    raise SystemExit(main())
