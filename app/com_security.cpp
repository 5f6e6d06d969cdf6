#include "app/com_security.h"

#include <objbase.h>

#include "install/user_shell.h"

ProcessComSecurity::ProcessComSecurity()
    : apartment(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)),
      security(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                    RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NO_CUSTOM_MARSHAL, nullptr))
{
    UserShellRoute = ShellRouteUnder(security);
}

ProcessComSecurity::~ProcessComSecurity()
{
    if (SUCCEEDED(apartment))
        CoUninitialize();
}
