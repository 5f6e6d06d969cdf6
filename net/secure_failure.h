#pragma once
#include <windows.h>
#include <winhttp.h>

// Windows tells why a TLS handshake failed only through a status callback:
// the send fails with ERROR_WINHTTP_SECURE_FAILURE and the reason's flags come
// to the callback. This has them written to *flags for `request`, which must
// outlive the request handle.
void WatchSecureFailure(HINTERNET request, DWORD* flags);

// The send's error with the reason made part of it: a secure failure over a
// certificate's dates is ERROR_WINHTTP_SECURE_CERT_DATE_INVALID (which Wine
// reports as it is); everything else stays as it was.
DWORD SecureFailureCode(DWORD error, DWORD flags);
