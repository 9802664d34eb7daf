// OLE embedding interfaces, vtable order as on Windows: IOleClientSite, IOleObject,
// IViewObject, IViewObject2, IRunnableObject.
#pragma once

#include "objidl.h"
#include "wingdi.h"

#define DVASPECT_CONTENT 1
#define DVASPECT_THUMBNAIL 2
#define DVASPECT_ICON 4
#define DVASPECT_DOCPRINT 8

#define OLERENDER_NONE 0
#define OLERENDER_DRAW 1
#define OLERENDER_FORMAT 2
#define OLERENDER_ASIS 3

#define OLECLOSE_SAVEIFDIRTY 0
#define OLECLOSE_NOSAVE 1
#define OLECLOSE_PROMPTSAVE 2

typedef const RECTL* LPCRECTL;

struct IOleContainer;
struct IDataObject;
struct IEnumOLEVERB;
struct IEnumSTATDATA;
struct IAdviseSink;
struct tagMSG;
struct tagLOGPALETTE;

extern "C" const IID IID_IOleClientSite;
extern "C" const IID IID_IOleObject;
extern "C" const IID IID_IViewObject;
extern "C" const IID IID_IViewObject2;
extern "C" const IID IID_IRunnableObject;

struct IOleClientSite : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SaveObject() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** ppContainer) = 0;
    virtual HRESULT STDMETHODCALLTYPE ShowObject() = 0;
    virtual HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL fShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() = 0;
};
typedef IOleClientSite* LPOLECLIENTSITE;

struct IOleObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* pClientSite) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** ppClientSite) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close(DWORD dwSaveOption) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMoniker(DWORD dwWhichMoniker, IMoniker* pmk) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
    virtual HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD dwReserved, IDataObject** ppDataObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoVerb(LONG iVerb, struct tagMSG* lpmsg, IOleClientSite* pActiveSite,
                                             LONG lindex, HWND hwndParent, LPCRECT lprcPosRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) = 0;
    virtual HRESULT STDMETHODCALLTYPE Update() = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUpToDate() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* pClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetExtent(DWORD dwDrawAspect, SIZEL* psizel) = 0;
    // The object's size for the aspect in HIMETRIC (0.01 mm).
    virtual HRESULT STDMETHODCALLTYPE GetExtent(DWORD dwDrawAspect, SIZEL* psizel) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** ppenumAdvise) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetColorScheme(struct tagLOGPALETTE* pLogpal) = 0;
};
typedef IOleObject* LPOLEOBJECT;

struct IViewObject : public IUnknown {
    // Draws the aspect into hdcDraw, scaled to lprcBounds (device units of hdcDraw).
    virtual HRESULT STDMETHODCALLTYPE Draw(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd,
                                           HDC hdcTargetDev, HDC hdcDraw, LPCRECTL lprcBounds,
                                           LPCRECTL lprcWBounds,
                                           BOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR dwContinue),
                                           ULONG_PTR dwContinue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetColorSet(DWORD dwDrawAspect, LONG lindex, void* pvAspect,
                                                  DVTARGETDEVICE* ptd, HDC hicTargetDev,
                                                  struct tagLOGPALETTE** ppColorSet) = 0;
    virtual HRESULT STDMETHODCALLTYPE Freeze(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DWORD* pdwFreeze) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unfreeze(DWORD dwFreeze) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) = 0;
};
typedef IViewObject* LPVIEWOBJECT;

struct IViewObject2 : public IViewObject {
    // The size the aspect would be drawn at, in HIMETRIC (0.01 mm). For DVASPECT_DOCPRINT,
    // lindex names a page counted from 1; DV_E_LINDEX for a page the object does not have.
    virtual HRESULT STDMETHODCALLTYPE GetExtent(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE* ptd,
                                                LPSIZEL lpsizel) = 0;
};
typedef IViewObject2* LPVIEWOBJECT2;

struct IRunnableObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID lpClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE Run(LPBINDCTX pbc) = 0;
    // BOOL, not HRESULT, as on Windows.
    virtual BOOL STDMETHODCALLTYPE IsRunning() = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRunning(BOOL fLock, BOOL fLastUnlockCloses) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL fContained) = 0;
};
typedef IRunnableObject* LPRUNNABLEOBJECT;
