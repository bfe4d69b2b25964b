// Cabinet files: written through libgcab (no compression, as CE packages
// usually are), read through libmspack from a file of this machine, each
// member only when asked for and up to a limit; a member stored without
// compression is read straight from its place in the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/cecab/CeFiles.h"

namespace cecab {

// Writes `members`, in the order given, into one uncompressed cabinet in
// `bytes`, every member dated `unixTime` (UTC).
bool writeCabinet(const std::vector<Member>& members, int64_t unixTime, std::string* bytes,
                  std::string* error);
// The same into the file `path` (its directory must exist), which is replaced
// only when the whole cabinet is written. `outputFailed`: the output file, not a
// member's source, could not be written.
bool writeCabinetFile(const std::vector<Member>& members, int64_t unixTime, const std::string& path,
                      std::string* error, bool* outputFailed);

struct CabinetEntry {
    std::string name;
    uint64_t size = 0;
};

// A cabinet file opened through libmspack's file interface: opening reads
// its headers only, so a file that is no cabinet is refused at once.
class CabinetReader {
public:
    CabinetReader();
    ~CabinetReader();
    // False with a reason when `path` cannot be read or is no cabinet.
    bool open(const std::string& path, std::string* error);
    // The member `name` of `outer` opened as a cabinet of its own (a CAB in a
    // CAB), read straight from outer's file; false with a reason when it is
    // no cabinet. Used while `outer` is open.
    bool openMember(CabinetReader& outer, const std::string& name, std::string* error);
    // Whether the member this reader was opened on cannot be read straight
    // (it is compressed, or a block of it is doubtful): extract it instead,
    // and libmspack says what is wrong with it.
    bool memberUnreadable() const;
    // Every member, in cabinet order.
    const std::vector<CabinetEntry>& entries() const { return entries_; }
    // The bytes of the member `name`; false with a reason when it is larger
    // than `limit`, damaged or not there.
    bool extract(const std::string& name, uint64_t limit, std::string* data, std::string* error);
    // The member `name` into the file `path` of this machine.
    bool extractTo(const std::string& name, const std::string& path, std::string* error);

private:
    struct Library;
    bool openAs(const char* name, std::string* error);
    std::unique_ptr<Library> library_;
    std::vector<CabinetEntry> entries_;
};

}  // namespace cecab
