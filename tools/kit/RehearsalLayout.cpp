// What the rehearsal starts from: a bundle directory walked into device
// entries, or a main CAB laid out as its install header says.
#include <algorithm>
#include <system_error>

#include "tools/cecab/InstallHeader.h"
#include "tools/cecab/MainPackage.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Inspect.h"
#include "tools/kit/Kit.h"
#include "tools/kit/Rehearsal.h"

namespace fs = std::filesystem;

namespace kit::rehearsal {

namespace {

// Deep enough for any sensible bundle; guards against link loops.
const int kMaxDepth = 32;
// The registry types as the device stores them.
const uint32_t kRegSz = 1, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7;

// A character the device's file systems do not allow in a name.
wchar_t forbiddenCharacter(const std::wstring& name)
{
    for (wchar_t c : name) {
        if (c < 0x20 || std::wstring(L"\\:*?\"<>|").find(c) != std::wstring::npos)
            return c;
    }
    return 0;
}

void walk(const fs::path& dir, const std::string& hostPrefix, const std::wstring& devicePrefix,
          int depth, Layout* layout)
{
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec)
        throw InputError("cannot read directory " + dir.string() + ": " + ec.message());
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename().string() < b.path().filename().string();
              });

    for (const fs::directory_entry& e : entries) {
        std::string hostName = hostPrefix + e.path().filename().string();
        std::wstring name = devicePrefix + hosttext::fromHost(e.path().filename().string());
        bool directory = e.is_directory(ec);
        wchar_t bad = forbiddenCharacter(name.substr(devicePrefix.size()));
        if (bad != 0) {
            layout->findings.push_back(fileFinding(
                "bad-file-name", hostName,
                "no device can hold this name (it has " + inQuotes(std::wstring(1, bad)) +
                    "): the main package cannot carry it; left out",
                true));
            continue;
        }
        if (!directory && !e.is_regular_file(ec)) {
            layout->findings.push_back(fileFinding(
                "not-a-file", hostName, "neither a file nor a directory here: left out", false));
            continue;
        }
        Entry entry;
        entry.shown = hosttext::utf8(name);
        entry.path = layout->directory + name;
        entry.directory = directory;
        entry.source = e.path();
        layout->entries.push_back(entry);
        if (directory && depth < kMaxDepth && !e.is_symlink(ec))
            walk(e.path(), hostName + "/", name + L"\\", depth + 1, layout);
    }
}

// The value as the installer writes it: 8-bit strings of the header become
// the device's UTF-16, with %InstallDir% and %CEn% replaced when asked.
RegistryValue installedValue(const cecab::HeaderRegValue& v, const std::string& key,
                             const std::string& installPath)
{
    RegistryValue value;
    value.key = hosttext::fromAnsi(key);
    value.name = hosttext::fromAnsi(v.name);
    uint32_t type = v.typeFlags & cecab::kRegTypeMask;
    if (type == cecab::kRegString || type == cecab::kRegMultiString) {
        std::vector<std::string> strings = cecab::splitStrings(v.data);
        if (type == cecab::kRegString && strings.size() > 1)
            strings.resize(1);
        std::wstring text;
        for (const std::string& s : strings)
            text +=
                hosttext::fromAnsi(v.substitute ? cecab::expandMacros(s, installPath) : s) + L'\0';
        if (type == cecab::kRegMultiString || strings.empty())
            text += L'\0';
        value.type = type == cecab::kRegString ? kRegSz : kRegMultiSz;
        value.data = hosttext::utf16le(text);
    } else {
        value.type = type == cecab::kRegDword ? kRegDword : kRegBinary;
        value.data.assign(v.data.begin(), v.data.end());
    }
    return value;
}

}  // namespace

Layout layoutOfDirectory(const std::string& directory, const std::wstring& deviceDirectory)
{
    std::error_code ec;
    if (!fs::exists(directory, ec))
        throw InputError(directory + ": no such directory");
    if (!fs::is_directory(directory, ec))
        throw InputError(directory + ": not a directory");
    Layout layout;
    layout.name = directory;
    layout.directory = deviceDirectory;
    walk(fs::path(directory), "", L"", 0, &layout);
    return layout;
}

Layout layoutOfCabinet(const std::string& path)
{
    Inspection in;
    try {
        in = inspectCabinet(readFile(path, kMaxCabinetBytes));
    } catch (const InputError& e) {
        // Named, as the reader's own messages are not.
        std::string message = e.what();
        throw InputError(message.rfind(path, 0) == 0 ? message : path + ": " + message);
    }
    if (!in.problems.empty())
        throw InputError(path + ": the install header cannot be trusted (" +
                         in.problems.front().where + ": " + in.problems.front().message +
                         "); vorlund-kit inspect lists every problem");
    Layout layout;
    layout.name = path;
    layout.mainPackage = true;
    layout.setupLibrary = !in.setupMember.empty();
    layout.installDir = hosttext::fromAnsi(in.installPath);
    // The launcher's directory is where everything happens; without a
    // launcher, the directory the package installs to.
    std::string directory = in.installPath;
    for (const InspectedFile& f : in.files) {
        if (cecab::sameDeviceName(f.name, cecab::kLauncherName)) {
            directory = f.path.substr(0, f.path.size() - f.name.size() - 1);
            break;
        }
    }
    layout.directory = hosttext::fromAnsi(directory + "\\");
    auto shownPath = [&](const std::string& p) {
        bool inside = p.size() > directory.size() + 1 &&
                      cecab::sameDeviceName(p.substr(0, directory.size() + 1), directory + "\\");
        return inside ? p.substr(directory.size() + 1) : p;
    };
    for (const InspectedDir& d : in.dirs) {
        Entry e;
        e.shown = shownPath(d.path);
        e.path = hosttext::fromAnsi(d.path);
        e.directory = true;
        layout.entries.push_back(e);
    }
    std::string listPath = directory + "\\" + cecab::kListName;
    for (const InspectedFile& f : in.files) {
        Entry e;
        e.shown = shownPath(f.path);
        e.path = hosttext::fromAnsi(f.path);
        if (cecab::sameDeviceName(f.path, listPath))
            e.bytes = in.listBytes;
        layout.entries.push_back(e);
    }
    const cecab::InstallHeader& h = in.header;
    for (const cecab::HeaderRegValue& v : h.regValues) {
        const cecab::HeaderHive* hive = cecab::findHive(h, v.hiveId);
        if (hive->root == cecab::kHkcu)
            layout.registry.push_back(
                installedValue(v, cecab::joinParts(h, hive->parts), in.installPath));
    }
    return layout;
}

}  // namespace kit::rehearsal
