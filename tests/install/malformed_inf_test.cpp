// Generated and malformed INFs: none may crash or overrun, nothing is
// installed that the INF does not name, and every temporary arbiter value
// is replaced by the working copy before the next device is handled.
#include <gtest/gtest.h>

#include <regex>

#include "install_bench.h"

namespace {

std::string Model(const std::string& id)
{
    return "D=Port.NTamd64," + id + "\r\n";
}

std::string LongLines()
{
    return "[Manufacturer]\r\n" + std::string(5000, 'K') + "=" + std::string(5000, 'S') + "\r\nM=Models\r\n[Models]\r\n" +
           Model(std::string(5000, 'I')) + Model("QZVRCOM\\" + std::string(3000, '9')) + Model("QZVRCOM\\4");
}

std::string ManyLines()
{
    std::string inf = "[Manufacturer]\r\n";
    for (int i = 0; i < 2000; ++i) {
        inf += "M" + std::to_string(i) + "=Missing" + std::to_string(i) + ",NTamd64\r\n";
    }
    inf += "M=Models\r\n[Models]\r\n";
    for (int i = 0; i < 3000; ++i) {
        inf += Model("QZNOSLASH" + std::to_string(i)) + "D=Port.NTamd64\r\n";
    }
    return inf + Model("QZVRCOM\\6");
}

std::string MissingFields()
{
    return "[Manufacturer]\r\n,,,\r\n=\r\nM=\r\nM=Models,,\r\nM=Models\r\n[Models]\r\n,,,\r\n=\r\nD=\r\nD=,\r\n" +
           Model(",QZVRCOM\\3") + Model("\"\"") + Model("QZVRCOM\\2");
}

// A trail byte of 0x5C is a backslash only to a single-byte code page;
// 0xA9 is a single-byte character in both 1252 and 932.
std::string DoubleByte()
{
    return "[Manufacturer]\r\nM=Models\r\n[Models]\r\n" + Model("QZ\x83\x5C\\9") + Model("QZVRCOM\xA9\\7");
}

std::string Utf16()
{
    std::string text = "[Manufacturer]\r\nM=Models\r\n[Models]\r\n" + Model("QZVRCOM\\8");
    std::string wide = "\xFF\xFE";
    for (char c : PortsInf(text)) {
        wide += c;
        wide += '\0';
    }
    return wide;
}

struct MalformedCase {
    const char* pszName;
    std::string (*pfnInf)();
    bool bWrapped; // the generator's text goes after the standard [Version]
    const char* pszDevices;
};

const MalformedCase c_cases[] = {
    {"LongLines", LongLines, true, "QZVRCOM\\4=COM4"},
    {"ManyLines", ManyLines, true, "QZVRCOM\\6=COM6"},
    {"MissingFields", MissingFields, true, "QZVRCOM\\2=COM2"},
    {"DoubleByte", DoubleByte, true, nullptr},
    {"Utf16", Utf16, false, "QZVRCOM\\8=COM8"},
};

void PrintTo(const MalformedCase& test, std::ostream* pStream)
{
    *pStream << test.pszName;
}

class MalformedInfTest : public CWalkTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedInfTest, InstallsOnlyWhatItNames)
{
    const MalformedCase& test = GetParam();
    std::string inf = test.bWrapped ? PortsInf(test.pfnInf()) : test.pfnInf();
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
