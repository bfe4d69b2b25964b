// Text forms of vorlund-preview (see HostText.h). The device's own
// conversions are the simulated device's (DeviceText.h).
#include "tools/preview/HostText.h"

#include <cstdio>

#include "device/sim/DeviceText.h"

namespace preview {

std::wstring deviceName(const std::string& hostName)
{
    std::wstring text;
    if (decodeUtf8(hostName, &text))
        return text;
    return sim::fromAnsi(hostName);
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
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
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
