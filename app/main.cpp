#include <windows.h>

#include "app/dll_search.h"
#include "app/main_window.h"
#include "log/support_log.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    LimitDllSearchToSystem32();
    const int exitCode = RunInstallerApp(instance, showCommand);
    // Last, so a script's reading and the support log's agree.
    CloseSupportLog(exitCode);
    return exitCode;
}
