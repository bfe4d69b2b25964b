// Text between this machine and the device, for host code only (the simulated
// device, the kit, the tests): Windows-1252 (the device's 8-bit code page),
// UTF-8 (this machine's), UTF-16LE (the device's registry), the device's case rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/WideText.h"

namespace hosttext {

// Windows-1252 bytes as the device converts them; the five bytes it leaves
// undefined become the C1 control of the same value.
wchar_t fromAnsi(unsigned char byte);
std::wstring fromAnsi(const std::string& bytes);
// Windows-1252 bytes of a text; characters it cannot hold become '?'.
std::string toAnsi(const std::wstring& text);
// Whether Windows-1252 has the character; the bytes it leaves undefined.
bool inWindows1252(wchar_t c);
bool undefinedIn1252(unsigned char byte);

// UTF-8 of a text (lone surrogates become U+FFFD).
std::string utf8(const std::wstring& text);
// Strict UTF-8 decoding; false when `bytes` is not valid UTF-8. *multibyte
// tells whether any character took more than one byte.
bool decodeUtf8(const std::string& bytes, std::wstring* text, bool* multibyte = nullptr);
// A name of this machine as the device gets it: UTF-8 when it is valid UTF-8,
// otherwise byte by byte in Windows-1252.
std::wstring fromHost(const std::string& bytes);
// Host bytes made valid UTF-8 for a report: valid UTF-8 stays, every other
// byte is written as \xNN.
std::string printable(const std::string& bytes);

// UTF-16LE, as the device stores registry strings; decoding stops at a NUL
// unit and drops a last odd byte.
std::vector<uint8_t> utf16le(const std::wstring& text);
std::wstring fromUtf16le(const std::vector<uint8_t>& bytes);

// The device's names ignore letter case (ASCII and Latin-1 letters); an
// 8-bit text folds the same bytes. Inline: every simulated path is folded.
inline wchar_t foldCase(wchar_t c)
{
    // Latin-1's capitals are 32 below their small letters, as ASCII's are.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<wchar_t>(c + 32);
    return vorlund::foldAscii(c);
}
std::wstring folded(const std::wstring& text);
std::string folded(const std::string& ansi);

// Names and paths as the kit, the simulated device and the tests take them:
// the last component of a path (after its last \ or /), and whether a name
// has a stem and ends in ".cab", letter case aside.
std::wstring lastComponent(const std::wstring& path);
bool endsWithCab(const std::wstring& name);

}  // namespace hosttext
