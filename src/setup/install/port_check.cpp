// Reads back the "PortName" of every present device with a hardware ID and
// compares it with the COM number that the ID carries.
#include "port_check.h"

#include <mbstring.h>
#include <setupapi.h>
#include <string.h>
#include <strsafe.h>

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../trace/trace.h"

namespace {

enum IdMatch { ID_OTHER, ID_MATCH, ID_UNREAD };

// Whether one entry of the device's hardware ID multi-string is pszId,
// compared without regard to case as the system compares IDs.
IdMatch MatchHardwareId(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, const char* pszId)
{
    DWORD cbSize = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_HARDWAREID, nullptr, nullptr, 0, &cbSize)) {
        DWORD dwError = GetLastError();
        if (dwError == ERROR_INVALID_DATA) {
            return ID_OTHER; // a device without hardware IDs
        }
        if (dwError != ERROR_INSUFFICIENT_BUFFER) {
            return ID_UNREAD;
        }
    }
    // Two zero bytes more keep a badly terminated multi-string terminated.
    CLocalBlock ids(LocalAlloc(LMEM_ZEROINIT, static_cast<SIZE_T>(cbSize) + 2));
    if (!ids.IsValid() || !SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_HARDWAREID, nullptr,
                                                             static_cast<BYTE*>(ids.Get()), cbSize, nullptr)) {
        return ID_UNREAD;
    }
    for (const unsigned char* pEntry = static_cast<const unsigned char*>(ids.Get()); *pEntry != '\0';
         pEntry += strlen(reinterpret_cast<const char*>(pEntry)) + 1) {
        if (_mbsicmp(pEntry, reinterpret_cast<const unsigned char*>(pszId)) == 0) {
            return ID_MATCH;
        }
    }
    return ID_OTHER;
}

// The device's "PortName"; empty when it has none. False when the name
// could not be read, so that nobody can say which number the port holds.
bool ReadPortName(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, char* pszName)
{
    pszName[0] = '\0';
    HKEY hKey = SetupDiOpenDevRegKey(hList, pDevice, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (hKey == INVALID_HANDLE_VALUE || hKey == nullptr) {
        return false;
    }
    CRegistryKey key(hKey);
    DWORD dwType = 0;
    DWORD cbName = SETUP_PATH_LENGTH - 1; // the last byte stays the terminator
    LONG nResult =
        RegQueryValueExA(key.Get(), "PortName", nullptr, &dwType, reinterpret_cast<BYTE*>(pszName), &cbName);
    if (nResult != ERROR_SUCCESS || dwType != REG_SZ) {
        ZeroMemory(pszName, SETUP_PATH_LENGTH);
    }
    return nResult == ERROR_SUCCESS || nResult == ERROR_FILE_NOT_FOUND;
}

} // namespace

void CountPortNames(const char* pszHardwareId, DWORD nPort, PortNameCount* pCount)
{
    ZeroMemory(pCount, sizeof(*pCount));
    char szWanted[SETUP_PATH_LENGTH] = "";
    StringCchPrintfA(szWanted, SETUP_PATH_LENGTH, "COM%lu", static_cast<unsigned long>(nPort));
    CDeviceList list(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    if (!list.IsValid()) {
        TraceLastError(g_guidSetupComponent, 134);
        return;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    bool bOtherSeen = false;
    pCount->bComplete = true;
    for (DWORD nIndex = 0; SetupDiEnumDeviceInfo(list.Get(), nIndex, &device); ++nIndex) {
        IdMatch eMatch = MatchHardwareId(list.Get(), &device, pszHardwareId);
        if (eMatch != ID_MATCH) {
            pCount->bComplete = eMatch == ID_OTHER && pCount->bComplete;
            continue;
        }
        ++pCount->nDevices;
        char szName[SETUP_PATH_LENGTH] = "";
        pCount->bComplete = ReadPortName(list.Get(), &device, szName) && pCount->bComplete;
        ReadPortStatus(device.DevInst, szName[0] != '\0' ? szName : pszHardwareId, pCount);
        if (_mbsicmp(reinterpret_cast<const unsigned char*>(szName),
                     reinterpret_cast<const unsigned char*>(szWanted)) == 0) {
            ++pCount->nWanted;
        } else if (!bOtherSeen) {
            bOtherSeen = true;
            StringCchCopyA(pCount->szOther, SETUP_PATH_LENGTH, szName);
        }
    }
    // A walk cut short by anything but its end has not seen every device.
    if (GetLastError() != ERROR_NO_MORE_ITEMS) {
        pCount->bComplete = false;
    }
}

bool IsPortNameInUse(DWORD nPort)
{
    char szWanted[SETUP_PATH_LENGTH] = "";
    StringCchPrintfA(szWanted, SETUP_PATH_LENGTH, "COM%lu", static_cast<unsigned long>(nPort));
    CDeviceList list(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!list.IsValid()) {
        return true;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD nIndex = 0; SetupDiEnumDeviceInfo(list.Get(), nIndex, &device); ++nIndex) {
        char szName[SETUP_PATH_LENGTH] = "";
        ReadPortName(list.Get(), &device, szName);
        if (_mbsicmp(reinterpret_cast<const unsigned char*>(szName),
                     reinterpret_cast<const unsigned char*>(szWanted)) == 0) {
            return true;
        }
    }
    return false;
}
