#include <windows.h>

#include "app/dll_search.h"
#include "app/main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    LimitDllSearchToSystem32();
    return RunInstallerApp(instance, showCommand);
}
