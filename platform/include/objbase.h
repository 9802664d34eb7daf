// ole32: COM library functions. Classes are found in the process's own registrations first,
// then in the compiled-in class table (ProgIDs, file extensions, in-process server modules
// beside the program).
#pragma once

#include "objidl.h"
#include "oaidl.h"
#include "winbase.h"

typedef enum tagCOINIT {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

typedef enum tagREGCLS {
    REGCLS_SINGLEUSE = 0,
    REGCLS_MULTIPLEUSE = 1,
    REGCLS_MULTI_SEPARATE = 2,
    REGCLS_SUSPENDED = 4
} REGCLS;

// The exports an in-process server module provides.
typedef HRESULT(STDMETHODCALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* LPFNCANUNLOADNOW)(void);

extern "C" {

// Counts the initialisations of the calling thread: S_OK for the first, S_FALSE when already
// initialised. Each successful call must be balanced by CoUninitialize.
HRESULT WINAPI CoInitialize(LPVOID pvReserved);
HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
// Undoes one CoInitialize of the calling thread. Unlike Windows, in-process server modules stay
// loaded until the process ends (they may run threads of their own); DllCanUnloadNow is not
// consulted.
void WINAPI CoUninitialize(void);

// The class of a ProgID ("Word.Application", case-insensitive); CO_E_CLASSSTRING for an unknown
// ProgID, E_INVALIDARG for NULL arguments.
HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);

// Creates an object of the class: from a class object registered in this process with
// CoRegisterClassObject, else from the server module of the class table (loaded once with
// LoadLibraryA, asked through DllGetClassObject). REGDB_E_CLASSNOTREG when the class is unknown
// or its module cannot be loaded or lacks the export; CLASS_E_NOAGGREGATION for an outer
// unknown; E_POINTER for a NULL ppv (otherwise *ppv is NULL on any failure).
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID* ppv);
// Registers a class object for this process (AddRef'd until revoked); the cookie identifies the
// registration. A later registration of the same class takes precedence.
HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                                     LPDWORD lpdwRegister);
// Releases the class object of the registration; CO_E_OBJNOTREG for an unknown cookie.
HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister);

// The class of a file, from its extension (.doc, .docx, .rtf, .odt, case-insensitive).
// STG_E_FILENOTFOUND when the file does not exist, MK_E_INVALIDEXTENSION for other extensions.
HRESULT WINAPI GetClassFile(LPCOLESTR szFilename, CLSID* pclsid);

// A byte array in memory. Only hGlobal NULL is served (a new growable block owned by the object,
// freed with it, whatever fDeleteOnRelease says); E_INVALIDARG otherwise.
HRESULT WINAPI CreateILockBytesOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, ILockBytes** pplkbyt);
// A new, empty storage on the byte array (STGM_CREATE expected). Streams and sub-storages live
// in memory; the byte array is kept referenced by the storage for as long as it lives.
HRESULT WINAPI StgCreateDocfileOnILockBytes(ILockBytes* plkbyt, DWORD grfMode, DWORD reserved, IStorage** ppstgOpen);

// A stream over a global memory block (implemented with the HGLOBAL functions of kernel32).
HRESULT WINAPI CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm);

// COM task memory (STATSTG names, GetCurFile results).
LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
void WINAPI CoTaskMemFree(LPVOID pv);

}
