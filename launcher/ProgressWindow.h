// ProgressWindow: the five progress points through which the launcher shows
// its progress. When `create` returns no window, every later point does
// nothing.
#ifndef VORLUND_PROGRESS_WINDOW_H
#define VORLUND_PROGRESS_WINDOW_H

#include "device/DeviceServices.h"

WindowHandle create(ModuleHandle module);
void begin(WindowHandle window, Int32 total);
void advance(WindowHandle window, Int32 installed, Int32 remaining);
void finish(WindowHandle window, Int32 total);
void destroy(WindowHandle window);

#endif
