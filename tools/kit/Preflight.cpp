// The listed CABs checked before the run, each by its own install header:
// under /noui the device's installer refuses a CAB without a word, the
// launcher counts it as done and the sweep deletes it, so a refusal is told
// here and played as a rejection.
#include <algorithm>
#include <iterator>
#include <map>

#include "common/SharedTexts.h"
#include "device/sim/SimDevice.h"
#include "launcher/CabList.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"
#include "tools/kit/Rehearsal.h"

namespace kit {

const char kDefaultDevice[] = "5.0,arm";
const char kDeviceHelp[] = "the device the CABs are checked against: CE version and processor "
                           "family (arm, x86, sh, mips, ppc)";

namespace {

const char* const kFamilies[] = {"arm", "x86", "sh", "mips", "ppc", "alpha"};

std::string deviceName(const Target& t)
{
    static const char* const families[] = {"ARM", "x86", "SH", "MIPS", "PowerPC", "Alpha", "any"};
    return "a CE " + std::to_string(t.major) + "." + std::to_string(t.minor) + " " +
           families[static_cast<int>(t.family)] + " device";
}

bool below(uint32_t major, uint32_t minor, const cecab::CeVersion& v)
{
    return major < v.major || (major == v.major && minor < v.minor);
}

// The launcher's and the list's paths, as the device compares paths.
struct OwnFiles {
    std::wstring launcher;
    std::wstring list;
};

// What one listed CAB's header says to the device and to the run.
Findings checkCab(const cecab::Layout& cab, const Target& target, const ListLine& line,
                  const OwnFiles& own, bool* refused)
{
    Findings found = refusals(cab, target, "");
    *refused = !found.empty();
    const std::string name = inQuotes(line.name);
    for (Finding& f : found) {
        f.line = f.lastLine = line.line;
        f.file.clear();
        f.message = name + ": " + f.message +
                    "; under /noui without a word: the launcher counts it as done and the "
                    "sweep deletes it";
    }
    if (cecab::memberOf(cab, cecab::kSetupDllNumber))
        found.push_back(lineFinding(Code::OwnSetupDll, line.line,
                                    name + " has a setup library of its own, which may show a "
                                           "dialog that waits for a person in an unattended run"));
    const sim::Device& dev = sim::current();
    for (const cecab::LayoutFile& f : cab.files) {
        if (f.path.empty())
            continue;
        std::wstring lands = dev.canonical(hosttext::fromAnsi(f.path));
        if (lands != own.launcher && lands != own.list)
            continue;
        found.push_back(lineFinding(Code::InstallsVorlund, line.line,
                                    name + " installs " + inQuotes(hosttext::fromAnsi(f.path)) +
                                        " over the running launcher's own file"));
    }
    return found;
}

}  // namespace

Target deviceTarget(const std::string& text)
{
    Target t;
    size_t comma = text.find(',');
    std::string family = comma == text.npos ? "arm" : text.substr(comma + 1);
    auto known = std::find(std::begin(kFamilies), std::end(kFamilies), family);
    if (!cecab::parseVersion(text.substr(0, comma), &t.major, &t.minor) ||
        known == std::end(kFamilies))
        throw UsageError("--device " + hosttext::printable(text) +
                         ": a CE version and a processor family, e.g. 5.0,arm");
    t.family = static_cast<cecab::Family>(known - std::begin(kFamilies));
    return t;
}

Findings refusals(const cecab::Layout& l, const Target& t, const std::string& file)
{
    Findings found;
    cecab::Family family = cecab::processorFamily(l.processor);
    if (l.processor != 0 && family != t.family)
        found.push_back(fileFinding(Code::Processor, file,
                                    "built for processor type " + std::to_string(l.processor) +
                                        " (" + cecab::processorName(l.processor) +
                                        "): " + deviceName(t) + " refuses it"));
    bool early = l.min.any() && below(t.major, t.minor, l.min);
    bool late = l.max.any() && below(l.max.major, l.max.minor, {t.major, t.minor, 0});
    if (early || late)
        found.push_back(fileFinding(Code::CeVersion, file,
                                    "for CE versions " + versionRange(l.min, l.max) + ": " +
                                        deviceName(t) + " refuses it"));
    return found;
}

Findings preflight(const DeviceLayout& layout, const Target& target, std::vector<ListLine>* lines)
{
    const sim::Device& dev = sim::current();
    std::map<std::wstring, const Entry*> entries;
    for (const Entry& e : layout.entries)
        if (!e.directory)
            entries.emplace(dev.canonical(e.path), &e);
    const OwnFiles own = {dev.canonical(layout.directory + vorlund::kLauncherFileName),
                          dev.canonical(layout.directory + vorlund::kCabListName)};
    Scratch scratch;
    Findings found;
    std::map<std::wstring, bool> refused;  // each CAB once, however often listed
    for (ListLine& line : *lines) {
        auto entry = entries.find(dev.canonical(line.path));
        if (!line.read || !line.installable || entry == entries.end())
            continue;
        auto seen = refused.find(entry->first);
        if (seen != refused.end()) {
            line.rejected = seen->second;
            continue;
        }
        const Entry& e = *entry->second;
        cecab::Layout cab;
        std::string why;
        bool rejected = false;
        bool read = false;
        try {
            read = e.member >= 0 && layout.package
                       ? layout.package->readCeCab(e.member, &cab, &why, &scratch)
                       : readCeCab(e.file, &cab, &why);
        } catch (const InputError& failure) {
            why = failure.what();  // its member cannot be taken out of the main CAB
        }
        if (!read) {
            found.push_back(lineFinding(Code::NotCeCab, line.line,
                                        inQuotes(line.name) + ": " + why +
                                            "; the installer rejects it without a word, the "
                                            "launcher counts it as done and the sweep deletes it"));
            rejected = true;
        } else {
            Findings checked = checkCab(cab, target, line, own, &rejected);
            found.insert(found.end(), checked.begin(), checked.end());
        }
        line.rejected = refused[entry->first] = rejected;
    }
    return found;
}

}  // namespace kit
