// Cabinet files: written through libgcab (no compression, as CE packages
// usually are), read through libmspack from memory with size limits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/cecab/CeFiles.h"

namespace cecab {

// Writes `members`, in the order given, into one uncompressed cabinet in
// `bytes`, every member dated `unixTime` (UTC).
bool writeCabinet(const std::vector<Member>& members, int64_t unixTime, std::string* bytes,
                  std::string* error);

struct CabinetEntry {
    std::string name;
    uint64_t size = 0;
    bool extracted = false;
    std::string data;  // when extracted
};

// Lists every member of the cabinet `bytes` and extracts those that `want`
// selects, none larger than `maxMemberBytes`. False with a reason when the
// cabinet cannot be read or a selected member is too large or damaged.
bool readCabinet(const std::string& bytes, const std::function<bool(const std::string&)>& want,
                 uint64_t maxMemberBytes, std::vector<CabinetEntry>* entries, std::string* error);

}  // namespace cecab
