// ole32: OLE embedding functions.
#pragma once

#include "objbase.h"
#include "oleidl.h"
#include "oleauto.h"

extern "C" {

// OLE on top of COM: CoInitialize plus nothing else this program needs.
HRESULT WINAPI OleInitialize(LPVOID pvReserved);
void WINAPI OleUninitialize(void);

// Creates an embedded object from a file: the class (rclsid, or from GetClassFile for
// CLSID_NULL) is created with CoCreateInstance, the file is loaded through IPersistFile::Load
// (STGM_READ) and the riid interface is returned. A failed Load releases the object and returns
// the Load's failure. renderopt must be OLERENDER_DRAW or OLERENDER_NONE; pStg must be a storage
// (the caller keeps it); the client site is not used.
HRESULT WINAPI OleCreateFromFile(REFCLSID rclsid, LPCOLESTR lpszFileName, REFIID riid, DWORD renderopt,
                                 LPFORMATETC lpFormatEtc, LPOLECLIENTSITE pClientSite, LPSTORAGE pStg,
                                 LPVOID* ppvObj);
// Puts the object in the running state: IRunnableObject::Run when it has the interface, else
// S_OK (an object without it is running once loaded). E_INVALIDARG for NULL.
HRESULT WINAPI OleRun(LPUNKNOWN pUnknown);
// Draws the object through IViewObject::Draw into hdcDraw at lprcBounds. E_INVALIDARG for a NULL
// object or bounds, OLE_E_BLANK when the object has no view; the object's failure is returned.
HRESULT WINAPI OleDraw(LPUNKNOWN pUnknown, DWORD dwAspect, HDC hdcDraw, LPCRECT lprcBounds);

}
