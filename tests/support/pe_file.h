// Reads a 64-bit executable from its bytes on disk: headers and the names
// of everything it imports, directly or delay-loaded. Every read is checked
// against the file size, so a damaged file fails the test instead of
// reading out of bounds.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct PeImport {
    std::string dll;       // as stored, e.g. "KERNEL32.dll"
    std::string function;  // "#n" for an import by ordinal
};

class CPeFile {
public:
    // False when the file cannot be read or is not a PE32+ image; GetError()
    // says why.
    bool Load(const char* pszPath);
    const std::string& GetError() const { return m_strError; }

    size_t GetSize() const { return m_vecFile.size(); }
    const IMAGE_FILE_HEADER& GetFileHeader() const { return m_fileHeader; }
    const IMAGE_OPTIONAL_HEADER64& GetOptionalHeader() const { return m_optionalHeader; }

    // DLL names of the import and delay-import tables, in file order.
    std::vector<std::string> ListImportedDlls() const;
    // Every imported function of both tables.
    std::vector<PeImport> ListImports() const;

private:
    // One table: cbEntry-byte descriptors ending with a zero name, the
    // DLL name RVA at nNameField and the name table RVA at nThunkField.
    void AddImports(int nDirectory, size_t cbEntry, size_t nNameField, size_t nThunkField,
                    std::vector<PeImport>* pvecImports, std::vector<std::string>* pvecDlls) const;
    void AddFunctions(const std::string& strDll, DWORD dwThunks, std::vector<PeImport>& vecImports) const;
    size_t MapRva(DWORD dwRva) const;
    std::string ReadName(DWORD dwRva) const;
    bool ReadAt(size_t nOffset, void* pvOut, size_t cb) const;
    bool Fail(const std::string& strError);

    std::vector<BYTE> m_vecFile;
    std::string m_strError;
    IMAGE_FILE_HEADER m_fileHeader = {};
    IMAGE_OPTIONAL_HEADER64 m_optionalHeader = {};
    size_t m_nSections = 0;
};
