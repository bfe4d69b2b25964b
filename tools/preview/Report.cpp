// Report: renders a rehearsal (see Report.h). The text and the JSON carry the
// same facts; only the text is shaped for reading.
#include "tools/preview/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/preview/HostText.h"

namespace preview {

namespace {

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

std::string where(const Result& r, const Finding& f)
{
    if (f.line > 0) {
        std::string at = r.listName + ":" + std::to_string(f.line);
        return f.lastLine > f.line ? at + "-" + std::to_string(f.lastLine) : at;
    }
    return f.file.empty() ? r.listName : f.file;
}

std::string bar(const Event& e)
{
    int filled = static_cast<int>(std::floor(e.fill * kBarWidth + 1e-9));
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%",
                  static_cast<int>(std::floor(e.fill * 100 + 1e-9)));
    return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " + percent;
}

const char* label(EventKind kind)
{
    switch (kind) {
    case EventKind::Wait:
        return "wait";
    case EventKind::Start:
    case EventKind::StartFailed:
        return "start";
    case EventKind::Install:
    case EventKind::InstallFailed:
        return "install";
    case EventKind::Window:
    case EventKind::WindowClosed:
        return "window";
    case EventKind::MessageBox:
        return "message";
    case EventKind::Delete:
    case EventKind::DeleteFailed:
        return "delete";
    case EventKind::Registry:
        return "registry";
    }
    return "";
}

const char* jsonKind(EventKind kind)
{
    switch (kind) {
    case EventKind::Wait:
        return "wait";
    case EventKind::Start:
        return "start";
    case EventKind::StartFailed:
        return "startFailed";
    case EventKind::Install:
        return "install";
    case EventKind::InstallFailed:
        return "installFailed";
    case EventKind::Window:
        return "window";
    case EventKind::WindowClosed:
        return "windowClosed";
    case EventKind::MessageBox:
        return "messageBox";
    case EventKind::Delete:
        return "delete";
    case EventKind::DeleteFailed:
        return "deleteFailed";
    case EventKind::Registry:
        return "registry";
    }
    return "";
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
    case EventKind::Delete:
    case EventKind::Registry:
        return utf8(e.text);
    case EventKind::DeleteFailed:
        return utf8(e.text) + "  (cannot be deleted)";
    }
    return "";
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

}  // namespace

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

void writeText(std::ostream& out, const Options& o, const Result& r, bool colour)
{
    Style style{colour};
    out << style("1", "Rehearsal of " + o.directory + " as " + utf8(o.deviceDirectory)) << " ("
        << (o.fromHook ? "from the setup hook" : "the launcher runs") << ")\n";
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
    bool hookSeen = false, launcherSeen = false;
    for (const Event& e : r.events) {
        if (o.fromHook && e.inHook && !hookSeen) {
            out << "  setup hook (Install_Exit of VorlundSetup.dll)\n";
            hookSeen = true;
        } else if (o.fromHook && !e.inHook && !launcherSeen) {
            out << "  launcher (Vorlund.exe)\n";
            launcherSeen = true;
        }
        std::string time = seconds(e.timeMs);
        out << "  " << std::string(timeWidth - time.size(), ' ') << time << " s  "
            << padded(label(e.kind), 8) << " " << describe(e, style) << "\n";
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

void writeJson(std::ostream& out, const Options& o, const Result& r, int exitStatus)
{
    auto str = [](const std::string& s) { return jsonString(s); };
    auto wstr = [](const std::wstring& s) { return jsonString(utf8(s)); };
    out << "{\n  \"directory\": " << str(o.directory)
        << ",\n  \"deviceDirectory\": " << wstr(o.deviceDirectory)
        << ",\n  \"start\": " << str(o.fromHook ? "setupHook" : "launcher")
        << ",\n  \"rehearsed\": {\"reject\": [";
    for (size_t i = 0; i < o.reject.size(); ++i)
        out << (i ? ", " : "") << str(o.reject[i]);
    out << "], \"noInstaller\": " << (o.noInstaller ? "true" : "false")
        << ", \"noList\": " << (o.noList ? "true" : "false")
        << ", \"noLauncher\": " << (o.noLauncher ? "true" : "false") << "},\n";

    out << "  \"list\": {\"name\": " << str(r.listName)
        << ", \"present\": " << (r.listPresent ? "true" : "false") << ", \"lines\": [";
    for (size_t i = 0; i < r.lines.size(); ++i) {
        const ListLine& l = r.lines[i];
        out << (i ? "," : "") << "\n    {\"line\": " << l.line << ", \"name\": " << wstr(l.name)
            << ", \"read\": " << (l.read ? "true" : "false")
            << ", \"installable\": " << (l.installable ? "true" : "false")
            << ", \"installed\": " << (l.installed ? "true" : "false")
            << ", \"outcome\": " << str(outcomeOf(l)) << "}";
    }
    out << (r.lines.empty() ? "" : "\n  ") << "]},\n  \"events\": [";
    for (size_t i = 0; i < r.events.size(); ++i) {
        const Event& e = r.events[i];
        out << (i ? "," : "") << "\n    {\"timeMs\": " << e.timeMs
            << ", \"by\": " << str(e.inHook ? "setupHook" : "launcher")
            << ", \"kind\": " << str(jsonKind(e.kind));
        switch (e.kind) {
        case EventKind::Wait:
            out << ", \"processId\": " << e.processId << ", \"waitedMs\": " << e.waitedMs;
            break;
        case EventKind::Start:
        case EventKind::Install:
            out << ", \"program\": " << wstr(e.program) << ", \"commandLine\": " << wstr(e.text);
            if (e.kind == EventKind::Install)
                out << ", \"exitCode\": " << e.exitCode
                    << ", \"rejected\": " << (e.rejected ? "true" : "false");
            break;
        case EventKind::StartFailed:
        case EventKind::InstallFailed:
            out << ", \"program\": " << wstr(e.program);
            break;
        case EventKind::Window:
            out << ", \"visible\": " << (e.visible ? "true" : "false");
            if (e.hasText)
                out << ", \"text\": " << wstr(e.text);
            if (e.hasBar) {
                char fill[32];
                std::snprintf(fill, sizeof fill, "%.4f", e.fill);
                out << ", \"bar\": {\"lower\": " << e.lower << ", \"upper\": " << e.upper
                    << ", \"position\": " << e.position << ", \"fill\": " << fill << "}";
            }
            break;
        case EventKind::MessageBox:
            out << ", \"caption\": " << wstr(e.caption) << ", \"text\": " << wstr(e.text);
            break;
        case EventKind::Delete:
        case EventKind::DeleteFailed:
            out << ", \"path\": " << wstr(e.text);
            break;
        case EventKind::Registry:
            out << ", \"text\": " << wstr(e.text);
            break;
        case EventKind::WindowClosed:
            break;
        }
        out << "}";
    }
    out << (r.events.empty() ? "" : "\n  ") << "],\n";

    for (bool warnings : {true, false}) {
        out << "  \"" << (warnings ? "warnings" : "notes") << "\": [";
        bool first = true;
        for (const Finding& f : r.findings) {
            if (f.warning != warnings)
                continue;
            out << (first ? "" : ",") << "\n    {\"code\": " << str(f.code);
            if (f.line > 0)
                out << ", \"line\": " << f.line << ", \"lastLine\": " << f.lastLine;
            if (!f.file.empty())
                out << ", \"file\": " << str(f.file);
            out << ", \"where\": " << str(where(r, f)) << ", \"message\": " << str(f.message)
                << "}";
            first = false;
        }
        out << (first ? "" : "\n  ") << "],\n";
    }
    out << "  \"summary\": {\"installerRuns\": " << r.installerRuns
        << ", \"rejected\": " << r.rejectedRuns << ", \"messageBoxes\": " << r.messageBoxes
        << ", \"deleted\": " << r.deleted << ", \"deviceTimeMs\": " << r.deviceTimeMs
        << ", \"warnings\": " << r.count(true) << ", \"notes\": " << r.count(false)
        << "},\n  \"exitStatus\": " << exitStatus << "\n}\n";
}

}  // namespace preview
