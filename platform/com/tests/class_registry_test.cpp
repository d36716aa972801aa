#include "platform/com/class_registry.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/com/tests/test_plugin.h"
#include "platform/registry/registry.h"

namespace {

using quil::registry::Key;
using quil::registry::Root;

constexpr CLSID kBuiltinClass = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F2001}");
constexpr CLSID kUnknownClass = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F2002}");

class Builtin : public quil::ComImpl<ICounter> {
public:
    HRESULT Increment(LONG* value) override {
        *value = 100;
        return S_OK;
    }
};

class OtherBuiltin : public quil::ComImpl<ICounter> {
public:
    HRESULT Increment(LONG* value) override {
        *value = 200;
        return S_OK;
    }
};

// Calls one entry point of the test server, loading it just for the call.
HRESULT CallPluginExport(const char* name) {
    void* handle = dlopen(QUIL_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return E_FAIL;
    auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, name));
    HRESULT hr = entry ? entry() : E_FAIL;
    dlclose(handle);
    return hr;
}

bool PluginIsLoaded() {
    void* handle = dlopen(QUIL_TEST_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}

class ClassRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoFreeUnusedLibraries();
        ASSERT_EQ(CallPluginExport("DllRegisterServer"), S_OK);
    }
    void TearDown() override { CoFreeUnusedLibraries(); }
};

std::optional<std::string> RegisteredModule(REFCLSID clsid) {
    auto server =
        Key::Open(Root::ClassesRoot, "CLSID\\" + quil::GuidToString(clsid) + "\\InprocServer32");
    return server ? server->ReadString("") : std::nullopt;
}

// A class registered to a module of another build or install: the program's own module takes
// the registration over, and only stands back when it is missing itself.
TEST_F(ClassRegistryTest, EnsureRegisteredPrefersTheProgramsOwnModule) {
    auto dir = std::filesystem::temp_directory_path() / "class_registry_other";
    std::filesystem::create_directories(dir);
    auto other = dir / "other_build_plugin.so";
    std::filesystem::copy_file(QUIL_TEST_PLUGIN, other,
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(quil::RegisterInprocServer(CLSID_TestPluginCounter, kTestPluginClassName,
                                         other.string(), "Both"),
              S_OK);

    std::string why;
    EXPECT_EQ(quil::EnsureInprocServerRegistered(CLSID_TestPluginCounter,
                                                 (dir / "missing.so").string(), &why),
              S_OK)
        << why;
    EXPECT_EQ(RegisteredModule(CLSID_TestPluginCounter), other.string());

    ASSERT_EQ(quil::EnsureInprocServerRegistered(CLSID_TestPluginCounter, QUIL_TEST_PLUGIN, &why),
              S_OK)
        << why;
    auto module = RegisteredModule(CLSID_TestPluginCounter);
    ASSERT_TRUE(module);
    EXPECT_TRUE(std::filesystem::equivalent(*module, QUIL_TEST_PLUGIN));
    std::filesystem::remove_all(dir);
}

TEST_F(ClassRegistryTest, RegistrationWritesTheClassKey) {
    std::string path = "CLSID\\" + quil::GuidToString(CLSID_TestPluginCounter);
    auto key = Key::Open(Root::ClassesRoot, path);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadString(""), kTestPluginClassName);
    auto server = key->OpenSubKey("InprocServer32");
    ASSERT_TRUE(server);
    auto module = server->ReadString("");
    ASSERT_TRUE(module);
    EXPECT_TRUE(std::filesystem::equivalent(*module, QUIL_TEST_PLUGIN));
    EXPECT_EQ(server->ReadString("ThreadingModel"), "Both");

    ASSERT_EQ(CallPluginExport("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(Key::Open(Root::ClassesRoot, path));
    EXPECT_TRUE(Key::Open(Root::ClassesRoot, "CLSID"));
    ICounter* counter = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestPluginCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(&counter)),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ClassRegistryTest, CreatesAPluginClassById) {
    quil::ComPtr<INamedCounter> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_TestPluginCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(counter.Put())),
              S_OK);
    ASSERT_TRUE(counter);
    const char* name = nullptr;
    ASSERT_EQ(counter->Name(&name), S_OK);
    EXPECT_STREQ(name, kTestPluginClassName);
    LONG value = 0;
    counter->Increment(&value);
    counter->Increment(&value);
    EXPECT_EQ(value, 2);
    EXPECT_TRUE(quil::QueryAs<IResettable>(counter.Get()));
    EXPECT_EQ(quil::LoadedServerCount(), 1);

    // A second object comes from the module already loaded.
    quil::ComPtr<ICounter> second;
    ASSERT_EQ(CoCreateInstance(CLSID_TestPluginCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(second.Put())),
              S_OK);
    EXPECT_EQ(quil::LoadedServerCount(), 1);
    EXPECT_NE(static_cast<ICounter*>(counter.Get()), second.Get());
}

TEST_F(ClassRegistryTest, UnloadsOnlyWhenNoObjectIsAlive) {
    quil::ComPtr<ICounter> first, second;
    ASSERT_EQ(CoCreateInstance(CLSID_TestPluginCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(first.Put())),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_TestPluginCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(second.Put())),
              S_OK);
    EXPECT_TRUE(PluginIsLoaded());

    CoFreeUnusedLibraries();
    EXPECT_EQ(quil::LoadedServerCount(), 1);
    first = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_EQ(quil::LoadedServerCount(), 1);
    LONG value = 0;
    EXPECT_EQ(second->Increment(&value), S_OK);  // still callable: its code is still mapped

    second = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_EQ(quil::LoadedServerCount(), 0);
    EXPECT_FALSE(PluginIsLoaded());

    // Loads again on demand.
    ASSERT_EQ(CoCreateInstance(CLSID_TestPluginCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(first.Put())),
              S_OK);
    EXPECT_EQ(quil::LoadedServerCount(), 1);
}

TEST_F(ClassRegistryTest, RefusesWhatItCannotCreate) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, ICounter::kIid, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(
        CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, ICounter::kIid, nullptr),
        E_POINTER);

    EXPECT_EQ(CoCreateInstance(CLSID_TestPluginCounter, nullptr, CLSCTX_INPROC_SERVER,
                               quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F00FE}"), &out),
              E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    quil::ComPtr<ICounter> outer;
    ASSERT_EQ(CoCreateInstance(CLSID_TestPluginCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(outer.Put())),
              S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_TestPluginCounter, outer.Get(), CLSCTX_INPROC_SERVER,
                               ICounter::kIid, &out),
              CLASS_E_NOAGGREGATION);
    outer = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_EQ(quil::LoadedServerCount(), 0);  // the failed creations left nothing alive
}

TEST_F(ClassRegistryTest, ReportsBrokenRegistrations) {
    constexpr CLSID kMissingFile = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F2003}");
    constexpr CLSID kNotAServer = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F2004}");
    constexpr CLSID kNoPath = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F2005}");
    ASSERT_EQ(quil::RegisterInprocServer(kMissingFile, "Missing", "/nonexistent/plugin.so", "Both"),
              S_OK);
    ASSERT_EQ(quil::RegisterInprocServer(kNotAServer, "Not a server", QUIL_NOT_A_PLUGIN, "Both"),
              S_OK);
    ASSERT_TRUE(Key::Create(Root::ClassesRoot,
                            "CLSID\\" + quil::GuidToString(kNoPath) + "\\InprocServer32"));

    void* out = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(CoCreateInstance(kMissingFile, nullptr, CLSCTX_INPROC_SERVER, ICounter::kIid, &out),
              CO_E_DLLNOTFOUND);
    EXPECT_EQ(CoCreateInstance(kNotAServer, nullptr, CLSCTX_INPROC_SERVER, ICounter::kIid, &out),
              CO_E_ERRORINDLL);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("/nonexistent/plugin.so"), std::string::npos) << said;
    EXPECT_NE(said.find("DllGetClassObject"), std::string::npos) << said;
    EXPECT_EQ(CoCreateInstance(kNoPath, nullptr, CLSCTX_INPROC_SERVER, ICounter::kIid, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(quil::LoadedServerCount(), 0);

    // The server answers only its own class.
    ASSERT_EQ(quil::RegisterInprocServer(kUnknownClass, "Wrong", QUIL_TEST_PLUGIN, "Both"), S_OK);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, ICounter::kIid, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(quil::UnregisterInprocServer(kUnknownClass), S_OK);
}

TEST_F(ClassRegistryTest, BuiltinClassesComeFirstAndKeepTheirFirstEntry) {
    static const ClassEntry classes[] = {
        {kBuiltinClass, "Built-in counter", quil::CreateObject<Builtin>},
        {kBuiltinClass, "Duplicate", quil::CreateObject<OtherBuiltin>},
    };
    quil::RegisterBuiltinClasses(classes);
    EXPECT_TRUE(quil::IsBuiltinClass(kBuiltinClass));
    EXPECT_FALSE(quil::IsBuiltinClass(kUnknownClass));

    quil::ComPtr<ICounter> counter;
    ASSERT_EQ(
        CoCreateInstance(kBuiltinClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(counter.Put())),
        S_OK);
    LONG value = 0;
    counter->Increment(&value);
    EXPECT_EQ(value, 100);
    EXPECT_EQ(static_cast<Builtin*>(counter.Get())->RefCount(), 1u);  // owned by the caller

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(
        CoCreateInstance(kBuiltinClass, nullptr, CLSCTX_INPROC_SERVER, IResettable::kIid, &out),
        E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(quil::LoadedServerCount(), 0);
}

}  // namespace
