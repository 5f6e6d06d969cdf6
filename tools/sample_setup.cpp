// Stands in for the product's setup program in end-to-end runs. It records that
// it ran, with its command line and current directory, into
// sample-setup-record.txt in its current directory. When TOLVIN_SAMPLE_SETUP_HOLD
// names a file, it keeps running until that file exists (at most 120 s), so a
// test can look at the installer while the setup program is still running.
// TOLVIN_SAMPLE_SETUP_EXIT_CODE, when set, is the number it exits with (a real
// setup program's 3010 asks for a restart), else 0.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

void AppendUtf8(std::string& out, const wchar_t* text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return;
    std::string converted(static_cast<size_t>(bytes - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &converted[0], bytes, nullptr, nullptr);
    out += converted;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    wchar_t image[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, image, MAX_PATH);

    std::string record = "ran\r\ncommand line=";
    AppendUtf8(record, GetCommandLineW());
    record += "\r\ncurrent directory=";
    AppendUtf8(record, directory);
    record += "\r\nimage=";
    AppendUtf8(record, image);
    record += "\r\n";

    HANDLE file = CreateFileW(L"sample-setup-record.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);

    wchar_t hold[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TOLVIN_SAMPLE_SETUP_HOLD", hold, MAX_PATH) > 0) {
        for (int i = 0; i < 1200 && GetFileAttributesW(hold) == INVALID_FILE_ATTRIBUTES; ++i)
            Sleep(100);
    }
    wchar_t code[16] = {};
    if (GetEnvironmentVariableW(L"TOLVIN_SAMPLE_SETUP_EXIT_CODE", code, 16) > 0)
        return static_cast<int>(std::wcstoul(code, nullptr, 10));
    return 0;
}
