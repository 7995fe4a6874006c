// Root devices for tests that walk the device tree: class Ports, a hardware
// ID, and optionally a service and a "PortName" in the hardware key. Each
// device is removed when its owner dies, unless the test removed it.
#pragma once

#include <windows.h>

#include <string>

class CTestDevice {
public:
    // A null pszService or pszPortName leaves the property or value unset.
    // dwPortNameType REG_BINARY stores the name without its NUL; the
    // instance ID is ROOT\<pszRootId>\nnnn.
    explicit CTestDevice(const char* pszService, const char* pszPortName = nullptr,
                         DWORD dwPortNameType = REG_SZ, const char* pszRootId = "PORTS");
    ~CTestDevice();
    CTestDevice(const CTestDevice&) = delete;
    CTestDevice& operator=(const CTestDevice&) = delete;

    bool IsCreated() const { return !m_instanceId.empty(); }
    // "ROOT\PORTS\0003"; the walk meets devices in the order of these IDs.
    const std::string& InstanceId() const { return m_instanceId; }
    // Whether a fresh list of all devices still holds it.
    bool IsPresent() const;

private:
    std::string m_instanceId;
};

// A COM port that an exclusive open refuses with ERROR_ACCESS_DENIED, as if
// another program held it, under "\\.\COMn" and "\\.\Global\COMn" alike
// and in every process. Wine reaches a link in the prefix's dosdevices
// folder only through the first name; so the port is an object symbolic
// link "\??\COMn" to the client end of an outbound named pipe, which
// Windows opens for reading only (CreateNamedPipe: PIPE_ACCESS_OUTBOUND).
// Both go when the object dies.
class CBusyPort {
public:
    explicit CBusyPort(int nPort);
    ~CBusyPort();
    CBusyPort(const CBusyPort&) = delete;
    CBusyPort& operator=(const CBusyPort&) = delete;

    bool IsMade() const { return m_bMade; }

private:
    // The error of an exclusive open of the device path, or ERROR_SUCCESS.
    static DWORD OpenPort(const std::string& device);

    HANDLE m_hPipe;
    HANDLE m_hLink;
    bool m_bMade;
};

// Starts a Unix program (Wine starts ELF binaries through CreateProcess).
// Its process handle cannot be waited for (WAIT_FAILED) and gives no exit
// code: callers watch for the program's effect.
bool RunUnixProgram(const std::string& commandLine);
