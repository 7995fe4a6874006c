// The package check: a release folder missing a driver file would make
// Windows ask for it, or fail half-way, after the old installation had
// already been removed. It is refused before anything changes instead.
#include "package_check.h"

#include <setupapi.h>
#include <strsafe.h>

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../trace/trace.h"

namespace {

// What Windows reads on an x64 machine: the undecorated forms and the amd64
// decorations.
const char* const c_apszFileSections[] = {"SourceDisksFiles", "SourceDisksFiles.amd64"};
const char* const c_apszCatalogKeys[] = {"CatalogFile", "CatalogFile.NT", "CatalogFile.NTamd64"};

// A file (not a folder) pszName in pszFolder. A name whose path does not fit
// counts as missing.
bool IsFileIn(const char* pszFolder, const char* pszName, char* pszPath)
{
    if (FAILED(StringCchPrintfA(pszPath, SETUP_PATH_LENGTH, "%s\\%s", pszFolder, pszName))) {
        return false;
    }
    DWORD dwAttributes = GetFileAttributesA(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ReportMissing(const char* pszName)
{
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 135, pszName);
    }
    return false;
}

bool IsNamedFilePresent(const char* pszFolder, const char* pszName, const void*)
{
    char szPath[SETUP_PATH_LENGTH];
    return IsFileIn(pszFolder, pszName, szPath) || ReportMissing(pszName);
}

// Every file a [SourceDisksFiles] section lists: the key of each line, or
// its only field when it has no key.
bool VisitSourceFiles(HINF hInf, const char* pszFolder, const char* pszSection, PackageFileVisitor pfnVisit,
                      const void* pContext)
{
    INFCONTEXT line;
    if (!SetupFindFirstLineA(hInf, pszSection, nullptr, &line)) {
        return true;
    }
    do {
        char szName[SETUP_PATH_LENGTH] = "";
        if (!SetupGetStringFieldA(&line, 0, szName, SETUP_PATH_LENGTH, nullptr) &&
            !SetupGetStringFieldA(&line, 1, szName, SETUP_PATH_LENGTH, nullptr)) {
            return ReportMissing(pszSection);
        }
        if (!pfnVisit(pszFolder, szName, pContext)) {
            return false;
        }
    } while (SetupFindNextLine(&line, &line));
    return true;
}

bool VisitInfFiles(HINF hInf, const char* pszFolder, PackageFileVisitor pfnVisit, const void* pContext)
{
    for (const char* pszSection : c_apszFileSections) {
        if (!VisitSourceFiles(hInf, pszFolder, pszSection, pfnVisit, pContext)) {
            return false;
        }
    }
    for (const char* pszKey : c_apszCatalogKeys) {
        INFCONTEXT line;
        char szName[SETUP_PATH_LENGTH] = "";
        if (SetupFindFirstLineA(hInf, "Version", pszKey, &line) &&
            SetupGetStringFieldA(&line, 1, szName, SETUP_PATH_LENGTH, nullptr) && szName[0] != '\0' &&
            !pfnVisit(pszFolder, szName, pContext)) {
            return false;
        }
    }
    return true;
}

} // namespace

BOOL VisitPackageFiles(const char* pszSourceDir, PackageFileVisitor pfnVisit, const void* pContext)
{
    static const UINT s_anInfNames[] = {IDS_BUS_INF, IDS_FUNCTION_INF};
    for (UINT nStringId : s_anInfNames) {
        char szName[SETUP_PATH_LENGTH] = "";
        char szPath[SETUP_PATH_LENGTH] = "";
        LoadStringA(GetModuleHandleA(nullptr), nStringId, szName, SETUP_PATH_LENGTH);
        if (!IsFileIn(pszSourceDir, szName, szPath)) {
            return ReportMissing(szName);
        }
        if (!pfnVisit(pszSourceDir, szName, pContext)) {
            return FALSE;
        }
        CInfHandle hInf(SetupOpenInfFileA(szPath, nullptr, INF_STYLE_WIN4, nullptr));
        if (!hInf.IsValid()) {
            if (IsTraceEnabled(TRACE_ERROR)) {
                TraceEvent(g_guidSetupComponent, 139, szName);
            }
            return FALSE;
        }
        if (!VisitInfFiles(hInf.Get(), pszSourceDir, pfnVisit, pContext)) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL IsPackageComplete(const char* pszSourceDir)
{
    return VisitPackageFiles(pszSourceDir, IsNamedFilePresent, nullptr);
}
