// Bundle: an install directory read from this machine's disk, with its
// entries named as the device will name them. Only read, never changed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/preview/Preview.h"

namespace preview {

// The directory (or one of its files) cannot be read (exit status 2).
struct BundleError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct BundleEntry {
    std::string hostName;     // relative path on this machine, '/'-separated
    std::wstring deviceName;  // relative device path, '\'-separated
    bool directory = false;
    std::filesystem::path source;
};

struct Bundle {
    // Parents before their entries; the entries of a directory sorted by
    // name, which becomes their search order on the device.
    std::vector<BundleEntry> entries;
    // Entries that no device file system can hold, left out.
    std::vector<Finding> findings;
};

Bundle readBundle(const std::string& directory);
// The bytes of one file; throws BundleError when it cannot be read.
std::string readHostFile(const std::filesystem::path& path);

}  // namespace preview
