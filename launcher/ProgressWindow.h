// ProgressWindow: the five progress points through which the launcher shows
// its progress. When `create` returns no window, every later point does
// nothing.
#ifndef VORLUND_PROGRESS_WINDOW_H
#define VORLUND_PROGRESS_WINDOW_H

#include "device/DeviceServices.h"

namespace vorlund {
namespace progress {

device::WindowHandle create(device::ModuleHandle module);
void begin(device::WindowHandle window, Int32 total);
void advance(device::WindowHandle window, Int32 installed, Int32 remaining);
void finish(device::WindowHandle window, Int32 total);
void destroy(device::WindowHandle window);

}  // namespace progress
}  // namespace vorlund

#endif
