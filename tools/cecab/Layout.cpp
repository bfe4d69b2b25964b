// Install header <-> layout: ids resolved through one index on the way in,
// strings interned on the way out in the order the CAB Wizard writes them.
#include "tools/cecab/Layout.h"

#include <map>
#include <unordered_map>

#include "tools/cecab/CeFiles.h"

namespace cecab {

namespace {

std::vector<std::string> components(const std::string& path)
{
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        size_t next = path.find('\\', at);
        parts.push_back(path.substr(at, next == std::string::npos ? next : next - at));
        if (next == std::string::npos)
            return parts;
        at = next + 1;
    }
}

// Builds STRINGS: string 1 is the install directory, never shared; every
// other text gets one id, in the order first asked for.
class Strings {
public:
    explicit Strings(InstallHeader* h, const std::string& installDir) : h_(h)
    {
        h_->strings.push_back({1, installDir});
    }
    uint16_t id(const std::string& text)
    {
        auto it = ids_.find(text);
        if (it != ids_.end())
            return it->second;
        uint16_t id = static_cast<uint16_t>(h_->strings.size() + 1);
        h_->strings.push_back({id, text});
        return ids_[text] = id;
    }
    std::vector<uint16_t> path(const std::string& written, bool installDirFirst)
    {
        std::vector<uint16_t> parts;
        for (const std::string& part : components(written))
            parts.push_back(
                installDirFirst && parts.empty() && part == kInstallDirMacro ? 1 : id(part));
        return parts;
    }

private:
    InstallHeader* h_;
    std::map<std::string, uint16_t> ids_;
};

}  // namespace

Layout layoutOf(const InstallHeader& h, const std::vector<LayoutMember>& members)
{
    HeaderIndex index(h);
    Layout l;
    l.processor = h.architecture;
    l.min = h.min;
    l.max = h.max;
    l.appName = h.appName;
    l.provider = h.provider;
    l.unsupported = h.unsupported;
    l.unknown16 = h.unknown16;
    const std::string* first = index.string(1);
    l.installDir = first ? *first : "";
    for (const HeaderDir& d : h.dirs) {
        LayoutDir dir;
        dir.id = d.id;
        bool fromInstallDir = !d.parts.empty() && d.parts.front() == 1;
        std::vector<uint16_t> rest(d.parts.begin() + (fromInstallDir ? 1 : 0), d.parts.end());
        std::string tail = index.join(rest);
        dir.written = fromInstallDir ? kInstallDirMacro + (tail.empty() ? "" : "\\" + tail) : tail;
        if (fromInstallDir && rest.empty() && l.installDirId == 0)
            l.installDirId = d.id;
        l.dirs.push_back(dir);
    }
    for (const HeaderFile& f : h.files)
        l.files.push_back({f.id, f.dirId, f.source, f.flags, f.name, ""});
    for (const HeaderRegValue& v : h.regValues) {
        const HeaderHive* hive = index.hive(v.hiveId);
        l.values.push_back({hive ? hive->root : uint16_t(0), hive ? index.join(hive->parts) : "",
                            v.name, v.typeFlags, v.substitute, v.data});
    }
    for (const HeaderLink& k : h.links)
        l.links.push_back({k.baseDir, k.target, k.type == 1, index.join(k.parts)});
    l.members = members;
    resolvePaths(&l);
    return l;
}

void resolvePaths(Layout* l)
{
    int installUnresolved = 0;
    std::string install = expandMacros(l->installDir, "", &installUnresolved);
    l->installPath = install.empty() || install[0] == '\\' ? install : "\\" + install;
    std::unordered_map<uint16_t, size_t> byId;  // the first directory of each id
    for (size_t i = 0; i < l->dirs.size(); ++i) {
        LayoutDir& d = l->dirs[i];
        int unresolved = d.written.rfind(kInstallDirMacro, 0) == 0 ? installUnresolved : 0;
        std::string path = expandMacros(d.written, l->installPath, &unresolved);
        d.known = unresolved == 0;
        d.path = !d.known ? "" : path.empty() || path[0] == '\\' ? path : "\\" + path;
        byId.emplace(d.id, i);
    }
    for (LayoutFile& f : l->files) {
        auto at = byId.find(f.dirId);
        f.path = at != byId.end() && l->dirs[at->second].known
                     ? l->dirs[at->second].path + "\\" + f.name
                     : "";
    }
}

bool encodeLayout(const Layout& l, std::string* out, std::string* error)
{
    InstallHeader h;
    h.architecture = l.processor;
    h.min = l.min;
    h.max = l.max;
    h.appName = l.appName;
    h.provider = l.provider;
    h.unsupported = l.unsupported;
    h.unknown16 = l.unknown16;
    Strings strings(&h, l.installDir);
    for (const LayoutDir& d : l.dirs)
        h.dirs.push_back({d.id, strings.path(d.written, true)});
    for (const LayoutFile& f : l.files)
        h.files.push_back({f.number, f.dirId, f.source, f.flags, f.name});
    std::map<std::pair<uint16_t, std::string>, uint16_t> hives;
    for (const LayoutValue& v : l.values) {
        auto it = hives.find({v.root, v.key});
        if (it == hives.end()) {
            uint16_t id = static_cast<uint16_t>(h.hives.size() + 1);
            h.hives.push_back({id, v.root, 0, strings.path(v.key, false)});
            it = hives.emplace(std::make_pair(v.root, v.key), id).first;
        }
        h.regValues.push_back({static_cast<uint16_t>(h.regValues.size() + 1), it->second,
                               v.substitute, v.typeFlags, v.name, v.data});
    }
    for (const LayoutLink& k : l.links)
        h.links.push_back({static_cast<uint16_t>(h.links.size() + 1), 0, k.baseDir, k.target,
                           static_cast<uint16_t>(k.toFile ? 1 : 0), strings.path(k.name, false)});
    if (h.strings.size() > 0xFFFF) {
        *error = std::to_string(h.strings.size()) + " strings, more than 65535 ids";
        return false;
    }
    return encodeHeader(h, out, error);
}

const LayoutMember* memberOf(const Layout& l, int number)
{
    for (const LayoutMember& m : l.members)
        if (m.number == number)
            return &m;
    return nullptr;
}

}  // namespace cecab
