#!/usr/bin/env python3
"""The device build as far as this machine allows: every shipped source and the bring-up
probe compile for 32-bit ARM Windows (CE defines, C++98, no exceptions or RTTI, -Werror);
their imports are in ce5-allowlist.txt, itself held to the device's export tables in
../shared/ce (their absence fails only with CI set); only device/win32/ touches the
platform's headers; no shipped layer includes one above it; every C++ file keeps
.clang-format's style. Prints "N passed, N failed"."""
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
CE_TABLES = ROOT.parent / "shared" / "ce"
MINGW_HEADERS = Path("/usr/share/mingw-w64/include")
FLAGS = ["--target=armv7-w64-windows-gnu", "-isystem", str(MINGW_HEADERS), "-I", str(ROOT),
         "-D_WIN32_WCE=0x500", "-DUNDER_CE", "-DUNICODE", "-D_UNICODE", "-std=c++98",
         "-fno-exceptions", "-fno-rtti", "-Wall", "-Wextra", "-Werror", "-pedantic",
         "-Wno-long-long", "-O2", "-c"]
# The Wine tier's stand-in, the device's bring-up probe: it drives the provider's walk.
PROBE = "tests/windows/StandIn.cpp"
# Files that may use the platform's headers besides the provider: Windows-side tests, benchmarks.
PLATFORM_FOLDERS = ("device/win32/", "tests/windows/", "tests/device/", "bench/windows/")


def read_sections(path):
    """{section: set(names)} from a list file with [section] headers."""
    sections, current = {}, None
    for raw in Path(path).read_text().splitlines():
        line = raw.split("#", 1)[0].strip()
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].lower(), set())
        elif line:
            current.add(line)
    return sections


def symbols(obj, defined, nm="llvm-nm"):
    flag = "--defined-only" if defined else "-u"
    text = subprocess.run([nm, flag, str(obj)], check=True, stdout=subprocess.PIPE,
                          text=True).stdout
    return {line.split()[-1] for line in text.splitlines() if line.strip() and not line.endswith(":")}


def unexplained_references(objects, allowed, nm="llvm-nm"):
    """Outside references of a set of objects that the allowlist does not name."""
    defined = set().union(*(symbols(obj, True, nm) for obj in objects)) if objects else set()
    ce = allowed.get("coredll", set()) | allowed.get("commctrl", set())
    bad = set()
    for obj in objects:
        for name in symbols(obj, False, nm) - defined:
            plain = name[len("__imp_"):] if name.startswith("__imp_") else name
            if plain not in ce and name not in allowed.get("compiler", set()):
                bad.add(plain)
    return sorted(bad)


def source_groups():
    """{"BASE": [...], "COMMON": [...], ...}, as the CMake project lists them."""
    text = (ROOT / "CMakeLists.txt").read_text()
    return {name: block.split()
            for name, block in re.findall(r"set\(VORLUND_(\w+)_SOURCES([^)]*)\)", text)}


def shipped_sources():
    """The sources of both deliverables, as the CMake project lists them."""
    sources = [source for group in source_groups().values() for source in group]
    return sources + sorted(str(p.relative_to(ROOT)) for p in (ROOT / "device/win32").glob("*.cpp"))


def compile_arm(source, obj, extra_flags=()):
    extra = list(extra_flags)
    if source.startswith(("device/win32/", "tests/device/", "tests/windows/")):
        extra += ["-include", str(HERE / "ce-sdk-differences.h")]
    return subprocess.run(["clang++"] + FLAGS + extra + [str(ROOT / source), "-o", str(obj)],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


class Tally:
    passed = failed = 0

    def check(self, what, ok, detail=""):
        if ok:
            self.passed += 1
            print(f"  ok    {what}")
        else:
            self.failed += 1
            print(f"  FAIL  {what}" + (f"\n        {detail}" if detail else ""))


def boundary_breaches():
    """Files outside the platform folders that include the platform's headers
    or test _WIN32_WCE."""
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h", "*.hpp", "*.cc", "*.c", "*.rc"],
                           cwd=ROOT, stdout=subprocess.PIPE, text=True, check=True).stdout.split()
    rule = re.compile(r"^\s*#\s*(include\s*[<\"](windows|commctrl)\.h[>\"]|(if|ifdef|ifndef|elif)\b.*_WIN32_WCE)",
                      re.I | re.M)
    return [f for f in files if not f.startswith(PLATFORM_FOLDERS) and (ROOT / f).exists()
            and rule.search((ROOT / f).read_text(errors="replace"))]


# The shipped layers and what each must not include: those above it. The
# launcher's entry point includes the launcher it starts.
ABOVE = {"base/": ("device/", "common/", "launcher/", "setup/"),
         "device/": ("common/", "launcher/", "setup/"), "common/": ("launcher/", "setup/"),
         "launcher/": ("setup/",), "setup/": ("launcher/",)}
ENTRY_POINT = ("device/win32/LauncherMain.cpp", "launcher/")


def layer_breaches():
    """"file: include" for each include of a shipped layer from one above it."""
    files = subprocess.run(["git", "ls-files", *ABOVE], cwd=ROOT, stdout=subprocess.PIPE,
                           text=True, check=True).stdout.split()
    breaches = []
    for f in files:
        above = next(v for k, v in ABOVE.items() if f.startswith(k))
        for included in re.findall(r'^\s*#\s*include\s*"([^"]+)"', (ROOT / f).read_text(), re.M):
            if included.startswith(above) and (f, included.split("/")[0] + "/") != ENTRY_POINT:
                breaches.append(f"{f}: {included}")
    return breaches


def main():
    tally = Tally()
    allowed = read_sections(HERE / "ce5-allowlist.txt")
    exports = {section: set((CE_TABLES / f"{section}-exports.txt").read_text().split())
               for section in ("coredll", "commctrl")} if CE_TABLES.is_dir() else {}
    with tempfile.TemporaryDirectory() as folder:
        objects, built = [], {}
        print("compile for 32-bit ARM Windows (CE 5 defines, C++98):")
        for source in shipped_sources() + ["tests/device/AbiFacts.cpp", PROBE]:
            obj = Path(folder) / (source.replace("/", "_") + ".o")
            done = compile_arm(source, obj)
            tally.check(source, done.returncode == 0, done.stdout.strip()[:2000])
            if done.returncode == 0:
                built[source] = obj
                if not source.startswith("tests/"):
                    objects.append(obj)
        print("imports:")
        bad = unexplained_references(objects, allowed)
        tally.check(f"the {len(objects)} ARM objects import only what ce5-allowlist.txt names",
                    not bad, "not in the allowlist: " + ", ".join(bad))
        probe = Path(folder) / "probe.cpp"
        probe.write_text("#include <windows.h>\n#include <shlwapi.h>\n"
                         "int probe(wchar_t* b) { GetCurrentDirectoryW(10, b);"
                         " return (int)SHDeleteKeyW(HKEY_CURRENT_USER, b); }\n")
        done = subprocess.run(["clang++"] + FLAGS + [str(probe), "-o", str(probe) + ".o"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        flagged = unexplained_references([Path(str(probe) + ".o")], allowed) if done.returncode == 0 else []
        tally.check("the import check flags what the device lacks (GetCurrentDirectoryW, SHDeleteKeyW)",
                    flagged == ["GetCurrentDirectoryW", "SHDeleteKeyW"], repr(flagged) + done.stdout[:500])
        if exports and PROBE in built:
            # The probe is no shipped code: it may call whatever the device exports.
            probe_objects = [built[PROBE]] + [built[s] for s in (
                "device/win32/Win32DeviceServices.cpp", "base/WideText.cpp") if s in built]
            bad = unexplained_references(probe_objects, dict(exports, compiler=allowed.get("compiler", set())))
            tally.check("the probe, with the provider it drives, imports only what the device's "
                        "COREDLL and commctrl export", not bad, "not exported: " + ", ".join(bad))
    if exports:
        for section in exports:
            missing = sorted(allowed.get(section, set()) - exports[section])
            tally.check(f"every [{section}] name of the allowlist is an export of the device's {section}",
                        not missing, "not exported: " + ", ".join(missing))
    elif os.environ.get("CI"):
        tally.check("the device's export tables are at hand (CI)", False,
                    f"{CE_TABLES} is missing: the allowlist cannot be held to them")
    else:
        print("  note  the device's export tables are not at hand: the allowlist is not held to them")
    print("platform boundary:")
    breaches = boundary_breaches()
    tally.check("only device/win32/ includes <windows.h>/<commctrl.h> or tests _WIN32_WCE",
                not breaches, ", ".join(breaches))
    breaches = layer_breaches()
    tally.check("no shipped layer includes one above it (base/, device/, common/, launcher/ "
                "and setup/)", not breaches, ", ".join(breaches))
    sources = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, stdout=subprocess.PIPE,
                             text=True, check=True).stdout.split()
    styled = subprocess.run(["clang-format-16", "--dry-run", "--Werror"] + sources, cwd=ROOT,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    tally.check("every C++ file keeps the house style (.clang-format)", styled.returncode == 0,
                styled.stdout[:1500])
    print(f"{tally.passed} passed, {tally.failed} failed")
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
