// Reads the machine state the sweep compares before and after each run.
#include "system_state.h"

#include <windows.h>

#include <setupapi.h>
#include <string.h>

#include <algorithm>

namespace {

const char* const DRIVERS[] = {"qzusbdr", "qzvrcom"};
const char* const COMDB_KEY = "System\\CurrentControlSet\\Control\\COM Name Arbiter";

std::vector<BYTE> ReadComDb() {
    std::vector<BYTE> vecData(1024);
    DWORD cbData = static_cast<DWORD>(vecData.size());
    if (RegGetValueA(HKEY_LOCAL_MACHINE, COMDB_KEY, "ComDB", RRF_RT_REG_BINARY, nullptr, vecData.data(), &cbData) !=
        ERROR_SUCCESS) {
        return std::vector<BYTE>();
    }
    vecData.resize(cbData);
    return vecData;
}

void AddDevices(std::vector<std::string>& vecLines) {
    HDEVINFO hList = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (hList == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(hList, i, &device); ++i) {
        char szService[MAX_PATH] = "";
        char szId[MAX_PATH] = "";
        SetupDiGetDeviceRegistryPropertyA(hList, &device, SPDRP_SERVICE, nullptr, reinterpret_cast<BYTE*>(szService),
                                          sizeof szService, nullptr);
        SetupDiGetDeviceInstanceIdA(hList, &device, szId, sizeof szId, nullptr);
        for (const char* pszDriver : DRIVERS) {
            if (_stricmp(szService, pszDriver) == 0) vecLines.push_back(std::string("device ") + szId + " " + pszDriver);
        }
    }
    SetupDiDestroyDeviceInfoList(hList);
}

void AddServices(std::vector<std::string>& vecLines) {
    SC_HANDLE hManager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    for (const char* pszDriver : DRIVERS) {
        SC_HANDLE hService = hManager ? OpenServiceA(hManager, pszDriver, SERVICE_QUERY_STATUS) : nullptr;
        if (hService != nullptr) vecLines.push_back(std::string("service ") + pszDriver);
        if (hService != nullptr) CloseServiceHandle(hService);
    }
    if (hManager != nullptr) CloseServiceHandle(hManager);
}

void AddFiles(const char* pszPattern, const char* pszPrefix, std::vector<std::string>& vecLines) {
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA(pszPattern, &found);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) vecLines.push_back(pszPrefix + std::string(found.cFileName));
    } while (FindNextFileA(hFind, &found));
    FindClose(hFind);
}

void AddSubKeys(const char* pszKey, const char* pszPrefix, std::vector<std::string>& vecLines) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return;
    char szName[MAX_PATH];
    for (DWORD i = 0;; ++i) {
        DWORD cchName = sizeof szName;
        if (RegEnumKeyExA(hKey, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        vecLines.push_back(pszPrefix + std::string(szName));
    }
    RegCloseKey(hKey);
}

} // namespace

std::vector<std::string> ReadSystemState() {
    std::vector<std::string> vecLines;
    AddDevices(vecLines);
    AddServices(vecLines);
    char szWindows[MAX_PATH];
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    AddFiles((std::string(szWindows) + "\\inf\\*.inf").c_str(), "inf ", vecLines);
    AddFiles((std::string(szWindows) + "\\inf\\*.pnf").c_str(), "inf ", vecLines);
    AddSubKeys("System\\CurrentControlSet\\Control\\Serial Print", "serial print ", vecLines);
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qzvrcom", 0,
                      KEY_READ, &hKey) == ERROR_SUCCESS) {
        vecLines.push_back("installed-programs entry qzvrcom");
        RegCloseKey(hKey);
    }
    std::string strComDb = "ComDB";
    for (BYTE b : ReadComDb()) {
        char szByte[4];
        snprintf(szByte, sizeof szByte, " %02X", b);
        strComDb += szByte;
    }
    vecLines.push_back(strComDb);
    std::sort(vecLines.begin(), vecLines.end());
    return vecLines;
}

std::vector<std::string> DiffState(const std::vector<std::string>& vecBefore, const std::vector<std::string>& vecAfter,
                                   char cSign) {
    std::vector<std::string> vecDiff;
    for (const std::string& strLine : vecAfter) {
        if (!std::binary_search(vecBefore.begin(), vecBefore.end(), strLine)) vecDiff.push_back(cSign + strLine);
    }
    return vecDiff;
}

bool IsComDbTemporary() {
    int nClear = 0;
    std::vector<BYTE> vecData = ReadComDb();
    for (BYTE b : vecData) {
        for (int nBit = 0; nBit < 8; ++nBit) nClear += (b >> nBit) & 1 ? 0 : 1;
    }
    return !vecData.empty() && nClear == 1;
}
