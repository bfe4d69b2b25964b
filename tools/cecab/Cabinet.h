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
// A cabinet written into a file beside `path` under a name of its own: the
// file at `path` is replaced only by commit(), so a failure, or a cabinet not
// wanted after all, leaves an earlier file as it was.
class CabinetFile {
public:
    explicit CabinetFile(std::string path);
    ~CabinetFile();  // removes what was written and not committed
    CabinetFile(const CabinetFile&) = delete;
    CabinetFile& operator=(const CabinetFile&) = delete;
    // As writeCabinet, straight into the file (its directory must exist), the
    // members never held in memory. `outputFailed`: the output, not a
    // member's source, could not be written.
    bool write(const std::vector<Member>& members, int64_t unixTime, std::string* error,
               bool* outputFailed);
    // The cabinet written takes the path's place.
    bool commit(std::string* error);

private:
    std::string path_;
    std::string partial_;  // the file written, until committed
};

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
