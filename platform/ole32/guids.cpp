// The interface and class identifiers, defined once for the program and every module it loads.
#include <ole2.h>

#include "oleclasses.h"

#define OLE_GUID(name, l) extern "C" const GUID name = {l, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}

extern "C" const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

OLE_GUID(IID_IUnknown, 0x00000000);
OLE_GUID(IID_IClassFactory, 0x00000001);
OLE_GUID(IID_ILockBytes, 0x0000000A);
OLE_GUID(IID_IStorage, 0x0000000B);
OLE_GUID(IID_IStream, 0x0000000C);
OLE_GUID(IID_IEnumSTATSTG, 0x0000000D);
OLE_GUID(IID_IPersistFile, 0x0000010B);
OLE_GUID(IID_IPersist, 0x0000010C);
OLE_GUID(IID_IViewObject, 0x0000010D);
OLE_GUID(IID_IOleObject, 0x00000112);
OLE_GUID(IID_IOleClientSite, 0x00000118);
OLE_GUID(IID_IRunnableObject, 0x00000126);
OLE_GUID(IID_IViewObject2, 0x00000127);
OLE_GUID(IID_IDispatch, 0x00020400);
extern "C" const GUID IID_ISequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};

OLE_GUID(CLSID_WordApplication, 0x000209FF);
OLE_GUID(CLSID_WordDocument, 0x00020906);
