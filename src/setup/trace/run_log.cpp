// The run's text log: opened once per run and written with one WriteFile a
// line, so a killed run leaves every line before the kill.
#include "run_log.h"

#include <stdarg.h>
#include <strsafe.h>

#include "../res/resource.h"

namespace {

// The text buffers of the program hold 260 characters; a line holds two of
// them and its prefix.
const size_t LOG_LINE_LENGTH = 1024;
const size_t TEXT_LENGTH = 260;
// Room kept at the end of a line for the mark of a cut line and its end.
const size_t LINE_END_ROOM = 16;
// A log above this size becomes setup.old.log, replacing the one before.
const DWORD ROTATION_SIZE = 1024 * 1024;

// The open log while a run writes it, else INVALID_HANDLE_VALUE. The lock
// keeps a write from meeting the close: a run whose wait for its worker
// failed ends while the worker may still send events.
HANDLE g_hRunLog = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_logLock;
bool g_bLogLockReady = false;

typedef LONG(WINAPI* RtlGetVersionProc)(OSVERSIONINFOW* pVersion);

bool BuildLogPath(char* pszPath, const char* pszFolder, const char* pszName)
{
    return SUCCEEDED(StringCchPrintfA(pszPath, TEXT_LENGTH, "%s\\%s", pszFolder, pszName));
}

// A log that has grown above the limit is kept as the one older generation.
void RotateLog(const char* pszLog, const char* pszOldLog)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExA(pszLog, GetFileExInfoStandard, &info) &&
        (info.nFileSizeHigh != 0 || info.nFileSizeLow > ROTATION_SIZE)) {
        MoveFileExA(pszLog, pszOldLog, MOVEFILE_REPLACE_EXISTING);
    }
}

// Opens the log for appending, creating its folder when needed. Every write
// goes to the end of the file, also while another run appends to it.
HANDLE OpenLogFile(bool bRotate)
{
    char szFolder[TEXT_LENGTH] = "";
    char szLog[TEXT_LENGTH] = "";
    char szOldLog[TEXT_LENGTH] = "";
    UINT nLength = GetWindowsDirectoryA(szFolder, TEXT_LENGTH);
    if (nLength == 0 || nLength >= TEXT_LENGTH || FAILED(StringCchCatA(szFolder, TEXT_LENGTH, "\\qzvrcom")) ||
        !BuildLogPath(szLog, szFolder, "setup.log") || !BuildLogPath(szOldLog, szFolder, "setup.old.log")) {
        return INVALID_HANDLE_VALUE;
    }
    CreateDirectoryA(szFolder, nullptr);
    if (bRotate) {
        RotateLog(szLog, szOldLog);
    }
    return CreateFileA(szLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The start of every line: local time to the millisecond and the process ID.
size_t FormatLinePrefix(char* pszLine)
{
    SYSTEMTIME time;
    GetLocalTime(&time);
    StringCchPrintfA(pszLine, LOG_LINE_LENGTH, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", time.wYear, time.wMonth,
                     time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds, GetCurrentProcessId());
    size_t cchPrefix = 0;
    StringCchLengthA(pszLine, LOG_LINE_LENGTH, &cchPrefix);
    return cchPrefix;
}

// Ends the line and writes it. Control characters (the line breaks of a
// message box text) become blanks, so every line stays one line, and
// blanks at its end go; no trail byte of a double-byte character is below
// 0x40. A line too long for the buffer was cut, and says so. A write that
// fails loses the line and nothing else.
void WriteLine(char* pszLine, bool bComplete)
{
    size_t cchLine = 0;
    for (; pszLine[cchLine] != '\0'; ++cchLine) {
        if (static_cast<unsigned char>(pszLine[cchLine]) < 0x20) {
            pszLine[cchLine] = ' ';
        }
    }
    while (cchLine > 0 && pszLine[cchLine - 1] == ' ') {
        --cchLine;
    }
    StringCchCopyA(pszLine + cchLine, LOG_LINE_LENGTH - cchLine, bComplete ? "\r\n" : " [cut]\r\n");
    StringCchLengthA(pszLine, LOG_LINE_LENGTH, &cchLine);
    DWORD cbWritten = 0;
    EnterCriticalSection(&g_logLock);
    if (g_hRunLog != INVALID_HANDLE_VALUE) {
        WriteFile(g_hRunLog, pszLine, static_cast<DWORD>(cchLine), &cbWritten, nullptr);
    }
    LeaveCriticalSection(&g_logLock);
}

// Writes a line of the log's own: the prefix, then pszFormat's text.
void WriteRunLine(const char* pszFormat, ...)
{
    char szLine[LOG_LINE_LENGTH] = "";
    size_t nPrefix = FormatLinePrefix(szLine);
    va_list arguments;
    va_start(arguments, pszFormat);
    bool bComplete = SUCCEEDED(
        StringCchVPrintfA(szLine + nPrefix, LOG_LINE_LENGTH - LINE_END_ROOM - nPrefix, pszFormat, arguments));
    va_end(arguments);
    WriteLine(szLine, bComplete);
}

// The Windows version as the system itself reports it, whatever the
// program's manifest declares: "10.0.19045", "5.2.3790 Service Pack 2".
void ReadWindowsVersion(char* pszVersion)
{
    StringCchCopyA(pszVersion, TEXT_LENGTH, "unknown");
    RtlGetVersionProc pfnGetVersion = reinterpret_cast<RtlGetVersionProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll"), "RtlGetVersion")));
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (pfnGetVersion != nullptr && pfnGetVersion(&version) == 0) {
        StringCchPrintfA(pszVersion, TEXT_LENGTH, "%lu.%lu.%lu%s%ls", version.dwMajorVersion,
                         version.dwMinorVersion, version.dwBuildNumber, version.szCSDVersion[0] != L'\0' ? " " : "",
                         version.szCSDVersion);
    }
}

// The command line as the program read it, in the ANSI code page.
void ReadCommandLine(char* pszCommandLine)
{
    if (WideCharToMultiByte(CP_ACP, 0, GetCommandLineW(), -1, pszCommandLine, TEXT_LENGTH, nullptr, nullptr) == 0) {
        StringCchCopyA(pszCommandLine, TEXT_LENGTH, "(not readable, or longer than 259 characters)");
    }
}

void WriteFirstLine(const char* pszMode)
{
    char szVersion[TEXT_LENGTH] = "";
    char szCommandLine[TEXT_LENGTH] = "";
    char szWindows[TEXT_LENGTH] = "";
    char szUser[TEXT_LENGTH] = "";
    DWORD cchUser = TEXT_LENGTH;
    LoadStringA(GetModuleHandleA(nullptr), IDS_DISPLAY_VERSION, szVersion, TEXT_LENGTH);
    ReadCommandLine(szCommandLine);
    ReadWindowsVersion(szWindows);
    if (!GetUserNameA(szUser, &cchUser)) {
        StringCchCopyA(szUser, TEXT_LENGTH, "unknown");
    }
    WriteRunLine("== setup %s starts: %s | mode: %s | Windows %s | user: %s", szVersion, szCommandLine, pszMode,
                 szWindows, szUser);
}

} // namespace

bool IsRunLogOpen()
{
    return g_hRunLog != INVALID_HANDLE_VALUE;
}

void WriteEventToRunLog(const unsigned char* pRecord, const EventArgument* pArguments, int nArguments)
{
    char szLine[LOG_LINE_LENGTH] = "";
    size_t nPrefix = FormatLinePrefix(szLine);
    bool bComplete =
        FormatEventText(pRecord, pArguments, nArguments, szLine + nPrefix, LOG_LINE_LENGTH - LINE_END_ROOM - nPrefix);
    WriteLine(szLine, bComplete);
}

CRunLog::CRunLog(const char* pszMode, bool bRotate)
{
    // Made once per process, on the main thread, and kept to its end.
    if (!g_bLogLockReady) {
        InitializeCriticalSection(&g_logLock);
        g_bLogLockReady = true;
    }
    g_hRunLog = OpenLogFile(bRotate);
    if (IsRunLogOpen()) {
        WriteFirstLine(pszMode);
    }
}

CRunLog::~CRunLog()
{
    EnterCriticalSection(&g_logLock);
    if (g_hRunLog != INVALID_HANDLE_VALUE) {
        CloseHandle(g_hRunLog);
        g_hRunLog = INVALID_HANDLE_VALUE;
    }
    LeaveCriticalSection(&g_logLock);
}

int CRunLog::End(UINT nResultId, int bRebootRequired, int nExitCode)
{
    if (!IsRunLogOpen()) {
        return nExitCode;
    }
    char szResult[TEXT_LENGTH] = "";
    char szRestart[TEXT_LENGTH] = "";
    LoadStringA(GetModuleHandleA(nullptr), nResultId, szResult, TEXT_LENGTH);
    if (bRebootRequired) {
        LoadStringA(GetModuleHandleA(nullptr), IDS_RESTART_NOTE, szRestart, TEXT_LENGTH);
    }
    WriteRunLine("== result: %s%s%s | exit code %d", szResult, bRebootRequired ? " " : "", szRestart, nExitCode);
    return nExitCode;
}
