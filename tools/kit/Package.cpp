// Opening a main CAB (its header decoded into a layout, its members read
// when asked for) and reading a listed CAB's header with the same reader.
#include "tools/kit/Package.h"

#include <cstdlib>
#include <filesystem>

#include "tools/cecab/CeFiles.h"
#include "tools/kit/Kit.h"

namespace fs = std::filesystem;

namespace kit {

namespace {

// The install header is small; anything larger is no header.
const uint64_t kMaxHeaderBytes = 16ull << 20;

std::vector<cecab::LayoutMember> membersOf(const cecab::CabinetReader& cabinet)
{
    std::vector<cecab::LayoutMember> members;
    for (const cecab::CabinetEntry& e : cabinet.entries())
        members.push_back({e.name, e.size, cecab::memberNumber(e.name)});
    return members;
}

// The decoded header of an open cabinet; false with the reason.
bool decodeFrom(cecab::CabinetReader& cabinet, cecab::Layout* layout,
                std::vector<cecab::HeaderProblem>* problems, std::string* why)
{
    std::vector<cecab::LayoutMember> members = membersOf(cabinet);
    const cecab::LayoutMember* header = nullptr;
    for (const cecab::LayoutMember& m : members)
        header = header || m.number != cecab::kHeaderNumber ? header : &m;
    std::string bytes;
    if (!header) {
        *why = "no install header (a .000 member): not a CE package";
        return false;
    }
    if (!cabinet.extract(header->name, kMaxHeaderBytes, &bytes, why))
        return false;
    cecab::InstallHeader h =
        cecab::decodeHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), problems);
    if (problems->empty())
        *layout = cecab::layoutOf(h, members);
    return true;
}

// A listed CAB's header, decoded and fit to act on; false with the reason.
bool decoded(cecab::CabinetReader& cabinet, cecab::Layout* layout, std::string* why)
{
    std::vector<cecab::HeaderProblem> problems;
    if (!decodeFrom(cabinet, layout, &problems, why))
        return false;
    if (!problems.empty())
        *why = "its install header cannot be trusted (" + problems.front().where + ": " +
               problems.front().message + ")";
    return problems.empty();
}

}  // namespace

Scratch::~Scratch()
{
    std::error_code ec;
    if (!dir_.empty())
        fs::remove_all(dir_, ec);
}

std::string Scratch::path(const std::string& name)
{
    if (dir_.empty()) {
        std::string pattern = (fs::temp_directory_path() / "vorlund-kit-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("no scratch directory can be made in " +
                                     fs::temp_directory_path().string());
        dir_ = pattern;
    }
    return (fs::path(dir_) / name).string();
}

Package Package::open(const std::string& path, std::vector<cecab::HeaderProblem>* problems)
{
    requireFile(path, "a main CAB");
    Package p;
    p.name_ = path;
    p.cabinet_ = std::make_shared<cecab::CabinetReader>();
    std::string why;
    if (!p.cabinet_->open(path, &why) || !decodeFrom(*p.cabinet_, &p.layout_, problems, &why))
        throw InputError(path, why);
    return p;
}

Package::Package(std::string name, cecab::Layout layout, std::map<int, std::string> files)
    : name_(std::move(name)), layout_(std::move(layout)), files_(std::move(files))
{}

const std::string& Package::memberName(int number) const
{
    static const std::string none;
    const cecab::LayoutMember* m = cecab::memberOf(layout_, number);
    return m ? m->name : none;
}

bool Package::has(int number) const
{
    return cabinet_ ? cecab::memberOf(layout_, number) != nullptr : files_.count(number) != 0;
}

std::string Package::read(int number, uint64_t limit) const
{
    if (!cabinet_) {
        auto it = files_.find(number);
        return it == files_.end() ? std::string() : readFile(it->second, limit);
    }
    std::string bytes, why;
    if (!cabinet_->extract(memberName(number), limit, &bytes, &why))
        throw InputError(name_, why);
    return bytes;
}

bool Package::readCeCab(int number, cecab::Layout* layout, std::string* why, Scratch* scratch) const
{
    if (!cabinet_)
        return kit::readCeCab(files_.count(number) ? files_.at(number) : "", layout, why);
    // Its header read where it lies in the main CAB; a member that cannot be
    // read so is taken out into a file first.
    cecab::CabinetReader cab;
    bool read = cab.openMember(*cabinet_, memberName(number), why) && decoded(cab, layout, why);
    if (!cab.memberUnreadable())
        return read;
    std::string path = scratch->path(std::to_string(number) + ".cab");
    why->clear();
    if (!cabinet_->extractTo(memberName(number), path, why))
        throw InputError(name_, *why);
    return kit::readCeCab(path, layout, why);
}

bool readCeCab(const std::string& path, cecab::Layout* layout, std::string* why)
{
    cecab::CabinetReader cabinet;
    return cabinet.open(path, why) && decoded(cabinet, layout, why);
}

}  // namespace kit
