// The bench's system newdev.dll called directly: a package that lacks a
// driver file, or is of unknown trust, makes it ask the user before
// anything changes, or fail at once when the caller allows no UI.
#include <windows.h>

#include <gtest/gtest.h>
#include <newdev.h>

#include <atomic>
#include <initializer_list>
#include <thread>

#include "app/handles.h"
#include "app/system_library.h"
#include "device_tree.h"
#include "install_bench.h"
#include "machine_state.h"

namespace {

const GUID PORTS_CLASS = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char PORT_ID[] = "QZVRCOM\\5";
const DWORD SILENT = INSTALLFLAG_FORCE | INSTALLFLAG_NONINTERACTIVE;

class CDriverPromptTest : public ::testing::Test {
protected:
    CDriverPromptTest() : m_package("driver_prompts") { RemoveDevicesWithIdPrefix(PORT_ID); }
    ~CDriverPromptTest() override { RemoveDevicesWithIdPrefix(PORT_ID); }

    // Files of the sample package in the test's folder, and a root port
    // device with the first ID of its INF.
    void MakePackage(std::initializer_list<const char*> files)
    {
        for (const char* pszFile : files) {
            ASSERT_TRUE(CopyFileA((PackageFolder() + pszFile).c_str(), (m_package.Path() + pszFile).c_str(), 0));
        }
        CDeviceList list(SetupDiCreateDeviceInfoList(&PORTS_CLASS, nullptr));
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof(device);
        ASSERT_TRUE(SetupDiCreateDeviceInfoA(list.Get(), "PORTS", &PORTS_CLASS, nullptr, nullptr, DICD_GENERATE_ID,
                                             &device) &&
                    SetupDiSetDeviceRegistryPropertyA(list.Get(), &device, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(PORT_ID), sizeof(PORT_ID) + 1) &&
                    SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.Get(), &device));
    }

    // The last error after the call (ERROR_SUCCESS when it returned TRUE);
    // meanwhile the user, on a second thread, cancels each box.
    DWORD Update(DWORD dwFlags, HWND hOwner = nullptr)
    {
        auto pfnUpdate = reinterpret_cast<decltype(&UpdateDriverForPlugAndPlayDevicesA)>(
            reinterpret_cast<void*>(FindSystemFunction("newdev.dll", "UpdateDriverForPlugAndPlayDevicesA")));
        std::atomic<bool> bReturned(false);
        std::thread user([this, &bReturned] { CancelBoxes(bReturned); });
        SetLastError(0xdeadbeef);
        BOOL bDone = pfnUpdate != nullptr &&
                     pfnUpdate(hOwner, PORT_ID, (m_package.Path() + "qzvrcom.inf").c_str(), dwFlags, nullptr);
        DWORD dwError = bDone ? ERROR_SUCCESS : GetLastError();
        bReturned = true;
        user.join();
        return dwError;
    }

    // Records each message box of this process in m_boxes and presses its
    // Cancel button, until bStop.
    void CancelBoxes(const std::atomic<bool>& bStop)
    {
        m_boxes.clear();
        for (HWND hLast = nullptr; !bStop; Sleep(20)) {
            for (HWND hBox : ListProcessWindows(GetCurrentProcessId())) {
                if (hBox != hLast && IsMessageBox(hBox)) {
                    m_boxes.push_back({hBox, GetWindow(hBox, GW_OWNER), ReadWindowText(GetDlgItem(hBox, 0xFFFF)),
                                       ReadWindowText(hBox)});
                    ClickButton(hBox, IDCANCEL);
                    hLast = hBox;
                }
            }
        }
    }

    CScratchFolder m_package;
    std::vector<MessageBoxState> m_boxes;
};

// Without UI the call fails at once and shows no box; with UI "Files
// Needed" names the missing file and Cancel cancels. Nothing changes until
// the file is there.
TEST_F(CDriverPromptTest, MissingDriverFile)
{
    MakePackage({"qzvrcom.inf", "qzvrcom.cat"});
    MachineState before = ReadMachineState();
    EXPECT_EQ(static_cast<DWORD>(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION), Update(SILENT));
    EXPECT_TRUE(m_boxes.empty());
    HWND hOwner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), Update(INSTALLFLAG_FORCE, hOwner));
    DestroyWindow(hOwner);
    ASSERT_EQ(1u, m_boxes.size());
    EXPECT_EQ("Files Needed", m_boxes[0].caption);
    std::string path = m_package.Path() + "qzvrcom.sys";
    EXPECT_EQ(0u, m_boxes[0].text.find("The file 'qzvrcom.sys' is needed.\n\nIt is not at " + path + "."));
    EXPECT_EQ(hOwner, m_boxes[0].hOwner);
    EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(before, ReadMachineState(), true));

    ASSERT_TRUE(CopyFileA((PackageFolder() + "qzvrcom.sys").c_str(), path.c_str(), FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Update(SILENT));
}

} // namespace
