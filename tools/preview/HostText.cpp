// Text conversions of vorlund-preview (see HostText.h). The device's own
// conversion (Windows-1252 to wide) is the simulated device's fromAnsi.
#include "tools/preview/HostText.h"

#include <cstdio>

#include "device/sim/SimDevice.h"

namespace preview {

bool decodeUtf8(const std::string& bytes, std::wstring* text, bool* multibyte)
{
    text->clear();
    if (multibyte)
        *multibyte = false;
    size_t i = 0;
    while (i < bytes.size()) {
        unsigned char lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            text->push_back(lead);
            ++i;
            continue;
        }
        int extra = -1;
        if (lead >= 0xC2 && lead <= 0xDF)
            extra = 1;
        else if (lead >= 0xE0 && lead <= 0xEF)
            extra = 2;
        else if (lead >= 0xF0 && lead <= 0xF4)
            extra = 3;
        if (extra < 0 || i + extra >= bytes.size())
            return false;
        uint32_t c = lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (c < kLeast[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            return false;
        text->push_back(static_cast<wchar_t>(c));
        if (multibyte)
            *multibyte = true;
        i += extra + 1;
    }
    return true;
}

std::wstring deviceName(const std::string& hostName)
{
    std::wstring text;
    if (decodeUtf8(hostName, &text))
        return text;
    return sim::fromAnsi(hostName);
}

std::string utf8(const std::wstring& text)
{
    std::string out;
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

bool undefinedIn1252(unsigned char byte)
{
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

bool inWindows1252(wchar_t c)
{
    std::string bytes = sim::toAnsi(std::wstring(1, c));
    return (bytes != "?" || c == L'?') && !undefinedIn1252(static_cast<unsigned char>(bytes[0]));
}

static std::string escaped(const std::wstring& name)
{
    std::string out;
    for (wchar_t c : name) {
        if (c == L'\t') {
            out += "<TAB>";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "<0x%02X>", static_cast<unsigned>(c));
            out += buf;
        } else {
            out += utf8(std::wstring(1, c));
        }
    }
    return out;
}

std::string shown(const std::wstring& name)
{
    bool edges = name.empty() || name.front() == L' ' || name.back() == L' ' ||
                 name.front() == L'\t' || name.back() == L'\t';
    return edges ? "\"" + escaped(name) + "\"" : escaped(name);
}

std::string inQuotes(const std::wstring& name)
{
    return "\"" + escaped(name) + "\"";
}

size_t columns(const std::string& text)
{
    size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

std::string padded(const std::string& text, size_t width)
{
    size_t used = columns(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

std::string jsonString(const std::string& utf8Text)
{
    std::string out = "\"";
    for (unsigned char c : utf8Text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out + "\"";
}

std::string seconds(unsigned long long milliseconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%02llu", milliseconds / 1000, (milliseconds % 1000) / 10);
    return buf;
}

}  // namespace preview
