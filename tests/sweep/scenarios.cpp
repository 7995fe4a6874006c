// The scenarios: the query, a silent install on a clean machine but for
// another vendor's port on COM1, a reinstall, an uninstall of an
// installation, one with a port open, and an uninstall of a clean machine.
#include "scenarios.h"

#include <string.h>

#include "../../src/setup/app/run_setup.h"
#include "interceptor.h"
#include "lived_in.h"
#include "package_folder.h"
#include "run_patches.h"

namespace {

const wchar_t INSTALL[] = L"setup.exe /s";
const wchar_t UNINSTALL[] = L"setup.exe /s /u";

const char ONLY_TRACED[] = "uninstall clean-up steps are only traced; the run goes on";
const char ENTRY_NOT_REPORTED[] = "the installed-programs entry is not reported when it cannot be written";

const char KEY_LEFT[] = "a program key left because its emptiness could not be checked is deleted by the next run";
const char EMPTY_KEY_LEFT[] = "an empty program key left by a failed deletion is deleted by the next run";
const char INF_AS_READ[] = "the INF is taken as the system reads it: a line or section it cannot read is skipped";

#define INSTALL_ACCEPTS                                                                                       \
    {nullptr, "installed-programs entry", ENTRY_NOT_REPORTED}, {"RegQueryInfoKeyA", "program key", KEY_LEFT}, \
    {"SetupFindFirstLineA", nullptr, INF_AS_READ}, {"SetupFindNextLine", nullptr, INF_AS_READ},               \
    {"SetupGetStringFieldA", nullptr, INF_AS_READ}, {"SetupGetFieldCount", nullptr, INF_AS_READ}

const AcceptedDifference NONE_ACCEPTED[] = {{nullptr, nullptr, nullptr}};
const AcceptedDifference INSTALL_ACCEPTED[] = {INSTALL_ACCEPTS, {nullptr, nullptr, nullptr}};
// The old installation's removal is an uninstall whose clean-up steps are
// only traced: what it leaves stays beside the new installation.
const AcceptedDifference REINSTALL_ACCEPTED[] = {INSTALL_ACCEPTS,
                                                 {nullptr, "+ inf ", ONLY_TRACED},
                                                 {nullptr, "+ device ", ONLY_TRACED},
                                                 {nullptr, "+ Serial Print key", ONLY_TRACED},
                                                 {nullptr, nullptr, nullptr}};
const AcceptedDifference UNINSTALL_ACCEPTED[] = {{"RegQueryInfoKeyA", "program key", KEY_LEFT},
                                                 {"RegDeleteKeyA", "program key", EMPTY_KEY_LEFT},
                                                 {"RegOpenKeyExA", "program key", EMPTY_KEY_LEFT},
                                                 {"RegDeleteValueA", "program key", EMPTY_KEY_LEFT},
                                                 {nullptr, "device ", ONLY_TRACED},
                                                 {nullptr, "COM numbers", ONLY_TRACED},
                                                 {nullptr, "service ", ONLY_TRACED},
                                                 {nullptr, "inf ", ONLY_TRACED},
                                                 {nullptr, "Serial Print key", ONLY_TRACED},
                                                 {nullptr, "installed-programs entry", ONLY_TRACED},
                                                 {nullptr, nullptr, nullptr}};

void ForgetInstanceIds(MachineState& state) {
    for (DeviceRecord& device : state.devices) device.instanceId.clear();
}

void ForgetNumbers(MachineState& state) {
    for (DeviceRecord& device : state.devices) device.portName.clear();
    state.comDb.clear();
}

// Every run starts from the same files in the target folder, so that each
// run makes the same calls and sends the same events: the package copy as
// an earlier install left it (a new copy sends other events than one that
// overwrites), and a run log just above the size at which it is renamed,
// the renaming's calls included.
void ResetTargetFolder() {
    char szWindows[MAX_PATH] = "";
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    std::string strFolder = std::string(szWindows) + "\\qzvrcom\\";
    CreateDirectoryA(strFolder.c_str(), nullptr);
    for (const std::string& strName : ListFiles(PackageFolder() + ".")) {
        if (IsForeignPackageFile(strName)) DeleteFileA((strFolder + strName).c_str());
        else CopyFileA((PackageFolder() + strName).c_str(), (strFolder + strName).c_str(), FALSE);
    }
    HANDLE hLog = CreateFileA((strFolder + "setup.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    SetFilePointer(hLog, 1024 * 1024 + 1, nullptr, FILE_BEGIN);
    SetEndOfFile(hLog);
    CloseHandle(hLog);
}

} // namespace

MachineState ReadSweptState() {
    MachineState state = ReadMachineState();
    std::vector<std::string>& vecServices = state.services;
    for (size_t i = vecServices.size(); i-- > 0;) {
        if (vecServices[i].compare(0, 10, "WINEDEVICE") == 0) vecServices.erase(vecServices.begin() + i);
    }
    return state;
}

const std::vector<Scenario>& GetScenarios() {
    static const std::vector<Scenario> s_vecScenarios = {
        {"query", L"setup.exe /debug", nullptr, 0, "answers 0: not installed, nothing changed", true, NONE_ACCEPTED},
        {"install", INSTALL, nullptr, 0, "every port installed with its number, the entry written", false,
         INSTALL_ACCEPTED, true, 1},
        {"reinstall", INSTALL, INSTALL, 0, "the old installation replaced by a whole new one", false,
         REINSTALL_ACCEPTED, true, 1},
        {"uninstall", UNINSTALL, INSTALL, 0, "nothing of the driver is on the machine", true, UNINSTALL_ACCEPTED,
         true},
        {"uninstall-busy", UNINSTALL, INSTALL, 12, "nothing of the driver is on the machine", true,
         UNINSTALL_ACCEPTED},
        {"uninstall-clean", UNINSTALL, nullptr, 0, "nothing of the driver is on the machine", true,
         UNINSTALL_ACCEPTED},
    };
    return s_vecScenarios;
}

const Scenario* FindScenario(const char* pszName) {
    for (const Scenario& scenario : GetScenarios()) {
        if (strcmp(scenario.pszName, pszName) == 0) return &scenario;
    }
    return nullptr;
}

int DeleteClasslessDevices() {
    HKEY hRoot = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Enum\\ROOT\\QZVRCOM", 0, KEY_ALL_ACCESS,
                      &hRoot) != ERROR_SUCCESS) {
        return 0;
    }
    std::vector<std::string> vecClassless;
    char szName[MAX_PATH];
    for (DWORD i = 0, cchName = MAX_PATH; RegEnumKeyExA(hRoot, i, szName, &cchName, nullptr, nullptr, nullptr,
                                                        nullptr) == ERROR_SUCCESS; ++i, cchName = MAX_PATH) {
        if (RegGetValueA(hRoot, szName, "ClassGUID", RRF_RT_ANY, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            vecClassless.push_back(szName);
        }
    }
    for (const std::string& strName : vecClassless) RegDeleteTreeA(hRoot, strName.c_str());
    RegCloseKey(hRoot);
    return static_cast<int>(vecClassless.size());
}

std::vector<std::string> ListDifferencesExceptIds(const MachineState& promised, const MachineState& after) {
    MachineState promisedCopy = promised;
    MachineState afterCopy = after;
    ForgetInstanceIds(promisedCopy);
    ForgetInstanceIds(afterCopy);
    return DescribeDifferences(promisedCopy, afterCopy);
}

std::vector<std::string> ListMissingWork(const MachineState& promised, const MachineState& after) {
    std::vector<std::string> vecWithNumbers = ListDifferencesExceptIds(promised, after);
    MachineState promisedCopy = promised;
    MachineState afterCopy = after;
    ForgetInstanceIds(promisedCopy);
    ForgetInstanceIds(afterCopy);
    ForgetNumbers(promisedCopy);
    ForgetNumbers(afterCopy);
    std::vector<std::string> vecLines = DescribeDifferences(promisedCopy, afterCopy);
    if (vecWithNumbers != vecLines) vecLines.push_back("~ COM numbers");
    return vecLines;
}

const char* FindAcceptingReason(const AcceptedDifference* pAccepted, const char* pszFunction,
                                const std::vector<std::string>& vecLines) {
    const char* pszReason = nullptr;
    for (const std::string& strLine : vecLines) {
        const AcceptedDifference* pMatch = pAccepted;
        for (; pMatch->pszReason != nullptr; ++pMatch) {
            bool bFunction = pMatch->pszFunction == nullptr || strcmp(pMatch->pszFunction, pszFunction) == 0;
            bool bLine = pMatch->pszContaining == nullptr || strLine.find(pMatch->pszContaining) != std::string::npos;
            if (bFunction && bLine) break;
        }
        if (pMatch->pszReason == nullptr) return nullptr;
        pszReason = pMatch->pszReason;
    }
    return pszReason;
}

int RunSetupCounted(const wchar_t* pszCommandLine, int* pnBoxes, std::string* pstrFirstBox) {
    CCommandLinePatch commandLine(pszCommandLine);
    CMessageBoxRecorder boxes;
    CMutexCloser mutexes;
    ResetTargetFolder();
    CInterceptor::BeginCounting();
    int nExitCode = RunSetup();
    CInterceptor::EndCounting();
    *pnBoxes = static_cast<int>(boxes.m_boxes.size());
    *pstrFirstBox = boxes.m_boxes.empty() ? std::string() : boxes.m_boxes[0].text;
    return nExitCode;
}
