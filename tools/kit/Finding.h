// What the kit finds, in one type for every command: a code from one table
// (its text, warning or note, run-wide or not, what it means), the line of
// the list or the entry it is about, and a message naming what the device does.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace kit {

enum class Code {
    // the run as a whole
    NoSetupDll,
    NoKey,
    NoValue,
    NoLauncher,
    NoList,
    InstallerFailed,
    EmptyList,
    InstallDir,
    Processor,
    CeVersion,
    TooManyFiles,
    TooLarge,
    HeaderLimit,
    // a line of the list
    Missing,
    Hidden,
    System,
    Directory,
    Bom,
    Encoding,
    Whitespace,
    Wildcard,
    TooLong,
    Nul,
    Partial,
    Unread,
    Control,
    Duplicate,
    NotCab,
    Rejected,
    NotInstalled,
    Case,
    NotCeCab,
    OwnSetupDll,
    InstallsVorlund,
    // an entry of the install directory or the package
    Unlisted,
    LeftBehind,
    Stays,
    CabElsewhere,
    NameClash,
    BadFileName,
    PathTooLong,
    NotAFile,
    StandIn,
    NotPacked,
    AppNameLong,
    ProviderLong,
    // the two programs
    NotPe,
    MissingExport,
    X86Build,
    Machine,
    NotADll,
    NotAProgram,
    Subsystem,
    SelfRegister,
    // the header's shape
    ValueType,
    NoSubstitution,
    HardCodedDir,
    ValueKept,
    MissingMember,
    UnusedMember,
    HeaderNotFirst,
    DuplicateMember,
    OnlyIfExists,
    NoOverwrite,
    UnknownMacro,
    Count
};

struct CodeInfo {
    const char* text;  // stable: "no-launcher"
    bool warning;      // false: a note, which never changes the exit status
    bool runWide;      // about the whole run, listed first
    const char* meaning;
};
const CodeInfo& info(Code code);

struct Finding {
    Code code = Code::Missing;
    int line = 0;      // line of the list it is about; 0: none
    int lastLine = 0;  // last line of a run of lines (== line for one)
    std::string file;  // the entry it is about (UTF-8); empty: the list itself
    std::string message;
    bool blocking = false;  // pack cannot make a package with it
};
using Findings = std::vector<Finding>;

Finding fileFinding(Code code, const std::string& file, const std::string& message);
Finding lineFinding(Code code, int line, const std::string& message);
inline Finding blocker(Code code, const std::string& file, const std::string& message)
{
    Finding f = fileFinding(code, file, message);
    f.blocking = true;
    return f;
}

// "Vorlund.ini:3", "Vorlund.ini:2-5", or the entry a finding is about.
std::string where(const Finding& f, const std::string& listName);
int countOf(const Findings& findings, bool warnings);
// 2 when packing with a blocking finding, 1 with a warning, else 0.
int exitStatus(const Findings& findings, bool packing);
// Run-wide findings first, then the list's lines in order, then the rest;
// a finding said twice (code, line, entry) once; runs of lines with the same
// finding, with no other name between them (`nameLines`), become one.
void arrange(Findings* findings, const std::set<int>& nameLines);

}  // namespace kit
