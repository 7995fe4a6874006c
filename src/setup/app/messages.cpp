// Message boxes: string-table messages and the system text of an error.
#include "messages.h"

#include <string.h>
#include <strsafe.h>

#include "../trace/trace.h"
#include "dialog_data.h"
#include "local_memory.h"
#include "visible_desktop.h"

void ShowMessage(HWND hOwner, const char* pszText, const char* pszCaption, UINT nStyle)
{
    if (IsDesktopVisible()) {
        MessageBoxA(hOwner, pszText, pszCaption, nStyle);
        return;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 136, pszCaption, pszText);
    }
}

void ShowStringMessage(HWND hOwner, UINT nStringId, UINT nStyle)
{
    ShowResultMessage(hOwner, nStringId, 0, nStyle);
}

void ShowResultMessage(HWND hOwner, UINT nResultId, int bRebootRequired, UINT nStyle)
{
    HINSTANCE hModule = GetModuleHandleA(nullptr);
    char szText[SETUP_PATH_LENGTH] = "";
    char szNote[SETUP_PATH_LENGTH] = "";
    char szTextWithNote[SETUP_PATH_LENGTH] = "";
    LoadStringA(hModule, nResultId, szText, SETUP_PATH_LENGTH);
    // The notice goes under the result only when both fit: the result is
    // never cut for it.
    if (bRebootRequired && LoadStringA(hModule, IDS_RESTART_NOTE, szNote, SETUP_PATH_LENGTH) > 0 &&
        SUCCEEDED(StringCchPrintfA(szTextWithNote, SETUP_PATH_LENGTH, "%s\n\n%s", szText, szNote))) {
        ShowMessage(hOwner, szTextWithNote, "", nStyle);
        return;
    }
    ShowMessage(hOwner, szText, "", nStyle);
}

DWORD GetFailureError()
{
    DWORD dwError = GetLastError();
    return dwError != ERROR_SUCCESS ? dwError : ERROR_GEN_FAILURE;
}

void ShowLastErrorMessage(const char* pszCaption)
{
    // Only failures are shown: never "The operation completed successfully".
    DWORD dwError = GetFailureError();
    CLocalMemory<char> text;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(text.AddressOf()), 0, nullptr);
    if (text.Get() != nullptr) {
        ShowMessage(nullptr, text.Get(), pszCaption, MB_ICONERROR);
        return;
    }
    // No system text for this code: the number is all there is to show.
    char szNumber[64] = "";
    StringCchPrintfA(szNumber, ARRAYSIZE(szNumber), "Error code %lu (0x%08lX)", dwError, dwError);
    ShowMessage(nullptr, szNumber, pszCaption, MB_ICONERROR);
}

bool IsSpelledAlike(const char* pszAnsi, const wchar_t* pszWide)
{
    wchar_t szBack[SETUP_PATH_LENGTH] = L"";
    if (MultiByteToWideChar(CP_ACP, 0, pszAnsi, -1, szBack, SETUP_PATH_LENGTH) == 0) {
        return false;
    }
    int i = 0;
    while (szBack[i] == pszWide[i] && pszWide[i] != L'\0') {
        ++i;
    }
    return szBack[i] == pszWide[i];
}

typedef LANGID(WINAPI* SetThreadUILanguageProc)(LANGID nLanguage);

void UseShowableLanguage()
{
    // The port warning, translated in every table, has no question mark of
    // its own: one in its ANSI form stands for a letter the code page lacks.
    char szText[SETUP_PATH_LENGTH] = "";
    LoadStringA(GetModuleHandleA(nullptr), IDS_PORT_OPEN, szText, SETUP_PATH_LENGTH);
    if (strchr(szText, '?') == nullptr) {
        return;
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 171);
    }
    // Windows Vista and later pick resources by the thread's UI language,
    // earlier versions by the thread locale; the first exists from Vista on.
    const LANGID nEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    SetThreadUILanguageProc pfnSetLanguage = reinterpret_cast<SetThreadUILanguageProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "SetThreadUILanguage")));
    if (pfnSetLanguage != nullptr) {
        pfnSetLanguage(nEnglish);
    }
    SetThreadLocale(MAKELCID(nEnglish, SORT_DEFAULT));
}
