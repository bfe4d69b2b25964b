// The rehearsal's list check: each name the shipped reader hands out placed
// on its line, and a byte-level lint that explains surprises.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>

#include "base/WideText.h"
#include "common/SharedTexts.h"
#include "device/sim/SimDevice.h"
#include "launcher/CabList.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Rehearsal.h"

namespace kit {

namespace {

using device::kAttrDirectory;
using device::kAttrHidden;
using hosttext::decodeUtf8;
using hosttext::inWindows1252;
using hosttext::undefinedIn1252;
using hosttext::utf8;
using vorlund::CabListReader;
using vorlund::kCabExtension;
using vorlund::kCabListName;

// A line of the file as an editor numbers it: CR LF, a lone CR and a lone LF
// each end one. [start, end) excludes the line break.
struct RawLine {
    size_t start;
    size_t end;
    int number;
};

std::vector<RawLine> splitLines(const std::string& bytes)
{
    std::vector<RawLine> lines;
    size_t start = 0;
    int number = 1;
    size_t i = 0;
    while (i < bytes.size()) {
        if (bytes[i] != '\r' && bytes[i] != '\n') {
            ++i;
            continue;
        }
        lines.push_back({start, i, number++});
        bool crlf = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
        i += crlf ? 2 : 1;
        start = i;
    }
    if (start < bytes.size())
        lines.push_back({start, bytes.size(), number});
    return lines;
}

// The line that holds byte `offset`.
const RawLine& lineAt(const std::vector<RawLine>& lines, size_t offset)
{
    auto it = std::upper_bound(lines.begin(), lines.end(), offset,
                               [](size_t o, const RawLine& l) { return o < l.start; });
    return *(it - 1);
}

// One name as the shipped reader hands it out, with where its bytes are.
struct ReadName {
    std::wstring name;
    size_t start;
    size_t end;
};

std::vector<ReadName> readAsDevice(const std::wstring& listPath)
{
    std::vector<ReadName> names;
    std::unique_ptr<CabListReader> reader(new CabListReader());
    if (!vorlund::openList(reader.get(), listPath.c_str()))
        return names;
    // Every block but the last is a full kReadBlockBytes, one read each: the
    // name handed out ends in the block of the last read. The reader's
    // position is the end of the name in that block (for a name completed
    // through the carry too); the simulated device's code page gives one
    // wide character per byte, so the name's length is its bytes'.
    const int readsBefore = sim::current().callCount(sim::Op::ReadBytes);
    for (const wchar_t* name; (name = vorlund::nextListedName(reader.get())) != nullptr;) {
        size_t blocksBefore = sim::current().callCount(sim::Op::ReadBytes) - readsBefore - 1;
        size_t end = blocksBefore * device::kReadBlockBytes + static_cast<size_t>(reader->position);
        size_t length = std::wcslen(name);
        names.push_back({name, end - length, end});
    }
    vorlund::closeList(reader.get());
    return names;
}

// Edit distance with transpositions, 3 meaning "3 or more".
int distance(const std::wstring& a, const std::wstring& b)
{
    if (a.size() > b.size() + 2 || b.size() > a.size() + 2)
        return 3;
    std::vector<std::vector<int>> d(a.size() + 1, std::vector<int>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = static_cast<int>(i);
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = static_cast<int>(j);
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return std::min(d[a.size()][b.size()], 3);
}

bool hasWildcard(const std::wstring& name)
{
    return name.find_first_of(L"*?") != std::wstring::npos;
}

bool isUtf16(const std::string& bytes)
{
    if (bytes.size() >= 2 &&
        ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
        return true;
    // Without a mark: text whose every other byte is NUL.
    size_t zeros = 0;
    for (size_t i = 1; i < bytes.size(); i += 2)
        zeros += bytes[i] == 0 ? 1 : 0;
    return bytes.size() >= 4 && zeros * 2 >= bytes.size() / 2;
}

// Lint of one line's bytes: what the reader keeps that a person would not
// expect. None of it decides which names exist.
void lintLine(const std::string& raw, int line, Findings* out)
{
    if (!raw.empty() &&
        (raw.front() == ' ' || raw.front() == '\t' || raw.back() == ' ' || raw.back() == '\t')) {
        bool front = raw.front() == ' ' || raw.front() == '\t';
        std::string what = front ? (raw.front() == ' ' ? "a leading space" : "a leading tab")
                                 : (raw.back() == ' ' ? "a trailing space" : "a trailing tab");
        out->push_back(
            lineFinding(Code::Whitespace, line,
                        "has " + what + ": the device keeps spaces and tabs in the name"));
    }
    size_t nul = raw.find('\0');
    if (nul != std::string::npos)
        out->push_back(
            lineFinding(Code::Nul, line,
                        "holds a NUL byte: the device reads no further in this 4096-byte block"));
    for (unsigned char c : raw) {
        if ((c < 0x20 && c != '\t' && c != 0) || c == 0x7F) {
            out->push_back(lineFinding(Code::Control, line,
                                       "holds the control character " + shown(std::wstring(1, c)) +
                                           ", which no file name can hold"));
            break;
        }
    }
    std::string text = raw.substr(0, nul);
    if (std::none_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return;
    std::wstring decoded;
    bool multibyte = false;
    if (decodeUtf8(text, &decoded, &multibyte) && multibyte) {
        std::string message =
            "is UTF-8 text (" + inQuotes(decoded) +
            "), but the device reads Windows-1252: " + inQuotes(hosttext::fromAnsi(text));
        auto lost = std::find_if(decoded.begin(), decoded.end(),
                                 [](wchar_t c) { return !inWindows1252(c); });
        if (lost != decoded.end())
            message += "; " + inQuotes(std::wstring(1, *lost)) +
                       " has no Windows-1252 form, so no list can name that file: rename it";
        else
            message += "; save the list as Windows-1252 (ANSI)";
        out->push_back(lineFinding(Code::Encoding, line, message));
        return;
    }
    for (unsigned char c : text) {
        if (undefinedIn1252(c)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", c);
            out->push_back(lineFinding(Code::Encoding, line,
                                       std::string("holds the byte ") + hex +
                                           ", which is no character in Windows-1252"));
            return;
        }
    }
}

// The entry of `directory` most like the missing `name`, relative to
// `directory`; empty when none is close.
std::wstring nearMiss(const std::wstring& directory, const std::wstring& name)
{
    sim::Device& dev = sim::current();
    size_t cut = name.find_last_of(L"\\/");
    std::wstring sub = cut == std::wstring::npos ? L"" : name.substr(0, cut + 1);
    std::wstring wanted = hosttext::folded(hosttext::lastComponent(name));
    std::wstring best;
    int bestScore = 4;
    for (const std::wstring& entry : dev.list(directory + sub)) {
        std::wstring candidate = hosttext::folded(entry);
        const std::wstring& shorter = candidate.size() < wanted.size() ? candidate : wanted;
        const std::wstring& longer = candidate.size() < wanted.size() ? wanted : candidate;
        // Short names are all close to each other: allow fewer edits there.
        int allowed = shorter.size() >= 6 ? 2 : shorter.size() >= 3 ? 1 : 0;
        int score = distance(wanted, candidate);
        // "maps.cab" against "maps.cab.cab", "maps.cabx", "maps" or " maps.cab".
        if (score > allowed && shorter.size() >= 4 && longer.find(shorter) != std::wstring::npos)
            score = 3;
        else if (score > allowed)
            continue;
        if (score < bestScore) {
            bestScore = score;
            best = sub + entry;
        }
    }
    return best;
}

// The list of one directory checked: its bytes linted line by line, each
// name the device reads placed on its line and judged, the lines it never reads.
class ListCheck {
public:
    explicit ListCheck(const std::wstring& directory);
    ListReport run();

private:
    void lintBytes();
    void placeName(const ReadName& n);
    void skipped(const ReadName& n, const device::FoundEntry* entry, ListLine* l);
    void taken(const ReadName& n, const device::FoundEntry& entry, const ListLine& l);
    void unreadLines();
    void add(Code code, int line, const std::string& message)
    {
        report_.findings.push_back(lineFinding(code, line, message));
    }

    struct Placed {
        size_t offset;
        ListLine line;
    };
    sim::Device& dev_;
    const std::wstring& directory_;
    std::string bytes_;
    std::string listName_;
    std::vector<RawLine> lines_;
    std::vector<ReadName> names_;
    bool utf16_ = false;
    std::vector<Placed> placed_;
    std::map<std::wstring, int> firstLine_;  // canonical path -> first line naming it
    std::vector<bool> lineRead_;
    ListReport report_;
};

ListCheck::ListCheck(const std::wstring& directory) : dev_(sim::current()), directory_(directory)
{
    const sim::FileNode* node = dev_.node(directory + kCabListName);
    bytes_ = node ? node->content : std::string();
    listName_ = node ? utf8(node->name) : utf8(kCabListName);
    lines_ = splitLines(bytes_);
    names_ = readAsDevice(directory + kCabListName);
    lineRead_.assign(lines_.size() + 2, false);
}

ListReport ListCheck::run()
{
    lintBytes();
    for (const ReadName& n : names_)
        placeName(n);
    unreadLines();
    if (names_.empty())
        add(Code::EmptyList, 0, listName_ + " names no CAB: nothing is installed");
    std::stable_sort(placed_.begin(), placed_.end(),
                     [](const Placed& a, const Placed& b) { return a.offset < b.offset; });
    for (Placed& p : placed_)
        report_.lines.push_back(p.line);
    return report_;
}

// Byte-level lint, per line.
void ListCheck::lintBytes()
{
    utf16_ = isUtf16(bytes_);
    if (utf16_) {
        add(Code::Encoding, 1,
            "the list is UTF-16 text, but the device reads 8-bit Windows-1252 text: save it as "
            "Windows-1252 (ANSI)");
        return;
    }
    bool bom = bytes_.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (bom) {
        std::string first = names_.empty() ? "" : ": " + inQuotes(names_.front().name);
        add(Code::Bom, 1,
            "starts with a UTF-8 byte-order mark, which the device reads into the first name" +
                first + "; save without it");
    }
    for (const RawLine& l : lines_) {
        size_t from = l.start == 0 && bom ? 3 : l.start;
        if (from < l.end)
            lintLine(bytes_.substr(from, l.end - from), l.number, &report_.findings);
    }
}

// A name the device reads, on its line, with what the launcher's own test
// and search make of it.
void ListCheck::placeName(const ReadName& n)
{
    const RawLine& raw = lineAt(lines_, n.start);
    lineRead_[raw.number] = true;
    ListLine l;
    l.line = raw.number;
    l.name = n.name;
    l.partial = n.start != raw.start || n.end != raw.end;
    if (l.partial)
        add(Code::Partial, l.line, "the device reads only " + inQuotes(n.name) + " of this line");
    // As the launcher builds it: a device directory and a listed name always fit.
    l.path = directory_ + n.name;
    l.installable = vorlund::isInstallableFile(l.path.c_str());
    device::FoundEntry entry;
    bool found = device::findFirst(l.path.c_str(), &entry);
    if (!l.installable)
        skipped(n, found ? &entry : nullptr, &l);
    else
        taken(n, entry, l);
    std::wstring key = dev_.canonical(l.path);
    auto earlier = firstLine_.find(key);
    if (earlier != firstLine_.end()) {
        l.repeats = earlier->second;
        add(Code::Duplicate, l.line,
            inQuotes(n.name) + " repeats line " + std::to_string(earlier->second) +
                (l.installable ? ": the device installs it twice" : ""));
    } else {
        firstLine_[key] = l.line;
    }
    placed_.push_back({n.start, l});
}

// Why the device skips a name, and what it might have meant.
void ListCheck::skipped(const ReadName& n, const device::FoundEntry* entry, ListLine* l)
{
    std::string what;
    Code code = Code::Missing;
    if (!entry) {
        l->skipReason = "no such file";
        what = hasWildcard(n.name) ? "no file matches this wildcard" : "no such file";
        std::wstring near = hasWildcard(n.name) ? L"" : nearMiss(directory_, n.name);
        size_t cut = n.name.find_last_of(L"\\/");
        const sim::FileNode* sub =
            cut == std::wstring::npos ? nullptr : dev_.node(directory_ + n.name.substr(0, cut));
        if (cut != std::wstring::npos && (sub == nullptr || !(sub->attributes & kAttrDirectory)))
            what = "no directory " + inQuotes(n.name.substr(0, cut));
        else if (!near.empty())
            what += " (did you mean " + inQuotes(near) + "?)";
    } else if (entry->attributes & kAttrDirectory) {
        l->skipReason = what = "a directory";
        code = Code::Directory;
    } else if (entry->attributes & kAttrHidden) {
        l->skipReason = what = "hidden";
        code = Code::Hidden;
    } else {
        l->skipReason = what = "system";
        code = Code::System;
    }
    add(code, l->line, inQuotes(n.name) + ": " + what + "; the device skips it without a word");
}

// What surprises a name the device takes may hold.
void ListCheck::taken(const ReadName& n, const device::FoundEntry& entry, const ListLine& l)
{
    if (hasWildcard(n.name))
        add(Code::Wildcard, l.line,
            inQuotes(n.name) + " holds a wildcard: the device's check finds " +
                inQuotes(entry.name) +
                ", but the installer is handed the name with the wildcard in it");
    else if (hosttext::lastComponent(n.name) != entry.name)
        add(Code::Case, l.line,
            inQuotes(n.name) + " names " + inQuotes(entry.name) +
                " (letter case does not matter on the device)");
    if (!vorlund::endsWithIgnoringCase(n.name.c_str(), kCabExtension))
        add(Code::NotCab, l.line,
            inQuotes(n.name) + " does not end in .cab: the installer is run on it all the same, "
                               "and the sweep leaves it");
}

// Lines with bytes that no name came from.
void ListCheck::unreadLines()
{
    int nulLine = 0;  // the last line so far that holds a NUL byte
    for (const RawLine& raw : lines_) {
        if (std::memchr(bytes_.data() + raw.start, 0, raw.end - raw.start) != nullptr)
            nulLine = raw.number;
        if (raw.end == raw.start || lineRead_[raw.number])
            continue;
        std::string text = bytes_.substr(raw.start, raw.end - raw.start);
        ListLine l;
        l.line = raw.number;
        l.name = hosttext::fromAnsi(text);
        l.read = false;
        size_t beforeNul = std::min(text.find('\0'), text.size());
        if (beforeNul > static_cast<size_t>(device::kMaxNameBytes)) {
            l.skipReason = "over 255 bytes";
            add(Code::TooLong, l.line,
                std::to_string(beforeNul) +
                    " bytes long: the device passes over names longer than 255 bytes");
        } else if (nulLine != 0) {
            l.skipReason = "after a NUL byte";
            if (!utf16_ && nulLine != raw.number)
                add(Code::Unread, l.line,
                    "never read: the NUL byte on line " + std::to_string(nulLine) +
                        " ends the device's reading of its 4096-byte block");
        } else {
            l.skipReason = "never read";
            add(Code::Unread, l.line, "never read by the device");
        }
        placed_.push_back({raw.start, l});
    }
}

}  // namespace

ListReport checkList(const std::wstring& directory)
{
    return ListCheck(directory).run();
}

}  // namespace kit
