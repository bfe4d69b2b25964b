// The install header: layout written and read as the CE format note has it
// (a 100-byte fixed part, three strings, six sections of entries).
#include "tools/cecab/InstallHeader.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "tools/cecab/ByteIo.h"

namespace cecab {

namespace {

const uint16_t kMaxFileId = 998;  // .999 is the setup DLL, .000 the header
const uint16_t kMaxCeDir = 17;

// ---- encoding ------------------------------------------------------------------

// Checks on the way that each 16-bit field can hold its value.
struct Encoder {
    std::string out;
    std::string error;

    bool fits16(uint64_t value, const std::string& what)
    {
        if (value > 0xFFFF && error.empty())
            error = what + " needs " + std::to_string(value) +
                    ", more than the 65535 a 16-bit field holds";
        return error.empty();
    }
    void text(const std::string& s)
    {
        out += s;
        out.push_back('\0');
    }
    void idPath(const std::vector<uint16_t>& parts, const std::string& what)
    {
        fits16(2 * (parts.size() + 1), what + " length");
        putU16(&out, static_cast<uint16_t>(2 * (parts.size() + 1)));
        for (uint16_t p : parts)
            putU16(&out, p);
        putU16(&out, 0);
    }
};

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
    size_t appOffset = e.out.size();
    e.text(h.appName);
    size_t providerOffset = e.out.size();
    e.text(h.provider);
    size_t unsupportedOffset = e.out.size();
    for (const std::string& platform : h.unsupported)
        e.text(platform);
    if (!h.unsupported.empty())
        e.out.push_back('\0');
    size_t unsupportedLength = e.out.size() - unsupportedOffset;
    e.fits16(providerOffset - appOffset, "the application name");
    e.fits16(unsupportedOffset - providerOffset, "the provider");
    e.fits16(unsupportedLength, "the unsupported platforms");
    e.fits16(unsupportedOffset, "the offset of the unsupported platforms");

    uint32_t offsets[6];
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
        e.idPath(d.parts, "directory " + std::to_string(d.id));
    }
    offsets[2] = static_cast<uint32_t>(e.out.size());
    for (const HeaderFile& f : h.files) {
        e.fits16(f.name.size() + 1, "the name of file " + std::to_string(f.id));
        putU16(&e.out, f.id);
        putU16(&e.out, f.dirId);
        putU16(&e.out, f.unknown);
        putU32(&e.out, f.flags);
        putU16(&e.out, static_cast<uint16_t>(f.name.size() + 1));
        e.text(f.name);
    }
    offsets[3] = static_cast<uint32_t>(e.out.size());
    for (const HeaderHive& v : h.hives) {
        putU16(&e.out, v.id);
        putU16(&e.out, v.root);
        putU16(&e.out, v.unknown);
        e.idPath(v.parts, "hive " + std::to_string(v.id));
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
        e.idPath(l.parts, "link " + std::to_string(l.id));
    }
    const size_t counts[6] = {h.strings.size(), h.dirs.size(),      h.files.size(),
                              h.hives.size(),   h.regValues.size(), h.links.size()};
    const char* names[6] = {"STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"};
    for (int i = 0; i < 6; ++i)
        e.fits16(counts[i], std::string("the count of ") + names[i]);
    if (e.out.size() > 0xFFFFFFFFu && e.error.empty())
        e.error = "the header exceeds 4 GiB";
    if (!e.error.empty()) {
        *error = e.error;
        return false;
    }

    std::string& o = e.out;
    setU32(&o, 0, kHeaderSignature);
    setU32(&o, 4, h.unknown4);
    setU32(&o, 8, static_cast<uint32_t>(o.size()));
    setU32(&o, 12, h.unknown12);
    setU32(&o, 16, h.unknown16);
    setU32(&o, 20, h.architecture);
    setU32(&o, 24, h.min.major);
    setU32(&o, 28, h.min.minor);
    setU32(&o, 32, h.max.major);
    setU32(&o, 36, h.max.minor);
    setU32(&o, 40, h.min.build);
    setU32(&o, 44, h.max.build);
    for (int i = 0; i < 6; ++i) {
        setU16(&o, 48 + 2 * i, static_cast<uint16_t>(counts[i]));
        setU32(&o, 60 + 4 * i, offsets[i]);
    }
    setU16(&o, 84, static_cast<uint16_t>(appOffset));
    setU16(&o, 86, static_cast<uint16_t>(providerOffset - appOffset));
    setU16(&o, 88, static_cast<uint16_t>(providerOffset));
    setU16(&o, 90, static_cast<uint16_t>(unsupportedOffset - providerOffset));
    setU16(&o, 92, static_cast<uint16_t>(unsupportedOffset));
    setU16(&o, 94, static_cast<uint16_t>(unsupportedLength));
    setU16(&o, 96, h.unknown96);
    setU16(&o, 98, h.unknown98);
    *result = std::move(o);
    return true;
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

    // A terminated string of exactly `length` bytes; false after a problem.
    bool terminated(uint64_t offset, uint64_t length, const std::string& where, std::string* out)
    {
        if (!r_.bytes(offset, length, out)) {
            problem(where, span(offset, length));
            return false;
        }
        if (length == 0 || out->back() != '\0') {
            problem(where, "string without a terminator");
            return false;
        }
        out->pop_back();
        if (out->find('\0') != std::string::npos) {
            problem(where, "a NUL inside the string cuts it short");
            return false;
        }
        return true;
    }

    // A 0-terminated list of string ids of `length` bytes.
    bool idPath(uint64_t offset, uint16_t length, const std::string& where,
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
            if (last != (id == 0)) {
                problem(where, last ? "the path does not end with 0"
                                    : "a 0 inside the path cuts it short");
                return false;
            }
            if (!last)
                parts->push_back(id);
        }
        return true;
    }

    // Reads `count` entries from `offset`, each by `entry` (which returns the
    // entry's end, or 0 after a problem), and stops at the first one that
    // leaves the file or runs into the next section.
    void section(const char* name, uint16_t count, uint32_t offset, uint64_t limit,
                 const std::function<uint64_t(uint64_t, const std::string&)>& entry)
    {
        if (count == 0)
            return;
        if (offset < kFixedHeaderBytes) {
            problem(name, "starts at " + std::to_string(offset) + ", inside the fixed header");
            return;
        }
        uint64_t at = offset;
        for (uint16_t i = 0; i < count; ++i) {
            std::string where = std::string(name) + " entry " + std::to_string(i + 1);
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

    const ByteReader& reader() const { return r_; }

private:
    ByteReader r_;
    std::vector<HeaderProblem>* problems_;
};

// The entry of a section with that id, or null.
template <typename T> const T* byId(const std::vector<T>& entries, uint16_t id)
{
    for (const T& e : entries) {
        if (e.id == id)
            return &e;
    }
    return nullptr;
}

template <typename T>
void checkUniqueIds(Decoder& d, const char* section, const std::vector<T>& entries)
{
    std::set<uint16_t> seen;
    for (const T& e : entries) {
        if (!seen.insert(e.id).second)
            d.problem(section, "id " + std::to_string(e.id) + " is used twice");
    }
}

}  // namespace

InstallHeader decodeHeader(const uint8_t* data, size_t size, std::vector<HeaderProblem>* problems)
{
    InstallHeader h;
    Decoder d(data, size, problems);
    const ByteReader& r = d.reader();
    uint32_t signature = 0;
    if (!r.u32(0, &signature) || size < kFixedHeaderBytes) {
        d.problem("fixed header", "truncated: " + std::to_string(size) +
                                      " bytes, the fixed header alone takes 100");
        return h;
    }
    if (signature != kHeaderSignature) {
        d.problem("fixed header", "no \"MSCE\" signature: not an install header");
        return h;
    }
    uint32_t length = 0;
    r.u32(4, &h.unknown4);
    r.u32(8, &length);
    r.u32(12, &h.unknown12);
    r.u32(16, &h.unknown16);
    r.u32(20, &h.architecture);
    r.u32(24, &h.min.major);
    r.u32(28, &h.min.minor);
    r.u32(32, &h.max.major);
    r.u32(36, &h.max.minor);
    r.u32(40, &h.min.build);
    r.u32(44, &h.max.build);
    uint16_t counts[6];
    uint32_t offsets[6];
    for (int i = 0; i < 6; ++i) {
        r.u16(48 + 2 * i, &counts[i]);
        r.u32(60 + 4 * i, &offsets[i]);
    }
    uint16_t textFields[6];  // offset and length of application, provider, unsupported
    for (int i = 0; i < 6; ++i)
        r.u16(84 + 2 * i, &textFields[i]);
    r.u16(96, &h.unknown96);
    r.u16(98, &h.unknown98);
    if (length != size)
        d.problem("fixed header", "the length field says " + std::to_string(length) +
                                      " bytes, the file has " + std::to_string(size));

    // Each part of the header ends where the next one begins.
    std::vector<uint64_t> starts;
    for (int i = 0; i < 6; ++i) {
        if (counts[i] > 0)
            starts.push_back(offsets[i]);
    }
    for (int i = 0; i < 3; ++i) {
        if (textFields[2 * i + 1] > 0)
            starts.push_back(textFields[2 * i]);
    }
    std::sort(starts.begin(), starts.end());
    if (std::adjacent_find(starts.begin(), starts.end()) != starts.end())
        d.problem("fixed header", "two parts of the header start at the same offset");
    auto limitAfter = [&](uint64_t offset) {
        auto next = std::upper_bound(starts.begin(), starts.end(), offset);
        return next == starts.end() ? static_cast<uint64_t>(size) : *next;
    };

    if (textFields[1] > 0)
        d.terminated(textFields[0], textFields[1], "APPNAME", &h.appName);
    if (textFields[3] > 0)
        d.terminated(textFields[2], textFields[3], "PROVIDER", &h.provider);
    std::string list;
    if (textFields[5] > 0 && !r.bytes(textFields[4], textFields[5], &list)) {
        d.problem("UNSUPPORTED", d.span(textFields[4], textFields[5]));
    } else if (!list.empty()) {
        size_t at = 0;
        for (;;) {
            size_t nul = list.find('\0', at);
            if (nul == std::string::npos) {
                d.problem("UNSUPPORTED", "the list does not end with an empty string");
                break;
            }
            if (nul == at) {
                if (nul + 1 != list.size())
                    d.problem("UNSUPPORTED", "bytes after the empty string that ends the list");
                break;
            }
            h.unsupported.push_back(list.substr(at, nul - at));
            at = nul + 1;
        }
    }

    // Each entry: fixed fields through a cursor, then its variable part.
    auto fields = [&](Cursor& c, uint64_t at, const std::string& where) {
        if (!c.ok)
            d.problem(where, d.span(at, c.at - at));
        return c.ok;
    };
    d.section("STRINGS", counts[0], offsets[0], limitAfter(offsets[0]),
              [&](uint64_t at, const std::string& where) {
                  HeaderString s;
                  uint16_t n = 0;
                  Cursor c{r, at};
                  c.u16(&s.id).u16(&n);
                  if (!fields(c, at, where) || !d.terminated(c.at, n, where, &s.text))
                      return uint64_t(0);
                  h.strings.push_back(s);
                  return c.at + n;
              });
    d.section("DIRS", counts[1], offsets[1], limitAfter(offsets[1]),
              [&](uint64_t at, const std::string& where) {
                  HeaderDir dir;
                  uint16_t n = 0;
                  Cursor c{r, at};
                  c.u16(&dir.id).u16(&n);
                  if (!fields(c, at, where) || !d.idPath(c.at, n, where, &dir.parts))
                      return uint64_t(0);
                  h.dirs.push_back(dir);
                  return c.at + n;
              });
    d.section("FILES", counts[2], offsets[2], limitAfter(offsets[2]),
              [&](uint64_t at, const std::string& where) {
                  HeaderFile f;
                  uint16_t n = 0;
                  Cursor c{r, at};
                  c.u16(&f.id).u16(&f.dirId).u16(&f.unknown).u32(&f.flags).u16(&n);
                  if (!fields(c, at, where) || !d.terminated(c.at, n, where, &f.name))
                      return uint64_t(0);
                  h.files.push_back(f);
                  return c.at + n;
              });
    d.section("REGHIVES", counts[3], offsets[3], limitAfter(offsets[3]),
              [&](uint64_t at, const std::string& where) {
                  HeaderHive v;
                  uint16_t n = 0;
                  Cursor c{r, at};
                  c.u16(&v.id).u16(&v.root).u16(&v.unknown).u16(&n);
                  if (!fields(c, at, where) || !d.idPath(c.at, n, where, &v.parts))
                      return uint64_t(0);
                  h.hives.push_back(v);
                  return c.at + n;
              });
    d.section("REGKEYS", counts[4], offsets[4], limitAfter(offsets[4]),
              [&](uint64_t at, const std::string& where) {
                  HeaderRegValue k;
                  uint16_t substitute = 0;
                  uint16_t n = 0;
                  std::string bytes;
                  Cursor c{r, at};
                  c.u16(&k.id).u16(&k.hiveId).u16(&substitute).u32(&k.typeFlags).u16(&n);
                  if (!fields(c, at, where))
                      return uint64_t(0);
                  if (!r.bytes(c.at, n, &bytes)) {
                      d.problem(where, d.span(c.at, n));
                      return uint64_t(0);
                  }
                  size_t nul = bytes.find('\0');
                  if (nul == std::string::npos) {
                      d.problem(where, "the value's name has no terminator");
                      return uint64_t(0);
                  }
                  if (substitute > 1)
                      d.problem(where, "the substitution flag is " + std::to_string(substitute) +
                                           ", neither 0 nor 1");
                  k.substitute = substitute != 0;
                  k.name = bytes.substr(0, nul);
                  k.data = bytes.substr(nul + 1);
                  h.regValues.push_back(k);
                  return c.at + n;
              });
    d.section("LINKS", counts[5], offsets[5], limitAfter(offsets[5]),
              [&](uint64_t at, const std::string& where) {
                  HeaderLink l;
                  uint16_t n = 0;
                  Cursor c{r, at};
                  c.u16(&l.id).u16(&l.unknown).u16(&l.baseDir).u16(&l.target).u16(&l.type).u16(&n);
                  if (!fields(c, at, where) || !d.idPath(c.at, n, where, &l.parts))
                      return uint64_t(0);
                  h.links.push_back(l);
                  return c.at + n;
              });

    // References between the sections.
    checkUniqueIds(d, "STRINGS", h.strings);
    checkUniqueIds(d, "DIRS", h.dirs);
    checkUniqueIds(d, "FILES", h.files);
    checkUniqueIds(d, "REGHIVES", h.hives);
    checkUniqueIds(d, "REGKEYS", h.regValues);
    checkUniqueIds(d, "LINKS", h.links);
    auto checkParts = [&](const std::string& where, const std::vector<uint16_t>& parts) {
        for (uint16_t id : parts) {
            if (!findString(h, id))
                d.problem(where,
                          "refers to string " + std::to_string(id) + ", which STRINGS lacks");
        }
    };
    for (const HeaderDir& dir : h.dirs)
        checkParts("DIRS id " + std::to_string(dir.id), dir.parts);
    for (const HeaderFile& f : h.files) {
        std::string where = "FILES id " + std::to_string(f.id);
        if (f.id == 0 || f.id > kMaxFileId)
            d.problem(where, "a file number outside 1..998");
        if (!findDir(h, f.dirId))
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
        if (!findHive(h, k.hiveId))
            d.problem(where,
                      "refers to hive " + std::to_string(k.hiveId) + ", which REGHIVES lacks");
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
    for (const HeaderLink& l : h.links) {
        std::string where = "LINKS id " + std::to_string(l.id);
        if (l.baseDir > kMaxCeDir)
            d.problem(where, "base directory " + std::to_string(l.baseDir) + " is none of 0..17");
        bool known = l.type == 0 ? (l.target == 0 || findDir(h, l.target) != nullptr)
                                 : byId(h.files, l.target) != nullptr;
        if (l.type > 1)
            d.problem(where, "link type " + std::to_string(l.type) + " is neither 0 nor 1");
        else if (!known)
            d.problem(where, "points to the unknown " +
                                 std::string(l.type == 0 ? "directory " : "file ") +
                                 std::to_string(l.target));
        checkParts(where, l.parts);
    }
    return h;
}

const std::string* findString(const InstallHeader& h, uint16_t id)
{
    const HeaderString* s = byId(h.strings, id);
    return s ? &s->text : nullptr;
}

const HeaderDir* findDir(const InstallHeader& h, uint16_t id)
{
    return byId(h.dirs, id);
}

const HeaderHive* findHive(const InstallHeader& h, uint16_t id)
{
    return byId(h.hives, id);
}

std::string joinParts(const InstallHeader& h, const std::vector<uint16_t>& parts)
{
    std::string path;
    for (uint16_t id : parts) {
        const std::string* s = findString(h, id);
        path += (path.empty() ? "" : "\\") + (s ? *s : "<?" + std::to_string(id) + ">");
    }
    return path;
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
