// Administrator rights: setup.exe under a token whose Administrators group
// is deny-only, and IsUserAdmin with its security calls intercepted.
#include <gtest/gtest.h>

#include <string.h>

#include "app/checks.h"
#include "checks_bench.h"
#include "support/iat_patch.h"

namespace {

TEST(AdministratorTest, TokenWithoutAdministratorsIsRefused)
{
    EXPECT_TRUE(StartIsRefusedWithBox("", "You do not have sufficient privileges.", true));
}

typedef BOOL(WINAPI* AllocateAndInitializeSidProc)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD,
                                                   DWORD, DWORD, DWORD, PSID*);
typedef BOOL(WINAPI* CheckTokenMembershipProc)(HANDLE, PSID, PBOOL);
typedef PVOID(WINAPI* FreeSidProc)(PSID);

// What the three security calls were given, and how the stand-ins answer.
struct SecurityCalls {
    bool bFailAllocation;
    bool bFailMembership;
    AllocateAndInitializeSidProc pfnAllocate;
    CheckTokenMembershipProc pfnCheck;
    FreeSidProc pfnFree;
    int nAllocations;
    SID_IDENTIFIER_AUTHORITY authority;
    BYTE nSubAuthorityCount;
    DWORD subAuthorities[8];
    PSID pAllocated;
    int nMembershipTests;
    HANDLE hToken;
    PSID pTested;
    int nFrees;
    PSID pFreed;
};

SecurityCalls g_calls;

BOOL WINAPI StandInAllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pAuthority, BYTE nCount, DWORD dwSub0,
                                            DWORD dwSub1, DWORD dwSub2, DWORD dwSub3, DWORD dwSub4, DWORD dwSub5,
                                            DWORD dwSub6, DWORD dwSub7, PSID* ppSid)
{
    ++g_calls.nAllocations;
    g_calls.authority = *pAuthority;
    g_calls.nSubAuthorityCount = nCount;
    const DWORD values[8] = {dwSub0, dwSub1, dwSub2, dwSub3, dwSub4, dwSub5, dwSub6, dwSub7};
    memcpy(g_calls.subAuthorities, values, sizeof(values));
    if (g_calls.bFailAllocation) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    BOOL bResult =
        g_calls.pfnAllocate(pAuthority, nCount, dwSub0, dwSub1, dwSub2, dwSub3, dwSub4, dwSub5, dwSub6, dwSub7, ppSid);
    g_calls.pAllocated = *ppSid;
    return bResult;
}

BOOL WINAPI StandInCheckTokenMembership(HANDLE hToken, PSID pSid, PBOOL pbMember)
{
    ++g_calls.nMembershipTests;
    g_calls.hToken = hToken;
    g_calls.pTested = pSid;
    if (g_calls.bFailMembership) {
        // A failed call must not be read as an answer, whatever the flag holds.
        *pbMember = TRUE;
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_calls.pfnCheck(hToken, pSid, pbMember);
}

PVOID WINAPI StandInFreeSid(PSID pSid)
{
    ++g_calls.nFrees;
    g_calls.pFreed = pSid;
    return g_calls.pfnFree(pSid);
}

class IsUserAdminTest : public ::testing::Test {
protected:
    IsUserAdminTest()
        : m_allocate("advapi32.dll", "AllocateAndInitializeSid",
                     reinterpret_cast<void*>(StandInAllocateAndInitializeSid)),
          m_check("advapi32.dll", "CheckTokenMembership", reinterpret_cast<void*>(StandInCheckTokenMembership)),
          m_free("advapi32.dll", "FreeSid", reinterpret_cast<void*>(StandInFreeSid))
    {
        g_calls = SecurityCalls();
        g_calls.pfnAllocate = reinterpret_cast<AllocateAndInitializeSidProc>(m_allocate.Original());
        g_calls.pfnCheck = reinterpret_cast<CheckTokenMembershipProc>(m_check.Original());
        g_calls.pfnFree = reinterpret_cast<FreeSidProc>(m_free.Original());
    }
    void SetUp() override
    {
        ASSERT_TRUE(m_allocate.IsApplied());
        ASSERT_TRUE(m_check.IsApplied());
        ASSERT_TRUE(m_free.IsApplied());
    }

    CIatPatch m_allocate;
    CIatPatch m_check;
    CIatPatch m_free;
};

TEST_F(IsUserAdminTest, TestsTheAdministratorsSidInItsOwnToken)
{
    EXPECT_NE(0, IsUserAdmin());

    EXPECT_EQ(1, g_calls.nAllocations);
    const BYTE ntAuthority[6] = {0, 0, 0, 0, 0, 5};
    EXPECT_EQ(0, memcmp(ntAuthority, g_calls.authority.Value, sizeof(ntAuthority)));
    EXPECT_EQ(2, g_calls.nSubAuthorityCount);
    const DWORD subAuthorities[8] = {32, 544, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(subAuthorities[i], g_calls.subAuthorities[i]) << "sub-authority " << i;
    }

    EXPECT_EQ(1, g_calls.nMembershipTests);
    EXPECT_EQ(nullptr, g_calls.hToken);
    EXPECT_EQ(g_calls.pAllocated, g_calls.pTested);
    EXPECT_EQ(1, g_calls.nFrees);
    EXPECT_EQ(g_calls.pAllocated, g_calls.pFreed);
}

TEST_F(IsUserAdminTest, FailedMembershipTestMeansNoAdministrator)
{
    g_calls.bFailMembership = true;
    EXPECT_EQ(0, IsUserAdmin());
    EXPECT_EQ(1, g_calls.nMembershipTests);
    EXPECT_EQ(1, g_calls.nFrees);
    EXPECT_EQ(g_calls.pAllocated, g_calls.pFreed);
}

TEST_F(IsUserAdminTest, SidThatCannotBeBuiltMeansNoAdministrator)
{
    g_calls.bFailAllocation = true;
    EXPECT_EQ(0, IsUserAdmin());
    EXPECT_EQ(1, g_calls.nAllocations);
    EXPECT_EQ(0, g_calls.nMembershipTests);
    EXPECT_EQ(0, g_calls.nFrees);
}

} // namespace
