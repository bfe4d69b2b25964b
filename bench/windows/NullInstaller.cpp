// Stands in for the platform installer in the Wine timing: a GUI program that
// exits at once, so that only starting and waiting for it is timed.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return 0;
}
