// Loading system libraries by full path.
#include "system_library.h"

#include <strsafe.h>

#include "dialog_data.h"

HMODULE LoadSystemLibrary(const char* pszFileName)
{
    char szPath[SETUP_PATH_LENGTH] = "";
    UINT nLength = GetSystemDirectoryA(szPath, SETUP_PATH_LENGTH);
    if (nLength == 0) {
        return nullptr;
    }
    if (nLength >= SETUP_PATH_LENGTH || FAILED(StringCchCatA(szPath, SETUP_PATH_LENGTH, "\\")) ||
        FAILED(StringCchCatA(szPath, SETUP_PATH_LENGTH, pszFileName))) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return nullptr;
    }
    return LoadLibraryA(szPath);
}

FARPROC FindSystemFunction(const char* pszFileName, const char* pszFunction)
{
    HMODULE hLibrary = LoadSystemLibrary(pszFileName);
    if (hLibrary == nullptr) {
        return nullptr;
    }
    return GetProcAddress(hLibrary, pszFunction);
}
