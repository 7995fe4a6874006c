// The scenarios that run today: the query and a silent uninstall on a clean
// machine.
#include "scenarios.h"

#include <string.h>

#include "../../src/setup/app/run_setup.h"
#include "interceptor.h"
#include "run_patches.h"

namespace {

bool MentionsDriver(const std::string& strLine) {
    if (strLine.compare(0, 5, "ComDB") == 0) return false;
    std::string strLower = strLine;
    for (char& ch : strLower) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    return strLower.find("qzusbdr") != std::string::npos || strLower.find("qzvrcom") != std::string::npos;
}

// The query changes nothing.
bool IsUnchanged(const StateLines& vecBefore, const StateLines& vecAfter) {
    return vecBefore == vecAfter;
}

// Nothing of either driver is left; "ComDB" is as before.
bool IsRemoved(const StateLines& vecBefore, const StateLines& vecAfter) {
    for (const std::string& strLine : vecAfter) {
        if (MentionsDriver(strLine)) return false;
    }
    for (const std::string& strLine : vecBefore) {
        if (strLine.compare(0, 5, "ComDB") == 0) {
            for (const std::string& strAfter : vecAfter) {
                if (strAfter.compare(0, 5, "ComDB") == 0 && strAfter != strLine) return false;
            }
        }
    }
    return true;
}

const char* const NONE_IGNORED[] = {nullptr};

} // namespace

const std::vector<Scenario>& GetScenarios() {
    static const std::vector<Scenario> s_vecScenarios = {
        {"query", L"setup.exe /debug", nullptr, "answers 0: not installed, nothing changed", IsUnchanged,
         NONE_IGNORED},
        {"uninstall-clean", L"setup.exe /s /u", nullptr, "nothing of the driver is on the machine", IsRemoved,
         NONE_IGNORED},
    };
    return s_vecScenarios;
}

const Scenario* FindScenario(const char* pszName) {
    for (const Scenario& scenario : GetScenarios()) {
        if (strcmp(scenario.pszName, pszName) == 0) return &scenario;
    }
    return nullptr;
}

int RunSetupCounted(const wchar_t* pszCommandLine, int* pnBoxes, std::string* pstrFirstBox) {
    CCommandLinePatch commandLine(pszCommandLine);
    CMessageBoxRecorder boxes;
    CMutexCloser mutexes;
    CInterceptor::BeginCounting();
    int nExitCode = RunSetup();
    CInterceptor::EndCounting();
    *pnBoxes = static_cast<int>(boxes.m_boxes.size());
    *pstrFirstBox = boxes.m_boxes.empty() ? std::string() : boxes.m_boxes[0].text;
    return nExitCode;
}
