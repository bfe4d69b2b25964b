// Text between this machine and the device (see HostText.h).
#include "tools/hosttext/HostText.h"

#include <cstdio>

#include "base/WideText.h"

namespace hosttext {

namespace {

// Windows-1252 bytes 0x80-0x9F; the five bytes it leaves undefined map to the
// C1 control of the same value, as the platform's conversion does.
const wchar_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The length of the valid UTF-8 character at bytes[i], 0 when there is none,
// and its value.
size_t utf8Char(const std::string& bytes, size_t i, uint32_t* value)
{
    unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
        *value = lead;
        return 1;
    }
    size_t extra = lead >= 0xC2 && lead <= 0xDF   ? 1
                   : lead >= 0xE0 && lead <= 0xEF ? 2
                   : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                  : 0;
    if (extra == 0 || i + extra >= bytes.size())
        return 0;
    uint32_t c = lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        unsigned char next = static_cast<unsigned char>(bytes[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return 0;
    *value = c;
    return extra + 1;
}

}  // namespace

wchar_t fromAnsi(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : static_cast<wchar_t>(byte);
}

std::wstring fromAnsi(const std::string& bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes)
        out.push_back(fromAnsi(c));
    return out;
}

std::string toAnsi(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        char mapped = '?';
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
            mapped = static_cast<char>(c);
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == c)
                mapped = static_cast<char>(0x80 + i);
        out.push_back(mapped);
    }
    return out;
}

bool undefinedIn1252(unsigned char byte)
{
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

bool inWindows1252(wchar_t c)
{
    std::string bytes = toAnsi(std::wstring(1, c));
    return (bytes != "?" || c == L'?') && !undefinedIn1252(static_cast<unsigned char>(bytes[0]));
}

std::string utf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bool decodeUtf8(const std::string& bytes, std::wstring* text, bool* multibyte)
{
    text->clear();
    if (multibyte)
        *multibyte = false;
    for (size_t i = 0; i < bytes.size();) {
        uint32_t c = 0;
        size_t n = utf8Char(bytes, i, &c);
        if (n == 0)
            return false;
        text->push_back(static_cast<wchar_t>(c));
        if (multibyte && n > 1)
            *multibyte = true;
        i += n;
    }
    return true;
}

std::wstring fromHost(const std::string& bytes)
{
    std::wstring text;
    return decodeUtf8(bytes, &text) ? text : fromAnsi(bytes);
}

std::string printable(const std::string& bytes)
{
    std::string out;
    for (size_t i = 0; i < bytes.size();) {
        uint32_t c = 0;
        size_t n = utf8Char(bytes, i, &c);
        if (n == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(bytes[i]));
            out += hex;
            n = 1;
        } else {
            out.append(bytes, i, n);
        }
        i += n;
    }
    return out;
}

std::vector<uint8_t> utf16le(const std::wstring& text)
{
    std::vector<uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

std::wstring fromUtf16le(const std::vector<uint8_t>& bytes)
{
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size() && (bytes[i] || bytes[i + 1]); i += 2)
        text.push_back(static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8));
    return text;
}

std::wstring folded(const std::wstring& text)
{
    std::wstring out = text;
    for (wchar_t& c : out)
        c = foldCase(c);
    return out;
}

std::string folded(const std::string& ansi)
{
    // Windows-1252 has the Latin-1 letters at the same byte values.
    std::string out = ansi;
    for (char& c : out)
        c = static_cast<char>(foldCase(static_cast<unsigned char>(c)));
    return out;
}

std::wstring lastComponent(const std::wstring& path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

bool endsWithCab(const std::wstring& name)
{
    return name.size() > 4 && folded(name.substr(name.size() - 4)) == L".cab";
}

}  // namespace hosttext
