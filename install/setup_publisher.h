#pragma once
#include <windows.h>

#include <string>

// Checks the Authenticode signature of the open file, read through `file` so
// that the bytes checked are the bytes that will be started: it must chain to a
// trusted root, and its signer's name (the simple display name) must equal
// `publisher` exactly. `path` names the file for the system's policy. On
// failure `reason` says what failed, in the download engine's manner.
bool CheckSetupPublisher(HANDLE file, const std::wstring& path, const std::wstring& publisher, std::string& reason);
