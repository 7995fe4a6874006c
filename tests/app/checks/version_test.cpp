// Windows versions: setup.exe and the classification under every version
// Wine can report. Named versions are given per program; other major.minor
// pairs come from the NT version key with Wine's own version setting removed.
// The classification runs in a probe program started under each version.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "checks_bench.h"

namespace {

typedef std::vector<std::string> Lines;

const char* PROBE = "checks_version_probe.exe";
const char* PLAIN_PROBE = "checks_version_probe_plain.exe";

struct ProbeAnswer {
    int nResult;
    Lines events;
};

// Starts a probe (PROBE carries setup.exe's manifest, PLAIN_PROBE none)
// and reads what it wrote.
ProbeAnswer RunProbe(const char* pszProbe)
{
    ProbeAnswer answer = {-1, Lines()};
    char szTemp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, szTemp);
    std::string output = std::string(szTemp) + "checks_version_probe.txt";
    DeleteFileA(output.c_str());

    CProgramRun run;
    std::string arguments = "\"" + output + "\"";
    EXPECT_TRUE(run.Start((BinaryFolder() + pszProbe).c_str(), arguments.c_str(), nullptr));
    DWORD dwExitCode = 0xDEAD;
    EXPECT_TRUE(run.WaitForExit(&dwExitCode));
    EXPECT_EQ(0u, dwExitCode);

    FILE* pFile = fopen(output.c_str(), "r");
    if (pFile == nullptr) {
        ADD_FAILURE() << "the probe wrote no " << output;
        return answer;
    }
    char szLine[256] = "";
    if (fgets(szLine, sizeof(szLine), pFile) != nullptr) {
        answer.nResult = atoi(szLine);
    }
    while (fgets(szLine, sizeof(szLine), pFile) != nullptr) {
        szLine[strcspn(szLine, "\r\n")] = '\0';
        answer.events.push_back(szLine);
    }
    fclose(pFile);
    DeleteFileA(output.c_str());
    return answer;
}

// The version tests as CheckOsVersion makes them, in its order.
Lines TestAtLeast(int nMajor, int nMinor)
{
    return {"setup 79 " + std::to_string(nMajor), "setup 80 " + std::to_string(nMinor)};
}

Lines TestEqual(int nMajor, int nMinor)
{
    return {"setup 77 " + std::to_string(nMajor), "setup 78 " + std::to_string(nMinor)};
}

Lines JoinLines(std::initializer_list<Lines> parts)
{
    Lines lines;
    for (const Lines& part : parts) {
        lines.insert(lines.end(), part.begin(), part.end());
    }
    return lines;
}

// Every classification, as the version tests lead to it.
const Lines FROM_6_0 = JoinLines({TestAtLeast(5, 0), TestAtLeast(6, 0), TestAtLeast(10, 0)});
const Lines WINDOWS_10 = JoinLines({FROM_6_0, {"util 10", "setup 82"}});
const Lines WINDOWS_6 = JoinLines({FROM_6_0, {"util 10", "setup 84"}});
const Lines BELOW_6_0 = JoinLines({TestAtLeast(5, 0), TestAtLeast(6, 0), TestEqual(5, 0)});
const Lines WINDOWS_5_0 = JoinLines({BELOW_6_0, {"setup 85"}});
const Lines WINDOWS_5_1 = JoinLines({BELOW_6_0, TestEqual(5, 1), {"setup 86"}});
const Lines WINDOWS_5_2 = JoinLines({BELOW_6_0, TestEqual(5, 1), TestEqual(5, 2), {"util 10", "setup 88"}});
const Lines WINDOWS_5_3 = JoinLines({BELOW_6_0, TestEqual(5, 1), TestEqual(5, 2), {"setup 89"}});
const Lines WINDOWS_4_0 = JoinLines({TestAtLeast(5, 0), {"setup 90"}});

struct NamedVersion {
    const char* pszName;
    Lines events;
};

void PrintTo(const NamedVersion& version, std::ostream* pStream)
{
    *pStream << version.pszName;
}

class NamedVersionTest : public ::testing::TestWithParam<NamedVersion> {};

TEST_P(NamedVersionTest, PassesTheChecks)
{
    const NamedVersion& version = GetParam();
    {
        CProgramVersion setupVersion("setup.exe", version.pszName);
        EXPECT_TRUE(ShowsInstallDialog(""));
    }
    CProgramVersion probeVersion(PROBE, version.pszName);
    ProbeAnswer answer = RunProbe(PROBE);
    EXPECT_EQ(1, answer.nResult);
    EXPECT_EQ(version.events, answer.events);
}

INSTANTIATE_TEST_SUITE_P(Wine, NamedVersionTest,
                         ::testing::Values(NamedVersion{"win10", WINDOWS_10}, NamedVersion{"win81", WINDOWS_6},
                                           NamedVersion{"win8", WINDOWS_6}, NamedVersion{"win7", WINDOWS_6},
                                           NamedVersion{"vista", WINDOWS_6}, NamedVersion{"winxp64", WINDOWS_5_2}),
                         [](const ::testing::TestParamInfo<NamedVersion>& info) {
                             return std::string(info.param.pszName);
                         });

TEST(ManifestTest, CompatibilitySectionShowsWindows10)
{
    CProgramVersion probeVersion(PROBE, "win10");
    CProgramVersion plainVersion(PLAIN_PROBE, "win10");
    EXPECT_EQ(WINDOWS_10, RunProbe(PROBE).events);
    // Without the manifest Windows 10 passes itself off as 6.2.
    EXPECT_EQ(WINDOWS_6, RunProbe(PLAIN_PROBE).events);
}

// Any major.minor: Wine then reports the CurrentVersion string of the NT
// version key. Everything it changes is put back afterwards.
class CRegistryWindowsVersion {
public:
    explicit CRegistryWindowsVersion(const char* pszVersion)
        : m_wineVersion(HKEY_CURRENT_USER, WINE_KEY, "Version"),
          m_currentVersion(HKEY_LOCAL_MACHINE, NT_VERSION_KEY, "CurrentVersion"),
          m_majorNumber(HKEY_LOCAL_MACHINE, NT_VERSION_KEY, "CurrentMajorVersionNumber"),
          m_minorNumber(HKEY_LOCAL_MACHINE, NT_VERSION_KEY, "CurrentMinorVersionNumber")
    {
        DeleteRegistryValue(HKEY_CURRENT_USER, WINE_KEY, "Version");
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, NT_VERSION_KEY, "CurrentMajorVersionNumber");
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, NT_VERSION_KEY, "CurrentMinorVersionNumber");
        EXPECT_TRUE(WriteRegistryString(HKEY_LOCAL_MACHINE, NT_VERSION_KEY, "CurrentVersion", pszVersion));
    }

private:
    CRegistryValueKeeper m_wineVersion;
    CRegistryValueKeeper m_currentVersion;
    CRegistryValueKeeper m_majorNumber;
    CRegistryValueKeeper m_minorNumber;
};

struct TableVersion {
    const char* pszVersion;
    int nResult;
    Lines events;
};

void PrintTo(const TableVersion& version, std::ostream* pStream)
{
    *pStream << version.pszVersion;
}

class VersionTableTest : public ::testing::TestWithParam<TableVersion> {};

TEST_P(VersionTableTest, ClassifiesTheVersion)
{
    const TableVersion& version = GetParam();
    CRegistryWindowsVersion windowsVersion(version.pszVersion);
    if (version.nResult != 0) {
        EXPECT_TRUE(ShowsInstallDialog(""));
    } else {
        EXPECT_TRUE(StartIsRefusedWithBox("", "ERROR"));
    }
    ProbeAnswer answer = RunProbe(PROBE);
    EXPECT_EQ(version.nResult, answer.nResult);
    EXPECT_EQ(version.events, answer.events);
}

INSTANTIATE_TEST_SUITE_P(Registry, VersionTableTest,
                         ::testing::Values(TableVersion{"4.0", 0, WINDOWS_4_0}, TableVersion{"5.0", 1, WINDOWS_5_0},
                                           TableVersion{"5.1", 1, WINDOWS_5_1}, TableVersion{"5.3", 0, WINDOWS_5_3}),
                         [](const ::testing::TestParamInfo<TableVersion>& info) {
                             std::string name = std::string("Windows_") + info.param.pszVersion;
                             name[name.find('.')] = '_';
                             return name;
                         });

} // namespace
