// PE32+ headers and import tables read from the file on disk.
#include "pe_file.h"

#include <stddef.h>
#include <string.h>

#include <algorithm>

namespace {

// IMAGE_DELAYLOAD_DESCRIPTOR: Attributes, DllNameRVA, ModuleHandleRVA,
// ImportAddressTableRVA, ImportNameTableRVA, ... (32 bytes, RVAs in x64).
const size_t DELAY_DESCRIPTOR_SIZE = 32;
const size_t DELAY_NAME_FIELD = 4;
const size_t DELAY_THUNK_FIELD = 16;

} // namespace

bool CPeFile::Fail(const std::string& strError)
{
    m_strError = strError;
    return false;
}

bool CPeFile::Load(const char* pszPath)
{
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return Fail(std::string("cannot open ") + pszPath + ", error " + std::to_string(GetLastError()));
    }
    m_vecFile.resize(GetFileSize(hFile, nullptr));
    DWORD cbRead = 0;
    BOOL bRead = ReadFile(hFile, m_vecFile.data(), static_cast<DWORD>(m_vecFile.size()), &cbRead, nullptr);
    CloseHandle(hFile);
    if (!bRead || cbRead != m_vecFile.size()) return Fail("cannot read the file");

    IMAGE_DOS_HEADER dos;
    DWORD dwSignature = 0;
    if (!ReadAt(0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return Fail("no DOS header");
    size_t nHeaders = static_cast<size_t>(dos.e_lfanew);
    if (!ReadAt(nHeaders, &dwSignature, sizeof dwSignature) || dwSignature != IMAGE_NT_SIGNATURE) {
        return Fail("no NT signature");
    }
    size_t nOptional = nHeaders + sizeof dwSignature + sizeof m_fileHeader;
    if (!ReadAt(nHeaders + sizeof dwSignature, &m_fileHeader, sizeof m_fileHeader) ||
        m_fileHeader.SizeOfOptionalHeader != sizeof m_optionalHeader ||
        !ReadAt(nOptional, &m_optionalHeader, sizeof m_optionalHeader) ||
        m_optionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        return Fail("no PE32+ optional header");
    }
    m_nSections = nOptional + m_fileHeader.SizeOfOptionalHeader;
    return true;
}

bool CPeFile::ReadAt(size_t nOffset, void* pvOut, size_t cb) const
{
    if (nOffset > m_vecFile.size() || cb > m_vecFile.size() - nOffset) {
        memset(pvOut, 0, cb);
        return false;
    }
    memcpy(pvOut, m_vecFile.data() + nOffset, cb);
    return true;
}

// File offset of an RVA through the section table; 0 when unmapped.
size_t CPeFile::MapRva(DWORD dwRva) const
{
    for (WORD i = 0; i < m_fileHeader.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section;
        if (!ReadAt(m_nSections + i * sizeof section, &section, sizeof section)) return 0;
        DWORD cbSpan = std::max(section.SizeOfRawData, section.Misc.VirtualSize);
        if (dwRva >= section.VirtualAddress && dwRva - section.VirtualAddress < cbSpan) {
            return dwRva - section.VirtualAddress + section.PointerToRawData;
        }
    }
    return 0;
}

std::string CPeFile::ReadName(DWORD dwRva) const
{
    size_t nOffset = MapRva(dwRva);
    if (nOffset == 0 || nOffset >= m_vecFile.size()) return "<bad name RVA>";
    const char* pszName = reinterpret_cast<const char*>(m_vecFile.data() + nOffset);
    return std::string(pszName, strnlen(pszName, m_vecFile.size() - nOffset));
}

void CPeFile::AddFunctions(const std::string& strDll, DWORD dwThunks, std::vector<PeImport>& vecImports) const
{
    size_t nThunk = MapRva(dwThunks);
    ULONGLONG ullThunk = 0;
    for (; nThunk != 0 && ReadAt(nThunk, &ullThunk, sizeof ullThunk) && ullThunk != 0; nThunk += sizeof ullThunk) {
        if (IMAGE_SNAP_BY_ORDINAL64(ullThunk)) {
            vecImports.push_back({strDll, "#" + std::to_string(IMAGE_ORDINAL64(ullThunk))});
        } else {  // IMAGE_IMPORT_BY_NAME: a hint word, then the name
            vecImports.push_back({strDll, ReadName(static_cast<DWORD>(ullThunk) + sizeof(WORD))});
        }
    }
}

void CPeFile::AddImports(int nDirectory, size_t cbEntry, size_t nNameField, size_t nThunkField,
                         std::vector<PeImport>* pvecImports, std::vector<std::string>* pvecDlls) const
{
    const IMAGE_DATA_DIRECTORY& directory = m_optionalHeader.DataDirectory[nDirectory];
    if (directory.VirtualAddress == 0) return;
    size_t nEntry = MapRva(directory.VirtualAddress);
    DWORD dwName = 0;
    DWORD dwThunks = 0;
    for (; nEntry != 0 && ReadAt(nEntry + nNameField, &dwName, sizeof dwName) && dwName != 0; nEntry += cbEntry) {
        std::string strDll = ReadName(dwName);
        if (pvecDlls) pvecDlls->push_back(strDll);
        if (pvecImports && ReadAt(nEntry + nThunkField, &dwThunks, sizeof dwThunks)) {
            AddFunctions(strDll, dwThunks, *pvecImports);
        }
    }
    if (nEntry == 0) {
        if (pvecDlls) pvecDlls->push_back("<unreadable import table>");
        if (pvecImports) pvecImports->push_back({"<unreadable import table>", ""});
    }
}

std::vector<std::string> CPeFile::ListImportedDlls() const
{
    std::vector<std::string> vecDlls;
    AddImports(IMAGE_DIRECTORY_ENTRY_IMPORT, sizeof(IMAGE_IMPORT_DESCRIPTOR), offsetof(IMAGE_IMPORT_DESCRIPTOR, Name),
               0, nullptr, &vecDlls);
    AddImports(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, DELAY_DESCRIPTOR_SIZE, DELAY_NAME_FIELD, DELAY_THUNK_FIELD,
               nullptr, &vecDlls);
    return vecDlls;
}

std::vector<PeImport> CPeFile::ListImports() const
{
    // OriginalFirstThunk (offset 0) names the functions; the bound table
    // (FirstThunk) may already hold addresses.
    std::vector<PeImport> vecImports;
    AddImports(IMAGE_DIRECTORY_ENTRY_IMPORT, sizeof(IMAGE_IMPORT_DESCRIPTOR), offsetof(IMAGE_IMPORT_DESCRIPTOR, Name),
               0, &vecImports, nullptr);
    AddImports(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, DELAY_DESCRIPTOR_SIZE, DELAY_NAME_FIELD, DELAY_THUNK_FIELD,
               &vecImports, nullptr);
    return vecImports;
}
