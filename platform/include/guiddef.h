// GUIDs: the 128-bit identifiers of COM classes and interfaces, laid out as on Windows.
#pragma once

#include <cstring>

#include "windef.h"

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef GUID* LPGUID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

// Declares a GUID constant; the value is written once in platform/ole32/guids.cpp.
#define DECLARE_GUID_CONST(name) extern "C" const GUID name

inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

DECLARE_GUID_CONST(GUID_NULL);
#define CLSID_NULL GUID_NULL
#define IID_NULL GUID_NULL
