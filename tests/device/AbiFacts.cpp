// Facts of the device's ABI (32-bit ARM Windows CE) that the shipped code
// relies on, checked at compile time by the device compile check.
#include <windows.h>

#include "device/DeviceServices.h"

// C++98 has no static_assert: a negative array size fails the compile.
#define ABI_FACT(name, holds) typedef char name[(holds) ? 1 : -1]

ABI_FACT(pointersHaveFourBytes, sizeof(void*) == 4);
ABI_FACT(longHasFourBytes, sizeof(long) == 4);
// Registry text is read as wide characters counted in bytes / sizeof(wchar_t).
ABI_FACT(wideCharactersHaveTwoBytes, sizeof(wchar_t) == 2);
ABI_FACT(int32HasFourBytes, sizeof(Int32) == 4 && sizeof(UInt32) == 4);
// Handles and message parameters travel through the logic's own types.
ABI_FACT(handlesFitPointers, sizeof(HANDLE) == sizeof(void*) && sizeof(HWND) == sizeof(void*));
ABI_FACT(messageParametersFit,
         sizeof(WPARAM) == sizeof(size_t) && sizeof(LPARAM) == sizeof(ptrdiff_t));
