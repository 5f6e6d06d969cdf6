#include "install/stay_awake.h"

ExecutionStateCall SetExecutionState = SetThreadExecutionState;

StayAwake::StayAwake() { SetExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }

// ES_CONTINUOUS alone ends this thread's request; the idle timers count again.
StayAwake::~StayAwake() { SetExecutionState(ES_CONTINUOUS); }
