#include "app/close_gate.h"

bool BeginClose(CloseGate& gate)
{
    if (gate.launched)
        return false;
    gate.closeBegun.store(true);
    return true;
}

bool GrantLaunch(CloseGate& gate)
{
    if (gate.closeBegun.load())
        return false;
    gate.launched = true;
    return true;
}
