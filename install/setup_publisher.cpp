#include "install/setup_publisher.h"

#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <memory>

#include "common/bounded_call.h"
#include "common/kernel_handle.h"
#include "common/text_encoding.h"

#include "log/support_log.h"

namespace {

std::string HexStatus(LONG status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

// The verification state WinVerifyTrust keeps for reading the signer; released
// on every way out.
struct TrustState {
    WINTRUST_FILE_INFO fileInfo = {};
    WINTRUST_DATA data = {};
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;

    TrustState(HANDLE file, const std::wstring& path)
    {
        fileInfo.cbStruct = sizeof(fileInfo);
        fileInfo.pcwszFilePath = path.c_str();
        fileInfo.hFile = file;
        data.cbStruct = sizeof(data);
        data.dwUIChoice = WTD_UI_NONE;
        // Not asked for: it would reach out to the network on every check, and
        // the test roots publish no revocation lists. Both flags, as the
        // policy provider's chain reads dwProvFlags, not fdwRevocationChecks.
        // Fetching missing certificates stays allowed (no
        // WTD_CACHE_ONLY_URL_RETRIEVAL): a fresh Windows fetches some roots on
        // demand. That can take long, hence the thread and its time limit.
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &fileInfo;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
    }
    ~TrustState()
    {
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;

    LONG Verify() { return WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data); }
};

CRYPT_PROVIDER_SGNR* FirstSigner(HANDLE stateData)
{
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
    return provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
}

// The signer's chain must end in a root this machine trusts. WinVerifyTrust's
// own policy says so on Windows; Wine 8's returns success for an untrusted
// root and for a chain that reaches no root at all, so the chain is put to the
// same policy here, and a partial chain (which Windows' policy refuses) too.
bool ChainReachesTrustedRoot(const CRYPT_PROVIDER_SGNR& signer, std::string& reason, DWORD& error)
{
    if (!signer.pChainContext) {
        reason = "setup program signer has no certificate chain";
        return false;
    }
    CERT_CHAIN_POLICY_PARA para = {};
    para.cbSize = sizeof(para);
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer.pChainContext, &para, &status)) {
        reason = "setup program certificate chain not checked";
        return false;
    }
    if (status.dwError == ERROR_SUCCESS &&
        (signer.pChainContext->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN))
        status.dwError = static_cast<DWORD>(CERT_E_CHAINING);
    if (status.dwError != ERROR_SUCCESS) {
        reason = "setup program certificate chain not trusted: " + HexStatus(static_cast<LONG>(status.dwError));
        error = status.dwError;
        return false;
    }
    return true;
}

bool SignerName(const CRYPT_PROVIDER_SGNR& signer, std::wstring& name)
{
    CRYPT_PROVIDER_CERT* cert = WTHelperGetProvCertFromChain(const_cast<CRYPT_PROVIDER_SGNR*>(&signer), 0);
    if (!cert || !cert->pCert)
        return false;
    const DWORD units = CertGetNameStringW(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (units <= 1)
        return false;
    name.assign(units, L'\0');
    CertGetNameStringW(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, &name[0], units);
    name.resize(units - 1);
    return true;
}

// What the check's thread owns, shared with the waiting caller: a check that
// overruns goes on with its own handle and copies after the caller has moved on.
struct PublisherCall {
    KernelHandle file;
    std::wstring path;
    std::wstring publisher;
    PublisherCheck check = nullptr;
    bool trusted = false;
    std::string reason;
    DWORD status = 0;
};

}  // namespace

bool VerifySetupPublisher(HANDLE file, const std::wstring& path, const std::wstring& publisher, std::string& reason,
                          DWORD& status)
{
    status = 0;
    TrustState state(file, path);
    const LONG verdict = state.Verify();
    LogStep("publisher check: WinVerifyTrust " + HexStatus(verdict) + " " + ErrorCodeName(static_cast<DWORD>(verdict)));
    if (verdict != ERROR_SUCCESS) {
        reason = "setup program signature not trusted: " + HexStatus(verdict);
        // Passed on: a signature outside its dates may be the clock's fault.
        status = static_cast<DWORD>(verdict);
        return false;
    }
    const CRYPT_PROVIDER_SGNR* signer = FirstSigner(state.data.hWVTStateData);
    if (!signer) {
        reason = "setup program signer unreadable";
        return false;
    }
    if (!ChainReachesTrustedRoot(*signer, reason, status))
        return false;
    std::wstring name;
    if (!SignerName(*signer, name)) {
        reason = "setup program signer unreadable";
        return false;
    }
    // A certificate's name, the vendor's: no user's.
    LogStep("publisher check: signer \"" + WideToUtf8(name) + "\"");
    if (name != publisher) {
        // The names stay out of the reason: the log has the signer's above.
        reason = "setup program signed by another publisher";
        return false;
    }
    return true;
}

bool CheckSetupPublisher(HANDLE file, const std::wstring& path, const std::wstring& publisher, std::string& reason,
                         DWORD& status, PublisherCheck check, DWORD waitMs)
{
    status = 0;
    try {
        auto call = std::make_shared<PublisherCall>();
        // The caller closes its handle (and so deletes a refused file) once it
        // gives up; the duplicate keeps the file open for the check until it ends.
        if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &call->file.handle, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            call->file.handle = nullptr;
            reason = "setup program not readable for the publisher check";
            return false;
        }
        call->path = path;
        call->publisher = publisher;
        call->check = check;
        const auto work = [call] {
            call->trusted = call->check(call->file.handle, call->path, call->publisher, call->reason, call->status);
        };
        if (!RunWithin(work, waitMs)) {
            reason = "setup program publisher check not finished in time";
            return false;
        }
        reason = call->reason;
        status = call->status;
        return call->trusted;
    } catch (...) {
        reason = "setup program publisher check not started";
        return false;
    }
}
