// Text between this machine and the device, for the host side (simulated
// device, tools, tests): the device's 8-bit code page (Windows-1252), its
// letter case rule, UTF-8 for this machine, and the installer's command line.
#pragma once

#include <string>

namespace sim {

// Windows-1252 bytes as the device converts them; the five bytes it leaves
// undefined become the C1 control of the same value.
std::wstring fromAnsi(const std::string& bytes);
wchar_t fromAnsi(unsigned char byte);
// Windows-1252 bytes of a text; characters it cannot hold become '?'.
std::string toAnsi(const std::wstring& text);
// Whether Windows-1252 has the character; bytes it leaves undefined.
bool inWindows1252(wchar_t c);
bool undefinedIn1252(unsigned char byte);

// UTF-8 of a text (lone surrogates become U+FFFD).
std::string utf8(const std::wstring& text);
// Strict UTF-8 decoding; false when `bytes` is not valid UTF-8. *multibyte
// tells whether any character took more than one byte.
bool decodeUtf8(const std::string& bytes, std::wstring* text, bool* multibyte = nullptr);

// The device's file names ignore letter case (ASCII and Latin-1 letters).
wchar_t foldCase(wchar_t c);

// The CAB path between the quotes of an installer command line
// (" /nouninstall /noui \"<path>\""); empty without a pair of quotes.
std::wstring quotedPath(const std::wstring& commandLine);

}  // namespace sim
