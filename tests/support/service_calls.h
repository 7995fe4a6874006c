// Watches the service-manager handles and heap blocks that code under test
// takes and gives back, through the test executable's import table. Stacks
// on top of any stand-ins already patched in.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "iat_patch.h"

class CServiceCallLog {
public:
    CServiceCallLog();
    ~CServiceCallLog();
    CServiceCallLog(const CServiceCallLog&) = delete;
    CServiceCallLog& operator=(const CServiceCallLog&) = delete;

    bool IsApplied() const;
    // One letter per call, in order: 'M' manager opened, 'S' service opened,
    // 'H' heap block allocated; lower case for the matching close or free,
    // 'x' for a close or free of something not taken while the log lived.
    const std::string& Sequence() const { return m_sequence; }
    // Handles and blocks taken and not given back.
    size_t Outstanding() const { return m_managers.size() + m_services.size() + m_blocks.size(); }

    static CServiceCallLog* s_pCurrent;
    std::string m_sequence;
    // Access asked for by every open call, manager and service alike.
    std::vector<DWORD> m_access;
    std::set<void*> m_managers;
    std::set<void*> m_services;
    std::set<void*> m_blocks;
    CIatPatch m_openManager;
    CIatPatch m_openService;
    CIatPatch m_close;
    CIatPatch m_alloc;
    CIatPatch m_free;
};
