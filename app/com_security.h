#pragma once
#include <windows.h>

// COM's process-wide security, set before any thread makes a COM call. The
// failure notice talks to Explorer, which any program of the user can inject
// into or stand in for: its replies may only identify this process, never act
// as it (RPC_C_IMP_LEVEL_IDENTIFY), and may not name an unmarshaler for this
// process to load (EOAC_NO_CUSTOM_MARSHAL).
//
// Without those settings the failure notice takes no route to the shell
// (UserShellRoute).
//
// Holds the entry thread's apartment for the process's life: the settings
// last only while COM stays initialised somewhere in the process.
struct ProcessComSecurity {
    HRESULT apartment;
    HRESULT security;

    ProcessComSecurity();
    ~ProcessComSecurity();
    ProcessComSecurity(const ProcessComSecurity&) = delete;
    ProcessComSecurity& operator=(const ProcessComSecurity&) = delete;
};
