// Event texts from the compact event table: finds an event's record and
// expands its codes, pairs and placeholders into readable text.
#include "event_text.h"

#include <string.h>
#include <strsafe.h>

#include "event_table.h"

namespace {

// Placeholder types, in the order of the table's codes.
enum ArgumentType { TYPE_INT, TYPE_UINT, TYPE_HEX, TYPE_PTR, TYPE_STR, TYPE_COUNT };

const unsigned char FIRST_CHARACTER_CODE = 0x20;
const int RECORD_HEADER_SIZE = 3;

// Appends to a fixed buffer, always NUL-terminated, and remembers whether
// everything fitted.
class CTextWriter {
public:
    CTextWriter(char* pszText, size_t cchText) : m_pszText(pszText), m_cchText(cchText), m_nLength(0), m_bFits(true)
    {
        m_pszText[0] = '\0';
    }

    void AppendChar(char ch)
    {
        if (m_nLength + 1 >= m_cchText) {
            m_bFits = false;
            return;
        }
        m_pszText[m_nLength++] = ch;
        m_pszText[m_nLength] = '\0';
    }

    void AppendText(const char* pszText)
    {
        for (; *pszText != '\0'; ++pszText) {
            AppendChar(*pszText);
        }
    }

    bool Fits() const { return m_bFits; }

private:
    char* m_pszText;
    size_t m_cchText;
    size_t m_nLength;
    bool m_bFits;
};

const EventComponent* GetRecordComponent(const unsigned char* pRecord)
{
    return &g_aEventComponents[(pRecord[0] & 0x0F) - 1];
}

USHORT GetRecordNumber(const unsigned char* pRecord)
{
    return static_cast<USHORT>(pRecord[1] | (pRecord[2] << 8));
}

const unsigned char* FindNextRecord(const unsigned char* pRecord)
{
    const unsigned char* pCode = pRecord + RECORD_HEADER_SIZE;
    while (*pCode != 0) {
        ++pCode;
    }
    return pCode + 1;
}

// A string argument: its bytes up to its NUL.
void AppendStringArgument(CTextWriter& writer, const EventArgument& argument)
{
    const char* pszValue = static_cast<const char*>(argument.m_pData);
    for (SIZE_T i = 0; i + 1 < argument.m_cbData && pszValue[i] != '\0'; ++i) {
        writer.AppendChar(pszValue[i]);
    }
}

// An argument whose size is not its type's is shown as "?".
void AppendArgument(CTextWriter& writer, int nType, const EventArgument* pArgument)
{
    if (pArgument != nullptr && nType == TYPE_STR) {
        AppendStringArgument(writer, *pArgument);
        return;
    }
    SIZE_T cbType = nType == TYPE_PTR ? 8 : 4;
    if (pArgument == nullptr || pArgument->m_cbData != cbType) {
        writer.AppendText("?");
        return;
    }
    DWORD adwValue[2] = {0, 0};
    memcpy(adwValue, pArgument->m_pData, cbType);
    char szValue[32] = "";
    switch (nType) {
    case TYPE_INT: StringCchPrintfA(szValue, ARRAYSIZE(szValue), "%ld", static_cast<LONG>(adwValue[0])); break;
    case TYPE_UINT: StringCchPrintfA(szValue, ARRAYSIZE(szValue), "%lu", adwValue[0]); break;
    case TYPE_HEX: StringCchPrintfA(szValue, ARRAYSIZE(szValue), "0x%08lX", adwValue[0]); break;
    default: StringCchPrintfA(szValue, ARRAYSIZE(szValue), "%08lX%08lX", adwValue[1], adwValue[0]); break;
    }
    writer.AppendText(szValue);
}

// A code is a pair of codes, a placeholder or a character. Pairs always
// refer to codes made before them, so the expansion ends.
void AppendCode(CTextWriter& writer, unsigned char nCode, const EventArgument* pArguments, int nArguments)
{
    const unsigned char* pPair = &g_abEventPairs[2 * nCode];
    if (pPair[0] != 0) {
        AppendCode(writer, pPair[0], pArguments, nArguments);
        AppendCode(writer, pPair[1], pArguments, nArguments);
    } else if (nCode < FIRST_CHARACTER_CODE) {
        int nIndex = (nCode - 1) / TYPE_COUNT;
        AppendArgument(writer, (nCode - 1) % TYPE_COUNT, nIndex < nArguments ? &pArguments[nIndex] : nullptr);
    } else {
        writer.AppendChar(static_cast<char>(nCode));
    }
}

} // namespace

const unsigned char* FindEventRecord(const GUID& guidComponent, USHORT nEvent)
{
    for (const unsigned char* pRecord = g_abEventRecords; *pRecord != 0; pRecord = FindNextRecord(pRecord)) {
        if (GetRecordNumber(pRecord) == nEvent && IsEqualGUID(*GetRecordComponent(pRecord)->m_pGuid, guidComponent)) {
            return pRecord;
        }
    }
    return nullptr;
}

DWORD GetEventFlag(const unsigned char* pRecord)
{
    return pRecord[0] >> 4;
}

bool FormatEventText(const unsigned char* pRecord, const EventArgument* pArguments, int nArguments,
                     char* pszText, size_t cchText)
{
    CTextWriter writer(pszText, cchText);
    char szHead[32] = "";
    StringCchPrintfA(szHead, ARRAYSIZE(szHead), " %u: ", GetRecordNumber(pRecord));
    writer.AppendText(GetRecordComponent(pRecord)->m_pszName);
    writer.AppendText(szHead);
    for (const unsigned char* pCode = pRecord + RECORD_HEADER_SIZE; *pCode != 0; ++pCode) {
        AppendCode(writer, *pCode, pArguments, nArguments);
    }
    return writer.Fits();
}
