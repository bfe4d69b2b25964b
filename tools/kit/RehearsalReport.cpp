// The rehearsal's reports: aligned text for people (colour only on a
// terminal) and JSON for a packaging pipeline, carrying the same facts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "common/SharedTexts.h"
#include "launcher/CabList.h"
#include "launcher/LauncherSequence.h"
#include "setup/SetupHooks.h"
#include "tools/cecab/MainPackage.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Rehearsal.h"

namespace kit::rehearsal {

namespace {

using hosttext::utf8;

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
        } else {
            out += utf8(std::wstring(1, c));
        }
    }
    return out;
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

// Seconds with two decimals: "90.25".
std::string seconds(unsigned long long milliseconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%02llu", milliseconds / 1000, (milliseconds % 1000) / 10);
    return buf;
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

std::string bar(const Event& e)
{
    int filled = static_cast<int>(std::floor(e.fill * kBarWidth + 1e-9));
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%",
                  static_cast<int>(std::floor(e.fill * 100 + 1e-9)));
    return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " + percent;
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
        std::string text = utf8(e.program + e.text);
        return e.rejected ? text + "  " +
                                style("31", "-> rejected, exit code " + std::to_string(e.exitCode))
                          : text;
    }
    case EventKind::StartFailed:
    case EventKind::InstallFailed:
        return utf8(e.program) + "  " + style("31", "cannot be started");
    case EventKind::Window: {
        std::string text = e.hasBar ? bar(e) + "  " : "";
        text += e.hasText ? (e.text.empty() ? "(no text)" : utf8(e.text)) : "";
        return e.visible ? text : text + "  (not shown)";
    }
    case EventKind::WindowClosed:
        return "closed";
    case EventKind::MessageBox:
        return style("1", "[" + utf8(e.caption) + "] " + utf8(e.text));
    case EventKind::Copy:
    case EventKind::Delete:
    case EventKind::Registry:
        return utf8(e.text);
    case EventKind::DeleteFailed:
        return utf8(e.text) + "  (cannot be deleted)";
    }
    return "";
}

const char* actor(Actor by)
{
    return by == Actor::Installer ? "installer" : by == Actor::Hook ? "setupHook" : "launcher";
}

std::string rehearsed(const Options& o)
{
    std::vector<std::string> parts;
    for (const std::string& name : o.reject)
        parts.push_back("the installer rejects " + name);
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

std::string where(const Result& r, const Finding& f)
{
    if (f.line > 0) {
        std::string at = r.listName + ":" + std::to_string(f.line);
        return f.lastLine > f.line ? at + "-" + std::to_string(f.lastLine) : at;
    }
    return f.file.empty() ? r.listName : f.file;
}

void writeText(std::ostream& out, const Options& o, const Result& r, bool colour)
{
    Style style{colour};
    const char* start = r.start == "mainPackage" ? "from the main package"
                        : r.start == "setupHook" ? "from the setup hook"
                                                 : "the launcher runs";
    out << style("1", "Rehearsal of " + r.name + " as " + utf8(r.directory)) << " (" << start
        << ")\n";
    std::string failures = rehearsed(o);
    if (!failures.empty())
        out << "Rehearsed failures: " << failures << "\n";

    if (r.listPresent) {
        out << "\n" << style("1", r.listName + " as the device reads it:") << "\n";
        size_t nameWidth = 4;
        for (const ListLine& l : r.lines)
            nameWidth = std::max(nameWidth, columns(cell(l.name)));
        out << "  line  " << padded("name", nameWidth) << "  outcome\n";
        for (const ListLine& l : r.lines) {
            char number[16];
            std::snprintf(number, sizeof number, "%6d", l.line);
            out << number << "  " << padded(cell(l.name), nameWidth) << "  " << outcomeOf(l)
                << "\n";
        }
        if (r.lines.empty())
            out << "  (no names)\n";
    }

    out << "\n" << style("1", "What the device does:") << "\n";
    size_t timeWidth = 4;
    for (const Event& e : r.events)
        timeWidth = std::max(timeWidth, seconds(e.timeMs).size());
    const Event* last = nullptr;
    for (const Event& e : r.events) {
        if (r.start != "launcher" && (last == nullptr || last->by != e.by))
            out << (e.by == Actor::Installer
                        ? "  installer (" + utf8(vorlund::kInstallerProgram) + ")"
                    : e.by == Actor::Hook
                        ? std::string("  setup hook (Install_Exit of ") + cecab::kSetupDllName + ")"
                        : "  launcher (" + utf8(vorlund::kLauncherFileName) + ")")
                << "\n";
        last = &e;
        std::string time = seconds(e.timeMs);
        out << "  " << std::string(timeWidth - time.size(), ' ') << time << " s  "
            << padded(namesOf(e.kind).label, 8) << " " << describe(e, style) << "\n";
    }
    if (r.events.empty())
        out << "  (nothing)\n";

    for (bool warnings : {true, false}) {
        if (r.count(warnings) == 0)
            continue;
        out << "\n" << style("1", warnings ? "Warnings:" : "Notes:") << "\n";
        size_t whereWidth = 0, codeWidth = 0;
        for (const Finding& f : r.findings) {
            if (f.warning != warnings)
                continue;
            whereWidth = std::max(whereWidth, columns(where(r, f)));
            codeWidth = std::max(codeWidth, f.code.size());
        }
        for (const Finding& f : r.findings) {
            if (f.warning != warnings)
                continue;
            out << "  " << padded(where(r, f), whereWidth) << "  "
                << style(warnings ? "33" : "36", padded(f.code, codeWidth)) << "  " << f.message
                << "\n";
        }
    }

    int warnings = r.count(true), notes = r.count(false);
    out << "\n"
        << r.installerRuns << " installer run" << (r.installerRuns == 1 ? "" : "s") << " ("
        << r.rejectedRuns << " rejected), " << r.messageBoxes << " message box"
        << (r.messageBoxes == 1 ? "" : "es") << ", " << r.deleted << " file"
        << (r.deleted == 1 ? "" : "s") << " deleted, " << seconds(r.deviceTimeMs)
        << " s of device time; "
        << style(warnings ? "33" : "32",
                 std::to_string(warnings) + " warning" + (warnings == 1 ? "" : "s"))
        << ", " << notes << " note" << (notes == 1 ? "" : "s") << "\n";
}

nlohmann::ordered_json toJson(const Options& o, const Result& r, int exitStatus)
{
    using Json = nlohmann::ordered_json;
    Json lines = Json::array();
    for (const ListLine& l : r.lines)
        lines.push_back({{"line", l.line},
                         {"name", utf8(l.name)},
                         {"read", l.read},
                         {"installable", l.installable},
                         {"installed", l.installed},
                         {"outcome", outcomeOf(l)}});
    Json events = Json::array();
    for (const Event& e : r.events) {
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
        events.push_back(j);
    }
    Json report = {{"directory", r.name},
                   {"deviceDirectory", utf8(r.directory)},
                   {"start", r.start},
                   {"rehearsed",
                    {{"reject", o.reject},
                     {"noInstaller", o.noInstaller},
                     {"noList", o.noList},
                     {"noLauncher", o.noLauncher}}},
                   {"list", {{"name", r.listName}, {"present", r.listPresent}, {"lines", lines}}},
                   {"events", events}};
    for (bool warnings : {true, false}) {
        Json list = Json::array();
        for (const Finding& f : r.findings) {
            if (f.warning != warnings)
                continue;
            Json j = {{"code", f.code}};
            if (f.line > 0) {
                j["line"] = f.line;
                j["lastLine"] = f.lastLine;
            }
            if (!f.file.empty())
                j["file"] = f.file;
            j["where"] = where(r, f);
            j["message"] = f.message;
            list.push_back(j);
        }
        report[warnings ? "warnings" : "notes"] = list;
    }
    report["summary"] = {{"installerRuns", r.installerRuns}, {"rejected", r.rejectedRuns},
                         {"messageBoxes", r.messageBoxes},   {"deleted", r.deleted},
                         {"deviceTimeMs", r.deviceTimeMs},   {"warnings", r.count(true)},
                         {"notes", r.count(false)}};
    report["exitStatus"] = exitStatus;
    return report;
}

}  // namespace kit::rehearsal
