// The reports: the installer's view of a main package, the list as the device
// reads it, what the device does, the findings and the summary, as aligned
// text for people and as JSON for a packaging pipeline.
#include "tools/kit/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <iterator>

#include "launcher/LauncherSequence.h"
#include "setup/SetupHooks.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"
#include "tools/kit/MainPackage.h"

namespace kit {

namespace {

using Json = nlohmann::ordered_json;
using hosttext::utf8;

// ---- display helpers --------------------------------------------------------------

std::string escaped(const std::wstring& name)
{
    std::string out;
    for (wchar_t c : name) {
        if (c == L'\t') {
            out += "<TAB>";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "<0x%02X>", static_cast<unsigned>(c));
            out += buf;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += utf8(std::wstring(1, c));
        }
    }
    return out;
}

// UTF-8 text for the terminal: control characters escaped.
std::string safe(const std::string& text)
{
    return escaped(hosttext::fromHost(text));
}

// A header string as JSON carries it: Windows-1252 made UTF-8.
std::string ansi(const std::string& text)
{
    return utf8(hosttext::fromAnsi(text));
}

// Columns that a UTF-8 text takes on a terminal (one per character).
size_t columns(const std::string& text)
{
    size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

std::string padded(const std::string& text, size_t width)
{
    size_t used = columns(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

// A number right-aligned in `width` columns (printf's "%6d"; a report has
// thousands of them, where printf is the slow part).
std::string rightAligned(long long value, size_t width)
{
    std::string text = std::to_string(value);
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// Seconds with two decimals: "90.25".
std::string seconds(unsigned long long milliseconds)
{
    unsigned long long hundredths = (milliseconds % 1000) / 10;
    return std::to_string(milliseconds / 1000) + (hundredths < 10 ? ".0" : ".") +
           std::to_string(hundredths);
}

const int kBarWidth = 20;
const size_t kNameColumns = 48;  // longer names are cut in the table

std::string cell(const std::wstring& name)
{
    std::string text = shown(name);
    if (columns(text) <= kNameColumns)
        return text;
    std::string cut;
    size_t used = 0;
    for (char c : text) {
        bool starts = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (starts && ++used > kNameColumns - 3)
            break;
        cut.push_back(c);
    }
    return cut + "...";
}

struct Style {
    bool on;
    std::string operator()(const char* code, const std::string& text) const
    {
        return on ? std::string("\033[") + code + "m" + text + "\033[0m" : text;
    }
};

std::string plural(int n, const std::string& word, const char* many = "s")
{
    return std::to_string(n) + " " + word + (n == 1 ? "" : many);
}

// ---- the installer's view of a main package ------------------------------------------

const char* const kRoots[] = {"?", "HKCR", "HKCU", "HKLM", "HKU"};

std::string typeName(uint32_t flags)
{
    switch (flags & cecab::kRegTypeMask) {
    case cecab::kRegString:
        return "string";
    case cecab::kRegMultiString:
        return "multi-string";
    case cecab::kRegDword:
        return "dword";
    }
    return "binary";
}

// The data as stored, for display: strings quoted, a DWORD as a number,
// anything else in hex.
std::string shownData(const cecab::LayoutValue& v)
{
    uint32_t type = v.typeFlags & cecab::kRegTypeMask;
    if (type == cecab::kRegDword && v.data.size() == 4) {
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i)
            n = n << 8 | static_cast<unsigned char>(v.data[i]);
        return std::to_string(n);
    }
    if (type == cecab::kRegString || type == cecab::kRegMultiString) {
        std::string out;
        for (const std::string& s : cecab::splitStrings(v.data))
            out += (out.empty() ? "\"" : ", \"") + headerText(s) + "\"";
        return out.empty() ? "\"\"" : out;
    }
    std::string hex;
    char byte[4];
    for (unsigned char c : v.data) {
        std::snprintf(byte, sizeof byte, "%02X", c);
        hex += byte;
    }
    return hex;
}

std::string resolved(const cecab::Layout& l, const cecab::LayoutValue& v)
{
    std::vector<std::string> strings = cecab::splitStrings(v.data);
    std::string first = strings.empty() ? "" : strings.front();
    return v.substitute ? cecab::expandMacros(first, l.installPath) : first;
}

std::string linkText(const cecab::Layout& l, const cecab::LayoutLink& k)
{
    const char* base = cecab::ceDirectory(k.baseDir);
    std::string from = k.baseDir == 0 ? l.installPath
                       : base         ? base
                                      : "%CE" + std::to_string(k.baseDir) + "%";
    std::string to = "directory " + std::to_string(k.target);
    for (const cecab::LayoutFile& f : l.files)
        to = k.toFile && f.number == k.target ? f.path : to;
    for (const cecab::LayoutDir& d : l.dirs)
        to = !k.toFile && d.id == k.target ? d.path : to;
    return headerText(from + "\\" + k.name) + " -> " + headerText(to);
}

std::string installDirText(const cecab::Layout& l)
{
    std::string where = l.installDirId ? "directory " + std::to_string(l.installDirId)
                                       : "no directory entry is [1]";
    return headerText(l.installPath) + "  (string 1: " + headerText(l.installDir) + "; " + where +
           ")";
}

void writePackage(std::ostream& out, const Package& p)
{
    const cecab::Layout& l = p.layout();
    std::string unsupported;
    for (const std::string& u : l.unsupported)
        unsupported += (unsupported.empty() ? "" : ", ") + headerText(u);
    out << "  application  " << headerText(l.appName) << " by " << headerText(l.provider)
        << "\n  processor    " << l.processor << " (" << cecab::processorName(l.processor) << ")"
        << "\n  CE versions  " << versionRange(l.min, l.max) << "\n  unsupported  "
        << (unsupported.empty() ? "none" : unsupported) << "\n  install dir  " << installDirText(l)
        << "\n\nWhat the installer does:\n";
    for (const cecab::LayoutDir& d : l.dirs)
        out << "  creates  " << (d.known ? headerText(d.path) : "(where unknown)") << "  ("
            << headerText(d.written) << ")\n";
    for (const cecab::LayoutFile& f : l.files) {
        const cecab::LayoutMember* m = cecab::memberOf(l, f.number);
        out << "  copies   " << (m ? headerText(m->name) : "(missing)") << " -> "
            << (f.path.empty() ? headerText(f.name) + " (where unknown)" : headerText(f.path))
            << "  (" << (m ? plural(static_cast<int>(m->size), "byte") : "no member");
        if (f.flags != 0) {
            char flags[16];
            std::snprintf(flags, sizeof flags, "0x%08X", f.flags);
            out << ", flags " << flags;
        }
        out << ")\n";
    }
    for (const cecab::LayoutValue& v : l.values) {
        out << "  sets     " << kRoots[v.root <= 4 ? v.root : 0] << "\\" << headerText(v.key)
            << "  " << (v.name.empty() ? "(default)" : headerText(v.name)) << " = " << shownData(v)
            << "  (" << typeName(v.typeFlags);
        if (v.substitute)
            out << ", substituted: \"" << headerText(resolved(l, v)) << "\"";
        out << ")\n";
    }
    for (const cecab::LayoutLink& k : l.links)
        out << "  links    " << linkText(l, k) << "\n";
    if (const cecab::LayoutMember* setup = cecab::memberOf(l, cecab::kSetupDllNumber))
        out << "  calls    " << headerText(setup->name) << "  (setup library)\n";
}

Json packageJson(const Package& p)
{
    const cecab::Layout& l = p.layout();
    Json dirs = Json::array(), files = Json::array(), values = Json::array(), links = Json::array(),
         unsupported = Json::array();
    // A header may hold 65,535 directories: no array is copied or grown twice.
    dirs.get_ptr<Json::array_t*>()->reserve(l.dirs.size());
    for (const std::string& u : l.unsupported)
        unsupported.push_back(ansi(u));
    for (const cecab::LayoutDir& d : l.dirs)
        dirs.push_back({{"id", d.id}, {"written", ansi(d.written)}, {"path", ansi(d.path)}});
    for (const cecab::LayoutFile& f : l.files) {
        const cecab::LayoutMember* m = cecab::memberOf(l, f.number);
        files.push_back({{"number", f.number},
                         {"member", m ? ansi(m->name) : ""},
                         {"bytes", m ? m->size : 0},
                         {"flags", f.flags},
                         {"name", ansi(f.name)},
                         {"path", ansi(f.path)}});
    }
    for (const cecab::LayoutValue& v : l.values)
        values.push_back(
            {{"key", std::string(kRoots[v.root <= 4 ? v.root : 0]) + "\\" + ansi(v.key)},
             {"name", ansi(v.name)},
             {"type", typeName(v.typeFlags)},
             {"data", shownData(v)},
             {"substitute", v.substitute},
             {"resolved", ansi(resolved(l, v))}});
    for (const cecab::LayoutLink& k : l.links)
        links.push_back(linkText(l, k));
    const cecab::LayoutMember* setup = cecab::memberOf(l, cecab::kSetupDllNumber);
    return {{"application", ansi(l.appName)},
            {"provider", ansi(l.provider)},
            {"processor", l.processor},
            {"versions", versionRange(l.min, l.max)},
            {"unsupported", unsupported},
            {"installDir",
             {{"written", ansi(l.installDir)},
              {"path", ansi(l.installPath)},
              {"directory", l.installDirId ? Json(l.installDirId) : Json()}}},
            {"directories", std::move(dirs)},
            {"files", std::move(files)},
            {"registry", std::move(values)},
            {"links", std::move(links)},
            {"setupLibrary", setup ? ansi(setup->name) : ""}};
}

// What the setup hook did in the rehearsal, in a few words.
std::string hookOutcome(const Analysis& a)
{
    if (!a.layout.setupLibrary)
        return "never runs: there is no setup library";
    std::string text, started;
    int deleted = 0;
    for (const Event& e : a.result.events) {
        if (e.by != Actor::Hook)
            continue;
        if (e.kind == EventKind::MessageBox)
            text += (text.empty() ? "shows " : ", then ") +
                    (e.text == vorlund::kNoticeMessage ? "its notice" : inQuotes(e.text));
        if (e.kind == EventKind::Start)
            started = " and starts " + utf8(e.program);
        deleted += e.kind == EventKind::Delete ? 1 : 0;
    }
    text += started;
    return deleted ? text + ", then deletes " + plural(deleted, "CAB") : text;
}

// ---- the rehearsal --------------------------------------------------------------------

std::string bar(const Event& e)
{
    int filled = static_cast<int>(std::floor(e.fill * kBarWidth + 1e-9));
    std::string percent = rightAligned(static_cast<int>(std::floor(e.fill * 100 + 1e-9)), 3);
    return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " + percent +
           "%";
}

// Each kind's word in the text report (a failure shares its action's word)
// and in the JSON report, in the order of EventKind.
struct KindNames {
    const char* label;
    const char* json;
};
const KindNames kKindNames[] = {
    {"copy", "copy"},         {"wait", "wait"},           {"start", "start"},
    {"start", "startFailed"}, {"install", "install"},     {"install", "installFailed"},
    {"window", "window"},     {"window", "windowClosed"}, {"message", "messageBox"},
    {"delete", "delete"},     {"delete", "deleteFailed"}, {"registry", "registry"},
};
static_assert(std::size(kKindNames) == static_cast<size_t>(EventKind::Registry) + 1,
              "one pair of names per kind of event");

const KindNames& namesOf(EventKind kind)
{
    return kKindNames[static_cast<size_t>(kind)];
}

std::string describe(const Event& e, const Style& style)
{
    switch (e.kind) {
    case EventKind::Wait:
        return seconds(e.waitedMs) + " s for the installer already running (process " +
               std::to_string(e.processId) + ")";
    case EventKind::Start:
    case EventKind::Install: {
        std::string text = escaped(e.program + e.text);
        return e.rejected ? text + "  " +
                                style("31", "-> rejected, exit code " + std::to_string(e.exitCode))
                          : text;
    }
    case EventKind::StartFailed:
    case EventKind::InstallFailed:
        return escaped(e.program) + "  " + style("31", "cannot be started");
    case EventKind::Window: {
        std::string text = e.hasBar ? bar(e) + "  " : "";
        text += e.hasText ? (e.text.empty() ? "(no text)" : escaped(e.text)) : "";
        return e.visible ? text : text + "  (not shown)";
    }
    case EventKind::WindowClosed:
        return "closed";
    case EventKind::MessageBox:
        return style("1", "[" + escaped(e.caption) + "] " + escaped(e.text));
    case EventKind::Copy:
    case EventKind::Delete:
    case EventKind::Registry:
        return escaped(e.text);
    case EventKind::DeleteFailed:
        return escaped(e.text) + "  (cannot be deleted)";
    }
    return "";
}

const char* actor(Actor by)
{
    return by == Actor::Installer ? "installer" : by == Actor::Hook ? "setupHook" : "launcher";
}

std::string actorHeading(Actor by)
{
    return by == Actor::Installer ? "  installer (" + utf8(vorlund::kInstallerProgram) + ")"
           : by == Actor::Hook ? std::string("  setup hook (Install_Exit of ") + kSetupDllName + ")"
                               : "  launcher (" + kLauncherName + ")";
}

std::string rehearsed(const Options& o)
{
    std::vector<std::string> parts;
    for (const std::string& name : o.reject)
        parts.push_back("the installer rejects " + hosttext::printable(name));
    if (o.noInstaller)
        parts.push_back("the installer cannot be started");
    if (o.noList)
        parts.push_back("no list");
    if (o.noLauncher)
        parts.push_back("no launcher");
    std::string text;
    for (const std::string& p : parts)
        text += (text.empty() ? "" : ", ") + p;
    return text;
}

// What a name of the list came to, in a few words ("installed", "skipped: hidden").
std::string outcomeOf(const ListLine& l)
{
    std::string text;
    if (!l.read)
        text = "never read: " + l.skipReason;
    else if (!l.installable)
        text = "skipped: " + l.skipReason;
    else if (l.rejected)
        text = "rejected by the installer";
    else if (l.installed)
        text = l.repeats ? "installed again" : "installed";
    else
        text = "not installed";
    return l.partial ? text + " (not the whole line)" : text;
}

void writeList(std::ostream& out, const Result& r, const Style& style)
{
    out << "\n" << style("1", r.listName + " as the device reads it:") << "\n";
    size_t nameWidth = 4;
    for (const ListLine& l : r.lines)
        nameWidth = std::max(nameWidth, columns(cell(l.name)));
    out << "  line  " << padded("name", nameWidth) << "  outcome\n";
    for (const ListLine& l : r.lines) {
        out << rightAligned(l.line, 6) << "  " << padded(cell(l.name), nameWidth) << "  "
            << outcomeOf(l) << "\n";
    }
    if (r.lines.empty())
        out << "  (no names)\n";
}

void writeEvents(std::ostream& out, const Result& r, const Style& style)
{
    out << "\n" << style("1", "What the device does:") << "\n";
    size_t timeWidth = 4;
    for (const Event& e : r.events)
        timeWidth = std::max(timeWidth, seconds(e.timeMs).size());
    const Event* last = nullptr;
    for (const Event& e : r.events) {
        if (r.start != "launcher" && (last == nullptr || last->by != e.by))
            out << actorHeading(e.by) << "\n";
        last = &e;
        std::string time = seconds(e.timeMs);
        out << "  " << std::string(timeWidth - time.size(), ' ') << time << " s  "
            << padded(namesOf(e.kind).label, 8) << " " << describe(e, style) << "\n";
    }
    if (r.events.empty())
        out << "  (nothing)\n";
}

void writeSummary(std::ostream& out, const Result& r, const Style& style)
{
    int warnings = countOf(r.findings, true), notes = countOf(r.findings, false);
    out << "\n"
        << plural(r.installerRuns, "installer run") << " (" << r.rejectedRuns << " rejected), "
        << plural(r.messageBoxes, "message box", "es") << ", " << plural(r.deleted, "file")
        << " deleted, " << seconds(r.deviceTimeMs) << " s of device time; "
        << style(warnings ? "33" : "32", plural(warnings, "warning")) << ", "
        << plural(notes, "note") << "\n";
}

// ---- findings -----------------------------------------------------------------------

void writeFindings(std::ostream& out, const Findings& findings, const std::string& listName,
                   bool packing, const Style& style)
{
    for (bool warnings : {true, false}) {
        if (countOf(findings, warnings) == 0)
            continue;
        out << "\n" << style("1", warnings ? "Warnings:" : "Notes:") << "\n";
        size_t whereWidth = 0, codeWidth = 0;
        for (const Finding& f : findings) {
            if (info(f.code).warning != warnings)
                continue;
            whereWidth = std::max(whereWidth, columns(safe(where(f, listName))));
            codeWidth = std::max(codeWidth, std::string(info(f.code).text).size());
        }
        for (const Finding& f : findings) {
            if (info(f.code).warning != warnings)
                continue;
            out << "  " << padded(safe(where(f, listName)), whereWidth) << "  "
                << style(warnings ? "33" : "36", padded(info(f.code).text, codeWidth)) << "  "
                << safe(f.message) << (packing && f.blocking ? " (cannot be packed)" : "") << "\n";
        }
    }
}

Json findingsJson(const Findings& findings, const std::string& listName, bool warnings)
{
    Json list = Json::array();
    for (const Finding& f : findings) {
        if (info(f.code).warning != warnings)
            continue;
        Json j = {{"code", info(f.code).text}};
        if (f.line > 0) {
            j["line"] = f.line;
            j["lastLine"] = f.lastLine;
        }
        if (!f.file.empty())
            j["file"] = f.file;
        j["where"] = where(f, listName);
        j["message"] = f.message;
        if (f.blocking)
            j["blocking"] = true;
        list.push_back(j);
    }
    return list;
}

Json eventJson(const Event& e)
{
    Json j = {{"timeMs", e.timeMs}, {"by", actor(e.by)}, {"kind", namesOf(e.kind).json}};
    switch (e.kind) {
    case EventKind::Wait:
        j["processId"] = e.processId;
        j["waitedMs"] = e.waitedMs;
        break;
    case EventKind::Start:
    case EventKind::Install:
        j["program"] = utf8(e.program);
        j["commandLine"] = utf8(e.text);
        if (e.kind == EventKind::Install) {
            j["exitCode"] = e.exitCode;
            j["rejected"] = e.rejected;
        }
        break;
    case EventKind::StartFailed:
    case EventKind::InstallFailed:
        j["program"] = utf8(e.program);
        break;
    case EventKind::Window:
        j["visible"] = e.visible;
        if (e.hasText)
            j["text"] = utf8(e.text);
        if (e.hasBar)
            j["bar"] = {{"lower", e.lower},
                        {"upper", e.upper},
                        {"position", e.position},
                        {"fill", std::round(e.fill * 10000) / 10000}};
        break;
    case EventKind::MessageBox:
        j["caption"] = utf8(e.caption);
        j["text"] = utf8(e.text);
        break;
    case EventKind::Copy:
    case EventKind::Delete:
    case EventKind::DeleteFailed:
        j["path"] = utf8(e.text);
        break;
    case EventKind::Registry:
        j["text"] = utf8(e.text);
        break;
    case EventKind::WindowClosed:
        break;
    }
    return j;
}

}  // namespace

std::string shown(const std::wstring& name)
{
    bool edges = name.empty() || name.front() == L' ' || name.back() == L' ' ||
                 name.front() == L'\t' || name.back() == L'\t';
    return edges ? "\"" + escaped(name) + "\"" : escaped(name);
}

std::string inQuotes(const std::wstring& name)
{
    return "\"" + escaped(name) + "\"";
}

void writeText(std::ostream& out, const Report& r, bool colour)
{
    Style style{colour};
    std::string input = safe(hosttext::printable(r.input));
    if (!r.problems.empty()) {
        out << input << ": the install header cannot be trusted:\n";
        for (const cecab::HeaderProblem& p : r.problems)
            out << "  " << p.where << ": " << p.message << "\n";
        return;
    }
    const Result* result = r.analysis ? &r.analysis->result : nullptr;
    std::string listName = result ? result->listName : kListName;
    bool packing = r.kind == ReportKind::Pack;
    if (packing)
        out << (r.written ? "Packed " + input + " into " + hosttext::printable(r.output) + " and " +
                                hosttext::printable(r.inf)
                          : "Nothing written: a finding below makes the package impossible")
            << "\n";
    else if (r.kind == ReportKind::Inspect)
        out << "Main package " << input << "\n";
    if (r.kind != ReportKind::Rehearse && r.package)
        writePackage(out, *r.package);
    if (r.kind == ReportKind::Inspect && result) {
        out << "\nThe setup hook " << hookOutcome(*r.analysis) << "\n";
        std::string names;
        for (const ListLine& l : result->lines)
            names += l.read ? " " + shown(l.name) : "";
        if (!names.empty())
            out << result->listName << " names:" << names << "\n";
    }
    if (r.kind == ReportKind::Rehearse && result) {
        const char* start = result->start == "mainPackage" ? "from the main package"
                            : result->start == "setupHook" ? "from the setup hook"
                                                           : "the launcher runs";
        out << style("1", "Rehearsal of " + input + " as " + escaped(result->directory)) << " ("
            << start << ")\n";
        std::string failures = rehearsed(r.options);
        if (!failures.empty())
            out << "Rehearsed failures: " << failures << "\n";
        if (result->listPresent)
            writeList(out, *result, style);
        writeEvents(out, *result, style);
    }
    if (result)
        writeFindings(out, result->findings, listName, packing, style);
    if (r.kind == ReportKind::Rehearse && result)
        writeSummary(out, *result, style);
}

int emit(const Report& report, bool json)
{
    if (json)
        std::cout << toJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                  << "\n";
    else
        writeText(std::cout, report, colourWanted());
    return report.exitStatus;
}

Json toJson(const Report& r)
{
    static const char* const names[] = {"pack", "inspect", "rehearse"};
    Json report = {{"command", names[static_cast<int>(r.kind)]},
                   {"input", hosttext::printable(r.input)}};
    if (!r.problems.empty()) {
        Json problems = Json::array();
        for (const cecab::HeaderProblem& p : r.problems)
            problems.push_back({{"where", p.where}, {"message", p.message}});
        report["headerProblems"] = problems;
    }
    if (r.kind == ReportKind::Pack)
        report.update({{"written", r.written},
                       {"output", hosttext::printable(r.output)},
                       {"inf", hosttext::printable(r.inf)}});
    if (r.package && r.problems.empty())
        report["package"] = packageJson(*r.package);
    if (const Analysis* a = r.analysis) {
        const Result& res = a->result;
        Json lines = Json::array();
        for (const ListLine& l : res.lines)
            lines.push_back({{"line", l.line},
                             {"name", utf8(l.name)},
                             {"read", l.read},
                             {"installable", l.installable},
                             {"installed", l.installed},
                             {"outcome", outcomeOf(l)}});
        Json events = Json::array();
        for (const Event& e : res.events)
            events.push_back(eventJson(e));
        if (r.package)
            report["hook"] = hookOutcome(*a);
        report.update(
            {{"deviceDirectory", utf8(res.directory)},
             {"start", res.start},
             {"rehearsed",
              {{"reject", Json::array()},
               {"noInstaller", r.options.noInstaller},
               {"noList", r.options.noList},
               {"noLauncher", r.options.noLauncher}}},
             {"list",
              {{"name", res.listName}, {"present", res.listPresent}, {"lines", std::move(lines)}}},
             {"events", std::move(events)},
             {"warnings", findingsJson(res.findings, res.listName, true)},
             {"notes", findingsJson(res.findings, res.listName, false)},
             {"summary",
              {{"installerRuns", res.installerRuns},
               {"rejected", res.rejectedRuns},
               {"messageBoxes", res.messageBoxes},
               {"deleted", res.deleted},
               {"deviceTimeMs", res.deviceTimeMs},
               {"warnings", countOf(res.findings, true)},
               {"notes", countOf(res.findings, false)}}}});
        for (const std::string& name : r.options.reject)
            report["rehearsed"]["reject"].push_back(hosttext::printable(name));
    }
    report["exitStatus"] = r.exitStatus;
    return report;
}

}  // namespace kit
