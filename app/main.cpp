#include <windows.h>

#include "app/com_security.h"
#include "app/dll_search.h"
#include "app/main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    LimitDllSearchToSystem32();
    ProcessComSecurity com;
    return RunInstallerApp(instance, showCommand);
}
