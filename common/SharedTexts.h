// Texts shared by the launcher and the setup hook library: the message-box
// caption and style, and the names by which CAB files are found.
#ifndef VORLUND_SHARED_TEXTS_H
#define VORLUND_SHARED_TEXTS_H

#include "device/DeviceServices.h"

namespace vorlund {

extern const wchar_t kMessageCaption[];
// Exclamation icon with a single OK button.
const UInt32 kMessageStyle = 48;
extern const wchar_t kCabPattern[];
// The extension an entry's own name must carry for the sweep to delete it.
extern const wchar_t kCabExtension[];
// The launcher's file name in the install directory.
extern const wchar_t kLauncherFileName[];

}  // namespace vorlund

#endif
