// Texts shared by the launcher and the setup hook library.
#include "common/SharedTexts.h"

namespace vorlund {

const wchar_t kMessageCaption[] = L"Brannoch Software";
const wchar_t kCabPattern[] = L"*.cab";
const wchar_t kCabExtension[] = L".cab";
const wchar_t kLauncherFileName[] = L"Vorlund.exe";

}  // namespace vorlund
