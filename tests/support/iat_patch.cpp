// Import address table patching for tests.
#include "iat_patch.h"

#include <string.h>

namespace {

BYTE* ModuleBase(HMODULE hModule)
{
    return reinterpret_cast<BYTE*>(hModule);
}

bool WriteSlot(void** ppSlot, void* pValue)
{
    DWORD dwOldProtect = 0;
    if (!VirtualProtect(ppSlot, sizeof(*ppSlot), PAGE_READWRITE, &dwOldProtect)) {
        return false;
    }
    *ppSlot = pValue;
    VirtualProtect(ppSlot, sizeof(*ppSlot), dwOldProtect, &dwOldProtect);
    return true;
}

} // namespace

void** FindImportSlot(HMODULE hModule, const char* pszDll, const char* pszFunction)
{
    BYTE* pBase = ModuleBase(hModule);
    IMAGE_DOS_HEADER* pDos = reinterpret_cast<IMAGE_DOS_HEADER*>(pBase);
    IMAGE_NT_HEADERS* pNt = reinterpret_cast<IMAGE_NT_HEADERS*>(pBase + pDos->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return nullptr;
    }
    IMAGE_IMPORT_DESCRIPTOR* pImport = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(pBase + directory.VirtualAddress);
    for (; pImport->Name != 0; ++pImport) {
        if (_stricmp(reinterpret_cast<char*>(pBase + pImport->Name), pszDll) != 0) {
            continue;
        }
        IMAGE_THUNK_DATA* pNames = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pImport->OriginalFirstThunk);
        IMAGE_THUNK_DATA* pSlots = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pImport->FirstThunk);
        for (; pNames->u1.AddressOfData != 0; ++pNames, ++pSlots) {
            if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal)) {
                continue;
            }
            IMAGE_IMPORT_BY_NAME* pName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(pBase + pNames->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(pName->Name), pszFunction) == 0) {
                return reinterpret_cast<void**>(&pSlots->u1.Function);
            }
        }
    }
    return nullptr;
}

CIatPatch::CIatPatch(const char* pszDll, const char* pszFunction, void* pfnReplacement)
    : CIatPatch(GetModuleHandleA(nullptr), pszDll, pszFunction, pfnReplacement)
{
}

CIatPatch::CIatPatch(HMODULE hModule, const char* pszDll, const char* pszFunction, void* pfnReplacement)
    : m_ppSlot(FindImportSlot(hModule, pszDll, pszFunction)), m_pfnOriginal(nullptr)
{
    if (m_ppSlot == nullptr) {
        return;
    }
    m_pfnOriginal = *m_ppSlot;
    if (!WriteSlot(m_ppSlot, pfnReplacement)) {
        m_ppSlot = nullptr;
    }
}

CIatPatch::~CIatPatch()
{
    if (m_ppSlot != nullptr) {
        WriteSlot(m_ppSlot, m_pfnOriginal);
    }
}
