#pragma once
#include <windows.h>

// Whether this process holds rights the user's own programs lack (an elevated
// token; under Wine always). Counts as elevated when it cannot be told.
bool ProcessIsElevated();

// Hands url to the desktop shell's process (Explorer), which opens it with the
// user's own, unelevated rights. Needs COM on the calling thread. False when
// any step fails, for example when no Explorer shell runs.
bool OpenThroughDesktopShell(const wchar_t* url);

// How an address reaches the user's shell from an elevated process; tests put
// in one that fails or hangs.
using ShellRoute = bool (*)(const wchar_t* url);

// The desktop shell's route when COM's process-wide security was set as the
// entry asks (app/com_security.h), none (null) when that failed: then nothing
// stops the shell, which any program of the user can stand in for, from
// acting as this elevated process through its replies.
ShellRoute ShellRouteUnder(HRESULT comSecurity);

// The route the failure notice takes unless told otherwise. The entry sets it
// from ShellRouteUnder before any other thread starts; nothing changes it later.
extern ShellRoute UserShellRoute;

// The longest wait for the shell's answer. The shell is a process of the
// user's rights that any program of the user can stop or stand in for.
const DWORD ShellRouteWaitMilliseconds = 10000;
// How long the route looks for a desktop shell that is still starting, and the
// pause between its looks.
const DWORD ShellStartWaitMilliseconds = 5000;
const DWORD ShellStartPauseMilliseconds = 100;

// Opens url in the user's browser with the user's own rights: ShellExecuteW
// when this process has no more than those, otherwise through `route`, never
// elevated (a null route is never taken). The route runs on a thread of its own, in an apartment of its own,
// and counts as failed when it has not answered within the wait; that thread
// then runs on with its own copy of url. False when it could only have been
// opened elevated; nothing opened.
bool OpenAsUser(const wchar_t* url, ShellRoute route = UserShellRoute);
