// OLE embedding: creating an object from a file, running it and drawing it.
#include "ole_private.h"

extern "C" HRESULT WINAPI OleInitialize(LPVOID pvReserved)
{
    return CoInitialize(pvReserved);
}

extern "C" void WINAPI OleUninitialize(void)
{
    CoUninitialize();
}

extern "C" HRESULT WINAPI OleCreateFromFile(REFCLSID rclsid, LPCOLESTR lpszFileName, REFIID riid, DWORD renderopt,
                                            LPFORMATETC lpFormatEtc, LPOLECLIENTSITE pClientSite, LPSTORAGE pStg,
                                            LPVOID* ppvObj)
{
    if (!ppvObj)
        return E_INVALIDARG;
    *ppvObj = nullptr;
    if (!lpszFileName || !pStg)
        return E_INVALIDARG;
    if (renderopt != OLERENDER_DRAW && renderopt != OLERENDER_NONE)
        return E_INVALIDARG;

    CLSID clsid = rclsid;
    if (IsEqualCLSID(clsid, CLSID_NULL)) {
        HRESULT hr = GetClassFile(lpszFileName, &clsid);
        if (FAILED(hr))
            return hr;
    }
    IUnknown* pUnk = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IUnknown, reinterpret_cast<void**>(&pUnk));
    if (FAILED(hr))
        return hr;
    IPersistFile* pFile = nullptr;
    hr = pUnk->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile));
    if (SUCCEEDED(hr) && pFile) {
        hr = pFile->Load(lpszFileName, STGM_READ);
        pFile->Release();
    } else if (SUCCEEDED(hr)) {
        hr = E_NOINTERFACE;
    }
    if (SUCCEEDED(hr))
        hr = pStg->SetClass(clsid); // the storage records the class of what it holds
    if (SUCCEEDED(hr))
        hr = pUnk->QueryInterface(riid, ppvObj);
    pUnk->Release();
    if (FAILED(hr))
        *ppvObj = nullptr;
    return hr;
}

extern "C" HRESULT WINAPI OleRun(LPUNKNOWN pUnknown)
{
    if (!pUnknown)
        return E_INVALIDARG;
    IRunnableObject* pRun = nullptr;
    if (FAILED(pUnknown->QueryInterface(IID_IRunnableObject, reinterpret_cast<void**>(&pRun))) || !pRun)
        return S_OK; // an object without the interface runs once loaded
    HRESULT hr = pRun->Run(nullptr);
    pRun->Release();
    return hr;
}

extern "C" HRESULT WINAPI OleDraw(LPUNKNOWN pUnknown, DWORD dwAspect, HDC hdcDraw, LPCRECT lprcBounds)
{
    if (!pUnknown || !lprcBounds)
        return E_INVALIDARG;
    IViewObject* pView = nullptr;
    if (FAILED(pUnknown->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&pView))) || !pView)
        return OLE_E_BLANK;
    RECTL bounds = {lprcBounds->left, lprcBounds->top, lprcBounds->right, lprcBounds->bottom};
    HRESULT hr = pView->Draw(dwAspect, -1, nullptr, nullptr, nullptr, hdcDraw, &bounds, nullptr, nullptr, 0);
    pView->Release();
    return hr;
}
