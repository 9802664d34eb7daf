// Embedding: creating an object from a file, running it and drawing it, against a class object
// registered for the document class.
#include "oleclasses.h"
#include <comobject.h>

#include "TempDir.h"
#include "Unscripted.h"

#include <ole2.h>
#include <gtest/gtest.h>

#include <string>

namespace {

// What the next object does, and what the last one received.
struct Behaviour {
    bool persistFile = true;
    bool runnable = true;
    bool view = true;
    HRESULT load = S_OK;
    HRESULT run = S_OK;
    HRESULT draw = S_OK;
};
Behaviour gBehaviour;
int gAlive = 0;
struct Received {
    std::u16string loadPath;
    DWORD loadMode = 0xdeadbeef;
    int runs = 0;
    DWORD aspect = 0;
    LONG lindex = 0;
    HDC hdc = nullptr;
    RECTL bounds = {0, 0, 0, 0};
    bool boundsGiven = false;
} gReceived;

class Embedded final : public com::Object<com::Answers<IPersistFile>, com::Answers<IRunnableObject>, com::Answers<IViewObject>> {
public:
    Embedded() { ++gAlive; }
    ~Embedded() override { --gAlive; }
    // Each interface only while the test's behaviour offers it.
    HRESULT QueryOther(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IPersistFile) && gBehaviour.persistFile)
            *ppv = static_cast<IPersistFile*>(this);
        else if (IsEqualIID(riid, IID_IRunnableObject) && gBehaviour.runnable)
            *ppv = static_cast<IRunnableObject*>(this);
        else if (IsEqualIID(riid, IID_IViewObject) && gBehaviour.view)
            *ppv = static_cast<IViewObject*>(this);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* p) override
    {
        *p = CLSID_WordDocument;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD mode) override
    {
        gReceived.loadPath = name;
        gReceived.loadMode = mode;
        return gBehaviour.load;
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return Unscripted("Embedded.Save"); }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return Unscripted("Embedded.SaveCompleted"); }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*) override { return Unscripted("Embedded.GetCurFile"); }
    HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID) override { return Unscripted("Embedded.GetRunningClass"); }
    HRESULT STDMETHODCALLTYPE Run(LPBINDCTX) override
    {
        ++gReceived.runs;
        return gBehaviour.run;
    }
    BOOL STDMETHODCALLTYPE IsRunning() override { return gReceived.runs > 0; }
    HRESULT STDMETHODCALLTYPE LockRunning(BOOL, BOOL) override { return Unscripted("Embedded.LockRunning"); }
    HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL) override { return Unscripted("Embedded.SetContainedObject"); }
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC hdc, LPCRECTL bounds,
                                   LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override
    {
        gReceived.aspect = aspect;
        gReceived.lindex = lindex;
        gReceived.hdc = hdc;
        gReceived.boundsGiven = bounds != nullptr;
        if (bounds)
            gReceived.bounds = *bounds;
        return gBehaviour.draw;
    }
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, struct tagLOGPALETTE**) override
    {
        return Unscripted("Embedded.GetColorSet");
    }
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return Unscripted("Embedded.Freeze"); }
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return Unscripted("Embedded.Unfreeze"); }
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD, DWORD, IAdviseSink*) override { return Unscripted("Embedded.SetAdvise"); }
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return Unscripted("Embedded.GetAdvise"); }
};

// A static object.
struct Factory final : com::Object<com::Answers<IClassFactory, &IID_IClassFactory>> {
    void LastReleased() override {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override
    {
        Embedded* e = new Embedded;
        HRESULT hr = e->QueryInterface(riid, ppv);
        e->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
} gFactory;

class OleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gBehaviour = Behaviour();
        gReceived = Received();
        ASSERT_EQ(CoRegisterClassObject(CLSID_WordDocument, &gFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                        &m_cookie),
                  S_OK);
        ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, &m_bytes), S_OK);
        ASSERT_EQ(StgCreateDocfileOnILockBytes(m_bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &m_stg),
                  S_OK);
        m_file = m_dir.Write("Page.doc", "content");
        m_wide.assign(m_file.begin(), m_file.end());
    }
    void TearDown() override
    {
        m_stg->Release();
        m_bytes->Release();
        CoRevokeClassObject(m_cookie);
        EXPECT_EQ(gAlive, 0) << "every object made was released";
    }

    HRESULT Create(const std::u16string& path, void** ppv)
    {
        return OleCreateFromFile(CLSID_NULL, path.c_str(), IID_IUnknown, OLERENDER_DRAW, nullptr, nullptr, m_stg, ppv);
    }

    DWORD m_cookie = 0;
    ILockBytes* m_bytes = nullptr;
    IStorage* m_stg = nullptr;
    TempDir m_dir;
    std::string m_file;
    std::u16string m_wide;
};

TEST_F(OleTest, CreateFromFileLoadsTheFileIntoAnObjectOfItsClass)
{
    IUnknown* obj = nullptr;
    ASSERT_EQ(Create(m_wide, reinterpret_cast<void**>(&obj)), S_OK);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(gReceived.loadPath, m_wide);
    EXPECT_EQ(gReceived.loadMode, DWORD(STGM_READ));
    STATSTG st;
    ASSERT_EQ(m_stg->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_TRUE(IsEqualCLSID(st.clsid, CLSID_WordDocument)) << "the storage records the class";
    EXPECT_EQ(gAlive, 1);
    obj->Release();
}

TEST_F(OleTest, CreateFromFileFailuresHoldNothing)
{
    struct Row {
        const char* name;
        std::string file;
        Behaviour behaviour;
        HRESULT expected;
    };
    Behaviour refused;
    refused.load = STG_E_ACCESSDENIED;
    Behaviour noPersist;
    noPersist.persistFile = false;
    const std::string other = m_dir.Write("notes.txt", "x");
    const Row rows[] = {
        {"load refused", m_file, refused, STG_E_ACCESSDENIED},
        {"no IPersistFile", m_file, noPersist, E_NOINTERFACE},
        {"missing file", m_dir / "missing.doc", Behaviour(), STG_E_FILENOTFOUND},
        {"not a document", other, Behaviour(), MK_E_INVALIDEXTENSION},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        gBehaviour = row.behaviour;
        void* obj = reinterpret_cast<void*>(uintptr_t(0xdeadbeef));
        EXPECT_EQ(Create(std::u16string(row.file.begin(), row.file.end()), &obj), row.expected);
        EXPECT_EQ(obj, nullptr);
        EXPECT_EQ(gAlive, 0);
    }
    void* obj = nullptr;
    EXPECT_EQ(OleCreateFromFile(CLSID_NULL, m_wide.c_str(), IID_IUnknown, OLERENDER_DRAW, nullptr, nullptr, nullptr,
                                &obj),
              E_INVALIDARG);
    EXPECT_EQ(gAlive, 0);
}

TEST_F(OleTest, RunUsesTheRunnableInterfaceWhenThereIsOne)
{
    IUnknown* obj = nullptr;
    ASSERT_EQ(Create(m_wide, reinterpret_cast<void**>(&obj)), S_OK);
    EXPECT_EQ(OleRun(obj), S_OK);
    EXPECT_EQ(gReceived.runs, 1);
    gBehaviour.run = E_OUTOFMEMORY;
    EXPECT_EQ(OleRun(obj), E_OUTOFMEMORY);
    gBehaviour.runnable = false;
    EXPECT_EQ(OleRun(obj), S_OK) << "an object without the interface runs once loaded";
    EXPECT_EQ(gReceived.runs, 2);
    EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
    obj->Release();
}

TEST_F(OleTest, DrawHandsTheBoundsToTheViewAndReturnsItsResult)
{
    IUnknown* obj = nullptr;
    ASSERT_EQ(Create(m_wide, reinterpret_cast<void**>(&obj)), S_OK);
    HDC hdc = CreateCompatibleDC(nullptr);
    RECT r = {1, 2, 300, 400};
    EXPECT_EQ(OleDraw(obj, DVASPECT_CONTENT, hdc, &r), S_OK);
    EXPECT_EQ(gReceived.aspect, DWORD(DVASPECT_CONTENT));
    EXPECT_EQ(gReceived.lindex, -1);
    EXPECT_EQ(gReceived.hdc, hdc);
    ASSERT_TRUE(gReceived.boundsGiven);
    EXPECT_EQ(gReceived.bounds.left, 1);
    EXPECT_EQ(gReceived.bounds.top, 2);
    EXPECT_EQ(gReceived.bounds.right, 300);
    EXPECT_EQ(gReceived.bounds.bottom, 400);

    gBehaviour.draw = VIEW_E_DRAW;
    EXPECT_EQ(OleDraw(obj, DVASPECT_CONTENT, hdc, &r), VIEW_E_DRAW);
    gBehaviour.view = false;
    EXPECT_EQ(OleDraw(obj, DVASPECT_CONTENT, hdc, &r), OLE_E_BLANK);
    EXPECT_EQ(OleDraw(nullptr, DVASPECT_CONTENT, hdc, &r), E_INVALIDARG);
    EXPECT_EQ(OleDraw(obj, DVASPECT_CONTENT, hdc, nullptr), E_INVALIDARG);
    DeleteDC(hdc);
    obj->Release();
}

} // namespace
