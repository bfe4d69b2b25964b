// The main package the kit judges: its layout, and where each member's bytes
// are: in a main CAB of this machine (inspect, rehearse) or in the bundle's
// files that pack is about to put into one.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/cecab/Cabinet.h"
#include "tools/cecab/Layout.h"

namespace kit {

// A private directory of this machine for members that must be files (a
// listed CAB read as a cabinet of its own); removed with everything in it.
class Scratch {
public:
    Scratch() = default;
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string path(const std::string& name);

private:
    std::string dir_;
};

class Package {
public:
    // A main CAB: InputError when it is no cabinet or holds no install
    // header; a header that cannot be trusted leaves `problems` non-empty
    // and the layout empty.
    static Package open(const std::string& path, std::vector<cecab::HeaderProblem>* problems);
    // A package about to be packed: member number -> the file of this machine.
    Package(std::string name, cecab::Layout layout, std::map<int, std::string> files);

    const std::string& name() const { return name_; }
    const cecab::Layout& layout() const { return layout_; }
    bool has(int number) const;
    // The bytes of a member, at most `limit`; InputError otherwise.
    std::string read(int number, uint64_t limit) const;
    // The install header of a member that is a CE CAB of its own, as
    // readCeCab reads one (below).
    bool readCeCab(int number, cecab::Layout* layout, std::string* why, Scratch* scratch) const;

private:
    Package() = default;
    const std::string& memberName(int number) const;

    std::string name_;
    cecab::Layout layout_;
    std::shared_ptr<cecab::CabinetReader> cabinet_;
    std::map<int, std::string> files_;
};

// A CAB's own install header, read for a check of the CAB: false with the
// reason when it is no cabinet, has no .000 member or its header cannot be
// trusted.
bool readCeCab(const std::string& path, cecab::Layout* layout, std::string* why);

}  // namespace kit
