// Shared by the kit's tests: temporary directories, sample bundles with
// generated programs, and running a command for its output and status.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/kit/PeMaker.h"

namespace test {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "vorlund-kit-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / name; }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The sample install directory of the repository with an ARM launcher and
// setup library beside it.
inline fs::path sampleBundle(const TempDir& dir)
{
    fs::path bundle = dir / "bundle";
    fs::copy(fs::path(VORLUND_SOURCE_DIR) / "examples/bundle", bundle, fs::copy_options::recursive);
    writeFile(bundle / "Vorlund.exe", armLauncher());
    writeFile(bundle / "VorlundSetup.dll", armSetupLibrary());
    return bundle;
}

struct Outcome {
    int status = -1;
    std::string out;
    bool has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

// Runs a shell command line; standard error joins standard output.
inline Outcome run(const std::string& command)
{
    Outcome r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        r.out.append(buffer, n);
    int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline std::string quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

inline Outcome kit(const std::string& arguments)
{
    return run(std::string(VORLUND_KIT) + " " + arguments);
}

}  // namespace test
