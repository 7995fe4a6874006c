// The event catalogue as the program carries it, generated at build time
// from events.catalog (tools/trace_catalog.py table), so that the text log,
// the trace format files and the catalogue cannot drift apart.
#pragma once

#include <windows.h>

struct EventComponent {
    const GUID* m_pGuid;
    const char* m_pszName;
};

extern const EventComponent g_aEventComponents[];
extern const int g_nEventComponents;

// One record per event, one after the other, and a 0 byte after the last:
//   byte 0      component index + 1 (bits 0-3) and the event's flag (bits 4-7)
//   bytes 1-2   event number, low byte first
//   then        the text as codes, ended by a 0 byte
// A text code is a character (0x20-0x7E), a placeholder for an argument
// (1-15: 1 + argument index * 5 + type, the types int, uint, hex, ptr, str),
// or a byte that stands for a pair of codes (below).
extern const unsigned char g_abEventRecords[];

// The pair a code stands for: bytes 2 * code and 2 * code + 1, both 0 for a
// code that stands for itself. Pairs nest, always to codes made before.
extern const unsigned char g_abEventPairs[512];
