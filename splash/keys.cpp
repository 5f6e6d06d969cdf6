#include "splash/keys.h"

bool IsCloseKeystroke(UINT message, WPARAM key, LPARAM flags)
{
    const bool repeat = (flags & (LPARAM(1) << 30)) != 0;  // the key was already down
    const bool alt = (flags & (LPARAM(1) << 29)) != 0;
    if (repeat)
        return false;
    if (message == WM_KEYDOWN)
        return key == VK_ESCAPE;
    if (message == WM_SYSKEYDOWN)
        return key == VK_F4 && alt;
    return false;
}
