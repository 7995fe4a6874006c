// Keeps INF files in %windir%\inf under the names Windows gives them.
#include "oem_inf_copy.h"

#include <strsafe.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "app/handles.h"

namespace {

// Larger INF files are refused rather than compared in pieces.
const DWORD MAX_INF_BYTES = 1024 * 1024;

// Reads a whole file into a heap block; pcbData receives its size.
DWORD ReadWholeFile(const wchar_t* pszPath, CHeapBlock* pBlock, DWORD* pcbData)
{
    CFileHandle file(CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) {
        return GetLastError();
    }
    DWORD cbSize = GetFileSize(file.Get(), nullptr);
    if (cbSize == INVALID_FILE_SIZE || cbSize > MAX_INF_BYTES) {
        return ERROR_FILE_TOO_LARGE;
    }
    pBlock->Reset(HeapAlloc(GetProcessHeap(), 0, cbSize + 1));
    if (!pBlock->IsValid()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD cbRead = 0;
    if (!ReadFile(file.Get(), pBlock->Get(), cbSize, &cbRead, nullptr) || cbRead != cbSize) {
        return ERROR_READ_FAULT;
    }
    *pcbData = cbSize;
    return ERROR_SUCCESS;
}

bool HasSameBytes(const wchar_t* pszPath, const void* pData, DWORD cbData)
{
    CHeapBlock other;
    DWORD cbOther = 0;
    return ReadWholeFile(pszPath, &other, &cbOther) == ERROR_SUCCESS && cbOther == cbData &&
           memcmp(other.Get(), pData, cbData) == 0;
}

DWORD FormatOemPath(const wchar_t* pszInfDir, unsigned int nIndex, const wchar_t* pszExtension, wchar_t* pszPath)
{
    HRESULT hr = StringCchPrintfW(pszPath, MAX_PATH, L"%ls\\oem%u.%ls", pszInfDir, nIndex, pszExtension);
    return SUCCEEDED(hr) ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

// N of a name "oemN.inf" (any case), or -1 for any other name.
long ParseOemIndex(const wchar_t* pszName)
{
    if (_wcsnicmp(pszName, L"oem", 3) != 0 || pszName[3] < L'0' || pszName[3] > L'9') {
        return -1;
    }
    wchar_t* pszEnd = nullptr;
    unsigned long ulIndex = wcstoul(pszName + 3, &pszEnd, 10);
    return (_wcsicmp(pszEnd, L".inf") == 0 && ulIndex < 100000) ? static_cast<long>(ulIndex) : -1;
}

// Windows reuses the oemN.inf that holds the same bytes.
bool FindIdenticalCopy(const wchar_t* pszInfDir, const void* pData, DWORD cbData, unsigned int* pnIndex)
{
    wchar_t szPattern[MAX_PATH] = L"";
    if (FAILED(StringCchPrintfW(szPattern, MAX_PATH, L"%ls\\oem*.inf", pszInfDir))) {
        return false;
    }
    WIN32_FIND_DATAW findData;
    CFindHandle find(FindFirstFileW(szPattern, &findData));
    if (!find.IsValid()) {
        return false;
    }
    do {
        long nIndex = ParseOemIndex(findData.cFileName);
        wchar_t szPath[MAX_PATH] = L"";
        if (nIndex >= 0 && FormatOemPath(pszInfDir, nIndex, L"inf", szPath) == ERROR_SUCCESS &&
            HasSameBytes(szPath, pData, cbData)) {
            *pnIndex = static_cast<unsigned int>(nIndex);
            return true;
        }
    } while (FindNextFileW(find.Get(), &findData));
    return false;
}

// The identical copy's N, else the lowest N without an oemN.inf.
DWORD ChooseOemIndex(const wchar_t* pszInfDir, const void* pData, DWORD cbData, unsigned int* pnIndex)
{
    if (FindIdenticalCopy(pszInfDir, pData, cbData, pnIndex)) {
        return ERROR_SUCCESS;
    }
    for (unsigned int nIndex = 0; nIndex < 100000; ++nIndex) {
        wchar_t szPath[MAX_PATH] = L"";
        DWORD dwError = FormatOemPath(pszInfDir, nIndex, L"inf", szPath);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        if (GetFileAttributesW(szPath) == INVALID_FILE_ATTRIBUTES) {
            *pnIndex = nIndex;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_EXISTS;
}

// Windows stages a package in a folder of its own (the driver store's) and
// publishes its INF in %windir%\inf only whole: a process ended half-way
// leaves no partial oemN.inf or .pnf there. The bench stages each file in
// a fixed file of a folder beside it, overwritten by the next staging, and
// moves it into place.
DWORD WriteWholeFile(const wchar_t* pszPath, const void* pData, DWORD cbData)
{
    wchar_t szStaging[MAX_PATH] = L"";
    const wchar_t* pszName = wcsrchr(pszPath, L'\\');
    if (pszName == nullptr || FAILED(StringCchCopyNW(szStaging, MAX_PATH, pszPath, pszName - pszPath)) ||
        FAILED(StringCchCatW(szStaging, MAX_PATH, L"\\..\\DriverStoreStaging"))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    CreateDirectoryW(szStaging, nullptr);
    const wchar_t* pszExtension = wcsrchr(pszName, L'.');
    if (FAILED(StringCchCatW(szStaging, MAX_PATH, L"\\staging")) ||
        FAILED(StringCchCatW(szStaging, MAX_PATH, pszExtension != nullptr ? pszExtension : L""))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    {
        CFileHandle file(CreateFileW(szStaging, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
        if (!file.IsValid()) {
            return GetLastError();
        }
        DWORD cbWritten = 0;
        if (!WriteFile(file.Get(), pData, cbData, &cbWritten, nullptr) || cbWritten != cbData) {
            return ERROR_WRITE_FAULT;
        }
    }
    return MoveFileExW(szStaging, pszPath, MOVEFILE_REPLACE_EXISTING) ? ERROR_SUCCESS : GetLastError();
}

// A real .pnf is a binary precompiled INF; nothing in the bench parses it,
// so it only records where the INF came from.
DWORD WritePnf(const wchar_t* pszPnfPath, const wchar_t* pszSourcePath)
{
    char szText[MAX_PATH * 2] = "";
    HRESULT hr = StringCchPrintfA(szText, ARRAYSIZE(szText), "PNF\r\nSource=%ls\r\n", pszSourcePath);
    if (FAILED(hr)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    size_t cchText = 0;
    StringCchLengthA(szText, ARRAYSIZE(szText), &cchText);
    return WriteWholeFile(pszPnfPath, szText, static_cast<DWORD>(cchText));
}

} // namespace

DWORD CopyInfToDriverStore(const wchar_t* pszInfPath, wchar_t* pszOemPath)
{
    CHeapBlock source;
    DWORD cbSource = 0;
    DWORD dwError = ReadWholeFile(pszInfPath, &source, &cbSource);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    wchar_t szInfDir[MAX_PATH] = L"";
    UINT cchWindows = GetWindowsDirectoryW(szInfDir, MAX_PATH);
    if (cchWindows == 0 || cchWindows >= MAX_PATH || FAILED(StringCchCatW(szInfDir, MAX_PATH, L"\\inf"))) {
        return ERROR_PATH_NOT_FOUND;
    }
    CreateDirectoryW(szInfDir, nullptr);
    unsigned int nIndex = 0;
    dwError = ChooseOemIndex(szInfDir, source.Get(), cbSource, &nIndex);
    wchar_t szPnfPath[MAX_PATH] = L"";
    if (dwError == ERROR_SUCCESS) {
        dwError = FormatOemPath(szInfDir, nIndex, L"inf", pszOemPath);
    }
    if (dwError == ERROR_SUCCESS) {
        dwError = FormatOemPath(szInfDir, nIndex, L"pnf", szPnfPath);
    }
    if (dwError == ERROR_SUCCESS) {
        dwError = WriteWholeFile(pszOemPath, source.Get(), cbSource);
    }
    if (dwError == ERROR_SUCCESS) {
        dwError = WritePnf(szPnfPath, pszInfPath);
    }
    return dwError;
}
