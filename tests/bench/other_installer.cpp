// Another installer at work, for the bench: "other_installer N R" waits
// until "ComDB" is a temporary value that leaves only COM N free. With R 0
// it claims the next free number through the Ports class library (the
// stand-in), as the Ports class installer does for a new port, and gives it
// to a new Ports device of its own (hardware ID QZOTHER\PORT); else it
// releases COM R, as the removal of a port does. Then it sets the event
// QzOtherPortClaimed. The exit code is the number claimed, 0 when none.
#include <windows.h>

#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const GUID PORTS_CLASS = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char OTHER_ID[] = "QZOTHER\\PORT\0";

typedef LONG(WINAPI* ComDBOpenProc)(HANDLE*);
typedef LONG(WINAPI* ComDBCloseProc)(HANDLE);
typedef LONG(WINAPI* ComDBClaimNextFreePortProc)(HANDLE, DWORD*);
typedef LONG(WINAPI* ComDBReleasePortProc)(HANDLE, DWORD);

void* FindProc(HMODULE hModule, const char* pszName)
{
    return hModule != nullptr ? reinterpret_cast<void*>(GetProcAddress(hModule, pszName)) : nullptr;
}

// "ComDB" now leaves exactly COM nPort free.
bool IsTemporaryFor(DWORD nPort)
{
    BYTE abData[512] = {};
    DWORD cbData = sizeof(abData);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\COM Name Arbiter", "ComDB",
                     RRF_RT_REG_BINARY, nullptr, abData, &cbData) != ERROR_SUCCESS) {
        return false;
    }
    for (DWORD n = 1; n <= cbData * 8; ++n) {
        bool bFree = ((abData[(n - 1) / 8] >> ((n - 1) % 8)) & 1) == 0;
        if (bFree != (n == nPort)) {
            return false;
        }
    }
    return true;
}

DWORD ClaimAndRelease(DWORD nRelease)
{
    HMODULE hPorts = LoadLibraryA("msports.dll");
    ComDBOpenProc pfnOpen = reinterpret_cast<ComDBOpenProc>(FindProc(hPorts, "ComDBOpen"));
    ComDBCloseProc pfnClose = reinterpret_cast<ComDBCloseProc>(FindProc(hPorts, "ComDBClose"));
    ComDBClaimNextFreePortProc pfnClaim =
        reinterpret_cast<ComDBClaimNextFreePortProc>(FindProc(hPorts, "ComDBClaimNextFreePort"));
    ComDBReleasePortProc pfnRelease =
        reinterpret_cast<ComDBReleasePortProc>(FindProc(hPorts, "ComDBReleasePort"));
    HANDLE hComDB = nullptr;
    DWORD nPort = 0;
    if (pfnOpen == nullptr || pfnClose == nullptr || pfnClaim == nullptr || pfnRelease == nullptr ||
        pfnOpen(&hComDB) != ERROR_SUCCESS) {
        return 0;
    }
    if (nRelease != 0) {
        pfnRelease(hComDB, nRelease);
    } else if (pfnClaim(hComDB, &nPort) != ERROR_SUCCESS) {
        nPort = 0;
    }
    pfnClose(hComDB);
    return nPort;
}

// A root Ports device whose hardware key names COM nPort.
bool CreateOtherPort(DWORD nPort)
{
    HDEVINFO hList = SetupDiCreateDeviceInfoList(&PORTS_CLASS, nullptr);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    bool bMade = SetupDiCreateDeviceInfoA(hList, "PORTS", &PORTS_CLASS, nullptr, nullptr, DICD_GENERATE_ID,
                                          &device) &&
                 SetupDiSetDeviceRegistryPropertyA(hList, &device, SPDRP_HARDWAREID,
                                                   reinterpret_cast<const BYTE*>(OTHER_ID), sizeof(OTHER_ID)) &&
                 SetupDiCallClassInstaller(DIF_REGISTERDEVICE, hList, &device);
    HKEY hKey = bMade ? SetupDiCreateDevRegKeyA(hList, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr)
                      : nullptr;
    bMade = bMade && hKey != INVALID_HANDLE_VALUE;
    if (bMade) {
        char szName[16] = "";
        snprintf(szName, sizeof(szName), "COM%lu", static_cast<unsigned long>(nPort));
        bMade = RegSetValueExA(hKey, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(szName),
                               static_cast<DWORD>(strlen(szName) + 1)) == ERROR_SUCCESS;
        RegCloseKey(hKey);
    }
    SetupDiDestroyDeviceInfoList(hList);
    return bMade;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        return 0;
    }
    DWORD nWindow = strtoul(argv[1], nullptr, 10);
    DWORD nRelease = strtoul(argv[2], nullptr, 10);
    // A test's walk may wait inside the window until the event is set.
    for (int i = 0; i < 20000 && !IsTemporaryFor(nWindow); ++i) {
        Sleep(1);
    }
    DWORD nPort = ClaimAndRelease(nRelease);
    if (nPort != 0 && !CreateOtherPort(nPort)) {
        nPort = 0;
    }
    HANDLE hClaimed = OpenEventA(EVENT_MODIFY_STATE, FALSE, "QzOtherPortClaimed");
    if (hClaimed != nullptr) {
        SetEvent(hClaimed);
        CloseHandle(hClaimed);
    }
    return static_cast<int>(nPort);
}
