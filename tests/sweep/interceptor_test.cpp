// The sweep's interceptor on calls made from here: counting, the failure of
// exactly the chosen call with the row's value and error, lookups through
// GetProcAddress, the resource accounting, and a row in the table for
// every function setup.exe imports.
#include <windows.h>

#include <gtest/gtest.h>

#include "interceptor.h"
#include "pe_file.h"
#include "uidriver/ui_driver.h"

namespace {

const char* const SOFTWARE_KEY = "Software";

LONG OpenSoftwareKey(HKEY* phKey) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, SOFTWARE_KEY, 0, KEY_READ, phKey);
}

TEST(Interceptor, FailsExactlyTheChosenCallWithItsErrorCode) {
    CInterceptor interceptor(FindFunctionRow("RegOpenKeyExA"), 2);
    CInterceptor::BeginCounting();
    HKEY hFirst = nullptr;
    HKEY hSecond = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, OpenSoftwareKey(&hFirst));
    EXPECT_EQ(ERROR_ACCESS_DENIED, OpenSoftwareKey(&hSecond));
    EXPECT_EQ(nullptr, hSecond);
    CInterceptor::EndCounting();
    EXPECT_TRUE(interceptor.WasInjected());
    EXPECT_EQ(2, interceptor.GetCallCount(FindFunctionRow("RegOpenKeyExA")));
    // The open key is a leak until it is closed while counting.
    ASSERT_EQ(1u, interceptor.ListLeaks().size());
    EXPECT_EQ("RegOpenKeyExA", interceptor.ListLeaks()[0].function);
    CInterceptor::BeginCounting();
    RegCloseKey(hFirst);
    RegCloseKey(hFirst);  // a second release of the same key
    CInterceptor::EndCounting();
    EXPECT_TRUE(interceptor.ListLeaks().empty());
    ASSERT_EQ(1u, interceptor.ListUnmatchedReleases().size());
    EXPECT_EQ("RegCloseKey", interceptor.ListUnmatchedReleases()[0]);
}

TEST(Interceptor, FailsWithTheDocumentedValueAndLastError) {
    CInterceptor interceptor(FindFunctionRow("CreateFileA"), 1);
    CInterceptor::BeginCounting();
    SetLastError(0xdeadbeef);
    HANDLE hFile = CreateFileA("NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD dwError = GetLastError();
    CInterceptor::EndCounting();
    EXPECT_EQ(INVALID_HANDLE_VALUE, hFile);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), dwError);
}

TEST(Interceptor, CountsOnlyWhileCountingAndWrapsLookedUpFunctions) {
    typedef BOOL(WINAPI * IsWow64ProcessProc)(HANDLE, PBOOL);
    CInterceptor interceptor(FindFunctionRow("IsWow64Process"), 1);
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    FARPROC pfnReal = GetProcAddress(hKernel, "IsWow64Process");
    CInterceptor::BeginCounting();
    FARPROC pfnFound = GetProcAddress(hKernel, "IsWow64Process");
    BOOL bWow64 = FALSE;
    SetLastError(0xdeadbeef);
    BOOL bResult = reinterpret_cast<IsWow64ProcessProc>(reinterpret_cast<void*>(pfnFound))(GetCurrentProcess(), &bWow64);
    DWORD dwError = GetLastError();
    CInterceptor::EndCounting();
    EXPECT_NE(pfnReal, pfnFound);
    EXPECT_FALSE(bResult);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), dwError);
    EXPECT_EQ(1, interceptor.GetCallCount(FindFunctionRow("GetProcAddress")));
    EXPECT_EQ(1, interceptor.GetCallCount(FindFunctionRow("IsWow64Process")));
}

// The calls the system's Setup API makes itself are counted under their
// module's rows, through its own import table; the program's rows do not
// see them.
TEST(Interceptor, CountsTheCallsOfTheDeviceInstallationsModules) {
    const GUID PORTS_CLASS = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    CInterceptor interceptor(-1, 0);
    HDEVINFO hList = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    CInterceptor::BeginCounting();
    BOOL bMade = SetupDiCreateDeviceInfoA(hList, "PORTS", &PORTS_CLASS, nullptr, nullptr, DICD_GENERATE_ID, &device) &&
                 SetupDiCallClassInstaller(DIF_REGISTERDEVICE, hList, &device);
    CInterceptor::EndCounting();
    EXPECT_TRUE(bMade);
    EXPECT_LT(0, interceptor.GetCallCount(FindFunctionRow("setupapi.dll!RegCreateKeyExW")));
    EXPECT_EQ(0, interceptor.GetCallCount(FindFunctionRow("RegCreateKeyExA")));
    SetupDiCallClassInstaller(DIF_REMOVE, hList, &device);
    SetupDiDestroyDeviceInfoList(hList);
}

// A function without a row is never counted, failed or killed at, and a
// row naming another DLL patches nothing. The C runtime's imports serve
// its own start-up as much as the program and are left out.
TEST(Interceptor, HasARowForEveryWindowsFunctionSetupImports) {
    CPeFile file;
    ASSERT_TRUE(file.Load(SetupPath().c_str())) << file.GetError();
    for (const PeImport& import : file.ListImports()) {
        if (lstrcmpiA(import.dll.c_str(), "msvcrt.dll") == 0) continue;
        int nRow = FindFunctionRow(import.function.c_str());
        EXPECT_LE(0, nRow) << import.dll << "!" << import.function << " has no row in fault_table.h";
        if (nRow >= 0) {
            EXPECT_EQ(0, lstrcmpiA(GetFunctionRows(nullptr)[nRow].pszDll, import.dll.c_str())) << import.function;
        }
    }
}

} // namespace
