// The class registry: ProgIDs, file classes, class objects registered in the process and
// in-process server modules loaded by name.
#include "ole_private.h"
#include "oleclasses.h"
#include <comobject.h>

#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

namespace {

const CLSID kModuleClass = {0xF0110000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
const CLSID kMissingModuleClass = {0xF0110000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
const CLSID kNoExportClass = {0xF0110000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
const CLSID kUnknownClass = {0xF0110000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 9}};

std::u16string Wide(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

TEST(ClassRegistryTest, ProgIdsNameTheirClassesInAnyLetterCase)
{
    struct Row {
        const char16_t* progId;
        HRESULT hr;
        const CLSID* clsid;
    } rows[] = {
        {u"Word.Application", S_OK, &CLSID_WordApplication},
        {u"WORD.application", S_OK, &CLSID_WordApplication},
        {u"Word.Document", S_OK, &CLSID_WordDocument},
        {u"Excel.Application", CO_E_CLASSSTRING, nullptr},
        {u"Word", CO_E_CLASSSTRING, nullptr},
        {u"", CO_E_CLASSSTRING, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.progId, row.progId + std::char_traits<char16_t>::length(row.progId)));
        CLSID clsid = GUID_NULL;
        EXPECT_EQ(CLSIDFromProgID(row.progId, &clsid), row.hr);
        if (row.clsid) {
            EXPECT_TRUE(IsEqualCLSID(clsid, *row.clsid));
        }
    }
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromProgID(u"Word.Application", nullptr), E_INVALIDARG);
}

TEST(ClassRegistryTest, TheWordClassesHaveTheirWindowsIdentifiers)
{
    const CLSID app = {0x000209FF, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const CLSID doc = {0x00020906, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const IID dispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    EXPECT_TRUE(IsEqualCLSID(CLSID_WordApplication, app));
    EXPECT_TRUE(IsEqualCLSID(CLSID_WordDocument, doc));
    EXPECT_TRUE(IsEqualIID(IID_IDispatch, dispatch));
    EXPECT_FALSE(IsEqualIID(IID_IUnknown, IID_IDispatch));
}

TEST(ClassRegistryTest, GetClassFileGoesByTheExtensionOfAnExistingFile)
{
    TempDir dir;
    ::mkdir((dir / "folder.doc").c_str(), 0755);
    struct Row {
        const char* name;
        bool create;
        HRESULT hr;
    } rows[] = {
        {"a.doc", true, S_OK},         {"b.DOCX", true, S_OK},      {"c.rtf", true, S_OK},
        {"d.Odt", true, S_OK},         {"e.txt", true, MK_E_INVALIDEXTENSION},
        {"noext", true, MK_E_INVALIDEXTENSION},
        {"folder.doc/inner", true, MK_E_INVALIDEXTENSION},
        {"missing.doc", false, STG_E_FILENOTFOUND},
        {"folder.doc", false, STG_E_FILENOTFOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.create)
            dir.Write(row.name, "x");
        CLSID clsid = GUID_NULL;
        EXPECT_EQ(GetClassFile(Wide(dir / row.name).c_str(), &clsid), row.hr);
        if (row.hr == S_OK) {
            EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_WordDocument));
        }
    }
    CLSID clsid;
    EXPECT_EQ(GetClassFile(nullptr, &clsid), E_INVALIDARG);
}

// A class object whose instances are counted; CreateInstance can be made to fail.
struct TestObject final : com::Object<com::Answers<IUnknown>> {
    static int alive;
    int tag;
    explicit TestObject(int t) : tag(t) { ++alive; }
    ~TestObject() override { --alive; }
};
int TestObject::alive = 0;

// Lives on the test's stack.
struct TestFactory final : com::Object<com::Answers<IClassFactory, &IID_IClassFactory>> {
    int tag;
    HRESULT fail = S_OK;
    explicit TestFactory(int t) : tag(t) {}
    void LastReleased() override {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override
    {
        if (FAILED(fail)) {
            *ppv = nullptr;
            return fail;
        }
        TestObject* o = new TestObject(tag);
        HRESULT hr = o->QueryInterface(riid, ppv);
        o->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

int TagOf(IUnknown* p)
{
    return static_cast<TestObject*>(p)->tag;
}

TEST(ClassRegistryTest, RegisteredClassObjectsServeTheClassLatestFirstUntilRevoked)
{
    TestFactory first(1), second(2);
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(CoRegisterClassObject(kUnknownClass, &first, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &c1), S_OK);
    ASSERT_EQ(CoRegisterClassObject(kUnknownClass, &second, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &c2), S_OK);
    EXPECT_NE(c1, c2);
    EXPECT_EQ(first.References(), 2u) << "the registration holds a reference";

    IUnknown* p = nullptr;
    ASSERT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_SERVER, IID_IUnknown, reinterpret_cast<void**>(&p)), S_OK);
    EXPECT_EQ(TagOf(p), 2);
    p->Release();
    ASSERT_EQ(CoRevokeClassObject(c2), S_OK);
    EXPECT_EQ(second.References(), 1u);
    ASSERT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_SERVER, IID_IUnknown, reinterpret_cast<void**>(&p)), S_OK);
    EXPECT_EQ(TagOf(p), 1);
    p->Release();
    ASSERT_EQ(CoRevokeClassObject(c1), S_OK);
    EXPECT_EQ(CoRevokeClassObject(c1), CO_E_OBJNOTREG);
    EXPECT_EQ(first.References(), 1u);
    EXPECT_EQ(TestObject::alive, 0);

    p = reinterpret_cast<IUnknown*>(uintptr_t(0xdeadbeef));
    EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_SERVER, IID_IUnknown, reinterpret_cast<void**>(&p)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
}

TEST(ClassRegistryTest, CreationFailuresLeaveTheOutputNull)
{
    TestFactory factory(1);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kUnknownClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    TestObject outer(0);
    struct Row {
        const char* name;
        IUnknown* outer;
        const IID* iid;
        HRESULT fail;
        HRESULT expected;
    } rows[] = {
        {"aggregation", &outer, &IID_IUnknown, S_OK, CLASS_E_NOAGGREGATION},
        {"interface missing", nullptr, &IID_IDispatch, S_OK, E_NOINTERFACE},
        {"factory fails", nullptr, &IID_IUnknown, E_OUTOFMEMORY, E_OUTOFMEMORY},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        factory.fail = row.fail;
        void* p = reinterpret_cast<void*>(uintptr_t(0xdeadbeef));
        EXPECT_EQ(CoCreateInstance(kUnknownClass, row.outer, CLSCTX_SERVER, *row.iid, &p), row.expected);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_SERVER, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.References(), 1u);
    EXPECT_EQ(TestObject::alive, 1); // only the outer object of the test
}

class ServerModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        platform::AddModuleClass(kModuleClass, "Folium.TestServer", "OleTestServer.dll");
        platform::AddModuleClass(kMissingModuleClass, nullptr, "NoSuchServer.dll");
        platform::AddModuleClass(kNoExportClass, nullptr, "TestModule.dll");
    }
};

TEST_F(ServerModuleTest, TheModuleIsLoadedByNameOnceAndAskedForEachObject)
{
    HMODULE h = LoadLibraryA("OleTestServer.dll");
    ASSERT_NE(h, nullptr);
    auto requests = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(h, "OleTestServerRequests")));
    ASSERT_NE(requests, nullptr);
    const int before = requests();

    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"folium.testserver", &clsid), S_OK);
    ASSERT_TRUE(IsEqualCLSID(clsid, kModuleClass));
    IPersist* a = nullptr;
    IPersist* b = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IPersist, reinterpret_cast<void**>(&b)), S_OK);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, b);
    CLSID got = GUID_NULL;
    EXPECT_EQ(a->GetClassID(&got), S_OK);
    EXPECT_TRUE(IsEqualCLSID(got, kModuleClass));

    EXPECT_EQ(requests() - before, 2) << "the module beside the program served both";
    a->Release();
    b->Release();
    FreeLibrary(h);
}

TEST_F(ServerModuleTest, AServerThatCannotBeReachedIsNotRegistered)
{
    struct Row {
        const char* name;
        const CLSID* clsid;
        DWORD context;
    } rows[] = {
        {"module missing", &kMissingModuleClass, CLSCTX_SERVER},
        {"module without DllGetClassObject", &kNoExportClass, CLSCTX_SERVER},
        {"class unknown", &kUnknownClass, CLSCTX_SERVER},
        {"in-process server asked out of process", &kModuleClass, CLSCTX_LOCAL_SERVER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        void* p = reinterpret_cast<void*>(uintptr_t(0xdeadbeef));
        EXPECT_EQ(CoCreateInstance(*row.clsid, nullptr, row.context, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(p, nullptr);
    }
}

TEST_F(ServerModuleTest, TheLastUninitializeKeepsAModuleWhoseObjectsAreAlive)
{
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    IPersist* a = nullptr;
    ASSERT_EQ(CoCreateInstance(kModuleClass, nullptr, CLSCTX_SERVER, IID_IPersist, reinterpret_cast<void**>(&a)), S_OK);
    CoUninitialize();
    CoUninitialize();
    // Still loaded: the object's code is there to run (the sanitizer build would trap otherwise).
    CLSID got = GUID_NULL;
    EXPECT_EQ(a->GetClassID(&got), S_OK);
    EXPECT_EQ(a->Release(), 0u);

    // With no object left, creation goes on working after the last uninitialize.
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
    ASSERT_EQ(CoCreateInstance(kModuleClass, nullptr, CLSCTX_SERVER, IID_IPersist, reinterpret_cast<void**>(&a)), S_OK);
    EXPECT_EQ(a->GetClassID(&got), S_OK);
    a->Release();
}

TEST_F(ServerModuleTest, TheModuleStaysLoadedThroughTheLastUninitialize)
{
    HMODULE h = LoadLibraryA("OleTestServer.dll");
    ASSERT_NE(h, nullptr);
    auto requests = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(h, "OleTestServerRequests")));
    ASSERT_NE(requests, nullptr);

    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    IPersist* a = nullptr;
    ASSERT_EQ(CoCreateInstance(kModuleClass, nullptr, CLSCTX_SERVER, IID_IPersist, reinterpret_cast<void**>(&a)), S_OK);
    a->Release(); // no object left: the module would say it can be unloaded
    const int before = requests();
    CoUninitialize();
    CoUninitialize();
    FreeLibrary(h); // the registry's own load remains

    // The module's state survived: it was not unloaded and loaded afresh.
    ASSERT_EQ(CoCreateInstance(kModuleClass, nullptr, CLSCTX_SERVER, IID_IPersist, reinterpret_cast<void**>(&a)), S_OK);
    h = LoadLibraryA("OleTestServer.dll");
    requests = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(h, "OleTestServerRequests")));
    EXPECT_EQ(requests(), before + 1);
    a->Release();
    FreeLibrary(h);
}

} // namespace
