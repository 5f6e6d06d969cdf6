#include <gtest/gtest.h>

#include <string>
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

}  // namespace
