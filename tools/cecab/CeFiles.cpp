// CE member names, cabinet order and the %CEn% directories.
#include "tools/cecab/CeFiles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "tools/hosttext/HostText.h"

namespace cecab {

namespace {

bool plain(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
}

const char* const kCeDirectories[17] = {
    "\\Program Files",
    "\\Windows",
    "\\Windows\\Desktop",
    "\\Windows\\StartUp",
    "\\My Documents",
    "\\Program Files\\Accessories",
    "\\Program Files\\Communications",
    "\\Program Files\\Games",
    "\\Program Files\\Pocket Outlook",
    "\\Program Files\\Office",
    "\\Windows\\Programs",
    "\\Windows\\Programs\\Accessories",
    "\\Windows\\Programs\\Communications",
    "\\Windows\\Programs\\Games",
    "\\Windows\\Fonts",
    "\\Windows\\Recent",
    "\\Windows\\Favorites",
};

struct Processor {
    const char* name;
    Family family;
};
const std::map<uint32_t, Processor> kProcessors = {
    {0, {"no specific architecture", Family::None}},
    {103, {"SHx SH3", Family::Sh}},
    {104, {"SHx SH4", Family::Sh}},
    {386, {"Intel 386", Family::X86}},
    {486, {"Intel 486", Family::X86}},
    {586, {"Intel Pentium", Family::X86}},
    {601, {"PowerPC 601", Family::PowerPc}},
    {603, {"PowerPC 603", Family::PowerPc}},
    {604, {"PowerPC 604", Family::PowerPc}},
    {620, {"PowerPC 620", Family::PowerPc}},
    {821, {"Motorola 821", Family::PowerPc}},
    {1824, {"ARM 720", Family::Arm}},
    {2080, {"ARM 820", Family::Arm}},
    {2336, {"ARM 920", Family::Arm}},
    {2577, {"StrongARM", Family::Arm}},
    {4000, {"MIPS R4000", Family::Mips}},
    {10003, {"Hitachi SH3", Family::Sh}},
    {10004, {"Hitachi SH3E", Family::Sh}},
    {10005, {"Hitachi SH4", Family::Sh}},
    {21064, {"Alpha 21064", Family::Alpha}},
    {70001, {"ARM 7TDMI", Family::Arm}},
};

}  // namespace

std::string memberName(const std::string& trueName, int number)
{
    size_t dot = trueName.rfind('.');
    std::string stem = dot == std::string::npos ? trueName : trueName.substr(0, dot);
    std::string base;
    if (!stem.empty() && stem.size() <= 8 && std::all_of(stem.begin(), stem.end(), plain)) {
        base = stem;
    } else {
        for (char c : stem)
            if (plain(c) && base.size() < 6)
                base.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        base += "~1";
    }
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".%03d", number % 1000);
    return std::string(8 - base.size(), '0') + base + suffix;
}

int memberNumber(const std::string& name)
{
    if (name.size() < 4 || name[name.size() - 4] != '.')
        return -1;
    int n = 0;
    for (size_t i = name.size() - 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

const char* ceDirectory(int n)
{
    return n >= 1 && n <= 17 ? kCeDirectories[n - 1] : nullptr;
}

std::string expandMacros(const std::string& text, const std::string& installDir, int* unresolved)
{
    std::string out;
    out.reserve(text.size() + installDir.size());
    size_t at = 0;
    while (at < text.size()) {
        size_t open = text.find('%', at);
        size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            out.append(text, at, std::string::npos);
            break;
        }
        out.append(text, at, open - at);
        std::string macro = hosttext::folded(text.substr(open + 1, close - open - 1));
        const char* replacement = nullptr;
        if (macro == "installdir") {
            replacement = installDir.c_str();
        } else if (macro.size() > 2 && macro.size() <= 4 && macro.compare(0, 2, "ce") == 0 &&
                   std::all_of(macro.begin() + 2, macro.end(),
                               [](char c) { return c >= '0' && c <= '9'; })) {
            replacement = ceDirectory(std::stoi(macro.substr(2)));
            if (!replacement && unresolved)
                ++*unresolved;
        }
        if (replacement) {
            out += replacement;
            at = close + 1;
        } else {
            // Not a macro: keep the first '%' and look again from the second.
            out += '%';
            at = open + 1;
        }
    }
    return out;
}

std::string nameProblem(const std::string& name)
{
    if (name.empty())
        return "an empty name";
    if (name.size() > 255)
        return "a name of " + std::to_string(name.size()) +
               " characters, over the 255 a file system holds";
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80)
            return "a non-ASCII name: the header holds names in the device's 8-bit code page, "
                   "which "
                   "is not known here";
        if (u < 0x20)
            return "a control character in the name";
        if (std::string("\\/:*?\"<>|").find(c) != std::string::npos)
            return std::string("the character '") + c + "', which no device file system accepts";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "a name ending in a dot or space, which the file system drops";
    return "";
}

bool sameDeviceName(const std::string& a, const std::string& b)
{
    return hosttext::folded(a) == hosttext::folded(b);
}

std::string processorName(uint32_t processor)
{
    auto it = kProcessors.find(processor);
    return it == kProcessors.end() ? "unknown processor" : it->second.name;
}

Family processorFamily(uint32_t processor)
{
    auto it = kProcessors.find(processor);
    return it == kProcessors.end() ? Family::None : it->second.family;
}

bool parseVersion(const std::string& text, uint32_t* major, uint32_t* minor)
{
    size_t dot = text.find('.');
    std::string parts[2] = {text.substr(0, dot), dot == text.npos ? "0" : text.substr(dot + 1)};
    for (const std::string& p : parts)
        if (p.empty() || p.size() > 4 || p.find_first_not_of("0123456789") != p.npos)
            return false;
    *major = static_cast<uint32_t>(std::stoul(parts[0]));
    *minor = static_cast<uint32_t>(std::stoul(parts[1]));
    return true;
}

bool parseProcessor(const std::string& text, uint32_t* processor)
{
    if (text == "arm" || text == "none") {
        *processor = text == "arm" ? kProcessorArm : 0;
        return true;
    }
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    *processor = static_cast<uint32_t>(std::stoul(text));
    return kProcessors.count(*processor) != 0;
}

}  // namespace cecab
