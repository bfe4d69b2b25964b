// The install header: layout written and read as the CE format note and the
// headers the CAB Wizard writes have it (a 100-byte fixed part, three strings,
// six sections of entries).
#include "tools/cecab/InstallHeader.h"

#include <algorithm>
#include <functional>

#include "tools/cecab/ByteIo.h"

namespace cecab {

namespace {

const uint16_t kMaxFileId = 998;  // .999 is the setup DLL, .000 the header
const uint16_t kMaxCeDir = 17;
const char* const kSectionNames[6] = {"STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"};

// ---- encoding ------------------------------------------------------------------

// Checks on the way that each 16-bit field can hold its value.
struct Encoder {
    std::string out;
    std::string error;

    void fits16(uint64_t value, const std::string& what)
    {
        if (value > 0xFFFF && error.empty())
            error = what + " needs " + std::to_string(value) +
                    ", more than the 65535 a 16-bit field holds";
    }
    void text(const std::string& s)
    {
        out += s;
        out.push_back('\0');
    }
    void idPath(const std::vector<uint16_t>& parts, bool terminated, const std::string& what)
    {
        size_t length = 2 * (parts.size() + (terminated ? 1 : 0));
        fits16(length, what + " length");
        putU16(&out, static_cast<uint16_t>(length));
        for (uint16_t p : parts)
            putU16(&out, p);
        if (terminated)
            putU16(&out, 0);
    }
};

// The application name, the provider and the unsupported platforms; their
// offsets and lengths go into the fixed part at 84..95.
void writeTexts(const InstallHeader& h, Encoder& e, uint16_t fields[6])
{
    size_t app = e.out.size();
    e.text(h.appName);
    size_t provider = e.out.size();
    e.text(h.provider);
    size_t unsupported = e.out.size();
    for (const std::string& platform : h.unsupported)
        e.text(platform);
    if (!h.unsupported.empty())
        e.out.push_back('\0');
    size_t end = e.out.size();
    e.fits16(provider - app, "the application name");
    e.fits16(unsupported - provider, "the provider");
    e.fits16(end - unsupported, "the unsupported platforms");
    e.fits16(unsupported, "the offset of the unsupported platforms");
    const size_t values[6] = {app,         provider - app,   provider, unsupported - provider,
                              unsupported, end - unsupported};
    for (int i = 0; i < 6; ++i)
        fields[i] = static_cast<uint16_t>(values[i]);
}

void writeSections(const InstallHeader& h, Encoder& e, uint32_t offsets[6])
{
    offsets[0] = static_cast<uint32_t>(e.out.size());
    for (const HeaderString& s : h.strings) {
        e.fits16(s.text.size() + 1, "string " + std::to_string(s.id));
        putU16(&e.out, s.id);
        putU16(&e.out, static_cast<uint16_t>(s.text.size() + 1));
        e.text(s.text);
    }
    offsets[1] = static_cast<uint32_t>(e.out.size());
    for (const HeaderDir& d : h.dirs) {
        putU16(&e.out, d.id);
        e.idPath(d.parts, true, "directory " + std::to_string(d.id));
    }
    offsets[2] = static_cast<uint32_t>(e.out.size());
    for (const HeaderFile& f : h.files) {
        e.fits16(f.name.size() + 1, "the name of file " + std::to_string(f.id));
        putU16(&e.out, f.id);
        putU16(&e.out, f.dirId);
        putU16(&e.out, f.source);
        putU32(&e.out, f.flags);
        putU16(&e.out, static_cast<uint16_t>(f.name.size() + 1));
        e.text(f.name);
    }
    offsets[3] = static_cast<uint32_t>(e.out.size());
    for (const HeaderHive& v : h.hives) {
        putU16(&e.out, v.id);
        putU16(&e.out, v.root);
        putU16(&e.out, v.unknown);
        e.idPath(v.parts, true, "hive " + std::to_string(v.id));
    }
    offsets[4] = static_cast<uint32_t>(e.out.size());
    for (const HeaderRegValue& k : h.regValues) {
        size_t length = k.name.size() + 1 + k.data.size();
        e.fits16(length, "registry value " + std::to_string(k.id));
        putU16(&e.out, k.id);
        putU16(&e.out, k.hiveId);
        putU16(&e.out, k.substitute ? 1 : 0);
        putU32(&e.out, k.typeFlags);
        putU16(&e.out, static_cast<uint16_t>(length));
        e.text(k.name);
        e.out += k.data;
    }
    offsets[5] = static_cast<uint32_t>(e.out.size());
    for (const HeaderLink& l : h.links) {
        putU16(&e.out, l.id);
        putU16(&e.out, l.unknown);
        putU16(&e.out, l.baseDir);
        putU16(&e.out, l.target);
        putU16(&e.out, l.type);
        // A path of no parts keeps its 0, so that it is no empty field.
        e.idPath(l.parts, l.parts.empty(), "link " + std::to_string(l.id));
    }
}

void writeFixedPart(const InstallHeader& h, const size_t counts[6], const uint32_t offsets[6],
                    const uint16_t texts[6], std::string* o)
{
    setU32(o, 0, kHeaderSignature);
    setU32(o, 4, h.unknown4);
    setU32(o, 8, static_cast<uint32_t>(o->size()));
    setU32(o, 12, h.unknown12);
    setU32(o, 16, h.unknown16);
    setU32(o, 20, h.architecture);
    setU32(o, 24, h.min.major);
    setU32(o, 28, h.min.minor);
    setU32(o, 32, h.max.major);
    setU32(o, 36, h.max.minor);
    setU32(o, 40, h.min.build);
    setU32(o, 44, h.max.build);
    for (int i = 0; i < 6; ++i) {
        setU16(o, 48 + 2 * i, static_cast<uint16_t>(counts[i]));
        setU32(o, 60 + 4 * i, offsets[i]);
        setU16(o, 84 + 2 * i, texts[i]);
    }
    setU16(o, 96, h.unknown96);
    setU16(o, 98, h.unknown98);
}

}  // namespace

bool operator==(const InstallHeader& a, const InstallHeader& b)
{
    auto fields = [](const InstallHeader& h) {
        return std::tie(h.architecture, h.min.major, h.min.minor, h.min.build, h.max.major,
                        h.max.minor, h.max.build, h.appName, h.provider, h.unsupported, h.strings,
                        h.dirs, h.files, h.hives, h.regValues, h.links, h.unknown4, h.unknown12,
                        h.unknown16, h.unknown96, h.unknown98);
    };
    return fields(a) == fields(b);
}

bool encodeHeader(const InstallHeader& h, std::string* result, std::string* error)
{
    Encoder e;
    e.out.assign(kFixedHeaderBytes, '\0');
    // The three strings come first: their offsets are 16-bit.
    uint16_t texts[6];
    writeTexts(h, e, texts);
    uint32_t offsets[6];
    writeSections(h, e, offsets);
    const size_t counts[6] = {h.strings.size(), h.dirs.size(),      h.files.size(),
                              h.hives.size(),   h.regValues.size(), h.links.size()};
    for (int i = 0; i < 6; ++i)
        e.fits16(counts[i], std::string("the count of ") + kSectionNames[i]);
    if (e.out.size() > 0xFFFFFFFFu && e.error.empty())
        e.error = "the header exceeds 4 GiB";
    if (!e.error.empty()) {
        *error = e.error;
        return false;
    }
    writeFixedPart(h, counts, offsets, texts, &e.out);
    *result = std::move(e.out);
    return true;
}

// ---- indexing --------------------------------------------------------------------

HeaderIndex::HeaderIndex(const InstallHeader& header) : h_(header)
{
    index(h_.strings, "STRINGS", &strings_);
    index(h_.dirs, "DIRS", &dirs_);
    index(h_.files, "FILES", &files_);
    index(h_.hives, "REGHIVES", &hives_);
    Slots values, links;  // looked up by no one: only their ids are checked
    index(h_.regValues, "REGKEYS", &values);
    index(h_.links, "LINKS", &links);
}

template <typename T>
void HeaderIndex::index(const std::vector<T>& entries, const char* section, Slots* slots)
{
    slots->reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        slots->push_back({entries[i].id, static_cast<uint32_t>(i)});
    if (!std::is_sorted(slots->begin(), slots->end()))  // writers list ids in order
        std::sort(slots->begin(), slots->end());
    for (size_t i = 1; i < slots->size(); ++i)
        if ((*slots)[i].first == (*slots)[i - 1].first)
            duplicates_.push_back(std::string(section) + " id " +
                                  std::to_string((*slots)[i].first));
}

const uint32_t* HeaderIndex::find(const Slots& slots, uint16_t id)
{
    auto it = std::lower_bound(slots.begin(), slots.end(), std::make_pair(id, uint32_t(0)));
    return it != slots.end() && it->first == id ? &it->second : nullptr;
}

const std::string* HeaderIndex::string(uint16_t id) const
{
    const uint32_t* at = find(strings_, id);
    return at ? &h_.strings[*at].text : nullptr;
}

const HeaderDir* HeaderIndex::dir(uint16_t id) const
{
    const uint32_t* at = find(dirs_, id);
    return at ? &h_.dirs[*at] : nullptr;
}

const HeaderFile* HeaderIndex::file(uint16_t id) const
{
    const uint32_t* at = find(files_, id);
    return at ? &h_.files[*at] : nullptr;
}

const HeaderHive* HeaderIndex::hive(uint16_t id) const
{
    const uint32_t* at = find(hives_, id);
    return at ? &h_.hives[*at] : nullptr;
}

std::string HeaderIndex::join(const std::vector<uint16_t>& parts) const
{
    std::string path;
    for (uint16_t id : parts) {
        const std::string* s = string(id);
        if (!path.empty())
            path += '\\';
        path += s ? *s : "<?" + std::to_string(id) + ">";
    }
    return path;
}

// ---- decoding ------------------------------------------------------------------

namespace {

// Reads consecutive fields; once one does not fit, ok stays false.
struct Cursor {
    const ByteReader& r;
    uint64_t at;
    bool ok = true;

    Cursor& u16(uint16_t* value)
    {
        ok = ok && r.u16(at, value);
        at += 2;
        return *this;
    }
    Cursor& u32(uint32_t* value)
    {
        ok = ok && r.u32(at, value);
        at += 4;
        return *this;
    }
};

class Decoder {
public:
    Decoder(const uint8_t* data, size_t size, std::vector<HeaderProblem>* problems)
        : r_(data, size), problems_(problems)
    {}

    void problem(const std::string& where, const std::string& message)
    {
        problems_->push_back({where, message});
    }

    std::string span(uint64_t offset, uint64_t length) const
    {
        return "bytes " + std::to_string(offset) + ".." + std::to_string(offset + length) +
               " lie outside the file (" + std::to_string(r_.size()) + " bytes)";
    }

    // A string of `length` bytes: its text, a terminator, and at most the NUL
    // padding that brings the length to a multiple of 4; false after a problem.
    bool terminated(uint64_t offset, uint64_t length, const std::string& where, std::string* out)
    {
        if (!r_.bytes(offset, length, out)) {
            problem(where, span(offset, length));
            return false;
        }
        size_t nul = out->find('\0');
        if (nul == std::string::npos) {
            problem(where, "string without a terminator");
            return false;
        }
        bool padding = out->find_first_not_of('\0', nul) == std::string::npos &&
                       (nul + 1 == length || (length % 4 == 0 && length - nul - 1 < 4));
        if (!padding) {
            problem(where, "a NUL inside the string cuts it short");
            return false;
        }
        out->resize(nul);
        return true;
    }

    // A list of string ids of `length` bytes that ends with 0; the 0 may be
    // missing where `terminatorOptional` (a link's path).
    bool idPath(uint64_t offset, uint16_t length, bool terminatorOptional, const std::string& where,
                std::vector<uint16_t>* parts)
    {
        if (!r_.fits(offset, length)) {
            problem(where, span(offset, length));
            return false;
        }
        if (length < 2 || length % 2 != 0) {
            problem(where, "a path of " + std::to_string(length) +
                               " bytes: it must be an even number, at least 2");
            return false;
        }
        for (uint16_t i = 0; i < length; i += 2) {
            uint16_t id = 0;
            r_.u16(offset + i, &id);
            bool last = i + 2 == length;
            if (id == 0 && !last) {
                problem(where, "a 0 inside the path cuts it short");
                return false;
            }
            if (last && id != 0 && !terminatorOptional) {
                problem(where, "the path does not end with 0");
                return false;
            }
            if (id != 0)
                parts->push_back(id);
        }
        return true;
    }

    // Reads `count` entries from `offset`, each by `entry` (which returns the
    // entry's end, or 0 after a problem), and stops at the first one that
    // leaves the file or runs into the next part of the header.
    void section(int index, uint16_t count, uint32_t offset, uint64_t limit,
                 const std::function<uint64_t(uint64_t, const std::string&)>& entry)
    {
        const std::string name = kSectionNames[index];
        if (count == 0)
            return;
        if (offset < kFixedHeaderBytes) {
            problem(name, "starts at " + std::to_string(offset) + ", inside the fixed header");
            return;
        }
        uint64_t at = offset;
        for (uint16_t i = 0; i < count; ++i) {
            std::string where = name + " entry " + std::to_string(i + 1);
            if (at >= r_.size()) {
                problem(name, "the count says " + std::to_string(count) +
                                  " entries, the file ends after " + std::to_string(i));
                return;
            }
            if (at >= limit) {
                problem(where, "starts where the next part of the header begins: the count (" +
                                   std::to_string(count) + ") does not match");
                return;
            }
            uint64_t end = entry(at, where);
            if (end == 0)
                return;
            if (end > limit) {
                problem(where, "runs into the next part of the header at " + std::to_string(limit) +
                                   ": the count (" + std::to_string(count) + ") does not match");
                return;
            }
            at = end;
        }
    }

    // Whether a cursor's fixed fields fitted; a problem when not.
    bool fields(const Cursor& c, uint64_t at, const std::string& where)
    {
        if (!c.ok)
            problem(where, span(at, c.at - at));
        return c.ok;
    }

    const ByteReader& reader() const { return r_; }

private:
    ByteReader r_;
    std::vector<HeaderProblem>* problems_;
};

// Where each part of the header starts, from the fixed part.
struct Map {
    uint16_t counts[6];
    uint32_t offsets[6];
    uint16_t texts[6];  // offset and length of application, provider, unsupported
    std::vector<uint64_t> starts;
    uint64_t size = 0;

    // Each part of the header ends where the next one begins.
    uint64_t limitAfter(uint64_t offset) const
    {
        auto next = std::upper_bound(starts.begin(), starts.end(), offset);
        return next == starts.end() ? size : *next;
    }
};

// The fixed part: false when there is no header at all.
bool readFixedPart(Decoder& d, InstallHeader* h, Map* m)
{
    const ByteReader& r = d.reader();
    uint32_t signature = 0;
    if (!r.u32(0, &signature) || r.size() < kFixedHeaderBytes) {
        d.problem("fixed header", "truncated: " + std::to_string(r.size()) +
                                      " bytes, the fixed header alone takes 100");
        return false;
    }
    if (signature != kHeaderSignature) {
        d.problem("fixed header", "no \"MSCE\" signature: not an install header");
        return false;
    }
    uint32_t length = 0;
    r.u32(4, &h->unknown4);
    r.u32(8, &length);
    r.u32(12, &h->unknown12);
    r.u32(16, &h->unknown16);
    r.u32(20, &h->architecture);
    r.u32(24, &h->min.major);
    r.u32(28, &h->min.minor);
    r.u32(32, &h->max.major);
    r.u32(36, &h->max.minor);
    r.u32(40, &h->min.build);
    r.u32(44, &h->max.build);
    for (int i = 0; i < 6; ++i) {
        r.u16(48 + 2 * i, &m->counts[i]);
        r.u32(60 + 4 * i, &m->offsets[i]);
        r.u16(84 + 2 * i, &m->texts[i]);
    }
    r.u16(96, &h->unknown96);
    r.u16(98, &h->unknown98);
    if (length != r.size())
        d.problem("fixed header", "the length field says " + std::to_string(length) +
                                      " bytes, the file has " + std::to_string(r.size()));
    m->size = r.size();
    for (int i = 0; i < 6; ++i)
        if (m->counts[i] > 0)
            m->starts.push_back(m->offsets[i]);
    for (int i = 0; i < 3; ++i)
        if (m->texts[2 * i + 1] > 0)
            m->starts.push_back(m->texts[2 * i]);
    std::sort(m->starts.begin(), m->starts.end());
    if (std::adjacent_find(m->starts.begin(), m->starts.end()) != m->starts.end())
        d.problem("fixed header", "two parts of the header start at the same offset");
    return true;
}

// The unsupported platforms: strings, each terminated, then an empty one.
void readUnsupported(Decoder& d, const std::string& list, InstallHeader* h)
{
    size_t at = 0;
    while (at < list.size()) {
        size_t nul = list.find('\0', at);
        if (nul == std::string::npos) {
            d.problem("UNSUPPORTED", "the list does not end with an empty string");
            return;
        }
        if (nul == at) {
            if (list.find_first_not_of('\0', nul) != std::string::npos)
                d.problem("UNSUPPORTED", "bytes after the empty string that ends the list");
            return;
        }
        h->unsupported.push_back(list.substr(at, nul - at));
        at = nul + 1;
    }
}

void readTexts(Decoder& d, const Map& m, InstallHeader* h)
{
    if (m.texts[1] > 0)
        d.terminated(m.texts[0], m.texts[1], "APPNAME", &h->appName);
    if (m.texts[3] > 0)
        d.terminated(m.texts[2], m.texts[3], "PROVIDER", &h->provider);
    std::string list;
    if (m.texts[5] > 0 && !d.reader().bytes(m.texts[4], m.texts[5], &list))
        d.problem("UNSUPPORTED", d.span(m.texts[4], m.texts[5]));
    else
        readUnsupported(d, list, h);
}

// Each entry: fixed fields through a cursor, then its variable part. Each
// reader returns the entry's end, or 0 after a problem.
using EntryReader = uint64_t (*)(Decoder&, uint64_t, const std::string&, InstallHeader*);

uint64_t readString(Decoder& d, uint64_t at, const std::string& where, InstallHeader* h)
{
    HeaderString s;
    uint16_t n = 0;
    Cursor c{d.reader(), at};
    c.u16(&s.id).u16(&n);
    if (!d.fields(c, at, where) || !d.terminated(c.at, n, where, &s.text))
        return 0;
    h->strings.push_back(s);
    return c.at + n;
}

uint64_t readDir(Decoder& d, uint64_t at, const std::string& where, InstallHeader* h)
{
    HeaderDir dir;
    uint16_t n = 0;
    Cursor c{d.reader(), at};
    c.u16(&dir.id).u16(&n);
    if (!d.fields(c, at, where) || !d.idPath(c.at, n, false, where, &dir.parts))
        return 0;
    h->dirs.push_back(dir);
    return c.at + n;
}

uint64_t readFile(Decoder& d, uint64_t at, const std::string& where, InstallHeader* h)
{
    HeaderFile f;
    uint16_t n = 0;
    Cursor c{d.reader(), at};
    c.u16(&f.id).u16(&f.dirId).u16(&f.source).u32(&f.flags).u16(&n);
    if (!d.fields(c, at, where) || !d.terminated(c.at, n, where, &f.name))
        return 0;
    h->files.push_back(f);
    return c.at + n;
}

uint64_t readHive(Decoder& d, uint64_t at, const std::string& where, InstallHeader* h)
{
    HeaderHive v;
    uint16_t n = 0;
    Cursor c{d.reader(), at};
    c.u16(&v.id).u16(&v.root).u16(&v.unknown).u16(&n);
    if (!d.fields(c, at, where) || !d.idPath(c.at, n, false, where, &v.parts))
        return 0;
    h->hives.push_back(v);
    return c.at + n;
}

uint64_t readValue(Decoder& d, uint64_t at, const std::string& where, InstallHeader* h)
{
    HeaderRegValue k;
    uint16_t substitute = 0;
    uint16_t n = 0;
    std::string bytes;
    Cursor c{d.reader(), at};
    c.u16(&k.id).u16(&k.hiveId).u16(&substitute).u32(&k.typeFlags).u16(&n);
    if (!d.fields(c, at, where))
        return 0;
    if (!d.reader().bytes(c.at, n, &bytes)) {
        d.problem(where, d.span(c.at, n));
        return 0;
    }
    size_t nul = bytes.find('\0');
    if (nul == std::string::npos) {
        d.problem(where, "the value's name has no terminator");
        return 0;
    }
    if (substitute > 1)
        d.problem(where,
                  "the substitution flag is " + std::to_string(substitute) + ", neither 0 nor 1");
    k.substitute = substitute != 0;
    k.name = bytes.substr(0, nul);
    k.data = bytes.substr(nul + 1);
    h->regValues.push_back(k);
    return c.at + n;
}

uint64_t readLink(Decoder& d, uint64_t at, const std::string& where, InstallHeader* h)
{
    HeaderLink l;
    uint16_t n = 0;
    Cursor c{d.reader(), at};
    c.u16(&l.id).u16(&l.unknown).u16(&l.baseDir).u16(&l.target).u16(&l.type).u16(&n);
    if (!d.fields(c, at, where) || !d.idPath(c.at, n, true, where, &l.parts))
        return 0;
    h->links.push_back(l);
    return c.at + n;
}

void readSections(Decoder& d, const Map& m, InstallHeader* h)
{
    const EntryReader readers[6] = {readString, readDir, readFile, readHive, readValue, readLink};
    for (int i = 0; i < 6; ++i)
        d.section(
            i, m.counts[i], m.offsets[i], m.limitAfter(m.offsets[i]),
            [&](uint64_t at, const std::string& where) { return readers[i](d, at, where, h); });
}

void checkValueData(Decoder& d, const HeaderRegValue& k, const std::string& where)
{
    uint32_t type = k.typeFlags & kRegTypeMask;
    const std::string& v = k.data;
    if (type == kRegDword && v.size() != 4)
        d.problem(where, "a DWORD of " + std::to_string(v.size()) + " bytes");
    if (type == kRegString && (v.empty() || v.back() != '\0'))
        d.problem(where, "a string value without a terminator");
    if (type == kRegMultiString && v != std::string(1, '\0') &&
        (v.size() < 2 || v.compare(v.size() - 2, 2, std::string(2, '\0')) != 0))
        d.problem(where, "a multi-string that does not end with an empty string");
}

// References between the sections, each id looked up in the index.
void checkReferences(Decoder& d, const InstallHeader& h)
{
    HeaderIndex index(h);
    for (const std::string& duplicate : index.duplicates())
        d.problem(duplicate.substr(0, duplicate.find(' ')),
                  duplicate.substr(duplicate.find(' ') + 1) + " is used twice");
    auto checkParts = [&](const std::string& where, const std::vector<uint16_t>& parts) {
        for (uint16_t id : parts)
            if (!index.string(id))
                d.problem(where,
                          "refers to string " + std::to_string(id) + ", which STRINGS lacks");
    };
    for (const HeaderDir& dir : h.dirs)
        checkParts("DIRS id " + std::to_string(dir.id), dir.parts);
    for (const HeaderFile& f : h.files) {
        std::string where = "FILES id " + std::to_string(f.id);
        if (f.id == 0 || f.id > kMaxFileId)
            d.problem(where, "a file number outside 1..998");
        if (!index.dir(f.dirId))
            d.problem(where,
                      "refers to directory " + std::to_string(f.dirId) + ", which DIRS lacks");
    }
    for (const HeaderHive& v : h.hives) {
        std::string where = "REGHIVES id " + std::to_string(v.id);
        if (v.root < kHkcr || v.root > kHku)
            d.problem(where, "root " + std::to_string(v.root) + " is none of 1..4");
        checkParts(where, v.parts);
    }
    for (const HeaderRegValue& k : h.regValues) {
        std::string where = "REGKEYS id " + std::to_string(k.id);
        if (!index.hive(k.hiveId))
            d.problem(where,
                      "refers to hive " + std::to_string(k.hiveId) + ", which REGHIVES lacks");
        checkValueData(d, k, where);
    }
    for (const HeaderLink& l : h.links) {
        std::string where = "LINKS id " + std::to_string(l.id);
        if (l.baseDir > kMaxCeDir)
            d.problem(where, "base directory " + std::to_string(l.baseDir) + " is none of 0..17");
        bool known = l.type == 0 ? (l.target == 0 || index.dir(l.target) != nullptr)
                                 : index.file(l.target) != nullptr;
        if (l.type > 1)
            d.problem(where, "link type " + std::to_string(l.type) + " is neither 0 nor 1");
        else if (!known)
            d.problem(where, "points to the unknown " +
                                 std::string(l.type == 0 ? "directory " : "file ") +
                                 std::to_string(l.target));
        checkParts(where, l.parts);
    }
}

}  // namespace

InstallHeader decodeHeader(const uint8_t* data, size_t size, std::vector<HeaderProblem>* problems)
{
    InstallHeader h;
    Decoder d(data, size, problems);
    Map map;
    if (!readFixedPart(d, &h, &map))
        return h;
    readTexts(d, map, &h);
    readSections(d, map, &h);
    checkReferences(d, h);
    return h;
}

std::vector<std::string> splitStrings(const std::string& data)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < data.size()) {
        size_t nul = data.find('\0', at);
        if (nul == at)
            break;
        out.push_back(data.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
        if (nul == std::string::npos)
            break;
        at = nul + 1;
    }
    return out;
}

}  // namespace cecab
