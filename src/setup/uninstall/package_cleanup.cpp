// Driver package store clean-up: the copies of a driver's INF in the INF
// folder are found by content, since the system chose their names. A copy
// is an INF that installs the driver's service: one of its lines is an
// AddService directive naming it. A comment, a string or another service's
// line that merely mentions the name belongs to another vendor's package.
// Also the installed-programs entry.
#include "package_cleanup.h"

#include <mbctype.h>
#include <mbstring.h>
#include <setupapi.h>
#include <string.h>
#include <strsafe.h>

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../trace/trace.h"
#include "inf_piece_reader.h"

namespace {

const unsigned char g_szAddService[] = "ADDSERVICE";
const char g_szUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char g_szPnfExtension[] = ".pnf";

// Large blocks: the folder holds hundreds of system INF files and most are
// read to their end.
const size_t INF_BLOCK_SIZE = 64 * 1024;

const unsigned char* SkipBlanks(const unsigned char* pszText)
{
    while (*pszText == ' ' || *pszText == '\t') {
        ++pszText;
    }
    return pszText;
}

// True when the upper-cased line head pszLine is an AddService directive
// whose first field is pszName: the key first on the line (so neither a
// comment nor a quoted string holds it), "=", and the whole field, quoted
// or not, blanks around it aside. The head's end counts as the line's only
// when bWhole: a field cut there may go on.
bool IsAddServiceOf(const unsigned char* pszLine, bool bWhole, const unsigned char* pszName, size_t nNameLength)
{
    const size_t nKey = sizeof(g_szAddService) - 1;
    const unsigned char* p = SkipBlanks(pszLine);
    if (strncmp(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(g_szAddService), nKey) != 0) {
        return false;
    }
    p = SkipBlanks(p + nKey);
    if (*p != '=') {
        return false;
    }
    p = SkipBlanks(p + 1);
    bool bQuoted = *p == '"';
    p += bQuoted ? 1 : 0;
    if (strncmp(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(pszName), nNameLength) != 0) {
        return false;
    }
    p += nNameLength;
    if (bQuoted && *p++ != '"') {
        return false;
    }
    p = SkipBlanks(p);
    return *p == ',' || *p == ';' || (*p == '\0' && bWhole);
}

// Upper case of each single-byte character, as _mbsupr converts it; lead
// bytes map to themselves. Lets a piece be ruled out before it is
// converted, and converts it at a table's cost where no byte is a lead byte.
class CUpperCaseTable {
public:
    CUpperCaseTable() : m_bSingleByte(true), m_bAsciiKeyword(true)
    {
        for (int nByte = 0; nByte < 256; ++nByte) {
            unsigned char szChar[2] = {static_cast<unsigned char>(nByte), 0};
            if (_ismbblead(nByte)) {
                m_bSingleByte = false;
            } else if (nByte != 0) {
                _mbsupr(szChar);
            }
            m_abUpper[nByte] = szChar[0];
            bool bKeywordLetter =
                szChar[0] != 0 && strchr(reinterpret_cast<const char*>(g_szAddService), szChar[0]) != nullptr;
            if (bKeywordLetter && nByte != szChar[0] && nByte != (szChar[0] | 0x20)) {
                m_bAsciiKeyword = false;
            }
        }
    }
    // True when no byte but the two ASCII cases of a letter of "ADDSERVICE"
    // upper-cases to that letter: a search for the keyword with letters in
    // either case then misses no piece that could hold it.
    bool IsAsciiKeyword() const { return m_bAsciiKeyword; }
    // False only when no run of bytes in the piece (nLength bytes and a
    // NUL) could become "ADDSERVICE" once upper-cased; true does not mean
    // it will.
    bool MayHoldAddService(const unsigned char* pPiece, size_t nLength) const
    {
        for (size_t nPos = 0; nPos < nLength; ++nPos) {
            size_t i = 0;
            while (g_szAddService[i] != '\0' && m_abUpper[pPiece[nPos + i]] == g_szAddService[i]) {
                ++i;
            }
            if (g_szAddService[i] == '\0') {
                return true;
            }
        }
        return false;
    }
    // Upper-cases pszText in place as _mbsupr does.
    void Convert(unsigned char* pszText) const
    {
        if (!m_bSingleByte) {
            _mbsupr(pszText);
            return;
        }
        for (; *pszText != '\0'; ++pszText) {
            *pszText = m_abUpper[*pszText];
        }
    }

private:
    unsigned char m_abUpper[256];
    bool m_bSingleByte;
    bool m_bAsciiKeyword;
};

// Reads the file's line heads (259 bytes at most; a CR ends a line too)
// until one is a directive that adds the service.
bool HasAddServiceLine(CInfPieceReader& reader, const unsigned char* pszName, const CUpperCaseTable& upperCase)
{
    size_t nNameLength = strlen(reinterpret_cast<const char*>(pszName));
    char szHead[SETUP_PATH_LENGTH]; // each read terminates it
    unsigned char* pHead = reinterpret_cast<unsigned char*>(szHead);
    // The reader searches for the keyword's ASCII letters, unless other
    // bytes upper-case to them: then every line is read.
    const char* pszKeyword = upperCase.IsAsciiKeyword() ? reinterpret_cast<const char*>(g_szAddService) : nullptr;
    while (reader.ReadLineHead(szHead, SETUP_PATH_LENGTH, pszKeyword)) {
        size_t nLength = strlen(szHead);
        if (!upperCase.MayHoldAddService(pHead, nLength)) {
            continue;
        }
        // The head is terminated within the buffer and upper-casing keeps
        // its byte length: the conversion stays within the bound.
        upperCase.Convert(pHead);
        if (IsAddServiceOf(pHead, nLength < SETUP_PATH_LENGTH - 1, pszName, nNameLength)) {
            return true;
        }
    }
    return false;
}

// The .pnf path of the INF at pszPath: its extension replaced. 0, or the
// event to trace: 95 when there is no extension, 112 when it would not fit.
UINT BuildPnfPath(const char* pszPath, char* pszPnfPath)
{
    StringCchCopyA(pszPnfPath, SETUP_PATH_LENGTH, pszPath);
    unsigned char* pDot = _mbsrchr(reinterpret_cast<unsigned char*>(pszPnfPath), '.');
    if (pDot == nullptr) {
        return 95;
    }
    size_t nRoom = SETUP_PATH_LENGTH - (reinterpret_cast<char*>(pDot) - pszPnfPath);
    if (nRoom < sizeof(g_szPnfExtension)) {
        return 112;
    }
    StringCchCopyA(reinterpret_cast<char*>(pDot), nRoom, g_szPnfExtension);
    return 0;
}

// Removes an INF of the system's INF folder through the driver store, which
// takes the driver package and its catalogue along; deleting the files alone
// would leave the package there to be installed again. 0 when that failed.
int UninstallFromDriverStore(const char* pszFileName)
{
    if (!SetupUninstallOEMInfA(pszFileName, SUOI_FORCEDELETE, nullptr)) {
        TraceLastError(g_guidUtilComponent, 114);
        return 0;
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 115, pszFileName);
    }
    return 1;
}

// Removes the INF pszFileName at pszPath and its .pnf file; *pnResult takes
// the result of each removal attempted. The .pnf goes first, and an INF
// whose .pnf cannot be deleted is kept: the next uninstall finds it by its
// content and tries both again, whereas a .pnf left beside a removed INF
// would be found by nothing. An INF of the system's folder is removed
// through the driver store; the file is deleted when that fails.
void DeleteInfAndPnf(const char* pszPath, const char* pszFileName, bool bDriverStore, int* pnResult)
{
    char szPnfPath[SETUP_PATH_LENGTH] = "";
    UINT nPnfFailure = BuildPnfPath(pszPath, szPnfPath);
    if (nPnfFailure == 0) {
        *pnResult = DeleteFileForce(szPnfPath);
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidUtilComponent, 96, szPnfPath);
        }
        if (!*pnResult) {
            return;
        }
    }
    *pnResult = bDriverStore ? UninstallFromDriverStore(pszFileName) : 0;
    if (!*pnResult) {
        *pnResult = DeleteFileForce(pszPath);
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 94, pszPath);
    }
    if (nPnfFailure == 95 && IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidUtilComponent, 95, pszPath);
    } else if (nPnfFailure == 112 && IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidUtilComponent, 112, pszPath);
    }
}

// Reads one INF of the folder and deletes it when it adds the service.
void DeleteInfIfMatching(const char* pszFolder, const char* pszFileName, const unsigned char* pszName,
                         const CUpperCaseTable& upperCase, CInfPieceReader& reader, bool bDriverStore,
                         int* pnResult)
{
    char szPath[SETUP_PATH_LENGTH] = "";
    if (FAILED(StringCchPrintfA(szPath, SETUP_PATH_LENGTH, "%s\\%s", pszFolder, pszFileName))) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 111, pszFileName);
        }
        return;
    }
    if (!reader.Open(szPath)) {
        TraceLastError(g_guidUtilComponent, 93);
        return;
    }
    bool bMatch = HasAddServiceLine(reader, pszName, upperCase);
    reader.Close(); // before the file is deleted
    if (bMatch) {
        DeleteInfAndPnf(szPath, pszFileName, bDriverStore, pnResult);
    }
}

// "*.inf" also finds names whose short alias ends in .INF ("oem3.inf_old"):
// only a long name ending in ".inf" is an INF, and only its .pnf is its own.
bool HasInfExtension(const char* pszFileName)
{
    size_t nLength = strlen(pszFileName);
    return nLength >= 4 && _mbsicmp(reinterpret_cast<const unsigned char*>(pszFileName + nLength - 4),
                                    reinterpret_cast<const unsigned char*>(".inf")) == 0;
}

// Fills szFolder with the Windows directory and the suffix, and szPattern
// with the folder's INF search pattern. 0 when the directory is not read.
int BuildInfFolder(const char* pszSuffix, char* pszFolder, char* pszPattern)
{
    UINT nLength = GetWindowsDirectoryA(pszFolder, SETUP_PATH_LENGTH);
    if (nLength == 0) {
        TraceLastError(g_guidUtilComponent, 91);
        return 0;
    }
    if (nLength >= SETUP_PATH_LENGTH ||
        FAILED(StringCchCatA(pszFolder, SETUP_PATH_LENGTH, pszSuffix != nullptr ? pszSuffix : "\\inf")) ||
        FAILED(StringCchPrintfA(pszPattern, SETUP_PATH_LENGTH, "%s\\*.inf", pszFolder))) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 110);
        }
        return 0;
    }
    return 1;
}

} // namespace

int DeleteOemInfByService(const char* pszName, const char* pszSuffix)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 90);
    }
    if (pszName == nullptr || pszName[0] == '\0') {
        return 0;
    }
    char szFolder[SETUP_PATH_LENGTH] = "";
    char szPattern[SETUP_PATH_LENGTH] = "";
    if (!BuildInfFolder(pszSuffix, szFolder, szPattern)) {
        return 0;
    }
    WIN32_FIND_DATAA found = {};
    CFindHandle find(FindFirstFileA(szPattern, &found));
    if (!find.IsValid()) {
        TraceLastError(g_guidUtilComponent, 92);
        return 1;
    }
    // The driver store knows only the system's own INF folder.
    bool bDriverStore = pszSuffix == nullptr;
    const unsigned char* pszUpperName = reinterpret_cast<const unsigned char*>(pszName);
    const CUpperCaseTable upperCase;
    CInfPieceReader reader(INF_BLOCK_SIZE);
    int nResult = 1;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && HasInfExtension(found.cFileName)) {
            DeleteInfIfMatching(szFolder, found.cFileName, pszUpperName, upperCase, reader, bDriverStore,
                                &nResult);
        }
    } while (FindNextFileA(find.Get(), &found));
    return nResult;
}

int DeleteFileForce(const char* pszPath)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 97);
    }
    if (pszPath == nullptr) {
        return 1; // nothing to delete
    }
    DWORD dwAttributes = GetFileAttributesA(pszPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) {
            return 1; // nothing to delete
        }
        // Attributes that cannot be read do not make the file missing: the
        // deletion is tried as it is and its outcome reported.
    } else {
        SetFileAttributesA(pszPath, dwAttributes & ~FILE_ATTRIBUTE_READONLY);
    }
    BOOL bDeleted = DeleteFileA(pszPath);
    if (bDeleted) {
        return bDeleted;
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 98, GetLastError());
    }
    return 0;
}

void DeleteUninstallEntry(const char* pszName)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 56, pszName);
    }
    // An empty name would name the Uninstall key itself.
    if (pszName == nullptr || pszName[0] == '\0') {
        return;
    }
    char szKey[SETUP_PATH_LENGTH] = "";
    if (FAILED(StringCchPrintfA(szKey, SETUP_PATH_LENGTH, "%s%s", g_szUninstallKey, pszName))) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 113, pszName);
        }
        return;
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, szKey);
}
