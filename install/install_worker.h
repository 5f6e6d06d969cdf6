#pragma once
#include <windows.h>

#include <string>

// The whole installation, on the worker thread: channel, download, launch,
// wait, clean up, close the window.
void RunInstallWorker(HWND hwnd);

bool IsWindowsAtLeast(WORD major, WORD minor, WORD servicePackMajor);
