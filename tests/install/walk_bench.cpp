// INF walk fixture.
#include "walk_bench.h"

#include "device_tree.h"
#include "install/device_install.h"
#include "trace/trace.h"

const Bytes c_initialArbiter = {0x01, 0x00, 0x00, 0x00};

CWalkTest::CWalkTest()
    : m_arbiter(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB"), m_package("install_walk"),
      m_infPath(m_package.Path() + "qzvrcom.inf")
{
    RemoveDevicesWithIdPrefix(TEST_ID_PREFIX);
    EXPECT_TRUE(WriteArbiterValue(REG_BINARY, c_initialArbiter));
    RegisterTraceProvider();
    m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 1);
    m_log.m_calls.clear();
}

CWalkTest::~CWalkTest()
{
    UnregisterTraceProvider();
    RemoveDevicesWithIdPrefix(TEST_ID_PREFIX);
}

BOOL CWalkTest::Walk(const char* pszInf, size_t cbInf)
{
    DeleteFileA(m_infPath.c_str());
    if (pszInf != nullptr) {
        EXPECT_TRUE(WriteTextFile(m_infPath, cbInf != 0 ? std::string(pszInf, cbInf) : std::string(pszInf)));
    }
    return InstallDevicesFromInf(&m_data, m_infPath.c_str());
}

std::string CWalkTest::Devices()
{
    std::string text;
    for (const DeviceRecord& device : ListDevicesWithIdPrefix(TEST_ID_PREFIX)) {
        text += (text.empty() ? "" : " ") + device.hardwareId + "=" + device.portName;
    }
    return text;
}

std::string SystemText(DWORD dwError)
{
    char szText[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), szText, sizeof(szText), nullptr);
    return szText;
}

std::string CWalkTest::ArbiterHex()
{
    DWORD dwType = 0;
    Bytes data;
    return ReadArbiterValue(&dwType, &data) ? HexBytes(data) : "(none)";
}
