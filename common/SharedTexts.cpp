// Texts shared by the launcher and the setup hook library.
#include "common/SharedTexts.h"

const wchar_t kMessageCaption[] = L"Brannoch Software";
const wchar_t kCabPattern[] = L"*.cab";
const wchar_t kCabExtension[] = L".cab";
