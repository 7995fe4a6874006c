// Checks the resources of setup.exe as built: both string tables, the three
// dialog templates, the icon, the version block, the manifest and the
// resource directory as a whole (headers and imports: tests/link). setup.exe
// (next to this test) is mapped as a data file, so the shipped binary is what
// is read, and every lookup names its language, so no locale is involved.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "uidriver/ui_driver.h"

namespace {

const WORD LANGUAGE_ENGLISH = 1033;
const WORD LANGUAGE_JAPANESE = 1041;

// ---------------------------------------------------------------- helpers

std::wstring Widen(const char* pszUtf8) {
    int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszUtf8, -1, nullptr, 0);
    if (cch <= 0) {
        ADD_FAILURE() << "not UTF-8: " << pszUtf8;
        return std::wstring();
    }
    std::wstring strWide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszUtf8, -1, &strWide[0], cch);
    strWide.resize(static_cast<size_t>(cch - 1));
    return strWide;
}

// Styles and IDs read best in hex in a failure message.
std::string FormatHex(DWORD dwValue) {
    char szText[16];
    snprintf(szText, sizeof szText, "0x%08lX", static_cast<unsigned long>(dwValue));
    return szText;
}

// An ordinal in a dialog template as its raw UTF-16 form: 0xFFFF, value.
std::wstring MakeOrdinal(WORD wValue) {
    return std::wstring{static_cast<wchar_t>(0xFFFF), static_cast<wchar_t>(wValue)};
}

// setup.exe as a resource-only image, mapped once for the whole run.
HMODULE GetSetupModule() {
    static HMODULE s_hModule = LoadLibraryExA(SetupPath().c_str(), nullptr,
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    return s_hModule;
}

std::vector<BYTE> ReadResource(HMODULE hModule, LPCSTR pszType, LPCSTR pszName, WORD wLanguage) {
    HRSRC hInfo = FindResourceExA(hModule, pszType, pszName, wLanguage);
    HGLOBAL hData = hInfo ? LoadResource(hModule, hInfo) : nullptr;
    const BYTE* pbData = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
    if (!pbData) return std::vector<BYTE>();
    return std::vector<BYTE>(pbData, pbData + SizeofResource(hModule, hInfo));
}

// Little-endian reader over resource bytes. Reading past the end yields
// zeros and clears IsOk(), so a truncated resource fails the test instead of
// reading out of bounds.
class CByteReader {
public:
    CByteReader(const BYTE* pbData, size_t cbData) : m_pbData(pbData), m_cbData(cbData), m_nPos(0), m_bOk(true) {}
    explicit CByteReader(const std::vector<BYTE>& vecData) : CByteReader(vecData.data(), vecData.size()) {}

    bool IsOk() const { return m_bOk; }
    size_t GetPos() const { return m_nPos; }
    size_t GetSize() const { return m_cbData; }
    void SetPos(size_t nPos) { if (nPos > m_cbData) m_bOk = false; else m_nPos = nPos; }
    // Item and node offsets are 32-bit aligned from the start of the data;
    // the padding after the last one may be left out.
    void AlignDword() { m_nPos = std::min(m_cbData, (m_nPos + 3) & ~static_cast<size_t>(3)); }

    bool ReadBytes(void* pvOut, size_t cb) {
        if (!m_bOk || cb > m_cbData - m_nPos) {
            m_bOk = false;
            memset(pvOut, 0, cb);
            return false;
        }
        memcpy(pvOut, m_pbData + m_nPos, cb);
        m_nPos += cb;
        return true;
    }
    BYTE ReadByte() { BYTE b; ReadBytes(&b, sizeof b); return b; }
    WORD ReadWord() { WORD w; ReadBytes(&w, sizeof w); return w; }
    short ReadShort() { short n; ReadBytes(&n, sizeof n); return n; }
    DWORD ReadDword() { DWORD dw; ReadBytes(&dw, sizeof dw); return dw; }

    std::wstring ReadChars(size_t cch) {
        std::wstring str(cch, L'\0');
        if (cch) ReadBytes(&str[0], cch * sizeof(wchar_t));
        return str;
    }
    // NUL-terminated UTF-16 text, without the NUL.
    std::wstring ReadSz() {
        std::wstring str;
        for (wchar_t ch = static_cast<wchar_t>(ReadWord()); ch && m_bOk; ch = static_cast<wchar_t>(ReadWord()))
            str += ch;
        return str;
    }
    // Dialog name fields: empty (0), ordinal (0xFFFF, n) or text.
    std::wstring ReadSzOrOrdinal() {
        if (!m_bOk || m_cbData - m_nPos < 2) return ReadSz();
        WORD wFirst;
        memcpy(&wFirst, m_pbData + m_nPos, sizeof wFirst);
        if (wFirst != 0xFFFF) return ReadSz();
        ReadWord();
        return MakeOrdinal(ReadWord());
    }

private:
    const BYTE* m_pbData;
    size_t m_cbData;
    size_t m_nPos;
    bool m_bOk;
};

// ------------------------------------------------------ resource directory

std::string FormatResourceName(LPCSTR pszName) {
    if (IS_INTRESOURCE(pszName)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(pszName));
    return pszName;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR pszType, LPCSTR pszName, WORD wLanguage, LONG_PTR lParam) {
    reinterpret_cast<std::vector<std::string>*>(lParam)->push_back(
        FormatResourceName(pszType) + " " + FormatResourceName(pszName) + " " + std::to_string(wLanguage));
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE hModule, LPCSTR pszType, LPSTR pszName, LONG_PTR lParam) {
    EnumResourceLanguagesA(hModule, pszType, pszName, AddLanguage, lParam);
    return TRUE;
}

BOOL CALLBACK AddType(HMODULE hModule, LPSTR pszType, LONG_PTR lParam) {
    EnumResourceNamesA(hModule, pszType, AddName, lParam);
    return TRUE;
}

// Every resource as "type name language", e.g. "#6 #7 1033", sorted.
std::vector<std::string> ListResources(HMODULE hModule) {
    std::vector<std::string> vecEntries;
    EnumResourceTypesA(hModule, AddType, reinterpret_cast<LONG_PTR>(&vecEntries));
    std::sort(vecEntries.begin(), vecEntries.end());
    return vecEntries;
}

// Integer names of one type that exist in one language.
std::vector<WORD> ListNames(HMODULE hModule, LPCSTR pszType, WORD wLanguage) {
    std::string strPrefix = FormatResourceName(pszType) + " #";
    std::string strSuffix = " " + std::to_string(wLanguage);
    std::vector<WORD> vecNames;
    for (const std::string& strEntry : ListResources(hModule)) {
        if (strEntry.compare(0, strPrefix.size(), strPrefix) != 0) continue;
        if (strEntry.size() < strSuffix.size() ||
            strEntry.compare(strEntry.size() - strSuffix.size(), strSuffix.size(), strSuffix) != 0)
            continue;
        vecNames.push_back(static_cast<WORD>(strtoul(strEntry.c_str() + strPrefix.size(), nullptr, 10)));
    }
    return vecNames;
}

class CSetupResources : public testing::Test {
protected:
    void SetUp() override {
        m_hModule = GetSetupModule();
        ASSERT_NE(nullptr, m_hModule) << "cannot map " << SetupPath() << ", error " << GetLastError();
    }
    HMODULE m_hModule = nullptr;
};

// Only the intended resources, each under exactly its languages: dialogs in
// English only, icon and version in Japanese only, strings and manifest in
// both. A stray copy (say, a toolchain's default manifest under language 0)
// would change which one the loader picks.
TEST_F(CSetupResources, DirectoryHoldsExactlyTheIntendedResources) {
    std::vector<std::string> vecExpected = {
        "#3 #1 1041", "#3 #2 1041",
        "#5 #100 1033", "#5 #102 1033", "#5 #129 1033",
        // String block N holds IDs (N - 1) * 16 to N * 16 - 1.
        "#6 #7 1033", "#6 #7 1041", "#6 #8 1033", "#6 #8 1041", "#6 #13 1041",
        "#6 #188 1033", "#6 #188 1041", "#6 #3585 1033", "#6 #3585 1041",
        "#14 #128 1041",
        "#16 #1 1041",
        "#24 #1 1033", "#24 #1 1041",
    };
    std::sort(vecExpected.begin(), vecExpected.end());
    EXPECT_EQ(vecExpected, ListResources(m_hModule));
    // The test programs link the same compiled script and create the
    // dialogs from their own module.
    EXPECT_EQ(vecExpected, ListResources(GetModuleHandleA(nullptr)));
}

// ---------------------------------------------------------- string tables

// One raw block: 16 counted UTF-16 strings, nothing after them.
void ParseStringBlock(const std::vector<BYTE>& vecBlock, UINT uFirstId, std::map<UINT, std::wstring>& mapStrings) {
    CByteReader reader(vecBlock);
    for (UINT i = 0; i < 16; ++i) {
        std::wstring strText = reader.ReadChars(reader.ReadWord());
        if (!strText.empty()) mapStrings[uFirstId + i] = strText;
    }
    EXPECT_TRUE(reader.IsOk()) << "block of " << uFirstId << " truncated";
    EXPECT_EQ(vecBlock.size(), reader.GetPos()) << "bytes after the 16 strings of block " << uFirstId;
}

std::map<UINT, std::wstring> ReadStringTable(HMODULE hModule, WORD wLanguage) {
    std::map<UINT, std::wstring> mapStrings;
    for (WORD wBlock : ListNames(hModule, RT_STRING, wLanguage)) {
        std::vector<BYTE> vecBlock = ReadResource(hModule, RT_STRING, MAKEINTRESOURCEA(wBlock), wLanguage);
        ParseStringBlock(vecBlock, (wBlock - 1u) * 16u, mapStrings);
    }
    return mapStrings;
}

struct CStringRow {
    UINT m_uId;
    const char* m_pszEnglish;   // nullptr: no English entry
    const char* m_pszJapanese;  // nullptr: the English text
};

const CStringRow STRING_ROWS[] = {
    {101, "&About setup...", nullptr},
    {105, "qzusbdr.inf", nullptr},
    {106, "qzvrcom.inf", nullptr},
    {107, "qzvrcom", nullptr},
    {108, "qzusbdr", nullptr},
    {109, "qzvrcom", nullptr},
    {110, "Error", "エラー"},
    {111, "Uninstallation was stopped. Close the virtual com port and uninstall again.",
          "アンインストールを中断しました。ポートを閉じて再度アンインストールを実行してください。"},
    {112, "You cannot run multiple instances of this program.",
          "インストーラ（アンインストーラ）の2重起動はできません。"},
    {113, "You do not have sufficient privileges.", "権限不足です。"},
    {114, "ERROR", nullptr},
    {115, "ERROR", nullptr},
    {116, "Success", nullptr},
    {117, "Error", nullptr},
    {118, "3.0.0.7", nullptr},
    {119, "VANTORIS", nullptr},
    {120, "A COM port did not get the COM number in its hardware ID.",
          "ハードウェア ID の COM 番号を取得できなかった COM ポートがあります。"},
    {121, "Restart Windows to finish.", "完了するには Windows を再起動してください。"},
    {207, nullptr, "ドライバファイルが見つからないために\nインストールできません。"},
    {3000, "qzvrcom_installer", nullptr},
    {57345, "&About...", "バージョン情報(&A)..."},
};

std::map<UINT, std::wstring> MakeExpectedTable(bool bJapanese) {
    std::map<UINT, std::wstring> mapStrings;
    for (const CStringRow& row : STRING_ROWS) {
        const char* pszText = bJapanese && row.m_pszJapanese ? row.m_pszJapanese : row.m_pszEnglish;
        if (pszText) mapStrings[row.m_uId] = Widen(pszText);
    }
    return mapStrings;
}

// Entry by entry over both tables, so a changed, missing or extra entry
// each fail with its ID.
void ExpectSameTable(const std::map<UINT, std::wstring>& mapExpected, const std::map<UINT, std::wstring>& mapActual) {
    std::set<UINT> setIds;
    for (const auto& entry : mapExpected) setIds.insert(entry.first);
    for (const auto& entry : mapActual) setIds.insert(entry.first);
    for (UINT uId : setIds) {
        auto itExpected = mapExpected.find(uId), itActual = mapActual.find(uId);
        if (itExpected == mapExpected.end()) ADD_FAILURE() << "unexpected string " << uId;
        else if (itActual == mapActual.end()) ADD_FAILURE() << "missing string " << uId;
        else EXPECT_EQ(itExpected->second, itActual->second) << "string " << uId;
    }
}

TEST_F(CSetupResources, EnglishStringTableHoldsExactlyItsEntries) {
    // 207 has no English entry; an empty slot or a missing block both count as none.
    ExpectSameTable(MakeExpectedTable(false), ReadStringTable(m_hModule, LANGUAGE_ENGLISH));
}

TEST_F(CSetupResources, JapaneseStringTableHoldsExactlyItsEntries) {
    std::map<UINT, std::wstring> mapActual = ReadStringTable(m_hModule, LANGUAGE_JAPANESE);
    ExpectSameTable(MakeExpectedTable(true), mapActual);
    // \n must be compiled as a line feed, not kept as two characters.
    const std::wstring& strMissing = mapActual[207];
    EXPECT_EQ(31u, strMissing.size());
    EXPECT_EQ(18u, strMissing.find(L'\n'));
    EXPECT_EQ(std::wstring::npos, strMissing.find(L'\\'));
}

// ------------------------------------------------------- dialog templates

struct CDialogItem {
    DWORD m_dwHelpId, m_dwExStyle, m_dwStyle;
    short m_x, m_y, m_cx, m_cy;
    DWORD m_dwId;  // 16 bits wide in a DIALOG template, 32 in a DIALOGEX one
    std::wstring m_strClass, m_strText;
    WORD m_cbExtra;
};

struct CDialogTemplate {
    bool m_bExtended = false;
    DWORD m_dwHelpId = 0, m_dwExStyle = 0, m_dwStyle = 0;
    short m_x = 0, m_y = 0, m_cx = 0, m_cy = 0;
    std::wstring m_strMenu, m_strClass, m_strCaption;
    WORD m_wPointSize = 0, m_wWeight = 0;
    BYTE m_bItalic = 0, m_bCharset = 0;
    std::wstring m_strFont;
    std::vector<CDialogItem> m_vecItems;
};

CDialogItem ParseDialogItem(CByteReader& reader, bool bExtended) {
    CDialogItem item = {};
    reader.AlignDword();
    if (bExtended) item.m_dwHelpId = reader.ReadDword();
    item.m_dwStyle = reader.ReadDword();
    item.m_dwExStyle = reader.ReadDword();
    if (bExtended) std::swap(item.m_dwStyle, item.m_dwExStyle);  // DLGITEMTEMPLATEEX: exStyle first
    item.m_x = reader.ReadShort();
    item.m_y = reader.ReadShort();
    item.m_cx = reader.ReadShort();
    item.m_cy = reader.ReadShort();
    item.m_dwId = bExtended ? reader.ReadDword() : reader.ReadWord();
    item.m_strClass = reader.ReadSzOrOrdinal();
    item.m_strText = reader.ReadSzOrOrdinal();
    item.m_cbExtra = reader.ReadWord();
    reader.SetPos(reader.GetPos() + item.m_cbExtra);
    return item;
}

// DLGTEMPLATE or DLGTEMPLATEEX (version 1, signature 0xFFFF) with its items.
CDialogTemplate ParseDialog(const std::vector<BYTE>& vecData) {
    CDialogTemplate dlg;
    CByteReader reader(vecData);
    const BYTE EXTENDED[4] = {1, 0, 0xFF, 0xFF};
    dlg.m_bExtended = vecData.size() >= 4 && memcmp(vecData.data(), EXTENDED, 4) == 0;
    if (dlg.m_bExtended) {
        reader.ReadDword();
        dlg.m_dwHelpId = reader.ReadDword();
        dlg.m_dwExStyle = reader.ReadDword();
        dlg.m_dwStyle = reader.ReadDword();
    } else {
        dlg.m_dwStyle = reader.ReadDword();
        dlg.m_dwExStyle = reader.ReadDword();
    }
    WORD cItems = reader.ReadWord();
    dlg.m_x = reader.ReadShort();
    dlg.m_y = reader.ReadShort();
    dlg.m_cx = reader.ReadShort();
    dlg.m_cy = reader.ReadShort();
    dlg.m_strMenu = reader.ReadSzOrOrdinal();
    dlg.m_strClass = reader.ReadSzOrOrdinal();
    dlg.m_strCaption = reader.ReadSz();
    if (dlg.m_dwStyle & DS_SETFONT) {
        dlg.m_wPointSize = reader.ReadWord();
        if (dlg.m_bExtended) {
            dlg.m_wWeight = reader.ReadWord();
            dlg.m_bItalic = reader.ReadByte();
            dlg.m_bCharset = reader.ReadByte();
        }
        dlg.m_strFont = reader.ReadSz();
    }
    for (WORD i = 0; i < cItems && reader.IsOk(); ++i)
        dlg.m_vecItems.push_back(ParseDialogItem(reader, dlg.m_bExtended));
    EXPECT_TRUE(reader.IsOk()) << "dialog template truncated";
    EXPECT_EQ(vecData.size(), reader.GetPos()) << "bytes after the last item";
    return dlg;
}

struct CControlRow {
    DWORD m_dwId;
    std::wstring m_strClass, m_strText;
    DWORD m_dwStyle;
    short m_x, m_y, m_cx, m_cy;
};

const std::wstring BUTTON_CLASS = MakeOrdinal(0x0080);
const std::wstring STATIC_CLASS = MakeOrdinal(0x0082);
const std::wstring PROGRESS_CLASS = L"msctls_progress32";
const std::wstring ICON_128 = MakeOrdinal(128);

// Ordinals must match exactly. A class given by name is compared without
// regard to case: windres stores it upper-cased, and the system looks class
// names up case-insensitively.
bool IsSameClass(const std::wstring& strExpected, const std::wstring& strActual) {
    if (!strExpected.empty() && strExpected[0] == 0xFFFF) return strExpected == strActual;
    return CompareStringOrdinal(strExpected.c_str(), static_cast<int>(strExpected.size()), strActual.c_str(),
                                static_cast<int>(strActual.size()), TRUE) == CSTR_EQUAL;
}

void ExpectControls(const CDialogTemplate& dlg, const std::vector<CControlRow>& vecRows) {
    ASSERT_EQ(vecRows.size(), dlg.m_vecItems.size());
    for (size_t i = 0; i < vecRows.size(); ++i) {
        const CControlRow& row = vecRows[i];
        const CDialogItem& item = dlg.m_vecItems[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(FormatHex(row.m_dwId), FormatHex(item.m_dwId));
        EXPECT_PRED2(IsSameClass, row.m_strClass, item.m_strClass);
        EXPECT_EQ(row.m_strText, item.m_strText);
        EXPECT_EQ(FormatHex(row.m_dwStyle), FormatHex(item.m_dwStyle));
        EXPECT_EQ(FormatHex(0), FormatHex(item.m_dwExStyle));
        EXPECT_EQ(0u, item.m_dwHelpId);
        EXPECT_EQ(0u, item.m_cbExtra);
        EXPECT_EQ(row.m_x, item.m_x);
        EXPECT_EQ(row.m_y, item.m_y);
        EXPECT_EQ(row.m_cx, item.m_cx);
        EXPECT_EQ(row.m_cy, item.m_cy);
    }
}

void ExpectFrame(const CDialogTemplate& dlg, DWORD dwStyle, DWORD dwExStyle, const wchar_t* pszCaption,
                 short cx, short cy) {
    EXPECT_EQ(FormatHex(dwStyle), FormatHex(dlg.m_dwStyle));
    EXPECT_EQ(FormatHex(dwExStyle), FormatHex(dlg.m_dwExStyle));
    EXPECT_EQ(0u, dlg.m_dwHelpId);
    EXPECT_EQ(0, dlg.m_x);
    EXPECT_EQ(0, dlg.m_y);
    EXPECT_EQ(cx, dlg.m_cx);
    EXPECT_EQ(cy, dlg.m_cy);
    EXPECT_EQ(L"", dlg.m_strMenu);
    EXPECT_EQ(L"", dlg.m_strClass);
    EXPECT_EQ(pszCaption, dlg.m_strCaption);
    EXPECT_EQ(8, dlg.m_wPointSize);
    EXPECT_EQ(L"Tahoma", dlg.m_strFont);
    EXPECT_EQ(0, dlg.m_wWeight);
    EXPECT_EQ(0, dlg.m_bItalic);
    EXPECT_EQ(dlg.m_bExtended ? 1 : 0, dlg.m_bCharset);
}

CDialogTemplate ReadDialog(HMODULE hModule, WORD wId) {
    std::vector<BYTE> vecData = ReadResource(hModule, RT_DIALOG, MAKEINTRESOURCEA(wId), LANGUAGE_ENGLISH);
    EXPECT_FALSE(vecData.empty()) << "dialog " << wId;
    return ParseDialog(vecData);
}

const DWORD ICON_STYLE = 0x50000003;      // WS_CHILD | WS_VISIBLE | SS_ICON
const DWORD TEXT_STYLE = 0x50020000;      // WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
const DWORD OK_STYLE = 0x50010001;        // WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON
const DWORD CANCEL_STYLE = 0x50010000;    // WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON
const DWORD PROGRESS_STYLE = 0x40800001;  // WS_CHILD | WS_BORDER | PBS_SMOOTH: created hidden

TEST_F(CSetupResources, AboutDialogTemplate) {
    CDialogTemplate dlg = ReadDialog(m_hModule, 100);
    EXPECT_FALSE(dlg.m_bExtended);
    ExpectFrame(dlg, 0x80C808C0, 0, L"About setup", 235, 55);
    ExpectControls(dlg, {
        {0xFFFF, STATIC_CLASS, ICON_128, ICON_STYLE, 5, 5, 20, 20},
        {0xFFFF, STATIC_CLASS, L"setup Version 1.0", TEXT_STYLE | SS_NOPREFIX, 35, 5, 119, 8},
        {0xFFFF, STATIC_CLASS, L"Copyright (C) VANTORIS CO.,LTD.", TEXT_STYLE, 35, 20, 163, 8},
        {IDOK, BUTTON_CLASS, L"OK", OK_STYLE | WS_GROUP, 175, 35, 50, 14},
    });
}

TEST_F(CSetupResources, InstallDialogTemplate) {
    CDialogTemplate dlg = ReadDialog(m_hModule, 102);
    EXPECT_TRUE(dlg.m_bExtended);
    ExpectFrame(dlg, 0x90C808C0, 0x00040000, L"Install", 262, 46);  // WS_VISIBLE; WS_EX_APPWINDOW
    ExpectControls(dlg, {
        {IDOK, BUTTON_CLASS, L"OK", OK_STYLE, 205, 5, 50, 14},
        {IDCANCEL, BUTTON_CLASS, L"Cancel", CANCEL_STYLE, 205, 25, 50, 14},
        {0xFFFFFFFF, STATIC_CLASS, ICON_128, ICON_STYLE, 5, 5, 20, 20},
        {1002, STATIC_CLASS, L"This installer will install \"USB Virtual Serial Port\" driver on your computer.",
         TEXT_STYLE, 35, 5, 155, 20},
        {1001, STATIC_CLASS, L"Click \"OK\" to continue.", TEXT_STYLE, 35, 30, 115, 8},
        {1003, PROGRESS_CLASS, L"Progress1", PROGRESS_STYLE, 35, 30, 160, 10},
    });
}

// Same controls as the install dialog but for two texts and widths; the
// frame is a plain template without WS_VISIBLE or WS_EX_APPWINDOW.
TEST_F(CSetupResources, UninstallDialogTemplate) {
    CDialogTemplate dlg = ReadDialog(m_hModule, 129);
    EXPECT_FALSE(dlg.m_bExtended);
    ExpectFrame(dlg, 0x80C808C0, 0, L"Uninstall", 262, 46);
    ExpectControls(dlg, {
        {IDOK, BUTTON_CLASS, L"OK", OK_STYLE, 205, 5, 50, 14},
        {IDCANCEL, BUTTON_CLASS, L"Cancel", CANCEL_STYLE, 205, 25, 50, 14},
        {0xFFFF, STATIC_CLASS, ICON_128, ICON_STYLE, 5, 5, 20, 20},
        {1002, STATIC_CLASS, L"This uninstaller will remove \"USB Virtual Serial Port\" driver on your computer.",
         TEXT_STYLE, 35, 5, 160, 20},
        {1001, STATIC_CLASS, L"Click \"OK\" to continue.", TEXT_STYLE, 35, 30, 110, 8},
        {1003, PROGRESS_CLASS, L"Progress1", PROGRESS_STYLE, 35, 30, 160, 10},
    });
}

// ------------------------------------------------------------------- icon

struct CIconEntry {
    BYTE m_bWidth, m_bHeight, m_bColorCount;
    WORD m_wPlanes, m_wBitCount;
    DWORD m_cbImage;
    WORD m_wId;
};

// GRPICONDIR (reserved 0, type 1, count) and its 14-byte entries.
std::vector<CIconEntry> ParseIconGroup(const std::vector<BYTE>& vecData) {
    CByteReader reader(vecData);
    EXPECT_EQ(0, reader.ReadWord());
    EXPECT_EQ(1, reader.ReadWord());
    std::vector<CIconEntry> vecEntries(reader.ReadWord());
    for (CIconEntry& entry : vecEntries) {
        entry.m_bWidth = reader.ReadByte();
        entry.m_bHeight = reader.ReadByte();
        entry.m_bColorCount = reader.ReadByte();
        reader.ReadByte();
        entry.m_wPlanes = reader.ReadWord();
        entry.m_wBitCount = reader.ReadWord();
        entry.m_cbImage = reader.ReadDword();
        entry.m_wId = reader.ReadWord();
    }
    EXPECT_TRUE(reader.IsOk());
    EXPECT_EQ(vecData.size(), reader.GetPos());
    return vecEntries;
}

// A 4-bpp DIB with the standard 16-colour palette, colour rows and a mask
// that has both transparent and opaque pixels; Windows must accept it.
void ExpectIconImage(const std::vector<BYTE>& vecImage, int nSize) {
    BITMAPINFOHEADER header = {};
    ASSERT_GE(vecImage.size(), sizeof header);
    memcpy(&header, vecImage.data(), sizeof header);
    EXPECT_EQ(sizeof header, header.biSize);
    EXPECT_EQ(nSize, header.biWidth);
    EXPECT_EQ(2 * nSize, header.biHeight);  // colour rows plus mask rows
    EXPECT_EQ(1, header.biPlanes);
    EXPECT_EQ(4, header.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
    EXPECT_TRUE(header.biClrUsed == 0 || header.biClrUsed == 16) << header.biClrUsed;
    const size_t cbColorRow = ((nSize * 4 + 31) / 32) * 4, cbMaskRow = ((nSize + 31) / 32) * 4;
    const size_t cbPalette = 16 * sizeof(RGBQUAD);
    ASSERT_EQ(sizeof header + cbPalette + (cbColorRow + cbMaskRow) * nSize, vecImage.size());

    const DWORD VGA[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                           0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    const BYTE* pbPalette = vecImage.data() + sizeof header;
    for (int i = 0; i < 16; ++i) {
        const BYTE* pb = pbPalette + 4 * i;
        EXPECT_EQ(VGA[i], static_cast<DWORD>(pb[2] << 16 | pb[1] << 8 | pb[0])) << "palette entry " << i;
    }
    const BYTE* pbMask = pbPalette + cbPalette + cbColorRow * nSize;
    size_t cSet = 0, cBits = 0;
    for (int y = 0; y < nSize; ++y)
        for (int x = 0; x < nSize; ++x, ++cBits)
            cSet += (pbMask[y * cbMaskRow + x / 8] >> (7 - x % 8)) & 1;
    EXPECT_GT(cSet, 0u) << "no transparent pixel";
    EXPECT_LT(cSet, cBits) << "no opaque pixel";

    HICON hIcon = CreateIconFromResourceEx(const_cast<BYTE*>(vecImage.data()), static_cast<DWORD>(vecImage.size()),
                                           TRUE, 0x00030000, nSize, nSize, LR_DEFAULTCOLOR);
    EXPECT_NE(nullptr, hIcon);
    if (hIcon) DestroyIcon(hIcon);
}

TEST_F(CSetupResources, IconGroupNamesTwoSixteenColourImages) {
    std::vector<BYTE> vecGroup = ReadResource(m_hModule, RT_GROUP_ICON, MAKEINTRESOURCEA(128), LANGUAGE_JAPANESE);
    ASSERT_FALSE(vecGroup.empty());
    std::vector<CIconEntry> vecEntries = ParseIconGroup(vecGroup);
    ASSERT_EQ(2u, vecEntries.size());
    const int SIZES[2] = {32, 16};
    std::vector<WORD> vecIds;
    for (size_t i = 0; i < 2; ++i) {
        const CIconEntry& entry = vecEntries[i];
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(SIZES[i], entry.m_bWidth);
        EXPECT_EQ(SIZES[i], entry.m_bHeight);
        EXPECT_EQ(16, entry.m_bColorCount);
        EXPECT_EQ(1, entry.m_wPlanes);
        EXPECT_EQ(4, entry.m_wBitCount);
        std::vector<BYTE> vecImage = ReadResource(m_hModule, RT_ICON, MAKEINTRESOURCEA(entry.m_wId), LANGUAGE_JAPANESE);
        EXPECT_EQ(entry.m_cbImage, vecImage.size());
        ExpectIconImage(vecImage, SIZES[i]);
        vecIds.push_back(entry.m_wId);
    }
    // Every image is one the group uses.
    std::sort(vecIds.begin(), vecIds.end());
    EXPECT_EQ(vecIds, ListNames(m_hModule, RT_ICON, LANGUAGE_JAPANESE));
}

// ---------------------------------------------------------- version block

struct CVersionNode {
    std::wstring m_strKey;
    WORD m_wType = 0;
    WORD m_wValueLength = 0;
    std::vector<BYTE> m_vecValue;
    std::vector<CVersionNode> m_vecChildren;
};

// wLength, wValueLength, wType, key, padding, value, padding, children. A
// text value's length counts characters, a binary one's bytes.
CVersionNode ParseVersionNode(CByteReader& reader) {
    CVersionNode node;
    reader.AlignDword();
    size_t nStart = reader.GetPos();
    size_t nEnd = nStart + reader.ReadWord();
    node.m_wValueLength = reader.ReadWord();
    node.m_wType = reader.ReadWord();
    node.m_strKey = reader.ReadSz();
    reader.AlignDword();
    node.m_vecValue.resize(node.m_wType == 1 ? 2u * node.m_wValueLength : node.m_wValueLength);
    if (!node.m_vecValue.empty()) reader.ReadBytes(node.m_vecValue.data(), node.m_vecValue.size());
    if (nEnd > reader.GetSize() || nEnd < nStart + 6) {
        ADD_FAILURE() << "bad node length at " << nStart;
        reader.SetPos(reader.GetSize() + 1);
        return node;
    }
    for (reader.AlignDword(); reader.IsOk() && reader.GetPos() < nEnd; reader.AlignDword())
        node.m_vecChildren.push_back(ParseVersionNode(reader));
    EXPECT_TRUE(reader.IsOk() && reader.GetPos() <= ((nEnd + 3) & ~static_cast<size_t>(3))) << "node " << nStart;
    reader.SetPos(nEnd);
    return node;
}

std::vector<std::wstring> ListKeys(const CVersionNode& node) {
    std::vector<std::wstring> vecKeys;
    for (const CVersionNode& child : node.m_vecChildren) vecKeys.push_back(child.m_strKey);
    return vecKeys;
}

// The key/value pairs of one string block, in stored order.
std::vector<std::pair<std::wstring, std::wstring>> ListStrings(const CVersionNode& block) {
    std::vector<std::pair<std::wstring, std::wstring>> vecPairs;
    for (const CVersionNode& child : block.m_vecChildren) {
        EXPECT_EQ(1, child.m_wType) << "text value " << testing::PrintToString(child.m_strKey);
        std::wstring strValue(child.m_vecValue.size() / 2, L'\0');
        if (!strValue.empty()) memcpy(&strValue[0], child.m_vecValue.data(), strValue.size() * 2);
        vecPairs.emplace_back(child.m_strKey, strValue.substr(0, strValue.find(L'\0')));
    }
    return vecPairs;
}

std::vector<std::pair<std::wstring, std::wstring>> MakeExpectedStrings(const wchar_t* pszDescription) {
    return {
        {L"Comments", L""},
        {L"CompanyName", L"VANTORIS CO.,LTD."},
        {L"FileDescription", pszDescription},
        {L"FileVersion", L"3,0,0,23"},
        {L"InternalName", L"setup"},
        {L"LegalCopyright", L"Copyright (C) VANTORIS CO.,LTD."},
        {L"LegalTrademarks", L""},
        {L"OriginalFilename", L"setup.exe"},
        {L"PrivateBuild", L""},
        {L"ProductName", L"USB Virtual Serial Port setup"},
        {L"ProductVersion", L"3,0,0,23"},
        {L"SpecialBuild", L""},
    };
}

void ExpectFixedInfo(const VS_FIXEDFILEINFO& info) {
    EXPECT_EQ(0xFEEF04BDu, info.dwSignature);
    EXPECT_EQ(0x00010000u, info.dwStrucVersion);
    EXPECT_EQ(0x00030000u, info.dwFileVersionMS);
    EXPECT_EQ(0x00000017u, info.dwFileVersionLS);
    EXPECT_EQ(0x00030000u, info.dwProductVersionMS);
    EXPECT_EQ(0x00000017u, info.dwProductVersionLS);
    EXPECT_EQ(0x3Fu, info.dwFileFlagsMask);
    EXPECT_EQ(0u, info.dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), info.dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), info.dwFileType);
    EXPECT_EQ(0u, info.dwFileSubtype);
    EXPECT_EQ(0u, info.dwFileDateMS);
    EXPECT_EQ(0u, info.dwFileDateLS);
}

TEST_F(CSetupResources, VersionBlockTree) {
    std::vector<BYTE> vecData = ReadResource(m_hModule, RT_VERSION, MAKEINTRESOURCEA(1), LANGUAGE_JAPANESE);
    ASSERT_FALSE(vecData.empty());
    CByteReader reader(vecData);
    CVersionNode root = ParseVersionNode(reader);
    EXPECT_EQ(L"VS_VERSION_INFO", root.m_strKey);
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), root.m_vecValue.size());
    VS_FIXEDFILEINFO info;
    memcpy(&info, root.m_vecValue.data(), sizeof info);
    ExpectFixedInfo(info);

    ASSERT_EQ((std::vector<std::wstring>{L"StringFileInfo", L"VarFileInfo"}), ListKeys(root));
    const CVersionNode& stringInfo = root.m_vecChildren[0];
    ASSERT_EQ((std::vector<std::wstring>{L"000004b0", L"040904b0"}), ListKeys(stringInfo));
    EXPECT_EQ(MakeExpectedStrings(L"USB Virtual Serial Port setup"), ListStrings(stringInfo.m_vecChildren[0]));
    EXPECT_EQ(MakeExpectedStrings(L"setup"), ListStrings(stringInfo.m_vecChildren[1]));

    const CVersionNode& varInfo = root.m_vecChildren[1];
    ASSERT_EQ(std::vector<std::wstring>{L"Translation"}, ListKeys(varInfo));
    const std::vector<BYTE> TRANSLATION = {0x09, 0x04, 0xB0, 0x04};  // one pair: 0x0409, 0x04B0
    EXPECT_EQ(TRANSLATION, varInfo.m_vecChildren[0].m_vecValue);
}

// The system's own reader must find the same block in the file.
TEST_F(CSetupResources, VersionBlockReadBySystem) {
    std::wstring strPath = Widen(SetupPath().c_str());
    DWORD dwHandle = 0;
    DWORD cbInfo = GetFileVersionInfoSizeW(strPath.c_str(), &dwHandle);
    ASSERT_NE(0u, cbInfo) << GetLastError();
    std::vector<BYTE> vecInfo(cbInfo);
    ASSERT_TRUE(GetFileVersionInfoW(strPath.c_str(), 0, cbInfo, vecInfo.data()));

    void* pvValue = nullptr;
    UINT cbValue = 0;
    ASSERT_TRUE(VerQueryValueW(vecInfo.data(), L"\\", &pvValue, &cbValue));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), cbValue);
    ExpectFixedInfo(*static_cast<VS_FIXEDFILEINFO*>(pvValue));
    ASSERT_TRUE(VerQueryValueW(vecInfo.data(), L"\\VarFileInfo\\Translation", &pvValue, &cbValue));
    ASSERT_EQ(4u, cbValue);
    EXPECT_EQ(0x04B00409u, *static_cast<DWORD*>(pvValue));
    ASSERT_TRUE(VerQueryValueW(vecInfo.data(), L"\\StringFileInfo\\040904b0\\FileDescription", &pvValue, &cbValue));
    EXPECT_STREQ(L"setup", static_cast<wchar_t*>(pvValue));
    ASSERT_TRUE(VerQueryValueW(vecInfo.data(), L"\\StringFileInfo\\000004b0\\FileDescription", &pvValue, &cbValue));
    EXPECT_STREQ(L"USB Virtual Serial Port setup", static_cast<wchar_t*>(pvValue));
}

// --------------------------------------------------------------- manifest

// Attributes of one element, by name.
using CAttributes = std::map<std::string, std::string>;

// Attributes of one start tag, from the text between its name and '>'.
CAttributes ParseAttributes(const std::string& strTag) {
    CAttributes mapAttributes;
    size_t nPos = 0;
    for (size_t nEquals = strTag.find('=', nPos); nEquals != std::string::npos; nEquals = strTag.find('=', nPos)) {
        size_t nNameStart = strTag.find_first_not_of(" \t\r\n", nPos);
        size_t nNameEnd = strTag.find_last_not_of(" \t\r\n", nEquals - 1) + 1;
        size_t nQuote = strTag.find_first_of("\"'", nEquals + 1);
        size_t nClose = nQuote == std::string::npos ? nQuote : strTag.find(strTag[nQuote], nQuote + 1);
        if (nClose == std::string::npos) {
            ADD_FAILURE() << "malformed tag: " << strTag;
            break;
        }
        std::string strName = strTag.substr(nNameStart, nNameEnd - nNameStart);
        mapAttributes[strName] = strTag.substr(nQuote + 1, nClose - nQuote - 1);
        nPos = nClose + 1;
    }
    return mapAttributes;
}

// The attributes of every <strName ...> element, in document order.
std::vector<CAttributes> FindElements(const std::string& strXml, const std::string& strName) {
    std::vector<CAttributes> vecElements;
    const std::string strOpen = "<" + strName;
    for (size_t nPos = strXml.find(strOpen); nPos != std::string::npos; nPos = strXml.find(strOpen, nPos + 1)) {
        size_t nAfter = nPos + strOpen.size();
        // "<supportedOS" must not match "<supportedOSx".
        if (nAfter >= strXml.size()) break;
        char chNext = strXml[nAfter];
        if (!isspace(static_cast<unsigned char>(chNext)) && chNext != '/' && chNext != '>') continue;
        size_t nEnd = strXml.find('>', nAfter);
        if (nEnd == std::string::npos) break;
        std::string strTag = strXml.substr(nAfter, nEnd - nAfter);
        if (!strTag.empty() && strTag.back() == '/') strTag.pop_back();
        vecElements.push_back(ParseAttributes(strTag));
    }
    return vecElements;
}

TEST_F(CSetupResources, ManifestIsTheSameInBothLanguages) {
    std::vector<BYTE> vecEnglish = ReadResource(m_hModule, RT_MANIFEST, MAKEINTRESOURCEA(1), LANGUAGE_ENGLISH);
    std::vector<BYTE> vecJapanese = ReadResource(m_hModule, RT_MANIFEST, MAKEINTRESOURCEA(1), LANGUAGE_JAPANESE);
    EXPECT_FALSE(vecEnglish.empty());
    EXPECT_EQ(vecEnglish, vecJapanese);
}

TEST_F(CSetupResources, ManifestDeclarations) {
    std::vector<BYTE> vecData = ReadResource(m_hModule, RT_MANIFEST, MAKEINTRESOURCEA(1), LANGUAGE_ENGLISH);
    const std::string strXml(vecData.begin(), vecData.end());
    EXPECT_EQ(1u, FindElements(strXml, "dependentAssembly").size());
    const CAttributes COMMON_CONTROLS = {
        {"type", "win32"}, {"name", "Microsoft.Windows.Common-Controls"}, {"version", "6.0.0.0"},
        {"processorArchitecture", "*"}, {"publicKeyToken", "6595b64144ccf1df"}, {"language", "*"},
    };
    EXPECT_EQ(std::vector<CAttributes>{COMMON_CONTROLS}, FindElements(strXml, "assemblyIdentity"));

    const CAttributes ELEVATION = {{"level", "requireAdministrator"}, {"uiAccess", "false"}};
    EXPECT_EQ(std::vector<CAttributes>{ELEVATION}, FindElements(strXml, "requestedExecutionLevel"));

    std::vector<std::string> vecIds;
    for (const CAttributes& mapAttributes : FindElements(strXml, "supportedOS"))
        vecIds.push_back(mapAttributes.count("Id") ? mapAttributes.at("Id") : "<no Id>");
    const std::vector<std::string> SYSTEMS = {
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
    };
    EXPECT_EQ(SYSTEMS, vecIds);
}

}  // namespace
