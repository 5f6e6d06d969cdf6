#pragma once
// The download on the splash's taskbar button: what the button shows, as a
// function of what the splash shows, and the shell's taskbar object that
// shows it. The object lives in the UI thread's apartment, so everything
// here but TaskbarStateFor runs on the UI thread.
#include <windows.h>

#include <cstdint>

#include "splash/progress.h"

struct ITaskbarList3;

enum class TaskbarShow { Nothing, Indeterminate, Fraction, Error };

struct TaskbarState {
    TaskbarShow show = TaskbarShow::Nothing;
    int percent = 0;  // how far Fraction and Error fill the button, 0 to 100
};

bool SameTaskbarState(const TaskbarState& a, const TaskbarState& b);

// Nothing while the window is hidden (the setup program runs); the error state
// once a failure notice has been shown; indeterminate until the length is
// known; otherwise the splash's own percent. An error while the splash
// shows 0 % (or no length) fills the button, so that the red can be seen.
TaskbarState TaskbarStateFor(bool windowShown, bool failureShown, std::uint64_t received, std::uint64_t total);

struct TaskbarButton {
    ITaskbarList3* list = nullptr;  // null: no button to follow, the splash works as without
    UINT createdMessage = 0;        // Explorer's "TaskbarButtonCreated"
    bool windowShown = false;
    bool failureShown = false;
    bool applied = false;  // `given` is what the button shows
    TaskbarState given;
};

// On the window's first show: makes the taskbar object. Nothing to undo when
// it cannot be made.
void OpenTaskbarButton(TaskbarButton& button, HWND hwnd);
void CloseTaskbarButton(TaskbarButton& button);

// Gives the button the state `progress` and the window call for, unless the
// button shows it already: a paint whose percent did not change costs two
// loads and a comparison.
void FollowOnTaskbarButton(TaskbarButton& button, HWND hwnd, const DownloadProgressState& progress);

// TaskbarButtonCreated: the button is new (or Explorer restarted), and what
// the old one was given is lost with it.
void RenewTaskbarButton(TaskbarButton& button, HWND hwnd, const DownloadProgressState& progress);
