// Generated function driver INFs.
#include "generated_infs.h"

#include <string.h>

#include <algorithm>

namespace {

std::string Model(const std::string& id)
{
    return "D=Port.NTamd64," + id + "\r\n";
}

std::string LongLines()
{
    return PortsInf("[Manufacturer]\r\n" + std::string(5000, 'K') + "=" + std::string(5000, 'S') +
                    "\r\nM=Models\r\n[Models]\r\n" + Model(std::string(5000, 'I')) +
                    Model("QZVRCOM\\" + std::string(3000, '9')) + Model("QZVRCOM\\4"));
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
    return PortsInf(inf + Model("QZVRCOM\\6"));
}

std::string MissingFields()
{
    return PortsInf("[Manufacturer]\r\n,,,\r\n=\r\nM=\r\nM=Models,,\r\nM=Models\r\n[Models]\r\n,,,\r\n=\r\nD=\r\nD=,\r\n" +
                    Model(",QZVRCOM\\3") + Model("\"\"") + Model("QZVRCOM\\2"));
}

// A trail byte of 0x5C is a backslash only to a single-byte code page;
// 0xA9 is a single-byte character in both 1252 and 932.
std::string DoubleByte()
{
    return PortsInf("[Manufacturer]\r\nM=Models\r\n[Models]\r\n" + Model("QZ\x83\x5C\\9") + Model("QZVRCOM\xA9\\7"));
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

} // namespace

std::string PortsInf(const std::string& body)
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
           "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\nProvider=Test\r\n"
           "DriverVer=01/01/2020,1.0.0.0\r\n\r\n[Port.NTamd64]\r\nAddReg=Port.AddReg\r\n\r\n"
           "[Port.AddReg]\r\nHKR,,PortSubClass,1,01\r\n\r\n" +
           body + "\r\n";
}

const GeneratedInf g_aGeneratedInfs[] = {
    {"LongLines", LongLines}, {"ManyLines", ManyLines},   {"MissingFields", MissingFields},
    {"DoubleByte", DoubleByte}, {"Utf16", Utf16},
};
const size_t g_nGeneratedInfs = sizeof(g_aGeneratedInfs) / sizeof(g_aGeneratedInfs[0]);

const GeneratedInf* FindGeneratedInf(const char* pszName)
{
    for (size_t i = 0; i < g_nGeneratedInfs; ++i) {
        if (strcmp(g_aGeneratedInfs[i].pszName, pszName) == 0) {
            return &g_aGeneratedInfs[i];
        }
    }
    return nullptr;
}

std::string GenerateInfLikeText(std::mt19937& random)
{
    static const char* const WORDS[] = {"AddService", "addservice", "qzvrcom", "QzVrCom", "qzvrcomx", "=", ",", ";",
                                        "[Section]", "\"", "\t", " ", "\r\n", "\n", "driver", "0x00000002"};
    std::string text;
    size_t nWords = random() % 400;
    for (size_t i = 0; i < nWords; ++i) {
        text += random() % 8 == 0 ? std::string(random() % 300, 'x') : WORDS[random() % 16];
        text += ' ';
    }
    return text;
}

bool HoldsBothWordsOnOneLine(const std::string& text, const char* pszName)
{
    std::string upper = text;
    std::string name = pszName;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    for (size_t nStart = 0; nStart < upper.size();) {
        size_t nEnd = std::min(upper.find('\n', nStart), upper.size());
        std::string line = upper.substr(nStart, nEnd - nStart);
        if (line.find("ADDSERVICE") != std::string::npos && line.find(name) != std::string::npos) {
            return true;
        }
        nStart = nEnd + 1;
    }
    return false;
}
