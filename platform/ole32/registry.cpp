// The class registry: ProgIDs and file extensions to classes, classes to class objects
// registered in this process or to in-process server modules beside the program.
#include "ole_private.h"

#include "oleclasses.h"

#include <strings.h>
#include <sys/stat.h>

#include <mutex>
#include <vector>

namespace {

struct ModuleClass {
    CLSID clsid;
    std::string progId; // may be empty
    std::string module; // "Name.dll", loaded by LoadLibraryA
};

struct Registration {
    DWORD cookie;
    CLSID clsid;
    IUnknown* pUnk;
};

struct LoadedModule {
    std::string name;
    HMODULE h;
};

struct Registry {
    std::mutex lock;
    std::vector<ModuleClass> classes{
        {CLSID_WordApplication, "Word.Application", "WordServer.dll"},
        {CLSID_WordDocument, "Word.Document", "WordServer.dll"},
    };
    std::vector<Registration> registrations;
    std::vector<LoadedModule> modules;
    DWORD nextCookie = 1;
};

Registry& Reg()
{
    static Registry* r = new Registry; // lives to process exit, as the modules it loaded do
    return *r;
}

// The document extensions served by the word processor's document class.
const char* const kDocumentExtensions[] = {".doc", ".docx", ".rtf", ".odt"};

// Loads the module once; null when it cannot be loaded. A loaded module stays until the process
// ends: server modules run threads of their own (the document engine's), which must never find
// their code unmapped, so DllCanUnloadNow is not consulted.
HMODULE ModuleFor(Registry& r, const std::string& name)
{
    for (const LoadedModule& m : r.modules)
        if (strcasecmp(m.name.c_str(), name.c_str()) == 0)
            return m.h;
    HMODULE h = LoadLibraryA(name.c_str());
    if (h)
        r.modules.push_back({name, h});
    return h;
}

HRESULT CreateFromFactory(IUnknown* pClassObject, REFIID riid, LPVOID* ppv)
{
    IClassFactory* pcf = nullptr;
    HRESULT hr = pClassObject->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&pcf));
    if (FAILED(hr) || !pcf)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = pcf->CreateInstance(nullptr, riid, ppv);
    pcf->Release();
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

} // namespace

namespace platform {

bool WideToAnsi(LPCOLESTR szWide, std::string& out)
{
    out.clear();
    if (!szWide)
        return false;
    int n = WideCharToMultiByte(CP_ACP, 0, szWide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return false;
    out.resize(size_t(n));
    if (WideCharToMultiByte(CP_ACP, 0, szWide, -1, &out[0], n, nullptr, nullptr) != n)
        return false;
    out.resize(size_t(n) - 1);
    return true;
}

void AddModuleClass(REFCLSID clsid, const char* szProgId, const char* szModule)
{
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.lock);
    r.classes.push_back({clsid, szProgId ? szProgId : "", szModule ? szModule : ""});
}

} // namespace platform

extern "C" HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid)
{
    if (!lpszProgID || !lpclsid)
        return E_INVALIDARG;
    std::string progId;
    if (!platform::WideToAnsi(lpszProgID, progId) || progId.empty())
        return CO_E_CLASSSTRING;
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.lock);
    for (const ModuleClass& c : r.classes) {
        if (!c.progId.empty() && strcasecmp(c.progId.c_str(), progId.c_str()) == 0) {
            *lpclsid = c.clsid;
            return S_OK;
        }
    }
    return CO_E_CLASSSTRING;
}

extern "C" HRESULT WINAPI GetClassFile(LPCOLESTR szFilename, CLSID* pclsid)
{
    if (!szFilename || !pclsid)
        return E_INVALIDARG;
    std::string path;
    if (!platform::WideToAnsi(szFilename, path) || path.empty())
        return STG_E_FILENOTFOUND;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return STG_E_FILENOTFOUND;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return MK_E_INVALIDEXTENSION;
    const char* ext = path.c_str() + dot;
    for (const char* known : kDocumentExtensions) {
        if (strcasecmp(ext, known) == 0) {
            *pclsid = CLSID_WordDocument;
            return S_OK;
        }
    }
    return MK_E_INVALIDEXTENSION;
}

extern "C" HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                                                LPDWORD lpdwRegister)
{
    if (!pUnk || !lpdwRegister)
        return E_INVALIDARG;
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.lock);
    pUnk->AddRef();
    const DWORD cookie = r.nextCookie++;
    r.registrations.push_back({cookie, rclsid, pUnk});
    *lpdwRegister = cookie;
    return S_OK;
}

extern "C" HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister)
{
    IUnknown* pUnk = nullptr;
    {
        Registry& r = Reg();
        std::lock_guard<std::mutex> g(r.lock);
        for (auto it = r.registrations.begin(); it != r.registrations.end(); ++it) {
            if (it->cookie == dwRegister) {
                pUnk = it->pUnk;
                r.registrations.erase(it);
                break;
            }
        }
    }
    if (!pUnk)
        return CO_E_OBJNOTREG;
    pUnk->Release(); // outside the lock: the object may call back into COM as it goes
    return S_OK;
}

extern "C" HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                           LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;

    Registry& r = Reg();
    IUnknown* pClassObject = nullptr;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    {
        std::lock_guard<std::mutex> g(r.lock);
        // The latest registration of the class wins.
        for (auto it = r.registrations.rbegin(); it != r.registrations.rend(); ++it) {
            if (IsEqualCLSID(it->clsid, rclsid)) {
                pClassObject = it->pUnk;
                pClassObject->AddRef();
                break;
            }
        }
        if (!pClassObject) {
            if (!(dwClsContext & CLSCTX_INPROC_SERVER))
                return REGDB_E_CLASSNOTREG; // every server of the table runs in-process
            const ModuleClass* found = nullptr;
            for (const ModuleClass& c : r.classes)
                if (IsEqualCLSID(c.clsid, rclsid))
                    found = &c;
            if (!found)
                return REGDB_E_CLASSNOTREG;
            HMODULE h = ModuleFor(r, found->module);
            if (!h)
                return REGDB_E_CLASSNOTREG;
            getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void*>(GetProcAddress(h, "DllGetClassObject")));
            if (!getClassObject)
                return REGDB_E_CLASSNOTREG;
        }
    }
    if (!pClassObject) {
        void* pv = nullptr;
        HRESULT hr = getClassObject(rclsid, IID_IClassFactory, &pv);
        if (FAILED(hr))
            return hr;
        if (!pv)
            return CLASS_E_CLASSNOTAVAILABLE;
        pClassObject = static_cast<IUnknown*>(pv);
    }
    HRESULT hr = CreateFromFactory(pClassObject, riid, ppv);
    pClassObject->Release();
    return hr;
}
