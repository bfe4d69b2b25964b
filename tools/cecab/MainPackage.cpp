// Main package <-> install header and file set. One directory (the install
// directory) holds every file; one hive and one value carry the install
// directory to the setup hook through the installer's %InstallDir%.
#include "tools/cecab/MainPackage.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "common/SharedTexts.h"
#include "launcher/CabList.h"
#include "setup/SetupHooks.h"
#include "tools/hosttext/HostText.h"

namespace cecab {

// The system's names, as the shipped code spells them.
const std::string kHookKey = hosttext::utf8(vorlund::kRegistryKey);
const std::string kHookValue = hosttext::utf8(vorlund::kRegistryValueName);
const char kInstallDirMacro[] = "%InstallDir%";
const std::string kLauncherName = hosttext::utf8(vorlund::kLauncherFileName);
const std::string kListName = hosttext::utf8(vorlund::kCabListName);
const char kSetupDllName[] = "VorlundSetup.dll";

namespace {

const std::map<uint32_t, const char*> kProcessors = {
    {0, "no specific architecture"},
    {103, "SHx SH3"},
    {104, "SHx SH4"},
    {386, "Intel 386"},
    {486, "Intel 486"},
    {586, "Intel Pentium"},
    {601, "PowerPC 601"},
    {603, "PowerPC 603"},
    {604, "PowerPC 604"},
    {620, "PowerPC 620"},
    {821, "Motorola 821"},
    {1824, "ARM 720"},
    {2080, "ARM 820"},
    {2336, "ARM 920"},
    {2577, "StrongARM"},
    {4000, "MIPS R4000"},
    {10003, "Hitachi SH3"},
    {10004, "Hitachi SH3E"},
    {10005, "Hitachi SH4"},
    {21064, "Alpha 21064"},
    {70001, "ARM 7TDMI"},
};

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next == std::string::npos ? next : next - at));
        if (next == std::string::npos)
            return parts;
        at = next + 1;
    }
}

// The id of `text` in STRINGS, added when new; ids count from 1 (0 ends paths).
uint16_t intern(InstallHeader* h, const std::string& text)
{
    for (const HeaderString& s : h->strings) {
        if (s.text == text)
            return s.id;
    }
    h->strings.push_back({static_cast<uint16_t>(h->strings.size() + 1), text});
    return h->strings.back().id;
}

}  // namespace

std::string defaultInstallDir(const std::string& appName)
{
    return "%CE1%\\" + appName;
}

bool splitInstallDir(const std::string& dir, std::vector<std::string>* parts)
{
    *parts = split(dir, '\\');
    const std::string& first = parts->front();
    bool ceMacro = first.size() >= 5 && first.size() <= 6 && first.front() == '%' &&
                   first.back() == '%' && (first[1] == 'C' || first[1] == 'c') &&
                   (first[2] == 'E' || first[2] == 'e') &&
                   std::all_of(first.begin() + 3, first.end() - 1,
                               [](char c) { return c >= '0' && c <= '9'; }) &&
                   ceDirectory(std::atoi(first.c_str() + 3)) != nullptr;
    return ceMacro && parts->size() >= 2 &&
           std::none_of(parts->begin(), parts->end(),
                        [](const std::string& p) { return p.empty(); });
}

std::string processorName(uint32_t processor)
{
    auto it = kProcessors.find(processor);
    return it == kProcessors.end() ? "unknown processor" : it->second;
}

bool parseProcessor(const std::string& text, uint32_t* processor)
{
    if (text == "arm" || text == "none") {
        *processor = text == "arm" ? kProcessorArm : 0;
        return true;
    }
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    *processor = static_cast<uint32_t>(std::stoul(text));
    return kProcessors.count(*processor) != 0;
}

bool buildFileSet(const MainPackage& p, InstallHeader* header, std::vector<Member>* members,
                  std::string* error)
{
    std::vector<std::string> dirParts;
    if (!splitInstallDir(p.installDir, &dirParts)) {
        *error = "install directory " + p.installDir + " does not start with %CEn%";
        return false;
    }
    if (p.files.size() > static_cast<size_t>(kMaxFileNumber)) {
        *error = std::to_string(p.files.size()) + " files, more than the " +
                 std::to_string(kMaxFileNumber) + " a package can number";
        return false;
    }
    InstallHeader h;
    h.architecture = p.processor;
    h.min = p.min;
    h.max = p.max;
    h.appName = p.appName;
    h.provider = p.provider;

    HeaderDir dir;
    dir.id = 1;
    for (const std::string& part : dirParts)
        dir.parts.push_back(intern(&h, part));
    h.dirs.push_back(dir);

    members->clear();
    for (size_t i = 0; i < p.files.size(); ++i) {
        const PackageFile& f = p.files[i];
        HeaderFile entry;
        entry.id = static_cast<uint16_t>(i + 1);
        entry.dirId = dir.id;
        entry.unknown = entry.id;
        entry.flags = kPackageFileFlags;
        entry.name = f.name;
        h.files.push_back(entry);
        members->push_back({memberName(f.name, entry.id), f.data, f.source});
    }

    HeaderHive hive;
    hive.id = 1;
    hive.root = kHkcu;
    for (const std::string& part : split(kHookKey, '\\'))
        hive.parts.push_back(intern(&h, part));
    h.hives.push_back(hive);
    HeaderRegValue value;
    value.id = 1;
    value.hiveId = hive.id;
    value.substitute = true;
    value.typeFlags = kRegString;
    value.name = kHookValue;
    value.data = std::string(kInstallDirMacro) + '\0';
    h.regValues.push_back(value);

    std::string encoded;
    if (!encodeHeader(h, &encoded, error))
        return false;
    members->push_back({memberName(p.appName, kHeaderNumber), encoded, ""});
    members->push_back(
        {memberName(p.setupDll.name, kSetupDllNumber), p.setupDll.data, p.setupDll.source});
    sortForCabinet(members);
    *header = std::move(h);
    return true;
}

bool describePackage(const InstallHeader& h, const std::vector<CabinetEntry>& entries,
                     MainPackage* p, std::string* error)
{
    auto fail = [&](const std::string& why) {
        *error = why;
        return false;
    };
    if (h.dirs.size() != 1 || h.hives.size() != 1 || h.regValues.size() != 1)
        return fail("not the shape of a main package: one directory, one hive, one registry value");
    std::map<int, const CabinetEntry*> byNumber;
    for (const CabinetEntry& e : entries) {
        if (!e.extracted)
            return fail(e.name + " was not extracted");
        byNumber[memberNumber(e.name)] = &e;
    }
    const CabinetEntry* setup =
        byNumber.count(kSetupDllNumber) ? byNumber[kSetupDllNumber] : nullptr;
    if (!setup)
        return fail("no setup library (.999)");
    p->appName = h.appName;
    p->provider = h.provider;
    p->processor = h.architecture;
    p->min = h.min;
    p->max = h.max;
    p->installDir = joinParts(h, h.dirs[0].parts);
    p->setupDll = {kSetupDllName, setup->data, ""};
    p->files.clear();
    for (const HeaderFile& f : h.files) {
        if (!byNumber.count(f.id))
            return fail("no member for file " + std::to_string(f.id) + " (" + f.name + ")");
        p->files.push_back({f.name, byNumber[f.id]->data, ""});
    }
    return true;
}

}  // namespace cecab
