// Bundle: walks the install directory on this machine (see Bundle.h). Only
// the list's bytes are ever read; CAB contents do not matter to the device's
// decisions, and bundles can be large.
#include "tools/preview/Bundle.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

#include "tools/preview/HostText.h"

namespace fs = std::filesystem;

namespace preview {

namespace {

// Deep enough for any sensible bundle; guards against link loops.
const int kMaxDepth = 32;

// A character the device's file system does not allow in a name.
wchar_t forbiddenCharacter(const std::wstring& name)
{
    for (wchar_t c : name) {
        if (c < 0x20 || std::wstring(L"\\:*?\"<>|").find(c) != std::wstring::npos)
            return c;
    }
    return 0;
}

void walk(const fs::path& dir, const std::string& hostPrefix, const std::wstring& devicePrefix,
          int depth, Bundle* bundle)
{
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec)
        throw BundleError("cannot read directory " + dir.string() + ": " + ec.message());
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename().string() < b.path().filename().string();
              });

    for (const fs::directory_entry& e : entries) {
        std::string hostName = hostPrefix + e.path().filename().string();
        std::wstring name = deviceName(e.path().filename().string());
        bool directory = e.is_directory(ec);
        wchar_t bad = forbiddenCharacter(name);
        if (bad != 0) {
            Finding f;
            f.code = "bad-file-name";
            f.file = hostName;
            f.message = "no device can hold this name (it has " + inQuotes(std::wstring(1, bad)) +
                        "): the main package cannot carry it; left out";
            bundle->findings.push_back(f);
            continue;
        }
        if (!directory && !e.is_regular_file(ec)) {
            Finding f;
            f.warning = false;
            f.code = "not-a-file";
            f.file = hostName;
            f.message = "neither a file nor a directory here: left out";
            bundle->findings.push_back(f);
            continue;
        }
        BundleEntry entry;
        entry.hostName = hostName;
        entry.deviceName = devicePrefix + name;
        entry.directory = directory;
        entry.source = e.path();
        bundle->entries.push_back(entry);
        if (directory) {
            if (depth >= kMaxDepth || e.is_symlink(ec))
                continue;  // loaded empty: a link may lead back up the tree
            walk(e.path(), hostName + "/", entry.deviceName + L"\\", depth + 1, bundle);
        }
    }
}

}  // namespace

Bundle readBundle(const std::string& directory)
{
    std::error_code ec;
    if (!fs::exists(directory, ec))
        throw BundleError(directory + ": no such directory");
    if (!fs::is_directory(directory, ec))
        throw BundleError(directory + ": not a directory");
    Bundle bundle;
    walk(fs::path(directory), "", L"", 0, &bundle);
    return bundle;
}

std::string readHostFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    if (in)
        content << in.rdbuf();
    if (!in || in.bad())
        throw BundleError("cannot read " + path.string());
    return content.str();
}

}  // namespace preview
