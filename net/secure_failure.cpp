#include "net/secure_failure.h"

namespace {

void CALLBACK OnSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length)
{
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && information && length >= sizeof(DWORD))
        *reinterpret_cast<DWORD*>(context) |= *static_cast<DWORD*>(information);
}

}  // namespace

void WatchSecureFailure(HINTERNET request, DWORD* flags)
{
    // Best effort: without the callback a secure failure keeps its plain code.
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(flags);
    if (WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)))
        WinHttpSetStatusCallback(request, OnSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
}

DWORD SecureFailureCode(DWORD error, DWORD flags)
{
    if (error == ERROR_WINHTTP_SECURE_FAILURE && (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID))
        return ERROR_WINHTTP_SECURE_CERT_DATE_INVALID;
    return error;
}
