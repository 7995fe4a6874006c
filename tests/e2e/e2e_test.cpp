// The real setup.exe on the device bench with the sample package: whole
// install and uninstall runs, silent and interactive, judged by the state
// they leave on the machine.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "machine_state.h"
#include "package_folder.h"
#include "test_devices.h"
#include "uidriver/ui_driver.h"

namespace {

const DWORD EXIT_FAILED = 0xFFFFFFFF;
const int ID_PROGRESS = 1003;
const char PORT_OPEN_TEXT[] = "Uninstallation was stopped. Close the virtual com port and uninstall again.";
const char PORT_OPEN_TEXT_JA[] =
    "\xe3\x82\xa2\xe3\x83\xb3\xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xb9\xe3\x83\x88\xe3\x83\xbc\xe3\x83\xab\xe3\x82\x92"
    "\xe4\xb8\xad\xe6\x96\xad\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x97\xe3\x81\x9f\xe3\x80\x82\xe3\x83\x9d\xe3\x83\xbc"
    "\xe3\x83\x88\xe3\x82\x92\xe9\x96\x89\xe3\x81\x98\xe3\x81\xa6\xe5\x86\x8d\xe5\xba\xa6\xe3\x82\xa2\xe3\x83\xb3"
    "\xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xb9\xe3\x83\x88\xe3\x83\xbc\xe3\x83\xab\xe3\x82\x92\xe5\xae\x9f\xe8\xa1\x8c"
    "\xe3\x81\x97\xe3\x81\xa6\xe3\x81\x8f\xe3\x81\xa0\xe3\x81\x95\xe3\x81\x84\xe3\x80\x82";
const char ERROR_CAPTION_JA[] = "\xe3\x82\xa8\xe3\x83\xa9\xe3\x83\xbc";

// Hardware ID and port of each COM port device of the sample package.
const std::vector<std::pair<std::string, std::string>> SAMPLE_PORTS = {
    {"QZVRCOM\\12", "COM12"}, {"QZVRCOM\\27", "COM27"}, {"QZVRCOM\\5", "COM5"}};

std::string TargetFolder()
{
    return WindowsFolder() + "\\qzvrcom\\";
}

std::string ReadFileText(const std::string& path)
{
    std::string text;
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return "(missing)";
    }
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buffer, sizeof(buffer), &cbRead, nullptr) && cbRead != 0) {
        text.append(buffer, cbRead);
    }
    CloseHandle(hFile);
    return text;
}

void WriteFileText(const std::string& path, const std::string& text, DWORD dwAttributes = FILE_ATTRIBUTE_NORMAL)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, dwAttributes, nullptr);
    DWORD cbWritten = 0;
    WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &cbWritten, nullptr);
    CloseHandle(hFile);
}

std::string LogPath()
{
    return TargetFolder() + "setup.log";
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t nCount = 0;
    for (size_t nAt = text.find(part); nAt != std::string::npos; nAt = text.find(part, nAt + 1)) {
        ++nCount;
    }
    return nCount;
}

// The system's text of an error, as a box shows it.
std::string SystemText(DWORD dwError)
{
    char szText[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0, szText,
                   sizeof(szText), nullptr);
    return szText;
}

// A window station without WSF_VISIBLE, as services and agents running as
// SYSTEM have, and its desktop; it lives as long as this process.
const char* HiddenDesktop()
{
    static HWINSTA s_hStation = nullptr;
    if (s_hStation == nullptr) {
        s_hStation = CreateWindowStationA("qzhidden", 0, WINSTA_ALL_ACCESS, nullptr);
        HWINSTA hOwn = GetProcessWindowStation();
        SetProcessWindowStation(s_hStation);
        EXPECT_NE(nullptr, CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr));
        SetProcessWindowStation(hOwn);
    }
    return "qzhidden\\Default";
}

// The sorted (hardware ID, port) pairs of the function driver's devices.
std::vector<std::pair<std::string, std::string>> Ports(const MachineState& state)
{
    std::vector<std::pair<std::string, std::string>> ports;
    for (const DeviceRecord& device : DevicesOfService(state, "qzvrcom")) {
        ports.push_back({device.hardwareId, device.portName});
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::vector<BYTE> WithPorts(std::vector<BYTE> comDb, std::initializer_list<int> ports)
{
    for (int nPort : ports) {
        comDb.resize(std::max(comDb.size(), static_cast<size_t>((nPort - 1) / 8 + 1)));
        comDb[(nPort - 1) / 8] = static_cast<BYTE>(comDb[(nPort - 1) / 8] | (1 << ((nPort - 1) % 8)));
    }
    return comDb;
}

// Starts setup.exe from the package folder, waits for its dialog, presses
// OK and waits for the first box; null when a step failed.
HWND PressOkAndWaitForBox(CProgramRun* pRun, const char* pszArguments, const char* pszCaption,
                          MessageBoxState* pBox)
{
    if (!pRun->Start(PackageSetupPath().c_str(), pszArguments, PackageFolder().c_str())) {
        return nullptr;
    }
    HWND hDialog = pRun->WaitForWindow("#32770", pszCaption);
    if (hDialog == nullptr) {
        return nullptr;
    }
    ClickButton(hDialog, IDOK);
    return pRun->WaitForMessageBox(pBox, 60000) ? hDialog : nullptr;
}

// A finished run: its exit code and every box it showed, in order.
struct RunResult {
    DWORD dwExitCode;
    std::vector<MessageBoxState> boxes;
};

class CEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PackageFolder();
        RemoveFolderFiles(TargetFolder());
        m_clean = ReadMachineState();
    }

    void TearDown() override
    {
        // Also a partial installation, which the query does not count.
        MachineState state = ReadMachineState();
        if (HasService(state, "qzvrcom") || HasService(state, "qzusbdr")) {
            RunPackageSetup("/u /s");
        }
    }

    static void RemoveFolderFiles(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE hFind = FindFirstFileA((folder + "*").c_str(), &found);
        if (hFind == INVALID_HANDLE_VALUE) {
            return;
        }
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesA((folder + found.cFileName).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA((folder + found.cFileName).c_str());
            }
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }

    // Runs a program to its end, dismissing every box it shows, as an
    // administrator watching a deployment would.
    static RunResult RunDismissingBoxes(const std::string& program, const std::string& arguments,
                                        const char* pszWorkDir)
    {
        RunResult result = {0x12345678, {}};
        CProgramRun run;
        EXPECT_TRUE(run.Start(program.c_str(), arguments.c_str(), pszWorkDir));
        for (int i = 0; i < 600 && run.IsRunning(); ++i) {
            MessageBoxState box;
            if (run.WaitForMessageBox(&box, 200)) {
                result.boxes.push_back(box);
                DismissMessageBox(box);
                WaitForWindowGone(box.hWnd);
            }
        }
        EXPECT_TRUE(run.WaitForExit(&result.dwExitCode));
        return result;
    }

    static RunResult RunSetup(const char* pszArguments)
    {
        return RunDismissingBoxes(PackageSetupPath(), pszArguments, PackageFolder().c_str());
    }

    // What a complete installation leaves, whatever mode wrote it.
    void ExpectInstalled(const MachineState& state, const char* pszCommandEnd)
    {
        EXPECT_EQ(SAMPLE_PORTS, Ports(state));
        EXPECT_TRUE(HasService(state, "qzvrcom"));
        EXPECT_EQ(WithPorts(m_clean.comDb, {5, 12, 27}), state.comDb);
        EXPECT_NE(state.infFiles.end(), std::find(state.infFiles.begin(), state.infFiles.end(), "QZUSBDR.INF"));
        for (const char* pszFile : {"QZUSBDR.INF", "QZVRCOM.INF", "QZVRCOM.SYS", "QZUSBDR.CAT", "SETUP.EXE"}) {
            EXPECT_NE(state.packageCopy.end(), std::find(state.packageCopy.begin(), state.packageCopy.end(), pszFile))
                << pszFile;
        }
        ASSERT_TRUE(state.bEntryExists);
        const std::string command = TargetFolder().substr(0, TargetFolder().size() - 1) + "\\setup.exe " + pszCommandEnd;
        const std::vector<std::pair<const char*, std::string>> values = {
            {"UninstallString", command}, {"DisplayName", "qzvrcom"}, {"Publisher", "VANTORIS"},
            {"DisplayVersion", "3.0.0.7"}};
        EXPECT_EQ(values.size(), state.entryValues.size());
        for (const auto& value : values) {
            auto it = state.entryValues.find(value.first);
            ASSERT_NE(state.entryValues.end(), it) << value.first;
            EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), it->second.dwType) << value.first;
            EXPECT_EQ(value.second.size() + 1, it->second.data.size()) << value.first;
            EXPECT_EQ(value.second, EntryString(state, value.first));
        }
    }

    // Only the package copy may differ from the machine before the test.
    void ExpectClean()
    {
        EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(m_clean, ReadMachineState()));
        EXPECT_EQ(0u, RunPackageSetup("/debug"));
    }

    MachineState m_clean;
};

TEST_F(CEndToEndTest, SilentInstallThenItsOwnUninstallStringLeaveAClean)
{
    // A read-only copy from an earlier installation is replaced; a subfolder
    // of the package folder is not copied.
    CreateDirectoryA(TargetFolder().c_str(), nullptr);
    WriteFileText(TargetFolder() + "qzvrcom.sys", "old", FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA((PackageFolder() + "extras").c_str(), nullptr);
    WriteFileText(PackageFolder() + "extras\\notes.txt", "not part of the package");

    // Started by its full path from another folder, as from an elevated
    // prompt in system32: the package beside the program is installed, and
    // nothing of the current directory is copied.
    // A release folder may hold a log of its own; the machine's stays.
    for (const char* pszLog : {"setup.log", "setup.old.log"}) WriteFileText(PackageFolder() + pszLog, "release log");
    RunResult install = RunDismissingBoxes(PackageSetupPath(), "/s", (WindowsFolder() + "\\system32").c_str());
    EXPECT_EQ(0u, install.dwExitCode);
    EXPECT_TRUE(install.boxes.empty());
    EXPECT_EQ(std::string::npos, ReadFileText(LogPath()).find("release log"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((TargetFolder() + "setup.old.log").c_str()));
    for (const char* pszLog : {"setup.log", "setup.old.log"}) DeleteFileA((PackageFolder() + pszLog).c_str());
    MachineState installed = ReadMachineState();
    ExpectInstalled(installed, "/u /s");
    // Exactly the package: the README beside it in the release folder stays
    // out of the Windows folder.
    const std::vector<std::string> package = {"QZUSBDR.CAT", "QZUSBDR.INF", "QZUSBDR.SYS", "QZVRCOM.CAT",
                                              "QZVRCOM.INF", "QZVRCOM.SYS", "SETUP.EXE"};
    EXPECT_EQ(package, installed.packageCopy);
    EXPECT_EQ(ReadFileText(PackageFolder() + "qzvrcom.sys"), ReadFileText(TargetFolder() + "qzvrcom.sys"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((TargetFolder() + "extras").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((TargetFolder() + "notes.txt").c_str()));
    // A query writes nothing to the log.
    std::string installLog = ReadFileText(LogPath());
    EXPECT_EQ(1u, RunPackageSetup("/debug"));
    EXPECT_EQ(installLog, ReadFileText(LogPath()));

    // The print spooler's keys of the ports, as Windows leaves them, go too.
    for (const char* pszKey : {"COM5\\default", "COM27", "COM99"}) {
        HKEY hKey = nullptr;
        std::string path = std::string("System\\CurrentControlSet\\Control\\Serial Print\\") + pszKey;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &hKey, nullptr));
        RegCloseKey(hKey);
    }
    // The command exactly as the installed-programs list would start it.
    std::string command = EntryString(installed, "UninstallString");
    size_t nSpace = command.find(' ');
    RunResult uninstall = RunDismissingBoxes(command.substr(0, nSpace), command.substr(nSpace + 1), nullptr);
    EXPECT_EQ(0u, uninstall.dwExitCode);
    EXPECT_TRUE(uninstall.boxes.empty());
    MachineState after = ReadMachineState();
    EXPECT_EQ(std::vector<std::string>{"COM99"}, after.serialPrintKeys);
    // The log holds both runs, each from the line that says what ran to its
    // result, with the ports of the install and their numbers.
    std::string log = ReadFileText(LogPath());
    EXPECT_EQ(1u, CountOf(log, "starts: \"C:\\package\\setup.exe\" /s | mode: silent install | Windows "));
    EXPECT_EQ(1u, CountOf(log, "qzvrcom\\setup.exe\" /u /s | mode: silent uninstall | Windows "));
    for (const char* pszPort : {"5", "12", "27"}) {
        std::string port = std::string("setup 50: COM number taken from the hardware ID: ") + pszPort + "\r\n";
        EXPECT_EQ(1u, CountOf(log, port));
    }
    EXPECT_EQ(2u, CountOf(log, "] == result: Success | exit code 0\r\n"));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Serial Print\\COM99");
    ExpectClean();
    // The package copy stays, as the uninstall leaves it.
    EXPECT_EQ(installed.packageCopy, ReadMachineState().packageCopy);
    RemoveDirectoryA((PackageFolder() + "extras").c_str());
}

TEST_F(CEndToEndTest, InteractiveInstallThenReinstallOverIt)
{
    for (int nSteps : {4, 8}) {
        // On the reinstall the bench's ports start only after a restart:
        // the result box and the log say so, the exit code stays 0.
        const char* pszBench = "SOFTWARE\\DeviceBench";
        DWORD dwRestart = nSteps == 8 ? 1 : 0;
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, pszBench, "RestartPorts", REG_DWORD, &dwRestart, sizeof(dwRestart));
        CProgramRun run;
        MessageBoxState box;
        HWND hDialog = PressOkAndWaitForBox(&run, "", "Install", &box);
        ASSERT_NE(nullptr, hDialog);
        ProgressState progress = ReadProgress(hDialog, ID_PROGRESS);
        EXPECT_EQ(0, progress.nMinimum);
        EXPECT_EQ(nSteps, progress.nMaximum);
        EXPECT_EQ(nSteps, progress.nPosition);
        EXPECT_EQ(nSteps == 8 ? "Success\n\nRestart Windows to finish." : "Success", box.text);
        EXPECT_EQ(hDialog, box.hOwner);
        DismissMessageBox(box);
        DWORD dwExitCode = 0x12345678;
        EXPECT_TRUE(run.WaitForExit(&dwExitCode));
        EXPECT_EQ(0u, dwExitCode);
        // A reinstall removes the old devices first: three ports, not six.
        ExpectInstalled(ReadMachineState(), "/u");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, pszBench);
    }
    std::string log = ReadFileText(LogPath());
    EXPECT_EQ(1u, CountOf(log, "] == result: Success | exit code 0\r\n"));
    EXPECT_EQ(1u, CountOf(log, "] == result: Success Restart Windows to finish. | exit code 0\r\n"));
}

// Boxes that a run on a desktop nobody sees would wait on for ever: a
// refusal at start-up (another instance runs) and a release folder that
// lacks files its INF names (the bus driver's file and catalogue). On such a desktop each run ends
// on its own with -1 and the box's text in the log; on a visible desktop
// the same runs still show their boxes.
TEST_F(CEndToEndTest, BoxesThatNobodyCanSeeAreLoggedAndTheRunGoesOn)
{
    std::string refused = "C:\\package_refused\\";
    CreateDirectoryA(refused.c_str(), nullptr);
    for (const char* pszFile : {"setup.exe", "qzusbdr.inf", "qzvrcom.inf", "qzvrcom.cat", "qzvrcom.sys"}) {
        CopyFileA((PackageFolder() + pszFile).c_str(), (refused + pszFile).c_str(), FALSE);
    }
    HANDLE hInstance = CreateMutexA(nullptr, TRUE, "Global\\qzvrcom_installer");
    struct Case {
        std::string folder;
        std::string text;
        const char* pszCaption;
        const char* pszLogLine;
    };
    const Case cases[] = {{PackageFolder(), "You cannot run multiple instances of this program.", "", nullptr},
                          {refused, "Error", "", "setup 135: Install refused: qzusbdr.sys is missing beside the program"}};
    for (const Case& test : cases) {
        std::string before = ReadFileText(LogPath());
        CProgramRun hidden;
        ASSERT_TRUE(hidden.Start((test.folder + "setup.exe").c_str(), "/s", test.folder.c_str(), false,
                                 HiddenDesktop()));
        DWORD dwExitCode = 0x12345678;
        EXPECT_TRUE(hidden.WaitForExit(&dwExitCode, 60000)) << test.text;
        EXPECT_EQ(EXIT_FAILED, dwExitCode);
        std::string text = test.text.substr(0, test.text.find_last_not_of("\r\n") + 1);
        std::string log = ReadFileText(LogPath()).substr(before.size());
        EXPECT_EQ(1u, CountOf(log, "setup 136: Message box not shown, as no one can see this desktop; taken as OK. "
                                   "Caption '" + std::string(test.pszCaption) + "', text: " + text + "\r\n"));
        EXPECT_EQ(1u, CountOf(log, "| exit code -1\r\n"));
        if (test.pszLogLine != nullptr) { EXPECT_EQ(1u, CountOf(log, test.pszLogLine)); }

        RunResult visible = RunDismissingBoxes(test.folder + "setup.exe", "/s", test.folder.c_str());
        EXPECT_EQ(EXIT_FAILED, visible.dwExitCode);
        ASSERT_EQ(1u, visible.boxes.size());
        EXPECT_EQ(test.text, visible.boxes[0].text);
        EXPECT_EQ(test.pszCaption, visible.boxes[0].caption);
        if (hInstance != nullptr) {
            ReleaseMutex(hInstance);
            CloseHandle(hInstance);
            hInstance = nullptr;
        }
    }
    RemoveFolderFiles(refused);
    RemoveDirectoryA(refused.c_str());
}

// A run nobody can see shows no dialog: started without /s, or with the /u
// of an interactive install's entry, by a deployment service, it works as a
// silent run would and registers the uninstall command of its own mode.
TEST_F(CEndToEndTest, UnseenInteractiveRunsWorkWithoutTheirDialog)
{
    // Windows would ask whether to trust the package: unseen, the
    // installation fails at once instead, with the system's text in the log.
    DWORD dwUntrusted = 1;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\DeviceBench", "UntrustedPackages", REG_DWORD, &dwUntrusted,
                    sizeof(dwUntrusted));
    CProgramRun untrusted;
    ASSERT_TRUE(untrusted.Start(PackageSetupPath().c_str(), "", PackageFolder().c_str(), false, HiddenDesktop()));
    DWORD dwExitCode = 0x12345678;
    EXPECT_TRUE(untrusted.WaitForExit(&dwExitCode, 60000));
    EXPECT_EQ(EXIT_FAILED, dwExitCode);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\DeviceBench", "UntrustedPackages");
    std::string text = SystemText(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    EXPECT_EQ(1u, CountOf(ReadFileText(LogPath()), "Caption 'Error', text: " + text.substr(0, text.find('\r'))));
    EXPECT_TRUE(Ports(ReadMachineState()).empty());

    for (const char* pszArguments : {"", "/u"}) {
        CProgramRun run;
        ASSERT_TRUE(run.Start(PackageSetupPath().c_str(), pszArguments, PackageFolder().c_str(), false,
                              HiddenDesktop()));
        DWORD dwExitCode = 0x12345678;
        EXPECT_TRUE(run.WaitForExit(&dwExitCode, 60000)) << pszArguments;
        EXPECT_EQ(0u, dwExitCode) << pszArguments;
        if (*pszArguments == '\0') ExpectInstalled(ReadMachineState(), "/u");
    }
    ExpectClean();
    std::string log = ReadFileText(LogPath());
    EXPECT_EQ(3u, CountOf(log, "setup 137: No one can see this desktop: the run goes on without its dialog, as a "
                               "silent run would\r\n"));
    EXPECT_EQ(3u, CountOf(log, "setup 138: Device installation set to non-interactive"));
}

// The log begins a new generation above 1 MB and keeps one older one; a
// log that cannot be written changes no exit code; a killed run leaves
// every line it wrote.
TEST_F(CEndToEndTest, LogRotatesNeverStopsARunAndKeepsAKilledRunsLines)
{
    std::string old = TargetFolder() + "setup.old.log";
    CreateDirectoryA(TargetFolder().c_str(), nullptr);
    WriteFileText(old, "oldest\r\n");
    WriteFileText(LogPath(), "older\r\n" + std::string(1024 * 1024, '.'));
    EXPECT_EQ(0u, RunSetup("/u /s").dwExitCode);
    EXPECT_EQ(0u, ReadFileText(old).find("older\r\n"));
    std::string log = ReadFileText(LogPath());
    EXPECT_LT(log.size(), 10000u);
    EXPECT_EQ(1u, CountOf(log, "] == result: Success | exit code 0\r\n"));

    // A second instance, refused while another session's instance runs,
    // changes nothing and appends its line without renaming the full log.
    MachineState before = ReadMachineState();
    std::string full = log + std::string(1024 * 1024, '.');
    WriteFileText(LogPath(), full);
    HANDLE hInstance = CreateMutexA(nullptr, TRUE, "Global\\qzvrcom_installer");
    EXPECT_EQ(EXIT_FAILED, RunDismissingBoxes(PackageSetupPath(), "/s", PackageFolder().c_str()).dwExitCode);
    CloseHandle(hInstance);
    EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(before, ReadMachineState()));
    std::string appended = ReadFileText(LogPath());
    EXPECT_EQ(0u, appended.find(full));
    EXPECT_EQ(1u, CountOf(appended.substr(full.size()), "You cannot run multiple instances of this program. | exit code -1"));
    WriteFileText(LogPath(), log);

    // Held open by another program, the log is skipped; the install runs.
    HANDLE hHeld = CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(0u, RunSetup("/s").dwExitCode);
    CloseHandle(hHeld);
    EXPECT_EQ(log, ReadFileText(LogPath()));
    // A folder that cannot be made: a file has its name.
    RemoveFolderFiles(TargetFolder());
    RemoveDirectoryA(TargetFolder().c_str());
    WriteFileText(TargetFolder().substr(0, TargetFolder().size() - 1), "not a folder");
    EXPECT_EQ(0u, RunSetup("/u /s").dwExitCode);
    DeleteFileA(TargetFolder().substr(0, TargetFolder().size() - 1).c_str());

    CProgramRun run;
    ASSERT_TRUE(run.Start(PackageSetupPath().c_str(), "", PackageFolder().c_str()));
    ASSERT_NE(nullptr, run.WaitForWindow("#32770", "Install"));
    TerminateProcess(run.Process(), 9);
    DWORD dwExitCode = 0;
    EXPECT_TRUE(run.WaitForExit(&dwExitCode));
    log = ReadFileText(LogPath());
    EXPECT_EQ(1u, CountOf(log, "| mode: install |"));
    EXPECT_EQ(1u, CountOf(log, "setup 31: Setup dialog initialised\r\n"));
    EXPECT_EQ(0u, CountOf(log, "== result"));
}

// A run killed inside the system's device installation, after the Ports
// class installer claimed the number but before the device got its service,
// leaves a root device with our hardware ID and no service; one killed
// inside the creation of a device, before its marker description, leaves
// one that only its instance ID (ROOT\QZVRCOM\nnnn) says is ours. The
// uninstall removes both through the class installer, which releases the
// number; another vendor's device without a service stays.
TEST_F(CEndToEndTest, HalfInstalledPortIsRemovedWithItsNumber)
{
    ASSERT_EQ(0u, RunSetup("/s").dwExitCode);
    const DeviceRecord port = DevicesOfService(ReadMachineState(), "qzvrcom").back();
    ASSERT_EQ(0u, port.instanceId.find("ROOT\\QZVRCOM\\")) << port.instanceId;
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueA(HKEY_LOCAL_MACHINE,
                                                ("System\\CurrentControlSet\\Enum\\" + port.instanceId).c_str(),
                                                "Service"));
    ASSERT_EQ(2u, DevicesOfService(ReadMachineState(), "qzvrcom").size());
    {
        CTestDevice unfinished(nullptr, nullptr, REG_SZ, "QZVRCOM"), foreign(nullptr);
        ASSERT_TRUE(unfinished.IsCreated() && foreign.IsCreated());
        EXPECT_EQ(0u, RunSetup("/u /s").dwExitCode);
        EXPECT_FALSE(unfinished.IsPresent());
        EXPECT_TRUE(foreign.IsPresent());
    }
    ExpectClean();
}

TEST_F(CEndToEndTest, OpenPortStopsUninstallAndReinstallBeforeAnyChange)
{
    ASSERT_EQ(0u, RunSetup("/s").dwExitCode);
    MachineState installed = ReadMachineState();
    CBusyPort port(12);
    ASSERT_TRUE(port.IsMade());

    // Interactive: the warning box, then the dialog's own result box.
    CProgramRun run;
    MessageBoxState warning, result;
    HWND hDialog = PressOkAndWaitForBox(&run, "/u", "Uninstall", &warning);
    ASSERT_NE(nullptr, hDialog);
    EXPECT_EQ(PORT_OPEN_TEXT, warning.text);
    EXPECT_EQ("Error", warning.caption);
    EXPECT_EQ(hDialog, warning.hOwner);
    DismissMessageBox(warning);
    ASSERT_TRUE(run.WaitForMessageBox(&result, 20000, warning.hWnd));
    EXPECT_EQ(PORT_OPEN_TEXT, result.text);
    EXPECT_EQ("", result.caption);
    DismissMessageBox(result);
    DWORD dwExitCode = 0;
    EXPECT_TRUE(run.WaitForExit(&dwExitCode));
    EXPECT_EQ(EXIT_FAILED, dwExitCode);

    // Nothing was removed: the bus driver package stays with the ports.
    EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(installed, ReadMachineState()));

    // Silent: no box at all, the same result.
    RunResult silent = RunSetup("/u /s");
    EXPECT_EQ(EXIT_FAILED, silent.dwExitCode);
    EXPECT_TRUE(silent.boxes.empty());
    // A reinstall stops before copying or installing anything.
    DeleteFileA((TargetFolder() + "qzvrcom.cat").c_str());
    RunResult reinstall = RunSetup("/s");
    EXPECT_EQ(EXIT_FAILED, reinstall.dwExitCode);
    EXPECT_TRUE(reinstall.boxes.empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((TargetFolder() + "qzvrcom.cat").c_str()));
    EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(installed, ReadMachineState()));
}

// Another installer claims a number through the Ports class library while
// the install runs, inside COM12's window if it sees it. Whichever port gets
// the number, no two ports share one, every number a device holds stays
// claimed, and after our uninstall the other port's number still is.
TEST_F(CEndToEndTest, AnotherInstallerAtWorkKeepsItsNumber)
{
    CProgramRun other;
    ASSERT_TRUE(other.Start((BinaryFolder() + "other_installer.exe").c_str(), "12 0", nullptr));
    Sleep(500);
    RunResult install = RunSetup("/s");
    DWORD dwClaimed = 0;
    EXPECT_TRUE(other.WaitForExit(&dwClaimed, 30000));
    EXPECT_NE(0u, dwClaimed);
    // The other port took COM12: ours could get none, and the run says so.
    EXPECT_EQ(dwClaimed == 12 ? EXIT_FAILED : 0u, install.dwExitCode);
    EXPECT_EQ(std::vector<std::string>(), DescribePortNameProblems(ReadMachineState()));
    EXPECT_EQ(0u, RunSetup("/u /s").dwExitCode);
    MachineState after = ReadMachineState();
    EXPECT_EQ(std::vector<std::string>(), DescribePortNameProblems(after));
    EXPECT_EQ(WithPorts(m_clean.comDb, {static_cast<int>(dwClaimed)}), after.comDb);
    RemoveDevicesWithIdPrefix("QZOTHER");
    WriteArbiterValue(REG_BINARY, m_clean.comDb);
}

TEST_F(CEndToEndTest, FailuresReportedWithTheirBoxesAndExitCodes)
{
    // Nothing installed: an uninstall finds nothing and succeeds.
    RunResult nothing = RunSetup("/u /s");
    EXPECT_EQ(0u, nothing.dwExitCode);
    EXPECT_TRUE(nothing.boxes.empty());
    ExpectClean();

    // A package folder without either INF file is refused before anything
    // changes, also over an installation: no earlier copy is installed.
    ASSERT_EQ(0u, RunSetup("/s").dwExitCode);
    MachineState installed = ReadMachineState();
    std::string broken = "C:\\package_broken\\";
    CreateDirectoryA(broken.c_str(), nullptr);
    // The last lacks only the port driver's file.
    const std::vector<std::vector<const char*>> folders = {
        {}, {"qzvrcom.inf"}, {"qzusbdr.inf", "qzusbdr.cat"},
        {"qzusbdr.inf", "qzusbdr.cat", "qzusbdr.sys", "qzvrcom.inf", "qzvrcom.cat"}};
    for (const std::vector<const char*>& files : folders) {
        RemoveFolderFiles(broken);
        CopyFileA(PackageSetupPath().c_str(), (broken + "setup.exe").c_str(), FALSE);
        for (const char* pszFile : files) {
            CopyFileA((PackageFolder() + pszFile).c_str(), (broken + pszFile).c_str(), FALSE);
        }
        RunResult refused = RunDismissingBoxes(broken + "setup.exe", "/s", broken.c_str());
        EXPECT_EQ(EXIT_FAILED, refused.dwExitCode) << files.size();
        ASSERT_EQ(1u, refused.boxes.size()) << files.size();
        EXPECT_EQ("Error", refused.boxes[0].text);
        EXPECT_EQ("", refused.boxes[0].caption);
        EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(installed, ReadMachineState(), true));
    }
    EXPECT_EQ(0u, RunSetup("/u /s").dwExitCode);

    // A device that cannot be installed: its box, result "Error", and the
    // entry is written all the same for the ports that did install.
    std::string inf = ReadFileText(PackageFolder() + "qzvrcom.inf");
    // Its models section is one for Windows 7 and later, which the walk
    // takes on Windows 10; the bench's driver search (Wine's) reads only
    // the .NTamd64, .NT and undecorated sections, so it finds no driver for
    // the device the fallback creates.
    inf.insert(inf.find('\n', inf.find("[Manufacturer]")) + 1, "%Vantoris%=Broken,NTx86,NTamd64.6.1\r\n");
    inf += "\r\n[Broken.NTamd64.6.1]\r\n%Port.DeviceDesc%=QzVrCom_Install,QZVRCOM\\30\r\n";
    for (const char* pszFile : {"qzusbdr.inf", "qzusbdr.cat", "qzusbdr.sys", "qzvrcom.cat", "qzvrcom.sys"}) {
        CopyFileA((PackageFolder() + pszFile).c_str(), (broken + pszFile).c_str(), FALSE);
    }
    WriteFileText(broken + "qzvrcom.inf", inf);
    RunResult device = RunDismissingBoxes(broken + "setup.exe", "/s", broken.c_str());
    EXPECT_EQ(EXIT_FAILED, device.dwExitCode);
    ASSERT_EQ(1u, device.boxes.size());
    EXPECT_EQ("Error", device.boxes[0].caption);
    MachineState afterDevice = ReadMachineState();
    EXPECT_EQ(SAMPLE_PORTS, Ports(afterDevice));
    EXPECT_TRUE(afterDevice.bEntryExists);
    // A run that failed half-way is no installation for a deployment tool.
    EXPECT_EQ(0u, RunPackageSetup("/debug"));
    // The failed device's number was reserved around its installation and
    // is free again: no device holds it.
    EXPECT_EQ(WithPorts(m_clean.comDb, {5, 12, 27}), afterDevice.comDb);
    RemoveFolderFiles(broken);
    RemoveDirectoryA(broken.c_str());
    EXPECT_EQ(0u, RunSetup("/u /s").dwExitCode);
    EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(m_clean, ReadMachineState()));
}

// What a deployment tool reads, the exit code and then the query, agrees:
// a port that did not get its number or whose driver did not load fails
// the install, which the query then does not count; a port that works after
// a restart asks for it. An uninstall whose service another program holds
// open leaves the service marked for deletion: it asks for the restart,
// and the query answers "not installed" at once.
TEST_F(CEndToEndTest, ExitCodeAndQueryAgree)
{
    const char* pszProblems = "SOFTWARE\\DeviceBench\\DeviceProblems";
    WriteArbiterValue(REG_BINARY, WithPorts(m_clean.comDb, {12}));
    EXPECT_EQ(EXIT_FAILED, RunSetup("/s").dwExitCode);
    EXPECT_EQ(0u, RunPackageSetup("/debug"));
    EXPECT_EQ(0u, RunSetup("/u /s").dwExitCode);
    WriteArbiterValue(REG_BINARY, m_clean.comDb);

    struct Case {
        DWORD dwProblem;
        DWORD dwExitCode;
        DWORD dwQuery;
        const char* pszLogLine;
    };
    const Case cases[] = {
        {10, EXIT_FAILED, 0, "setup 172: Port COM12 does not work: problem 10, cannot start\r\n"},
        {52, EXIT_FAILED, 0, "setup 172: Port COM12 does not work: problem 52, driver not signed\r\n"},
        {14, 0, 1, "] == result: Success Restart Windows to finish. | exit code 0\r\n"},
    };
    for (const Case& test : cases) {
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, pszProblems, "QZVRCOM\\12", REG_DWORD, &test.dwProblem, sizeof(DWORD));
        size_t nBefore = ReadFileText(LogPath()).size();
        RunResult install = RunSetup("/s");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, pszProblems);
        EXPECT_EQ(test.dwExitCode, install.dwExitCode) << test.dwProblem;
        EXPECT_TRUE(install.boxes.empty()) << test.dwProblem;
        EXPECT_EQ(1u, CountOf(ReadFileText(LogPath()).substr(nBefore), test.pszLogLine)) << test.dwProblem;
        EXPECT_EQ(test.dwQuery, RunPackageSetup("/debug")) << test.dwProblem;
        EXPECT_EQ(SAMPLE_PORTS, Ports(ReadMachineState())) << test.dwProblem;
    }

    SC_HANDLE hManager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE hMonitor = OpenServiceA(hManager, "qzvrcom", SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, hMonitor);
    size_t nBefore = ReadFileText(LogPath()).size();
    EXPECT_EQ(0u, RunSetup("/u /s").dwExitCode);
    std::string log = ReadFileText(LogPath()).substr(nBefore);
    EXPECT_EQ(1u, CountOf(log, "setup 178: Service qzvrcom is marked for deletion: it goes at the restart\r\n"));
    EXPECT_EQ(1u, CountOf(log, "] == result: Success Restart Windows to finish. | exit code 0\r\n"));
    EXPECT_EQ(0u, RunPackageSetup("/debug"));
    CloseServiceHandle(hMonitor);
    CloseServiceHandle(hManager);
    ExpectClean();
}

// A release folder whose name the ANSI code page cannot spell reads as a
// look-alike ("C:\pkga" for "C:\pkg" + a-macron), which here holds a
// whole package of its own: the run is refused before anything changes,
// with its box where someone can see it and a line in the log.
TEST_F(CEndToEndTest, FolderTheCodePageCannotSpellIsRefused)
{
    const wchar_t* pszFolder = L"C:\\pkg\u0101\\";
    std::string lookAlike = "C:\\pkga\\";
    CreateDirectoryW(pszFolder, nullptr);
    CreateDirectoryA(lookAlike.c_str(), nullptr);
    for (const std::string& name : ListFiles(PackageFolder() + ".")) {
        std::wstring wide(name.begin(), name.end());
        CopyFileW((std::wstring(PackageFolder().begin(), PackageFolder().end()) + wide).c_str(),
                  (pszFolder + wide).c_str(), FALSE);
        CopyFileA((PackageFolder() + name).c_str(), (lookAlike + name).c_str(), FALSE);
    }
    HiddenDesktop();
    std::wstring command = std::wstring(L"\"") + pszFolder + L"setup.exe\" /s";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = const_cast<wchar_t*>(L"qzhidden\\Default");
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, pszFolder, &startup,
                               &process));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD dwExitCode = 0x12345678;
    GetExitCodeProcess(process.hProcess, &dwExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(EXIT_FAILED, dwExitCode);
    std::string log = ReadFileText(LogPath());
    EXPECT_EQ(1u, CountOf(log, "setup 170: Install refused: the code page cannot spell the program's folder, read "
                               "as C:\\pkga\\SETUP.EXE\r\n"))
        << log;
    EXPECT_EQ(1u, CountOf(log, "Caption '', text: Error\r\n"));
    EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(m_clean, ReadMachineState()));
    for (const std::string& name : ListFiles(PackageFolder() + ".")) {
        DeleteFileW((pszFolder + std::wstring(name.begin(), name.end())).c_str());
    }
    RemoveDirectoryW(pszFolder);
    RemoveFolderFiles(lookAlike);
    RemoveDirectoryA(lookAlike.c_str());
}

TEST_F(CEndToEndTest, JapaneseTextsOfAnInstallAndAnOpenPort)
{
    CProgramRun run;
    MessageBoxState box;
    ASSERT_NE(nullptr, PressOkAndWaitForBox(&run, "", "Install", &box));
    EXPECT_EQ("Success", ConvertAnsiToUtf8(box.text));
    DismissMessageBox(box);
    DWORD dwExitCode = 0x12345678;
    EXPECT_TRUE(run.WaitForExit(&dwExitCode));
    EXPECT_EQ(0u, dwExitCode);

    CBusyPort port(5);
    CProgramRun uninstall;
    MessageBoxState warning;
    ASSERT_NE(nullptr, PressOkAndWaitForBox(&uninstall, "/u", "Uninstall", &warning));
    EXPECT_EQ(PORT_OPEN_TEXT_JA, ConvertAnsiToUtf8(warning.text));
    EXPECT_EQ(ERROR_CAPTION_JA, ConvertAnsiToUtf8(warning.caption));
    DismissMessageBox(warning);
    MessageBoxState result;
    ASSERT_TRUE(uninstall.WaitForMessageBox(&result, 20000, warning.hWnd));
    EXPECT_EQ(PORT_OPEN_TEXT_JA, ConvertAnsiToUtf8(result.text));
    DismissMessageBox(result);
    EXPECT_TRUE(uninstall.WaitForExit(&dwExitCode));
    EXPECT_EQ(EXIT_FAILED, dwExitCode);
}

} // namespace
