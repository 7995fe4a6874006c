// The texts of the catalogued events, expanded with the arguments an event
// sends, for the text log.
#pragma once

#include <windows.h>

// One argument of an event, as TraceMessage is given it: a 32-bit integer or
// a pointer by its bytes, a string with its NUL.
struct EventArgument {
    const void* m_pData;
    SIZE_T m_cbData;
};

// The event's record in the event table, or null when the catalogue lacks it.
const unsigned char* FindEventRecord(const GUID& guidComponent, USHORT nEvent);

// The enable flag of a catalogued event (TRACE_ERROR or TRACE_FLOW).
DWORD GetEventFlag(const unsigned char* pRecord);

// Writes "component number: text" into pszText, each placeholder replaced
// by its argument. False when the text did not fit: pszText then holds as
// much of it as fitted.
bool FormatEventText(const unsigned char* pRecord, const EventArgument* pArguments, int nArguments,
                     char* pszText, size_t cchText);
