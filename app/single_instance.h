#pragma once
#include <windows.h>

#include <string>

// A second start while the installer runs (an impatient double click, or the
// browser's "open" after one) would download the setup program beside the
// first, fail on the file the first holds and tell the user a working
// installation failed. A named mutex tells it that a copy runs; users of other
// sessions keep their own.
//
// A mutex in the session's namespace can be made first by any program of the
// user, which would then keep every installer from running. The mutex
// therefore lives in a private namespace that only Administrators can make or
// open; the session's namespace is used only where the system cannot make one.
extern const wchar_t InstanceMutexName[];

// The private-namespace calls, looked up in kernel32 at run time (Wine 8 has
// only CreateBoundaryDescriptorW); tests put in their own to follow the calls.
struct NamespaceCalls {
    HANDLE(WINAPI* createBoundary)(LPCWSTR name, ULONG flags);
    BOOL(WINAPI* addSid)(HANDLE* boundary, PSID sid);
    void(WINAPI* deleteBoundary)(HANDLE boundary);
    HANDLE(WINAPI* createNamespace)(LPSECURITY_ATTRIBUTES attributes, LPVOID boundary, LPCWSTR alias);
    HANDLE(WINAPI* openNamespace)(LPVOID boundary, LPCWSTR alias);
    BOOLEAN(WINAPI* closeNamespace)(HANDLE privateNamespace, ULONG flags);
};

// kernel32's own calls; a member is null where kernel32 lacks it.
NamespaceCalls SystemNamespaceCalls();

// Owns the instance mutex and the private namespace its name lives in; the
// first copy keeps both for its whole life. The mutex is closed first.
struct InstanceMutex {
    HANDLE handle = nullptr;
    HANDLE privateNamespace = nullptr;
    BOOLEAN(WINAPI* closeNamespace)(HANDLE, ULONG) = nullptr;

    InstanceMutex() = default;
    ~InstanceMutex();
    InstanceMutex(const InstanceMutex&) = delete;
    InstanceMutex& operator=(const InstanceMutex&) = delete;
};

// Makes the private namespace, or opens it when a running copy made it, and
// keeps it in `mutex`; returns the mutex's name inside it. Returns
// InstanceMutexName, and keeps nothing, when the system cannot make or open it.
std::wstring EnterInstanceNamespace(const NamespaceCalls& calls, InstanceMutex& mutex);

// False when another copy already made the mutex called `name`. A mutex that
// cannot be made for any other reason lets this copy run: one installer too
// many is better than none.
bool ClaimSingleInstance(const wchar_t* name, InstanceMutex& mutex);

// Both steps with the system's calls.
bool ClaimSingleInstance(InstanceMutex& mutex);

// Brings the running copy's splash (a top-level window of windowClass whose
// process runs this same program) to the front, restored if minimised.
// Does nothing while it is hidden, as it is while the setup program runs.
// The same program is the same file, whatever path either copy was started
// through, or a file of the same size with the same bytes (a copy).
void ShowRunningCopy(const wchar_t* windowClass);

// The same, with `image` standing for this process's own executable.
void ShowRunningCopy(const wchar_t* windowClass, const std::wstring& image);
