// ProgressWindow: no display yet; every progress point does nothing, exactly
// as when the window cannot be created.
#include "launcher/ProgressWindow.h"

WindowHandle create(ModuleHandle)
{
    return 0;
}

void begin(WindowHandle, Int32)
{
}

void advance(WindowHandle, Int32, Int32)
{
}

void finish(WindowHandle, Int32)
{
}

void destroy(WindowHandle)
{
}
