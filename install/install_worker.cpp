#include "install/install_worker.h"

// Placeholder until the install workflow lands: the worker does nothing yet.
void RunInstallWorker(HWND) {}

bool IsWindowsAtLeast(WORD, WORD, WORD) { return false; }
