// CE member names, cabinet order and the %CEn% directories.
#include "tools/cecab/CeFiles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

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

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string memberName(const std::string& trueName, int number)
{
    size_t dot = trueName.rfind('.');
    std::string stem = dot == std::string::npos ? trueName : trueName.substr(0, dot);
    std::string base;
    if (!stem.empty() && stem.size() <= 8 && std::all_of(stem.begin(), stem.end(), plain)) {
        base = stem;
    } else {
        for (char c : stem) {
            if (plain(c) && base.size() < 6)
                base.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
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

void sortForCabinet(std::vector<Member>* members)
{
    std::stable_sort(members->begin(), members->end(), [](const Member& a, const Member& b) {
        int x = memberNumber(a.name);
        int y = memberNumber(b.name);
        if ((x == kHeaderNumber) != (y == kHeaderNumber))
            return x == kHeaderNumber;
        return x > y;
    });
}

const char* ceDirectory(int n)
{
    return n >= 1 && n <= 17 ? kCeDirectories[n - 1] : nullptr;
}

std::string expandMacros(const std::string& text, const std::string& installDir, int* unresolved)
{
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t open = text.find('%', at);
        size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, open - at);
        std::string macro = lower(text.substr(open + 1, close - open - 1));
        const char* replacement = nullptr;
        std::string expanded;
        if (macro == "installdir") {
            expanded = installDir;
            replacement = expanded.c_str();
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
    return lower(a) == lower(b);
}

}  // namespace cecab
