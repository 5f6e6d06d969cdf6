#include "log/support_log.h"

#include <winhttp.h>
#include <winternl.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "build_settings.h"
#include "profile/nt_file.h"
#include "profile/tolvin_folder.h"

namespace {

// Earlier runs keep one half of the bound, this run the other, so the file
// always holds the last two runs whole.
const size_t RunBound = SupportLogBound / 2;
// Kept in every run's half for the header, the note that steps were left out
// and the exit code line, which ordinary steps never take.
const size_t FramingRoom = 512;
// A longer step (a server's reason, say) is cut, so one step cannot use up the run.
const size_t LongestText = 1024;
// Every header's text begins so; it is what tells one run from the next.
const char RunMarker[] = "tolvin-installer ";
// "2026-12-09T05:30:00.123Z" and a space.
const size_t StampLength = 25;

struct RunLog {
    std::mutex lock;
    std::unique_ptr<FileHandle> file;  // null until opened, and again once closed
    std::string pending;               // steps logged before the file was open
    size_t runBytes = 0;               // bytes this run has written or kept pending
    bool full = false;
};

// Never destroyed: the worker thread may still log while the entry's return
// runs the static destructors. CloseSupportLog closes the file.
RunLog& TheRunLog()
{
    static RunLog* const log = new RunLog;
    return *log;
}

std::string Stamp(const SYSTEMTIME& t)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ ", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

std::string StampNow()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return Stamp(now);
}

// The header is stamped with the start, so it comes before the steps that were
// kept until the file opened, in time as in place.
std::string StampProcessStart()
{
    FILETIME created, exited, kernel, user;
    SYSTEMTIME start;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) ||
        !FileTimeToSystemTime(&created, &start))
        return StampNow();
    return Stamp(start);
}

// One line, whatever the text holds: a line break from a server's reason
// would otherwise make a line that carries no time (or looks like a header).
std::string LogLine(const std::string& stamp, const std::string& text)
{
    std::string line = stamp;
    size_t length = text.size();
    if (length > LongestText) {
        length = LongestText;
        // Not inside a UTF-8 sequence.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    for (size_t i = 0; i < length; ++i)
        line += static_cast<unsigned char>(text[i]) < 0x20 ? ' ' : text[i];
    line += "\r\n";
    return line;
}

// The true version: GetVersionExW and VerifyVersionInfoW answer what the
// manifest declares support for.
std::string WindowsVersion()
{
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto getVersion =
        ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!getVersion || getVersion(&info) < 0)
        return "unknown";
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber);
}

std::string MachineName(USHORT machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64:
        return "x64";
    case IMAGE_FILE_MACHINE_ARM64:
        return "arm64";
    case IMAGE_FILE_MACHINE_I386:
        return "x86";
    default:
        return "machine " + std::to_string(machine);
    }
}

// An x64 program emulated on ARM64 is told x64 by GetNativeSystemInfo;
// IsWow64Process2 (Windows 10 1709 on) names the machine itself.
std::string NativeArchitecture()
{
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto isWow64Process2 = kernel32 ? reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void*>(
                                                GetProcAddress(kernel32, "IsWow64Process2")))
                                          : nullptr;
    USHORT process = 0;
    USHORT native = 0;
    if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native))
        return MachineName(native);
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return MachineName(IMAGE_FILE_MACHINE_AMD64);
    case PROCESSOR_ARCHITECTURE_ARM64:
        return MachineName(IMAGE_FILE_MACHINE_ARM64);
    case PROCESSOR_ARCHITECTURE_INTEL:
        return MachineName(IMAGE_FILE_MACHINE_I386);
    default:
        return "architecture " + std::to_string(info.wProcessorArchitecture);
    }
}

std::string HeaderText(int dpi)
{
    return std::string(RunMarker) + TOLVIN_VERSION + ", Windows " + WindowsVersion() + ", " + NativeArchitecture() +
           ", " + std::to_string(dpi) + " dpi";
}

bool IsRunStart(const std::string& log, size_t lineStart)
{
    return lineStart + StampLength <= log.size() &&
           log.compare(lineStart + StampLength, sizeof(RunMarker) - 1, RunMarker) == 0;
}

// The newest whole runs that fit in `budget` bytes; text before the first
// header (a file someone else began) counts as the oldest run.
std::string KeepNewestRuns(const std::string& log, size_t budget)
{
    if (log.size() <= budget)
        return log;
    for (size_t line = 0; line < log.size();) {
        if (log.size() - line <= budget && IsRunStart(log, line))
            return log.substr(line);
        const size_t end = log.find('\n', line);
        if (end == std::string::npos)
            break;
        line = end + 1;
    }
    return std::string();
}

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

// The earlier runs, cut to what they may keep; the file is left positioned at
// its end for this run.
bool TrimEarlierRuns(HANDLE file)
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size))
        return false;
    // Past the bound the file is not as this log leaves it: only its newest
    // part can hold runs worth keeping.
    LARGE_INTEGER from = {};
    from.QuadPart = size.QuadPart > static_cast<LONGLONG>(SupportLogBound) ? size.QuadPart - SupportLogBound : 0;
    if (!SetFilePointerEx(file, from, nullptr, FILE_BEGIN))
        return false;
    std::string earlier(static_cast<size_t>(size.QuadPart - from.QuadPart), '\0');
    DWORD got = 0;
    if (!earlier.empty() &&
        (!ReadFile(file, &earlier[0], static_cast<DWORD>(earlier.size()), &got, nullptr) || got != earlier.size()))
        return false;
    // A run killed in the middle of a line still gets its header on a line of
    // its own: the two bytes that may take are kept free.
    std::string kept = KeepNewestRuns(earlier, SupportLogBound - RunBound - 2);
    if (!kept.empty() && kept.back() != '\n')
        kept += "\r\n";
    if (from.QuadPart == 0 && kept == earlier)
        return true;
    const LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteAll(file, kept) && SetEndOfFile(file);
}

// installer.log itself, or null when it is not ours to write: opened as the
// entry, never through a link, and shared only for reading, so nobody else
// writes between our lines or swaps the file while the run holds it.
std::unique_ptr<FileHandle> OpenLogFile(const std::wstring& profileFolder)
{
    HeldFolder held;
    if (!HoldTolvinFolder(profileFolder, held))
        return nullptr;
    LONG status = 0;
    auto file = std::make_unique<FileHandle>(OpenInFolder(
        held.handle, L"installer.log", FILE_GENERIC_READ | FILE_GENERIC_WRITE, FILE_SHARE_READ, FILE_OPEN_IF,
        FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL,
        status));
    BY_HANDLE_FILE_INFORMATION info = {};
    DWORD attributes = 0;
    if (!file->Valid() || !IsOwnSingleFile(file->handle, info, attributes) || !TrimEarlierRuns(file->handle))
        return nullptr;
    return file;
}

// Called with the lock held. Past the run's share one note says so; the
// framing room keeps space for it and for the exit code line.
void WriteStepLocked(RunLog& log, const std::string& line)
{
    if (log.full)
        return;
    if (log.runBytes + line.size() > RunBound - FramingRoom) {
        log.full = true;
        const std::string note = LogLine(StampNow(), "later steps left out: this run's part of the log is full");
        log.runBytes += note.size();
        if (log.file)
            WriteAll(log.file->handle, note);
        else
            log.pending += note;
        return;
    }
    log.runBytes += line.size();
    if (log.file)
        WriteAll(log.file->handle, line);
    else
        log.pending += line;
}

struct NamedCode {
    DWORD code;
    const char* name;
};

#define NAMED(code) {static_cast<DWORD>(code), #code}
const NamedCode CodeNames[] = {
    NAMED(ERROR_SUCCESS),
    NAMED(ERROR_FILE_NOT_FOUND),
    NAMED(ERROR_PATH_NOT_FOUND),
    NAMED(ERROR_ACCESS_DENIED),
    NAMED(ERROR_INVALID_HANDLE),
    NAMED(ERROR_NOT_ENOUGH_MEMORY),
    NAMED(ERROR_OUTOFMEMORY),
    NAMED(ERROR_SHARING_VIOLATION),
    NAMED(ERROR_HANDLE_DISK_FULL),
    NAMED(ERROR_NOT_SUPPORTED),
    NAMED(ERROR_FILE_EXISTS),
    NAMED(ERROR_INVALID_PARAMETER),
    NAMED(ERROR_DISK_FULL),
    NAMED(ERROR_INSUFFICIENT_BUFFER),
    NAMED(ERROR_ALREADY_EXISTS),
    NAMED(ERROR_BAD_EXE_FORMAT),
    NAMED(ERROR_EXE_MACHINE_TYPE_MISMATCH),
    NAMED(ERROR_MORE_DATA),
    NAMED(WAIT_TIMEOUT),
    NAMED(ERROR_OPERATION_ABORTED),
    NAMED(ERROR_TIMEOUT),
    NAMED(ERROR_CANCELLED),
    NAMED(ERROR_WINHTTP_OUT_OF_HANDLES),
    NAMED(ERROR_WINHTTP_TIMEOUT),
    NAMED(ERROR_WINHTTP_INTERNAL_ERROR),
    NAMED(ERROR_WINHTTP_INVALID_URL),
    NAMED(ERROR_WINHTTP_UNRECOGNIZED_SCHEME),
    NAMED(ERROR_WINHTTP_NAME_NOT_RESOLVED),
    NAMED(ERROR_WINHTTP_INVALID_OPTION),
    NAMED(ERROR_WINHTTP_OPTION_NOT_SETTABLE),
    NAMED(ERROR_WINHTTP_SHUTDOWN),
    NAMED(ERROR_WINHTTP_LOGIN_FAILURE),
    NAMED(ERROR_WINHTTP_OPERATION_CANCELLED),
    NAMED(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE),
    NAMED(ERROR_WINHTTP_INCORRECT_HANDLE_STATE),
    NAMED(ERROR_WINHTTP_CANNOT_CONNECT),
    NAMED(ERROR_WINHTTP_CONNECTION_ERROR),
    NAMED(ERROR_WINHTTP_RESEND_REQUEST),
    NAMED(ERROR_WINHTTP_SECURE_CERT_DATE_INVALID),
    NAMED(ERROR_WINHTTP_SECURE_CERT_CN_INVALID),
    NAMED(ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED),
    NAMED(ERROR_WINHTTP_SECURE_INVALID_CA),
    NAMED(ERROR_WINHTTP_SECURE_CERT_REV_FAILED),
    NAMED(ERROR_WINHTTP_HEADER_NOT_FOUND),
    NAMED(ERROR_WINHTTP_INVALID_SERVER_RESPONSE),
    NAMED(ERROR_WINHTTP_INVALID_HEADER),
    NAMED(ERROR_WINHTTP_REDIRECT_FAILED),
    NAMED(ERROR_WINHTTP_SECURE_CHANNEL_ERROR),
    NAMED(ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT),
    NAMED(ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT),
    NAMED(ERROR_WINHTTP_SECURE_INVALID_CERT),
    NAMED(ERROR_WINHTTP_SECURE_CERT_REVOKED),
    NAMED(ERROR_WINHTTP_SECURE_FAILURE),
    NAMED(ERROR_WINHTTP_AUTODETECTION_FAILED),
    NAMED(ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE),
    NAMED(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR),
    NAMED(TRUST_E_PROVIDER_UNKNOWN),
    NAMED(TRUST_E_SUBJECT_FORM_UNKNOWN),
    NAMED(TRUST_E_SUBJECT_NOT_TRUSTED),
    NAMED(TRUST_E_BAD_DIGEST),
    NAMED(TRUST_E_NOSIGNATURE),
    NAMED(TRUST_E_EXPLICIT_DISTRUST),
    NAMED(CERT_E_EXPIRED),
    NAMED(CERT_E_CHAINING),
    NAMED(CERT_E_UNTRUSTEDROOT),
    NAMED(CERT_E_REVOKED),
    NAMED(CRYPT_E_SECURITY_SETTINGS),
};
#undef NAMED

}  // namespace

void LogStep(const std::string& text)
{
    // Stamped before the lock: a step's time is when it happened.
    const std::string line = LogLine(StampNow(), text);
    RunLog& log = TheRunLog();
    std::lock_guard<std::mutex> guard(log.lock);
    WriteStepLocked(log, line);
}

void LogFailure(DWORD code, const std::string& reason)
{
    // HRESULTs (a trust check's) read as they are written everywhere else.
    char number[16];
    std::snprintf(number, sizeof(number), code >= 0x80000000u ? "0x%08lX" : "%lu", static_cast<unsigned long>(code));
    // No code (a status, a refused check): the reason says it all.
    LogStep(std::string("failure ") + number + " " + (code ? ErrorCodeName(code) : std::string("-")) + ": " + reason);
}

std::string ErrorCodeName(DWORD code)
{
    for (const NamedCode& named : CodeNames) {
        if (named.code == code)
            return named.name;
    }
    return std::to_string(code);
}

void OpenSupportLog(int dpi)
{
    const std::wstring profile = CurrentProfileFolder();
    if (!profile.empty())
        OpenSupportLogIn(profile, dpi);
}

void OpenSupportLogIn(const std::wstring& profileFolder, int dpi)
{
    RunLog& log = TheRunLog();
    {
        std::lock_guard<std::mutex> guard(log.lock);
        if (log.file)
            return;
    }
    // The file is opened and trimmed outside the lock, so a step on another
    // thread (the download's first request) does not wait for the disk.
    std::unique_ptr<FileHandle> file = OpenLogFile(profileFolder);
    if (!file)
        return;
    const std::string header = LogLine(StampProcessStart(), HeaderText(dpi));
    if (!WriteAll(file->handle, header))
        return;
    std::lock_guard<std::mutex> guard(log.lock);
    log.runBytes += header.size();
    if (!WriteAll(file->handle, log.pending))
        return;
    log.pending.clear();
    log.file = std::move(file);
}

void CloseSupportLog(int exitCode)
{
    const std::string line = LogLine(StampNow(), "exit code " + std::to_string(static_cast<DWORD>(exitCode)));
    RunLog& log = TheRunLog();
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.file)
        WriteAll(log.file->handle, line);
    // What follows belongs to no run written here (tests begin the next one).
    log.file.reset();
    log.pending.clear();
    log.runBytes = 0;
    log.full = false;
}
