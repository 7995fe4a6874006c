// Generated and malformed INFs: none may crash or overrun, nothing is
// installed that the INF does not name, and every temporary arbiter value
// is replaced by the working copy before the next device is handled.
#include <gtest/gtest.h>

#include <regex>

#include "generated_infs.h"
#include "install_bench.h"

namespace {

struct MalformedCase {
    const char* pszName; // of the generated INF
    const char* pszDevices;
};

const MalformedCase c_cases[] = {
    {"LongLines", "QZVRCOM\\4=COM4"},
    {"ManyLines", "QZVRCOM\\6=COM6"},
    {"MissingFields", "QZVRCOM\\2=COM2"},
    {"DoubleByte", nullptr},
    {"Utf16", "QZVRCOM\\8=COM8"},
};

void PrintTo(const MalformedCase& test, std::ostream* pStream)
{
    *pStream << test.pszName;
}

class MalformedInfTest : public CWalkTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedInfTest, InstallsOnlyWhatItNames)
{
    const MalformedCase& test = GetParam();
    const GeneratedInf* pGenerated = FindGeneratedInf(test.pszName);
    ASSERT_NE(nullptr, pGenerated);
    std::string inf = pGenerated->pfnText();
    EXPECT_TRUE(Walk(inf.c_str(), inf.size()));
    std::string expected = test.pszDevices != nullptr ? test.pszDevices
                           : GetACP() == 932          ? "QZ\x83\x5C\\9=COM9 QZVRCOM\xA9\\7=COM7"
                                                      : "QZ\x83\x5C\\9=COM2 QZVRCOM\xA9\\7=COM7";
    EXPECT_EQ(expected, Devices());
    EXPECT_EQ(IDS_SUCCESS, m_data.m_nResultId);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
    std::string sequence = m_log.m_sequence;
    EXPECT_TRUE(std::regex_match(sequence, std::regex("(TI+W|I+)*"))) << sequence;
}

INSTANTIATE_TEST_SUITE_P(Infs, MalformedInfTest, ::testing::ValuesIn(c_cases),
                         [](const ::testing::TestParamInfo<MalformedCase>& info) { return info.param.pszName; });

} // namespace
