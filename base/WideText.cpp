// Bounded wide-string helpers (see WideText.h). Hand-written rather than the
// C library's, whose wide formatter has a different signature on the device.
#include "base/WideText.h"

namespace vorlund {

int textLength(const wchar_t* text)
{
    int n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

bool copyText(wchar_t* dest, int capacity, const wchar_t* source)
{
    if (capacity <= 0)
        return false;
    dest[0] = 0;
    return appendText(dest, capacity, source);
}

bool appendText(wchar_t* dest, int capacity, const wchar_t* source)
{
    int used = textLength(dest);
    int extra = textLength(source);
    if (extra >= capacity - used)
        return false;
    for (int i = 0; i <= extra; ++i)
        dest[used + i] = source[i];
    return true;
}

bool textEqual(const wchar_t* a, const wchar_t* b)
{
    int i = 0;
    while (a[i] != 0 && a[i] == b[i])
        ++i;
    return a[i] == b[i];
}

bool endsWithIgnoringCase(const wchar_t* text, const wchar_t* suffix)
{
    int n = textLength(text);
    int m = textLength(suffix);
    if (m > n)
        return false;
    for (int i = 0; i < m; ++i)
        if (foldAscii(text[n - m + i]) != foldAscii(suffix[i]))
            return false;
    return true;
}

bool formatCount(wchar_t* dest, int capacity, const wchar_t* pattern, Int32 value)
{
    // Digits of the value, least significant first; 11 holds "-2147483648".
    wchar_t digits[12];
    int count = 0;
    // Unsigned magnitude, so that the most negative value needs no special case.
    UInt32 rest = value < 0 ? 0u - static_cast<UInt32>(value) : static_cast<UInt32>(value);
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (value < 0)
        digits[count++] = L'-';

    if (capacity <= 0)
        return false;
    int out = 0;
    for (int i = 0; pattern[i] != 0; ++i) {
        if (pattern[i] == L'%' && pattern[i + 1] == L'l' && pattern[i + 2] == L'd') {
            for (int d = count - 1; d >= 0; --d) {
                if (out + 1 >= capacity) {
                    dest[0] = 0;
                    return false;
                }
                dest[out++] = digits[d];
            }
            i += 2;
            continue;
        }
        if (out + 1 >= capacity) {
            dest[0] = 0;
            return false;
        }
        dest[out++] = pattern[i];
    }
    dest[out] = 0;
    return true;
}

}  // namespace vorlund
