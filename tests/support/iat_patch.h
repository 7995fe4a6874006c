// Replaces a Win32 function for the product code linked into this test
// executable by patching the executable's import address table. The product
// calls the real API; only the test build's table entry changes.
#pragma once

#include <windows.h>

class CIatPatch {
public:
    // pszDll is matched without regard to case ("advapi32.dll"); the patch
    // stays until the object is destroyed.
    CIatPatch(const char* pszDll, const char* pszFunction, void* pfnReplacement);
    // The same in the import table of another loaded module (a system DLL
    // whose own calls are to be reached).
    CIatPatch(HMODULE hModule, const char* pszDll, const char* pszFunction, void* pfnReplacement);
    ~CIatPatch();
    CIatPatch(const CIatPatch&) = delete;
    CIatPatch& operator=(const CIatPatch&) = delete;

    bool IsApplied() const { return m_ppSlot != nullptr; }
    // The function the slot held before the patch.
    void* Original() const { return m_pfnOriginal; }

private:
    void** m_ppSlot;
    void* m_pfnOriginal;
};

// Finds the import slot of pszFunction from pszDll in hModule, or null.
void** FindImportSlot(HMODULE hModule, const char* pszDll, const char* pszFunction);
