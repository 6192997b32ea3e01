// Tests of the AAF runtime loader with libraries of our own making: which
// entry points a library must have, what a failed load leaves, the result
// codes of the forwarders, the built-in library, and how the session writer
// reports a runtime that does not load.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "export/aaf_runtime.h"
#include "export/aaf_runtime_builtin.h"
#include "export/aaf_session.h"
#include "export/aaf_session_fixtures.h"
#include "support/temp_dir.h"

namespace {

AafResult Stub() { return 0; }
AafResult PluginManager(std::unique_ptr<AafPluginManager>* manager) {
    *manager = std::make_unique<AafPluginManager>();
    return 0;
}
AafResult ThrowingOpen(const char16_t*, const AafAuid*, uint32_t, const AafProductIdentification*,
                       std::unique_ptr<AafFile>*) {
    throw std::runtime_error("inside the library");
}
AafResult FailingOpen(const char16_t*, const AafAuid*, uint32_t, const AafProductIdentification*,
                      std::unique_ptr<AafFile>*) {
    return static_cast<AafResult>(0x80120099u);
}

// A library with exactly the six required entry points.
AafLibraryTable RequiredOnly(const std::string& name) {
    return AafLibraryTable{name,
                           {{"AAFFileOpenExistingRead", AafEntryOf(Stub)},
                            {"AAFFileOpenExistingModify", AafEntryOf(Stub)},
                            {"AAFFileOpenNewModify", AafEntryOf(Stub)},
                            {"AAFFileOpenTransient", AafEntryOf(Stub)},
                            {"AAFFileIsAAFFile", AafEntryOf(Stub)},
                            {"AAFGetPluginManager", AafEntryOf(PluginManager)}}};
}

AafLibraryTable Without(AafLibraryTable table, const std::string& symbol) {
    std::erase_if(table.entries, [&](const auto& e) { return e.first == symbol; });
    return table;
}

AafLibraryTable With(AafLibraryTable table, const std::string& symbol, AafEntryPoint entry) {
    table.entries.emplace_back(symbol, entry);
    return table;
}

// Every test starts and ends with no library loaded and no tables installed.
class AafRuntime : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(AAFUnload(), kAafResultOk); }
    void TearDown() override {
        EXPECT_EQ(AAFUnload(), kAafResultOk);
        for (const AafLibraryTable* t : installed_) AafRemoveLibraryTable(t);
    }
    const AafLibraryTable* Install(AafLibraryTable table) {
        tables_.push_back(std::make_unique<AafLibraryTable>(std::move(table)));
        installed_.push_back(tables_.back().get());
        AafInstallLibraryTable(tables_.back().get());
        return tables_.back().get();
    }

    std::vector<std::unique_ptr<AafLibraryTable>> tables_;
    std::vector<const AafLibraryTable*> installed_;
};

}  // namespace

TEST_F(AafRuntime, RequiredEntryPointsDecideTheLoad) {
    // The six required entry points alone: every optional slot stays empty.
    const AafLibraryTable* six = Install(RequiredOnly("six.so"));
    ASSERT_EQ(AAFLoad("six.so"), kAafResultOk);
    AAFDLL* dll = AafLoadedLibrary();
    ASSERT_NE(dll, nullptr);
    EXPECT_EQ(dll->module, six);
    int filled = 0;
    for (AafEntryPoint e : dll->entries) filled += e != nullptr;
    EXPECT_EQ(filled, 6);
    EXPECT_EQ(dll->Entry(AafEntry::FileOpenNewModifyEx), nullptr);
    EXPECT_EQ(dll->Entry(AafEntry::ResultToText), nullptr);
    EXPECT_NE(dll->Entry(AafEntry::GetPluginManager), nullptr);
    std::unique_ptr<AafFile> file;
    AafProductIdentification ident;
    EXPECT_EQ(AAFFileOpenNewModifyEx(u"x.aaf", &kAafFileKindAaf512Binary, 0, &ident, &file),
              kAafResultEntryNotFound);

    // A second load changes nothing.
    Install(RequiredOnly("other.so"));
    EXPECT_EQ(AAFLoad("other.so"), kAafResultAlreadyLoaded);
    EXPECT_EQ(AafLoadedLibrary(), dll);
    EXPECT_EQ(dll->module, six);

    ASSERT_EQ(AAFUnload(), kAafResultOk);
    EXPECT_EQ(AafLoadedLibrary(), nullptr);
    EXPECT_EQ(AAFUnload(), kAafResultOk);  // without an instance

    // A missing required entry point fails the load and leaves no instance;
    // so does one that is there but resolves to nothing.
    Install(Without(RequiredOnly("no-manager.so"), "AAFGetPluginManager"));
    EXPECT_EQ(AAFLoad("no-manager.so"), AafSystemErrorResult(kAafErrorProcNotFound));
    EXPECT_EQ(AafSystemErrorResult(kAafErrorProcNotFound), static_cast<AafResult>(0x8007007Fu));
    EXPECT_EQ(AafLoadedLibrary(), nullptr);
    Install(With(Without(RequiredOnly("null.so"), "AAFFileIsAAFFile"), "AAFFileIsAAFFile", nullptr));
    EXPECT_EQ(AAFLoad("null.so"), kAafResultEntryNotFound);
    EXPECT_EQ(AafLoadedLibrary(), nullptr);
    // An optional entry point that resolves to nothing just stays empty.
    Install(With(RequiredOnly("null-optional.so"), "AAFFileOpenNewModifyEx", nullptr));
    EXPECT_EQ(AAFLoad("null-optional.so"), kAafResultOk);
    EXPECT_EQ(AafLoadedLibrary()->Entry(AafEntry::FileOpenNewModifyEx), nullptr);
    ASSERT_EQ(AAFUnload(), kAafResultOk);

    // Raw storages in memory need them on disk and files on top of them.
    AafLibraryTable memory = With(RequiredOnly("memory.so"), "AAFCreateRawStorageMemory", AafEntryOf(Stub));
    Install(With(memory, "AAFCreateRawStorageDisk", AafEntryOf(Stub)));
    EXPECT_EQ(AAFLoad("memory.so"), AafSystemErrorResult(kAafErrorProcNotFound));
    EXPECT_EQ(AafLoadedLibrary(), nullptr);
    memory.name = "memory-full.so";
    Install(With(With(memory, "AAFCreateRawStorageDisk", AafEntryOf(Stub)), "AAFCreateAAFFileOnRawStorage",
                 AafEntryOf(Stub)));
    ASSERT_EQ(AAFLoad("memory-full.so"), kAafResultOk);
    EXPECT_NE(AafLoadedLibrary()->Entry(AafEntry::CreateAAFFileOnRawStorage), nullptr);
    ASSERT_EQ(AAFUnload(), kAafResultOk);

    // A library that is not there.
    EXPECT_EQ(AAFLoad("missing.so"), static_cast<AafResult>(0x8007007Eu));
    EXPECT_EQ(AafLoadedLibrary(), nullptr);
}

TEST_F(AafRuntime, ForwardersLoadOnDemandAndContainThrows) {
    // The first forwarder call loads the default library, ours.
    std::unique_ptr<AafPluginManager> manager;
    ASSERT_EQ(AAFGetPluginManager(&manager), kAafResultOk);
    ASSERT_NE(AafLoadedLibrary(), nullptr);
    EXPECT_EQ(AafLoadedLibrary()->module, &AafBuiltInLibrary());
    ASSERT_TRUE(manager && manager->registerSharedPlugins);
    EXPECT_EQ(manager->registerSharedPlugins(), kAafResultOk);
    EXPECT_NE(AafLoadedLibrary()->Entry(AafEntry::FileOpenNewModifyEx), nullptr);

    AAFDLL* again = nullptr;
    EXPECT_EQ(GetAAFDLL(&again), kAafResultOk);
    EXPECT_EQ(again, AafLoadedLibrary());

    // Our library opens files of the one kind it writes, and nothing else.
    TempDir dir;
    AafProductIdentification ident;
    std::unique_ptr<AafFile> file;
    EXPECT_EQ(AAFFileOpenNewModifyEx(u"k.aaf", &kAafClassRoot, 0, &ident, &file),
              AafStatusResult(AafStatus::InvalidValue));
    EXPECT_EQ(AAFFileOpenNewModifyEx(nullptr, &kAafFileKindAaf512Binary, 0, &ident, &file), kAafResultNullParam);
    const std::u16string path = Utf8ToAafString(dir.File("\xC3\xA9\xF0\x9F\x8E\xAC.aaf"));
    ASSERT_EQ(AAFFileOpenNewModifyEx(path.c_str(), &kAafFileKindAaf512Binary, 0, &ident, &file), kAafResultOk);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->path, dir.File("\xC3\xA9\xF0\x9F\x8E\xAC.aaf"));  // the path survives UTF-16 whole
    ASSERT_EQ(AAFUnload(), kAafResultOk);

    // A default library that cannot load: the forwarder returns its error.
    Install(Without(RequiredOnly(kAafDefaultLibraryName), "AAFFileOpenTransient"));
    EXPECT_EQ(AAFGetPluginManager(&manager), AafSystemErrorResult(kAafErrorProcNotFound));
    AAFDLL* none = reinterpret_cast<AAFDLL*>(1);
    EXPECT_EQ(GetAAFDLL(&none), AafSystemErrorResult(kAafErrorProcNotFound));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(AafLoadedLibrary(), nullptr);

    // An exception inside the library never leaves the forwarder.
    Install(With(RequiredOnly("throwing.so"), "AAFFileOpenNewModifyEx", AafEntryOf(ThrowingOpen)));
    ASSERT_EQ(AAFLoad("throwing.so"), kAafResultOk);
    EXPECT_EQ(AAFFileOpenNewModifyEx(u"t.aaf", &kAafFileKindAaf512Binary, 0, &ident, &file),
              static_cast<AafResult>(0x801201D1u));
}

TEST_F(AafRuntime, SessionWriterReportsTheRuntimesFailures) {
    TempDir dir;
    const AafClipList list = MakeClipList(dir.path(), {{0, 1000}});
    const std::string path = dir.File("session.aaf");

    // The default library lacks a required entry point: only the AAF step fails.
    const AafLibraryTable* broken = Install(Without(RequiredOnly(kAafDefaultLibraryName), "AAFGetPluginManager"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteExtended(path, list));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[AAF] AAFLoad FAILED hr=0x8007007F\n"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(AafLoadedLibrary(), nullptr);

    // The next export tries again, and succeeds with a library that loads.
    AafRemoveLibraryTable(broken);
    EXPECT_TRUE(WriteExtended(path, list));
    EXPECT_TRUE(std::filesystem::exists(path));
    ASSERT_EQ(AAFUnload(), kAafResultOk);

    // A library whose file call fails or throws.
    Install(With(RequiredOnly(kAafDefaultLibraryName), "AAFFileOpenNewModifyEx", AafEntryOf(FailingOpen)));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteExtended(dir.File("failing.aaf"), list));
    log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[AAF] OpenNewModifyEx FAILED hr=0x80120099 path='" + dir.File("failing.aaf") + "'\n"),
              std::string::npos)
        << log;
    ASSERT_EQ(AAFUnload(), kAafResultOk);
    Install(With(RequiredOnly("throwing.so"), "AAFFileOpenNewModifyEx", AafEntryOf(ThrowingOpen)));
    ASSERT_EQ(AAFLoad("throwing.so"), kAafResultOk);  // loaded already: the writer uses it
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteExtended(dir.File("throwing.aaf"), list));
    log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[AAF] OpenNewModifyEx FAILED hr=0x801201D1"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(dir.File("throwing.aaf")));
}
