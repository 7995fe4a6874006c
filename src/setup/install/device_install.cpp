// Installation of the COM port devices named by the function driver INF:
// each hardware ID carries its COM number after its first backslash, and the
// arbiter is made to hand out exactly that number.
#include "device_install.h"

#include <mbstring.h>
#include <setupapi.h>
#include <strsafe.h>

#include "../app/checks.h"
#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../app/messages.h"
#include "../trace/trace.h"
#include "comdb.h"
#include "comdb_journal.h"
#include "port_check.h"

// Hardware ID buffer, NUL included.
#define SETUP_HARDWARE_ID_LENGTH 200
// The most COM numbers the system's arbiter database can hold
// (COMDB_MAX_PORTS_ARBITRATED of the Ports class library).
#define SETUP_MAX_ARBITRATED_PORTS 4096

namespace {

// True when pszText begins with pszLower (lower case letters and digits),
// compared without regard to case as INF keywords are.
bool BeginsWith(const char* pszText, const char* pszLower)
{
    for (; *pszLower != '\0'; ++pszText, ++pszLower) {
        if ((*pszText | 0x20) != *pszLower) {
            return false;
        }
    }
    return true;
}

// One number of a decoration: decimal, or hexadecimal after "0x"; an empty
// field is 0.
DWORD ReadDecorationNumber(const char** ppszText)
{
    const char* pszText = *ppszText;
    DWORD nBase = 10;
    if (pszText[0] == '0' && (pszText[1] | 0x20) == 'x') {
        nBase = 16;
        pszText += 2;
    }
    DWORD nNumber = 0;
    for (;; ++pszText) {
        DWORD nChar = static_cast<unsigned char>(*pszText);
        DWORD nLetter = (nChar | 0x20) - 'a';
        DWORD nDigit = nChar - '0' < 10 ? nChar - '0' : nLetter < 6 ? nLetter + 10 : 16;
        if (nDigit >= nBase) {
            break;
        }
        nNumber = nNumber * nBase + nDigit;
    }
    *ppszText = pszText;
    return nNumber;
}

// How well a [Manufacturer] decoration suits this system, as 64-bit Windows
// chooses ("INF Manufacturer Section" and "Combining Platform Extensions
// with Operating System Versions" in Microsoft's driver documentation):
// NT[amd64][.Major[.Minor[.ProductType[.SuiteMask[.BuildNumber]]]]] applies
// when the system is at least that version (and build), of that product
// type and with every suite bit. 0 when it does not apply (NTx86, NTarm64,
// a newer version); otherwise NTamd64 ranks above NT, then the newer
// version above the older.
ULONGLONG RankDecoration(const char* pszDecoration)
{
    ULONGLONG nRank = 2;
    const char* pszText = pszDecoration + 7;
    if (!BeginsWith(pszDecoration, "ntamd64")) {
        nRank = 1;
        pszText = pszDecoration + 2;
        if (!BeginsWith(pszDecoration, "nt")) {
            return 0;
        }
    }
    DWORD anField[5] = {}; // major, minor, product type, suite mask, build
    for (int i = 0; i < 5 && *pszText == '.'; ++i) {
        ++pszText;
        anField[i] = ReadDecorationNumber(&pszText);
    }
    if (*pszText != '\0') {
        return 0;
    }
    // No version, product type or suite at all: every 64-bit system.
    if ((anField[0] | anField[1] | anField[2] | anField[3] | anField[4]) != 0 &&
        !VerifyOsVersion(anField, VER_GREATER_EQUAL)) {
        return 0;
    }
    // Not newer than this system: each part fits its place.
    return nRank << 60 | static_cast<ULONGLONG>(anField[0]) << 40 | static_cast<ULONGLONG>(anField[1]) << 24 |
           anField[4];
}

// Reads the models section name of a [Manufacturer] line: field 1, followed
// by "." and the decoration of fields 2 on that suits this system best (the
// first of equal ones), or field 1 alone when none suits it. A name that
// does not fit is an error, never cut short.
BOOL ReadModelsSectionName(INFCONTEXT* pLine, char* pszSection)
{
    if (!SetupGetStringFieldA(pLine, 1, pszSection, SETUP_PATH_LENGTH, nullptr)) {
        return FALSE;
    }
    char szBest[SETUP_PATH_LENGTH] = "";
    ULONGLONG nBestRank = 0;
    DWORD nFields = SetupGetFieldCount(pLine);
    for (DWORD nField = 2; nField <= nFields; ++nField) {
        char szDecoration[SETUP_PATH_LENGTH] = "";
        if (!SetupGetStringFieldA(pLine, nField, szDecoration, SETUP_PATH_LENGTH, nullptr)) {
            return FALSE;
        }
        ULONGLONG nRank = RankDecoration(szDecoration);
        if (nRank > nBestRank) {
            nBestRank = nRank;
            CopyMemory(szBest, szDecoration, sizeof(szBest));
        }
    }
    if (nBestRank != 0 && (FAILED(StringCchCatA(pszSection, SETUP_PATH_LENGTH, ".")) ||
                           FAILED(StringCchCatA(pszSection, SETUP_PATH_LENGTH, szBest)))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

// The COM number after the first backslash, read as strtoul reads base 10:
// leading white space skipped, an optional '+', stop at the first
// non-digit, no digits give 0. A '-' gives no number (0), since strtoul
// would turn it into a huge one. Too large a number saturates; the arbiter
// rejects it like any number beyond its bitmap.
DWORD ReadComNumber(const unsigned char* pszText)
{
    while (*pszText == ' ' || (*pszText >= '\t' && *pszText <= '\r')) {
        ++pszText;
    }
    if (*pszText == '+') {
        ++pszText;
    }
    DWORD nNumber = 0;
    for (; *pszText >= '0' && *pszText <= '9'; ++pszText) {
        DWORD nDigit = static_cast<DWORD>(*pszText - '0');
        if (nNumber > (0xFFFFFFFFu - nDigit) / 10) {
            return 0xFFFFFFFFu;
        }
        nNumber = nNumber * 10 + nDigit;
    }
    return nNumber;
}

// What the walk carries from line to line.
struct WalkState {
    BOOL bRebootRequired;
    // The last write-back of the working copy failed or was not flushed:
    // the registry, or the disk, may still hold a temporary value that
    // claims every COM number.
    BOOL bSavePending;
};

// Writes the working copy back after a reservation and notes whether that
// left the registry in order.
void SaveAfterReservation(CComDB& comDb, WalkState* pWalk)
{
    pWalk->bSavePending = !comDb.Save();
}

// Highest COM number whose forcing is checked. Without a loaded bitmap no
// number could be forced, so every number an arbiter can hold is checked.
DWORD GetCheckedPortLimit(const CComDB& comDb)
{
    return comDb.GetPortLimit() != 0 ? comDb.GetPortLimit() : SETUP_MAX_ARBITRATED_PORTS;
}

// After a successful installation every present device with the ID must be
// named COM<nPort>. When one is not, the run fails but the device stays
// installed. Returns false only when a number was checked and every device
// was read and none holds it.
bool CheckPortNumber(CDialogData* pData, const char* pszHardwareId, DWORD nPort, const CComDB& comDb)
{
    PortNameCount count;
    CountPortNames(pszHardwareId, nPort, &count);
    // Exit code 0 means the ports work: a port whose driver did not load
    // fails the run, though it stays installed; one that starts only after
    // a restart asks for it.
    if (count.bProblem) {
        pData->m_nResultId = IDS_ERROR;
    }
    if (count.bRestart) {
        pData->m_bRebootRequired = 1;
    }
    if (nPort < 1 || nPort > GetCheckedPortLimit(comDb)) {
        return true; // no number, or one no arbiter could give
    }
    if (count.nDevices != 0 && count.nWanted == count.nDevices) {
        return true;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 133, pszHardwareId, nPort, count.szOther);
    }
    // A device failure is the graver result and stays.
    if (pData->m_nResultId == IDS_SUCCESS) {
        pData->m_nResultId = IDS_WRONG_PORT_NUMBER;
    }
    return count.nWanted != 0 || !count.bComplete;
}

// Reserves nPort for the next installation; nonzero when its temporary
// value was written. *pbMarkedHere tells whether the working copy took the
// number in here, also when that write failed. While the last write-back is
// not known to be on disk nothing is reserved: the journal of this port
// could reach the disk beside the previous port's temporary value, whose
// repair would then keep this number claimed by nothing.
BOOL ReservePortAfterSave(CComDB& comDb, DWORD nPort, WalkState* pWalk, bool* pbMarkedHere)
{
    if (pWalk->bSavePending) {
        SaveAfterReservation(comDb, pWalk);
    }
    *pbMarkedHere = false;
    // Outside a reservation "ComDB" is the truth: numbers claimed or
    // released by anyone since the last write are taken in first.
    if (pWalk->bSavePending || !comDb.ReadCurrentValue()) {
        return FALSE;
    }
    BOOL bWasInUse = comDb.IsPortInUse(nPort);
    BOOL bReserved = comDb.ReservePort(nPort);
    *pbMarkedHere = !bWasInUse && comDb.IsPortInUse(nPort);
    return bReserved;
}

// Installs the device of one hardware ID with its COM number forced. FALSE
// when the installation failed.
BOOL InstallForcedPort(CDialogData* pData, const char* pszHardwareId, DWORD nPort, const char* pszInfPath,
                       CComDB& comDb, WalkState* pWalk)
{
    bool bMarkedHere = false;
    BOOL bReserved = ReservePortAfterSave(comDb, nPort, pWalk, &bMarkedHere);
    BOOL bInstalled = InstallDeviceDriver(pszHardwareId, pszInfPath, &pWalk->bRebootRequired);
    DWORD dwError = GetFailureError();
    // A number none of our devices took is free again, released by the next
    // write, unless another port has it: one installed meanwhile by someone
    // else, which the temporary value made take this number.
    bool bHeld = bInstalled && CheckPortNumber(pData, pszHardwareId, nPort, comDb);
    if (bMarkedHere && !bHeld && !IsPortNameInUse(nPort)) {
        comDb.ReleasePort(nPort);
    }
    if (bReserved) {
        SaveAfterReservation(comDb, pWalk);
    }
    if (!bInstalled) {
        // The box shows the installation's error, whatever Save leaves.
        SetLastError(dwError);
        ShowLastErrorMessage("Error");
        pData->m_nResultId = IDS_ERROR;
        return FALSE;
    }
    if (pWalk->bRebootRequired) {
        pData->m_bRebootRequired = 1;
    }
    return TRUE;
}

// Installs one models line's device. FALSE when the installation failed;
// a line without a usable ID is skipped (TRUE).
BOOL InstallModelsLine(CDialogData* pData, INFCONTEXT* pLine, const char* pszInfPath, CComDB& comDb,
                       WalkState* pWalk)
{
    char szHardwareId[SETUP_HARDWARE_ID_LENGTH] = "";
    if (!SetupGetStringFieldA(pLine, 2, szHardwareId, SETUP_HARDWARE_ID_LENGTH, nullptr)) {
        TraceLastError(g_guidSetupComponent, 101);
        return TRUE;
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 49, szHardwareId);
    }
    // Multibyte-aware: a trail byte equal to '\' is not a backslash.
    const unsigned char* pBackslash = _mbschr(reinterpret_cast<const unsigned char*>(szHardwareId), '\\');
    if (pBackslash == nullptr) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 51, szHardwareId);
        }
        return TRUE;
    }
    DWORD nPort = ReadComNumber(pBackslash + 1);
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 50, nPort);
    }
    return InstallForcedPort(pData, szHardwareId, nPort, pszInfPath, comDb, pWalk);
}

// Walks one models section until a device fails; a section that does not
// exist has no lines.
void InstallModelsSection(CDialogData* pData, HINF hInf, const char* pszSection, const char* pszInfPath,
                          CComDB& comDb, WalkState* pWalk)
{
    INFCONTEXT line;
    if (!SetupFindFirstLineA(hInf, pszSection, nullptr, &line)) {
        return;
    }
    do {
        if (!InstallModelsLine(pData, &line, pszInfPath, comDb, pWalk)) {
            return;
        }
    } while (SetupFindNextLine(&line, &line));
}

// A temporary value left by the walk's last failed write would claim every
// COM number for good: the working copy is written once more.
bool RestoreWorkingCopy(CComDB& comDb)
{
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 130);
    }
    if (comDb.Save()) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidSetupComponent, 131);
        }
        return true;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 132);
    }
    return false;
}

} // namespace

BOOL ReadInfModelsSectionName(INFCONTEXT* pLine, char* pszSection)
{
    return ReadModelsSectionName(pLine, pszSection);
}

DWORD ReadHardwareIdPort(const char* pszHardwareId)
{
    const unsigned char* pBackslash = _mbschr(reinterpret_cast<const unsigned char*>(pszHardwareId), '\\');
    return pBackslash != nullptr ? ReadComNumber(pBackslash + 1) : 0;
}

BOOL InstallDevicesFromInf(CDialogData* pData, const char* pszInfPath)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 47);
    }
    // Declared before the INF so that it outlives it; an empty object
    // simply reserves nothing.
    CComDB comDb;
    comDb.Load();
    CInfHandle hInf(SetupOpenInfFileA(pszInfPath, nullptr, INF_STYLE_WIN4, nullptr));
    if (!hInf.IsValid()) {
        pData->m_nResultId = IDS_ERROR;
        return FALSE;
    }
    INFCONTEXT manufacturer;
    if (!SetupFindFirstLineA(hInf.Get(), "Manufacturer", nullptr, &manufacturer)) {
        pData->m_nResultId = IDS_ERROR;
        return FALSE;
    }
    WalkState walk = {FALSE, FALSE};
    do {
        char szSection[SETUP_PATH_LENGTH] = "";
        if (!ReadModelsSectionName(&manufacturer, szSection)) {
            TraceLastError(g_guidSetupComponent, 100);
            continue;
        }
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidSetupComponent, 48, szSection);
        }
        InstallModelsSection(pData, hInf.Get(), szSection, pszInfPath, comDb, &walk);
    } while (SetupFindNextLine(&manufacturer, &manufacturer));
    if (walk.bSavePending && !RestoreWorkingCopy(comDb)) {
        // The temporary value claims every COM number: no port of any
        // vendor would get one. The run must not pass for a success, and
        // the stored copy stays for the next run's repair.
        pData->m_nResultId = IDS_ERROR;
    } else {
        // Every write-back was flushed to disk: the journal may go.
        DeleteArbiterJournal();
    }
    return TRUE;
}
