// What the rehearsal starts from: a bundle directory walked into device
// entries, or a main package laid out as its install header says.
#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <system_error>

#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"
#include "tools/kit/MainPackage.h"
#include "tools/kit/Rehearsal.h"

namespace fs = std::filesystem;

namespace kit {

namespace {

// Deep enough for any sensible bundle; guards against link loops.
const int kMaxDepth = 32;
// The registry types as the device stores them.
const uint32_t kRegSz = 1, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7;

// A character the device's file systems do not allow in a name.
wchar_t forbiddenCharacter(const std::wstring& name)
{
    for (wchar_t c : name)
        if (c < 0x20 || std::wcschr(L"\\:*?\"<>|", c) != nullptr)
            return c;
    return 0;
}

void walk(const fs::path& dir, const std::string& hostPrefix, const std::wstring& devicePrefix,
          int depth, DeviceLayout* layout)
{
    std::error_code ec;
    std::vector<std::pair<std::string, fs::directory_entry>> named;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        named.emplace_back(it->path().filename().string(), *it);
    if (ec)
        throw InputError(dir.string(), "cannot be read: " + ec.message());
    std::sort(named.begin(), named.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    for (const auto& [filename, e] : named) {
        std::wstring name = devicePrefix + hosttext::fromHost(filename);
        std::string shownName = hosttext::utf8(name);
        bool directory = e.is_directory(ec);
        wchar_t bad = forbiddenCharacter(name.substr(devicePrefix.size()));
        if (bad != 0) {
            layout->findings.push_back(fileFinding(
                Code::BadFileName, shown(name),
                "no device can hold this name (it has " + inQuotes(std::wstring(1, bad)) +
                    "): the main package cannot carry it; left out"));
            continue;
        }
        if (!directory && !e.is_regular_file(ec)) {
            layout->findings.push_back(fileFinding(
                Code::NotAFile, shownName, "neither a file nor a directory here: left out"));
            continue;
        }
        Entry entry;
        entry.shown = shownName;
        entry.path = layout->directory + name;
        entry.directory = directory;
        entry.file = e.path().string();
        layout->entries.push_back(entry);
        if (directory && depth < kMaxDepth && !e.is_symlink(ec))
            walk(e.path(), hostPrefix + filename + "/", name + L"\\", depth + 1, layout);
    }
}

// The value as the installer writes it: 8-bit strings of the header become
// the device's UTF-16, with %InstallDir% and %CEn% replaced when asked.
RegistryValue installedValue(const cecab::LayoutValue& v, const std::string& installPath)
{
    RegistryValue value;
    value.key = hosttext::fromAnsi(v.key);
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

// The launcher's directory is where everything happens; without a launcher,
// the directory the package installs to.
std::string launcherDirectory(const cecab::Layout& l)
{
    for (const cecab::LayoutFile& f : l.files)
        if (!f.path.empty() && cecab::sameDeviceName(f.name, kLauncherName))
            return f.path.substr(0, f.path.size() - f.name.size() - 1);
    return l.installPath;
}

}  // namespace

DeviceLayout layoutOfDirectory(const std::string& directory, const std::wstring& deviceDirectory)
{
    std::error_code ec;
    if (!fs::exists(directory, ec))
        throw InputError(directory, "no such directory");
    if (!fs::is_directory(directory, ec))
        throw InputError(directory, "not a directory");
    DeviceLayout layout;
    layout.name = directory;
    layout.directory = deviceDirectory;
    walk(fs::path(directory), "", L"", 0, &layout);
    return layout;
}

DeviceLayout layoutOfPackage(const Package& package)
{
    const cecab::Layout& l = package.layout();
    DeviceLayout layout;
    layout.name = package.name();
    layout.package = &package;
    layout.setupLibrary = package.has(cecab::kSetupDllNumber);
    layout.installDir = hosttext::fromAnsi(l.installPath);
    std::string directory = launcherDirectory(l);
    layout.directory = hosttext::fromAnsi(directory + "\\");
    const std::string prefix = hosttext::folded(directory + "\\");
    auto inside = [&](const std::string& p) {
        return p.size() > prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), p.begin(), [](char a, char b) {
                   return a == static_cast<char>(hosttext::foldCase(static_cast<unsigned char>(b)));
               });
    };
    auto shownPath = [&](const std::string& p) {
        return hosttext::utf8(hosttext::fromAnsi(inside(p) ? p.substr(directory.size() + 1) : p));
    };
    // A directory elsewhere matters to the run only when a file lands in it,
    // which makes it.
    for (const cecab::LayoutDir& d : l.dirs)
        if (d.known && inside(d.path))
            layout.entries.push_back({shownPath(d.path), hosttext::fromAnsi(d.path), true, "", -1});
    // A file copied only over an existing one is not there after a first
    // install; a file without a member cannot be copied.
    for (const cecab::LayoutFile& f : l.files)
        if (!f.path.empty() && package.has(f.number) && !(f.flags & cecab::kFileOnlyIfExists))
            layout.entries.push_back(
                {shownPath(f.path), hosttext::fromAnsi(f.path), false, "", f.number});
    for (const cecab::LayoutValue& v : l.values)
        if (v.root == cecab::kHkcu)
            layout.registry.push_back(installedValue(v, l.installPath));
    return layout;
}

}  // namespace kit
