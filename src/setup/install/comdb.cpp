// PLACEHOLDER: built by its own change.
#include "comdb.h"

CComDB::CComDB() : m_pData(nullptr), m_cbData(0), m_dwType(0) {}
CComDB::~CComDB() {}
BOOL CComDB::Load() { return FALSE; }
BOOL CComDB::ReservePort(DWORD) { return FALSE; }
BOOL CComDB::Save() { return FALSE; }
