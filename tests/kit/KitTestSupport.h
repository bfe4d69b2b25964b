// Shared by the kit's tests: temporary directories, small PE files, CE CABs
// and main CABs built through the library, and vorlund-kit run for its
// output, status and finding codes.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/cecab/Cabinet.h"
#include "tools/cecab/Layout.h"

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
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void put(std::string* s, size_t at, uint32_t value, int bytes)
{
    if (s->size() < at + bytes)
        s->resize(at + bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        (*s)[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

const std::vector<std::string> kHooks = {"Install_Init", "Install_Exit", "Uninstall_Init",
                                         "Uninstall_Exit"};

// A PE file of one section (at 0x200, address 0x1000) holding its export table.
inline std::string makePe(uint16_t machine, bool dll, uint16_t subsystem,
                          const std::vector<std::string>& exports = {})
{
    std::string pe(0x200, '\0'), data(40 + 4 * exports.size(), '\0');
    put(&data, 24, static_cast<uint32_t>(exports.size()), 4);
    put(&data, 32, 0x1000 + 40, 4);
    for (size_t i = 0; i < exports.size(); ++i) {
        put(&data, 40 + 4 * i, 0x1000 + static_cast<uint32_t>(data.size()), 4);
        data += exports[i] + '\0';
    }
    uint32_t size = static_cast<uint32_t>(data.size()), exportAt = exports.empty() ? 0 : 0x1000;
    // MZ, PE, COFF (machine, 1 section, optional header size, flags), PE32
    // optional header (subsystem, 16 directories, exports), section header.
    // clang-format off
    const uint32_t fields[][3] = {{0, 0x5A4D, 2}, {0x3C, 0x40, 4}, {0x40, 0x4550, 4}, {0x44, machine, 2}, {0x46, 1, 2},
        {0x54, 224, 2}, {0x56, 0x0102u | (dll ? 0x2000 : 0), 2}, {0x58, 0x10B, 2}, {0x9C, subsystem, 2}, {0xB4, 16, 4},
        {0xB8, exportAt, 4}, {0xBC, exports.empty() ? 0 : size, 4}, {0x140, size, 4}, {0x144, 0x1000, 4}, {0x148, size, 4}, {0x14C, 0x200, 4}};
    // clang-format on
    for (const auto& f : fields)
        put(&pe, f[0], f[1], static_cast<int>(f[2]));
    return pe.replace(0x138, 6, ".edata") + data;
}

inline const std::string kArmLauncher = makePe(0x01C2, false, 9);
inline const std::string kArmSetupLibrary = makePe(0x01C2, true, 9, kHooks);

using LayoutChange = std::function<void(cecab::Layout*)>;
using MemberChange = std::function<void(std::vector<cecab::Member>*)>;

// A CE CAB of `files` (name, bytes) installed into %CE1%\<app>, in the
// Wizard's layout, its layout and members changed as asked. Members are
// named as the format note has them, each file's number its place from 1;
// `setup` adds a setup library (.999).
inline std::string ceCab(const std::vector<std::pair<std::string, std::string>>& files,
                         const std::string& app = "App", const LayoutChange& layout = {},
                         const MemberChange& members = {}, const std::string& setup = "")
{
    cecab::Layout l;
    l.processor = 2577;
    l.min = {5, 0, 0};
    l.appName = app;
    l.provider = "Vendor";
    l.installDir = "%CE1%\\" + app;
    l.dirs = {{1, "%InstallDir%", "", false}};
    for (size_t i = 0; i < files.size(); ++i) {
        uint16_t n = static_cast<uint16_t>(i + 1);
        l.files.push_back({n, 1, n, 0x40000002, files[i].first, ""});
    }
    if (layout)
        layout(&l);
    std::string header, error, cabinet;
    cecab::encodeLayout(l, &header, &error);
    std::vector<cecab::Member> m = {{cecab::memberName(app, 0), header, ""}};
    if (!setup.empty())
        m.push_back({cecab::memberName("Setup.dll", 999), setup, ""});
    for (size_t i = files.size(); i-- > 0;)
        m.push_back(
            {cecab::memberName(files[i].first, static_cast<int>(i + 1)), files[i].second, ""});
    if (members)
        members(&m);
    cecab::writeCabinet(m, 0, &cabinet, &error);
    return cabinet;
}

// A main CAB: the launcher, a list of two CABs and the two (real CE CABs),
// the hook's value, the setup library.
inline std::string mainCab(const LayoutChange& layout = {}, const MemberChange& members = {},
                           const std::string& setup = kArmSetupLibrary)
{
    std::string maps = ceCab({{"maps.txt", "m"}}, "Maps"),
                help = ceCab({{"help.txt", "h"}}, "Help");
    auto hook = [&](cecab::Layout* l) {
        l->installDir = "%CE1%\\Vorlund";
        l->values = {{cecab::kHkcu, "Software\\TqVorlund", "Default", cecab::kRegString, true,
                      std::string("%InstallDir%") + '\0'}};
        if (layout)
            layout(l);
    };
    return ceCab({{"Vorlund.exe", kArmLauncher},
                  {"Vorlund.ini", "maps.cab\r\nhelp.cab\r\n"},
                  {"maps.cab", maps},
                  {"help.cab", help}},
                 "Vorlund", hook, members, setup);
}

// The repository's sample bundle with ARM programs beside it.
inline fs::path sampleBundle(const TempDir& dir)
{
    fs::path bundle = dir / "bundle";
    fs::copy(fs::path(VORLUND_SOURCE_DIR) / "examples/bundle", bundle, fs::copy_options::recursive);
    writeFile(bundle / "Vorlund.exe", kArmLauncher);
    writeFile(bundle / "VorlundSetup.dll", kArmSetupLibrary);
    return bundle;
}

struct Outcome {
    int status = -1;
    std::string out;
    bool has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

// Runs a shell command line; standard error joins standard output unless
// the command redirects it.
inline Outcome run(const std::string& command, const char* errors = " 2>&1")
{
    Outcome r;
    FILE* pipe = popen((command + errors).c_str(), "r");
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

inline Outcome runKit(const std::string& arguments, const char* errors = " 2>&1")
{
    return run(std::string(VORLUND_KIT) + " " + arguments, errors);
}

// "missing@3 unlisted@extra.cab | stand-in@Vorlund.exe": a report's warnings,
// then its notes, each with its line (or run of lines) or entry.
inline std::string codes(const nlohmann::json& report)
{
    std::string text;
    for (const char* kind : {"warnings", "notes"}) {
        if (kind[0] == 'n' && !report[kind].empty())
            text += "| ";
        for (const auto& f : report[kind]) {
            std::string where = f["where"];
            if (where.rfind("Vorlund.ini:", 0) == 0)
                where = where.substr(12);
            text += f["code"].get<std::string>() + "@" + where + " ";
        }
    }
    return text.empty() ? text : text.substr(0, text.size() - 1);
}

// The JSON report of a command; a report that is no JSON fails the test.
inline nlohmann::json report(const std::string& arguments, int* status = nullptr)
{
    Outcome r = runKit(arguments + " --json", " 2>/dev/null");
    if (status)
        *status = r.status;
    return nlohmann::json::parse(r.out);
}

}  // namespace test
