// Text between this machine (UTF-8 names and output) and the device (wide
// names, Windows-1252 lists): decoding, encoding and display forms.
#pragma once

#include <string>

namespace preview {

// Strict UTF-8 decoding; false when `bytes` is not valid UTF-8. *multibyte
// tells whether any character took more than one byte.
bool decodeUtf8(const std::string& bytes, std::wstring* text, bool* multibyte = nullptr);
// A file name of this machine as the device names it: UTF-8 when it is
// valid UTF-8, otherwise byte by byte in Windows-1252.
std::wstring deviceName(const std::string& hostName);
std::string utf8(const std::wstring& text);

// Whether Windows-1252 has the character.
bool inWindows1252(wchar_t c);
// Bytes that Windows-1252 leaves undefined.
bool undefinedIn1252(unsigned char byte);

// A name for display: control characters as <TAB> or <0xNN>, in quotes
// when it is empty or starts or ends with white space.
std::string shown(const std::wstring& name);
// The same, always in quotes: for running text.
std::string inQuotes(const std::wstring& name);

// Columns that a UTF-8 text takes on a terminal (one per character).
size_t columns(const std::string& text);
std::string padded(const std::string& text, size_t width);

std::string jsonString(const std::string& utf8Text);

// Seconds with two decimals: "90.25".
std::string seconds(unsigned long long milliseconds);

}  // namespace preview
