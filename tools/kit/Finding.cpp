// The table of finding codes, and the order findings are told in.
#include "tools/kit/Finding.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <tuple>

namespace kit {

namespace {

// In the order of Code.
const CodeInfo kCodes[] = {
    {"no-setup-dll", true, true, "no setup library: no hook runs, no CAB is installed"},
    {"no-key", true, true, "the hook finds no registry key: its message, nothing more"},
    {"no-value", true, true, "the hook finds no value Default: its message, nothing more"},
    {"no-launcher", true, true,
     "the hook finds no launcher: its message, then it deletes the CABs"},
    {"no-list", true, true, "the launcher finds no list: its message, then it deletes every CAB"},
    {"installer-failed", true, true,
     "the installer cannot be started: the rest of a block is lost"},
    {"empty-list", true, true, "the list names nothing: nothing is installed"},
    {"install-dir", true, true, "string 1, the install directory, is no directory entry's path"},
    {"processor", true, true, "the device refuses the CAB's processor type"},
    {"ce-version", true, true, "the device's CE version is outside the CAB's range"},
    {"too-many-files", true, true, "more files than a package can number (998)"},
    {"too-large", true, true, "more bytes than one cabinet folder holds"},
    {"header-limit", true, true, "a count, length or offset too large for the install header"},
    {"missing", true, false, "a listed CAB that is not there: skipped without a word"},
    {"hidden", true, false, "a listed CAB that is hidden: skipped"},
    {"system", true, false, "a listed CAB that is a system file: skipped"},
    {"directory", true, false, "a listed name that is a directory: skipped"},
    {"bom", true, false, "a byte-order mark, read into the first name"},
    {"encoding", true, false, "text the device reads as other characters (not Windows-1252)"},
    {"whitespace", true, false, "leading or trailing spaces or tabs, kept in the name"},
    {"wildcard", true, false, "* or ?: the check finds a file, the installer gets the wildcard"},
    {"too-long", true, false, "a name over 255 bytes: never read"},
    {"nul", true, false, "a NUL byte: the rest of its 4096-byte block is never read"},
    {"partial", true, false, "the device reads only part of the line"},
    {"unread", true, false, "a line the device never reads"},
    {"control", true, false, "a control character in a name"},
    {"duplicate", true, false, "a name listed again: installed twice"},
    {"not-cab", true, false, "a listed file not ending in .cab: installed, never swept"},
    {"rejected", true, false, "the installer rejects the CAB: no message, counted done, deleted"},
    {"not-installed", true, false, "a name that never reached the installer"},
    {"case", false, false, "a name that differs from its file in letter case only"},
    {"not-ce-cab", true, false, "a listed file that is no CE CAB: the installer rejects it"},
    {"own-setup-dll", true, false, "a listed CAB with a setup library, which may show a dialog"},
    {"installs-vorlund", true, false, "a listed CAB that installs over the launcher or the list"},
    {"unlisted", true, false, "a CAB the list does not name: deleted (or left) uninstalled"},
    {"left-behind", true, false, "a CAB the sweep leaves on the device"},
    {"stays", false, false, "a CAB installed from a subdirectory, which the sweep never reaches"},
    {"cab-elsewhere", false, false, "a CAB outside the launcher's directory: never installed"},
    {"name-clash", true, false, "two names that are one on the device"},
    {"bad-file-name", true, false, "a name no device file system holds"},
    {"path-too-long", true, false, "a path longer than the device's paths"},
    {"not-a-file", false, false, "neither a file nor a directory: left out"},
    {"stand-in", false, false, "no launcher in the directory: a stand-in takes its place"},
    {"not-packed", false, false, "a file or subdirectory pack leaves out"},
    {"app-name-long", true, false, "an application name the device cuts short"},
    {"provider-long", true, false, "a provider name the device cuts short"},
    {"not-pe", true, false, "the launcher or setup library is no PE file"},
    {"missing-export", true, false, "the setup library lacks a hook under its plain name"},
    {"x86-build", true, false, "a program built for x86 or x64, not ARM"},
    {"machine", true, false, "a program built for another machine, not ARM"},
    {"not-a-dll", true, false, "the setup library is a program"},
    {"not-a-program", true, false, "the launcher is a DLL"},
    {"subsystem", true, false, "the launcher's subsystem is not Windows CE GUI"},
    {"self-register", true, false, "the installer is asked to self-register the launcher"},
    {"value-type", true, false, "Default is not a string value"},
    {"no-substitution", true, false, "Default holds %InstallDir%, not substituted"},
    {"hard-coded-dir", true, false, "Default is a literal path: wrong on a storage card"},
    {"value-kept", true, false, "Default is not overwritten: a reinstall keeps a stale directory"},
    {"missing-member", true, false, "a file the header installs whose member is missing"},
    {"unused-member", false, false, "a member the header never installs"},
    {"header-not-first", true, false, "the install header (.000) is not the first member"},
    {"duplicate-member", true, false, "two members with one number"},
    {"only-if-exists", true, false,
     "a file copied only over an existing one: a first install lacks it"},
    {"no-overwrite", true, false,
     "the launcher or list is not overwritten: a reinstall keeps the old"},
    {"unknown-macro", true, false, "a directory with a %CEn% outside 1..17"},
};
static_assert(std::size(kCodes) == static_cast<size_t>(Code::Count), "one row per code");

}  // namespace

const CodeInfo& info(Code code)
{
    return kCodes[static_cast<size_t>(code)];
}

Finding fileFinding(Code code, const std::string& file, const std::string& message)
{
    Finding f;
    f.code = code;
    f.file = file;
    f.message = message;
    return f;
}

Finding lineFinding(Code code, int line, const std::string& message)
{
    Finding f;
    f.code = code;
    f.line = f.lastLine = line;
    f.message = message;
    return f;
}

std::string where(const Finding& f, const std::string& listName)
{
    if (f.line > 0) {
        std::string at = listName + ":" + std::to_string(f.line);
        return f.lastLine > f.line ? at + "-" + std::to_string(f.lastLine) : at;
    }
    return f.file.empty() ? listName : f.file;
}

int countOf(const Findings& findings, bool warnings)
{
    return static_cast<int>(std::count_if(findings.begin(), findings.end(), [&](const Finding& f) {
        return info(f.code).warning == warnings;
    }));
}

int exitStatus(const Findings& findings, bool packing)
{
    bool blocked =
        std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.blocking; });
    if (packing && blocked)
        return 2;
    return countOf(findings, true) > 0 ? 1 : 0;
}

void arrange(Findings* findings, const std::set<int>& nameLines)
{
    auto group = [](const Finding& f) { return f.line > 0 ? 1 : info(f.code).runWide ? 0 : 2; };
    std::stable_sort(findings->begin(), findings->end(), [&](const Finding& a, const Finding& b) {
        if (group(a) != group(b))
            return group(a) < group(b);
        return group(a) == 1 && a.line < b.line;
    });
    std::map<std::tuple<Code, int, std::string>, size_t> said;  // -> its place in merged
    Findings merged;
    for (const Finding& f : *findings) {
        auto at = said.find({f.code, f.line, f.file});
        if (at != said.end()) {
            merged[at->second].blocking = merged[at->second].blocking || f.blocking;
            continue;
        }
        if (!merged.empty()) {
            Finding& last = merged.back();
            auto between = nameLines.upper_bound(last.lastLine);
            if (f.line > 0 && last.line > 0 && f.code == last.code && f.message == last.message &&
                between != nameLines.end() && *between == f.line) {
                last.lastLine = f.line;
                continue;
            }
        }
        said[{f.code, f.line, f.file}] = merged.size();
        merged.push_back(f);
    }
    *findings = merged;
}

}  // namespace kit
