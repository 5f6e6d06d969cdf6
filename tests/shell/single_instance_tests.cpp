#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/single_instance.h"

namespace {

// The namespace calls as the system would see them, in order.
std::vector<std::string> Calls;
bool NamespaceExists = false;
bool BoundaryRefused = false;
HANDLE const Boundary = reinterpret_cast<HANDLE>(0xB0);
HANDLE const Made = reinterpret_cast<HANDLE>(0xA0);
HANDLE const Opened = reinterpret_cast<HANDLE>(0xA1);

bool IsAdministrators(PSID sid)
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           EqualSid(sid, administrators);
}

// "admins only" when the folder's DACL, protected from inheritance, grants
// access to Administrators and nobody else.
std::string Folder(LPSECURITY_ATTRIBUTES attributes)
{
    if (!attributes || !attributes->lpSecurityDescriptor)
        return "default";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted) || !present ||
        !dacl || dacl->AceCount != 1 ||
        !GetSecurityDescriptorControl(attributes->lpSecurityDescriptor, &control, &revision) ||
        !(control & SE_DACL_PROTECTED))
        return "other";
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, 0, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !IsAdministrators(&ace->SidStart))
        return "other";
    return "admins only";
}

std::string Narrow(LPCWSTR text)
{
    std::string s;
    for (; *text; ++text)
        s += static_cast<char>(*text);
    return s;
}

HANDLE WINAPI FakeCreateBoundary(LPCWSTR name, ULONG)
{
    Calls.push_back("boundary " + Narrow(name));
    if (BoundaryRefused) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return Boundary;
}

BOOL WINAPI FakeAddSid(HANDLE* boundary, PSID sid)
{
    Calls.push_back(*boundary == Boundary && IsAdministrators(sid) ? "sid administrators" : "sid other");
    return TRUE;
}

void WINAPI FakeDeleteBoundary(HANDLE boundary)
{
    Calls.push_back(boundary == Boundary ? "delete boundary" : "delete other");
}

HANDLE WINAPI FakeCreateNamespace(LPSECURITY_ATTRIBUTES attributes, LPVOID boundary, LPCWSTR alias)
{
    Calls.push_back("create " + Narrow(alias) + " " + Folder(attributes) + (boundary == Boundary ? "" : " other"));
    if (NamespaceExists) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return nullptr;
    }
    return Made;
}

HANDLE WINAPI FakeOpenNamespace(LPVOID boundary, LPCWSTR alias)
{
    Calls.push_back("open " + Narrow(alias) + (boundary == Boundary ? "" : " other"));
    return Opened;
}

BOOLEAN WINAPI FakeCloseNamespace(HANDLE privateNamespace, ULONG)
{
    Calls.push_back(privateNamespace == Made ? "close made" : privateNamespace == Opened ? "close opened" : "close other");
    return TRUE;
}

const NamespaceCalls Fakes = {FakeCreateBoundary, FakeAddSid,        FakeDeleteBoundary,
                              FakeCreateNamespace, FakeOpenNamespace, FakeCloseNamespace};

const std::string Alias = "TolvinInstaller-{3A407F6F-8747-4A6C-B92D-E7F82600806F}";

class InstanceNamespace : public ::testing::Test {
protected:
    void SetUp() override
    {
        Calls.clear();
        NamespaceExists = false;
        BoundaryRefused = false;
    }
};

// The first copy makes the namespace and keeps it until the mutex is gone; a
// later copy opens the one the first made.
TEST_F(InstanceNamespace, MadeOrOpenedBehindTheAdministratorsBoundaryAndKept)
{
    for (bool exists : {false, true}) {
        Calls.clear();
        NamespaceExists = exists;
        std::vector<std::string> expected = {"boundary " + Alias, "sid administrators",
                                             "create " + Alias + " admins only"};
        if (exists)
            expected.push_back("open " + Alias);
        expected.push_back("delete boundary");
        {
            InstanceMutex mutex;
            std::wstring name = EnterInstanceNamespace(Fakes, mutex);
            EXPECT_EQ(Alias + "\\", Narrow(name.c_str()).substr(0, Alias.size() + 1));
            EXPECT_EQ(expected, Calls) << exists;
        }
        expected.push_back(exists ? "close opened" : "close made");
        EXPECT_EQ(expected, Calls) << exists;
    }
}

// As under Wine 8: the session's name, and nothing to close.
TEST_F(InstanceNamespace, WithoutBoundariesTheSessionNameIsUsed)
{
    BoundaryRefused = true;
    {
        InstanceMutex mutex;
        EXPECT_EQ(std::wstring(InstanceMutexName), EnterInstanceNamespace(Fakes, mutex));
    }
    EXPECT_EQ(std::vector<std::string>{"boundary " + Alias}, Calls);
}

// A minimised window of this process stands for the running splash; `image`
// for the second copy's executable: this test program under another name, a
// copy saved beside it, or another program of the same size.
TEST(RunningCopy, BroughtForwardFromAnotherNameOrACopyNotFromAnotherProgram)
{
    wchar_t own[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, own, MAX_PATH));
    const std::wstring folder = std::wstring(own).substr(0, std::wstring(own).find_last_of(L'\\') + 1);
    const std::wstring link = folder + L"running-copy-link.exe";
    const std::wstring copy = folder + L"running-copy (1).exe";
    const std::wstring other = folder + L"running-copy-other.exe";
    for (const std::wstring& name : {link, copy, other})
        DeleteFileW(name.c_str());
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), own, nullptr));
    ASSERT_TRUE(CopyFileW(own, copy.c_str(), TRUE));
    ASSERT_TRUE(CopyFileW(own, other.c_str(), TRUE));
    {
        // The same size, its last byte changed.
        HANDLE file = CreateFileW(other.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        char last = 0;
        DWORD done = 0;
        SetFilePointer(file, -1, nullptr, FILE_END);
        EXPECT_TRUE(ReadFile(file, &last, 1, &done, nullptr));
        last = static_cast<char>(~last);
        SetFilePointer(file, -1, nullptr, FILE_END);
        EXPECT_TRUE(WriteFile(file, &last, 1, &done, nullptr));
        CloseHandle(file);
    }

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"RunningCopyStandIn";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, window);
    for (const auto& started : {std::make_pair(other, false), std::make_pair(link, true), std::make_pair(copy, true)}) {
        ShowWindow(window, SW_SHOWMINNOACTIVE);
        ASSERT_TRUE(IsIconic(window));
        ShowRunningCopy(windowClass.lpszClassName, started.first);
        EXPECT_EQ(started.second, !IsIconic(window)) << Narrow(started.first.c_str());
    }
    DestroyWindow(window);
    for (const std::wstring& name : {link, copy, other})
        DeleteFileW(name.c_str());
}

}  // namespace
