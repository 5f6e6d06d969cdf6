#pragma once
#include <windows.h>

#include <string>

// Checks the Authenticode signature of the open file, read through `file` so
// that the bytes checked are the bytes that will be started: it must chain to a
// trusted root, and its signer's name (the simple display name) must equal
// `publisher` exactly. `path` names the file for the system's policy. On
// failure `reason` says what failed, in the download engine's manner, and
// `status` holds the trust code behind it (CERT_E_EXPIRED for a certificate
// outside its dates, which a clock far behind gives), 0 when there is none.
bool VerifySetupPublisher(HANDLE file, const std::wstring& path, const std::wstring& publisher, std::string& reason,
                          DWORD& status);

// VerifySetupPublisher's shape, so tests can put in a check that overruns.
using PublisherCheck = bool (*)(HANDLE file, const std::wstring& path, const std::wstring& publisher,
                                std::string& reason, DWORD& status);

// The longest wait for the check. WinVerifyTrust may fetch certificates over
// the network, which on an offline or filtered machine can take tens of seconds.
const DWORD SetupPublisherWaitMilliseconds = 30000;

// `check` (the signature check above) on a thread of its own, waited for at
// most waitMs; a check that has not finished by then is a failed check
// (status 0). The thread reads its own duplicate of `file` and its own copies
// of the texts, so one that overruns runs on without touching the caller's.
bool CheckSetupPublisher(HANDLE file, const std::wstring& path, const std::wstring& publisher, std::string& reason,
                         DWORD& status, PublisherCheck check = VerifySetupPublisher,
                         DWORD waitMs = SetupPublisherWaitMilliseconds);
