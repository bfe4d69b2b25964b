// Text between this machine (UTF-8 names and output) and the device (wide
// names, Windows-1252 lists): decoding, encoding and display forms.
#pragma once

#include <string>

#include "device/sim/DeviceText.h"

namespace preview {

using sim::decodeUtf8;
using sim::inWindows1252;
using sim::undefinedIn1252;
using sim::utf8;

// A file name of this machine as the device names it: UTF-8 when it is
// valid UTF-8, otherwise byte by byte in Windows-1252.
std::wstring deviceName(const std::string& hostName);

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
