// Child runs of the sweep and their outcome files.
#include <windows.h>

#include "child_run.h"

#include <stdio.h>
#include <string.h>

#include "device_tree.h"
#include "interceptor.h"
#include "uidriver/ui_driver.h"
#include "scenarios.h"

namespace {

// A crash ends the child at once with the exception code as its exit code,
// instead of starting a debugger that waits for a user.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* pException) {
    TerminateProcess(GetCurrentProcess(), pException->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The instance ID of the device a device fault chooses, in the walks'
// order, or "" when there is none.
std::string FindChosenDevice(DeviceChoice eDevice) {
    for (const DeviceRecord& device : ListDevices()) {
        bool bOurs = lstrcmpiA(device.service.c_str(), "qzvrcom") == 0 || lstrcmpiA(device.service.c_str(), "qzusbdr") == 0;
        if (eDevice == DEVICE_OUR_FIRST ? lstrcmpiA(device.service.c_str(), "qzvrcom") == 0
                                        : !bOurs && !device.portName.empty()) {
            return device.instanceId;
        }
    }
    return "";
}

} // namespace

int RunChild(const char* pszScenario, int nRow, long nCall, const char* pszResultFile, bool bPrepare, bool bKill) {
    SetUnhandledExceptionFilter(EndOnCrash);
    const Scenario* pScenario = FindScenario(pszScenario);
    if (pScenario == nullptr) return 2;
    int nPrepareExit = bPrepare && pScenario->pszPrepare != nullptr ? RunPlain(pScenario->pszPrepare) : 0;
    int nBoxes = 0;
    std::string strFirstBox;
    CInterceptor interceptor(nRow >= 0 ? nRow : -1, nCall, bKill);
    if (nRow <= -2) {
        int nDeviceRows = 0;
        const DeviceFaultRow& row = GetDeviceFaultRows(&nDeviceRows)[-2 - nRow];
        interceptor.FailDevice(row, FindChosenDevice(row.eDevice));
    }
    int nExitCode = RunSetupCounted(pScenario->pszCommandLine, &nBoxes, &strFirstBox);

    FILE* pFile = fopen(pszResultFile, "w");
    if (pFile == nullptr) return 3;
    fprintf(pFile, "exit %d\nprepare %d\ninjected %d\nboxes %d\nbox %s\n", nExitCode, nPrepareExit,
            interceptor.WasInjected() ? 1 : 0, nBoxes, strFirstBox.c_str());
    int nRows = 0;
    const FunctionRow* pRows = GetFunctionRows(&nRows);
    for (int i = 0; i < nRows; ++i) {
        if (interceptor.GetCallCount(i) > 0) fprintf(pFile, "calls %s %ld\n", pRows[i].pszName, interceptor.GetCallCount(i));
    }
    for (const LeakedResource& leak : interceptor.ListLeaks()) {
        fprintf(pFile, "leak %s from %s\n", DescribeResource(leak.kind), leak.function.c_str());
    }
    for (const std::string& strRelease : interceptor.ListUnmatchedReleases()) {
        fprintf(pFile, "unmatched %s\n", strRelease.c_str());
    }
    fprintf(pFile, "end\n");
    fclose(pFile);
    return 0;
}

int RunPlain(const wchar_t* pszCommandLine) {
    SetUnhandledExceptionFilter(EndOnCrash);
    int nBoxes = 0;
    std::string strFirstBox;
    return RunSetupCounted(pszCommandLine, &nBoxes, &strFirstBox);
}

namespace {

void ReadOutcome(const std::string& strResultFile, RunOutcome& outcome) {
    FILE* pFile = fopen(strResultFile.c_str(), "r");
    if (pFile == nullptr) return;
    char szLine[1024];
    while (fgets(szLine, sizeof szLine, pFile) != nullptr) {
        szLine[strcspn(szLine, "\r\n")] = '\0';
        std::string strLine = szLine;
        std::string strValue = strLine.substr(strLine.find(' ') + 1);
        if (strLine.compare(0, 5, "exit ") == 0) outcome.nExitCode = atoi(strValue.c_str());
        if (strLine.compare(0, 9, "injected ") == 0) outcome.bInjected = strValue == "1";
        if (strLine.compare(0, 8, "prepare ") == 0) outcome.nPrepareExit = atoi(strValue.c_str());
        if (strLine.compare(0, 6, "boxes ") == 0) outcome.nBoxes = atoi(strValue.c_str());
        if (strLine.compare(0, 4, "box ") == 0) outcome.strFirstBox = strValue;
        if (strLine.compare(0, 5, "leak ") == 0) outcome.vecLeaks.push_back(strValue);
        if (strLine.compare(0, 10, "unmatched ") == 0) outcome.vecUnmatched.push_back(strValue);
        if (strLine.compare(0, 6, "calls ") == 0) {
            size_t nSpace = strValue.find(' ');
            outcome.vecCalls.push_back({strValue.substr(0, nSpace), atol(strValue.c_str() + nSpace + 1)});
        }
        if (strLine == "end") outcome.bFinished = true;
    }
    fclose(pFile);
}

} // namespace

RunOutcome StartChild(const std::string& strArguments, const std::string& strResultFile, DWORD dwTimeoutMs) {
    RunOutcome outcome;
    // Not the module name: both forms answer the package's setup.exe here.
    wchar_t szWideSelf[MAX_PATH] = L"";
    DWORD cchSelf = MAX_PATH;
    QueryFullProcessImageNameW(GetCurrentProcess(), 0, szWideSelf, &cchSelf);
    char szSelf[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, szWideSelf, -1, szSelf, sizeof(szSelf), nullptr, nullptr);
    std::string strCommand = std::string("\"") + szSelf + "\" " + strArguments;
    DeleteFileA(strResultFile.c_str());
    PROCESS_INFORMATION process = {};
    if (!CreateProcessRetried(nullptr, &strCommand[0], nullptr, &process)) {
        outcome.strFailure = "child not started, error " + std::to_string(GetLastError());
        return outcome;
    }
    DWORD dwExit = 0;
    if (WaitForSingleObject(process.hProcess, dwTimeoutMs) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, INFINITE);
        outcome.strFailure = "hang";
    }
    GetExitCodeProcess(process.hProcess, &dwExit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (outcome.strFailure.empty() && strResultFile.empty()) {
        outcome.bFinished = dwExit < 0x80000000u || dwExit == 0xFFFFFFFFu;
        outcome.nExitCode = static_cast<int>(dwExit);
    } else if (outcome.strFailure.empty()) {
        ReadOutcome(strResultFile, outcome);
    }
    if (!outcome.bFinished && outcome.strFailure.empty()) {
        char szCode[32];
        snprintf(szCode, sizeof szCode, "crash 0x%08lX", static_cast<unsigned long>(dwExit));
        outcome.strFailure = szCode;
    }
    return outcome;
}
