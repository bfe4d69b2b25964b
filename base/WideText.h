// Bounded wide-string helpers, the bottom layer under both providers and the
// logic: every write is checked against the destination's capacity, and a
// text that does not fit is a reported failure, never an overrun. It uses
// nothing above it.
#ifndef VORLUND_WIDE_TEXT_H
#define VORLUND_WIDE_TEXT_H

#include "base/Integers.h"

namespace vorlund {

// Number of characters before the terminator.
int textLength(const wchar_t* text);

// Copies `source` into dest[capacity]. False (dest left empty) when it does
// not fit with its terminator.
bool copyText(wchar_t* dest, int capacity, const wchar_t* source);

// Appends `source` to the text in dest[capacity]. False (dest unchanged)
// when the result would not fit with its terminator.
bool appendText(wchar_t* dest, int capacity, const wchar_t* source);

// Exact, case-sensitive comparison.
bool textEqual(const wchar_t* a, const wchar_t* b);

// The small letter of an ASCII capital; any other character as it is. Inline:
// the host's path folding calls it for every character.
inline wchar_t foldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether `text` ends with `suffix`, comparing ASCII letters without regard
// to case.
bool endsWithIgnoringCase(const wchar_t* text, const wchar_t* suffix);

// Formats `pattern`, which holds one "%ld", with `value` into dest[capacity].
// False (dest left empty) when the result does not fit.
bool formatCount(wchar_t* dest, int capacity, const wchar_t* pattern, Int32 value);

}  // namespace vorlund

#endif
