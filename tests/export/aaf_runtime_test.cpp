// Tests of the AAF runtime loader with libraries of our own making: which
// entry points a library must have, what a failed load leaves, the result
// codes of the forwarders, the built-in library, and how the session writer
// reports a runtime that does not load.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <stdexcept>

#include "export/aaf_runtime.h"
#include "export/aaf_runtime_builtin.h"
#include "export/aaf_session.h"
#include "export/aaf_session_fixtures.h"
#include "export/aaf_test_tools.h"
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

// Every entry point of the built-in library does what its name says: a
// session written by the program is recognised, read back whole (saved
// again it is the same file to the byte), changed and saved by a modifier
// whose identification joins the file, and both independent readers open the
// changed file; a transient file is built and never saved; null arguments
// are refused by every entry point, and a damaged file is refused without
// harm.
TEST_F(AafRuntime, TheBuiltInLibraryOpensChecksAndChangesFiles) {
    TempDir dir;
    AafClipList list = MakeClipList(dir.path(), {{.position = 0, .length = 48000, .fadeIn = 100},
                                                 {.position = 96000, .length = 24000, .gain = 0.5f}});
    list.markers.push_back({1000, "Spot,1.0"});
    const std::string path = dir.File("session.aaf");
    ASSERT_TRUE(WriteExtended(path, list));
    ASSERT_EQ(AafLoadedLibrary()->module, &AafBuiltInLibrary());
    const std::u16string wide = Utf8ToAafString(path);

    // Recognised by its header; other files are not AAF files.
    AafAuid kind;
    bool isAaf = false;
    ASSERT_EQ(AAFFileIsAAFFile(wide.c_str(), &kind, &isAaf), kAafResultOk);
    EXPECT_TRUE(isAaf);
    EXPECT_EQ(kind, kAafFileKindAaf512Binary);
    ASSERT_TRUE(WriteWholeFile(dir.File("text.aaf"), "not a compound file"));
    // A pipe sent as a session would block an ordinary open for ever.
    ASSERT_EQ(::mkfifo(dir.File("pipe.aaf").c_str(), 0600), 0);
    for (const char* other : {"text.aaf", "missing.aaf", "pipe.aaf"}) {
        isAaf = true;
        EXPECT_EQ(AAFFileIsAAFFile(Utf8ToAafString(dir.File(other)).c_str(), &kind, &isAaf), kAafResultOk);
        EXPECT_FALSE(isAaf) << other;
    }

    // Read back: the same objects, which save to the same bytes; nothing may change.
    std::unique_ptr<AafFile> read;
    ASSERT_EQ(AAFFileOpenExistingRead(wide.c_str(), 0, &read), kAafResultOk);
    ASSERT_TRUE(read && read->readOnly);
    AafObject* sound = nullptr;
    EXPECT_EQ(AafLookupDefinition(*read, AafDefinitionKind::Data, kAafDataDefSound, &sound), AafStatus::Ok);
    EXPECT_EQ(read->mobIds.size(), 5u);  // two mob pairs and the composition
    ASSERT_EQ(AafSaveStore(read->store, dir.File("again.aaf")), AafStatus::Ok);
    EXPECT_EQ(FileBytes(dir.File("again.aaf")), FileBytes(path));
    AafObject* mob = nullptr;
    EXPECT_EQ(AafCreateMob(*read, AafMobKind::Master, "m", &mob), AafStatus::ReadOnly);
    EXPECT_EQ(AafSaveFile(*read), AafStatus::ReadOnly);

    // Changed by another program: a mob more, its identification in the list.
    AafProductIdentification other;
    other.companyName = "Another";
    other.productName = "Editor";
    std::unique_ptr<AafFile> changed;
    ASSERT_EQ(AAFFileOpenExistingModify(wide.c_str(), 0, &other, &changed), kAafResultOk);
    ASSERT_EQ(AafCreateMob(*changed, AafMobKind::Master, "Added", &mob), AafStatus::Ok);
    ASSERT_EQ(AafAddMob(*changed, mob), AafStatus::Ok);
    std::string detail;
    ASSERT_EQ(AafSaveFile(*changed, &detail), AafStatus::Ok) << detail;
    const AafReadBack oracle = ReadWithOracle(path, true);
    ASSERT_TRUE(oracle.ok) << oracle.message;
    int masters = 0;
    for (const JsonValue& m : JsonGetMember(oracle.tree, "mobs").elements)
        masters += JsonGetMember(m, "class").text == "MasterMob";
    EXPECT_EQ(masters, 3);
    const AafReadBack stored = ReadStoredObjects(path);
    ASSERT_TRUE(stored.ok) << stored.message;
    EXPECT_EQ(JsonArraySize(StoredElements(StoredChild(JsonGetMember(stored.tree, "root"), 0x0002), 0x3b06)), 2);
    const AaftoolReadBack tool = ReadWithAaftool(path);
    ASSERT_TRUE(tool.ok) << tool.message;
    EXPECT_TRUE(tool.errors.empty());
    EXPECT_EQ(tool.clips.size(), 2u);
    EXPECT_EQ(tool.markers.size(), 1u);

    // A transient file is built like any other and never saved.
    std::unique_ptr<AafFile> transient;
    AafProductIdentification ident;
    ASSERT_EQ(AAFFileOpenTransient(&ident, &transient), kAafResultOk);
    ASSERT_EQ(AafCreateMob(*transient, AafMobKind::Master, "m", &mob), AafStatus::Ok);
    ASSERT_EQ(AafAddMob(*transient, mob), AafStatus::Ok);
    EXPECT_EQ(AafSaveFile(*transient), AafStatus::Transient);
    // The library's own kind is the default of a new file.
    std::unique_ptr<AafFile> plain;
    const std::u16string plainPath = Utf8ToAafString(dir.File("plain.aaf"));
    ASSERT_EQ(AAFFileOpenNewModify(plainPath.c_str(), 0, &ident, &plain), kAafResultOk);
    ASSERT_EQ(AafSaveFile(*plain), AafStatus::Ok);
    ASSERT_EQ(AAFFileIsAAFFile(plainPath.c_str(), &kind, &isAaf), kAafResultOk);
    EXPECT_TRUE(isAaf);
    EXPECT_EQ(AAFFileOpenNewModify(plainPath.c_str(), 1, &ident, &plain), AafStatusResult(AafStatus::InvalidValue));

    // Null arguments, at every entry point.
    std::unique_ptr<AafFile> none;
    EXPECT_EQ(AAFFileOpenExistingRead(nullptr, 0, &none), kAafResultNullParam);
    EXPECT_EQ(AAFFileOpenExistingRead(wide.c_str(), 0, nullptr), kAafResultNullParam);
    EXPECT_EQ(AAFFileOpenExistingModify(wide.c_str(), 0, nullptr, &none), kAafResultNullParam);
    EXPECT_EQ(AAFFileOpenNewModify(nullptr, 0, &ident, &none), kAafResultNullParam);
    EXPECT_EQ(AAFFileOpenTransient(nullptr, &none), kAafResultNullParam);
    EXPECT_EQ(AAFFileIsAAFFile(wide.c_str(), nullptr, &isAaf), kAafResultNullParam);
    EXPECT_EQ(AAFGetPluginManager(nullptr), kAafResultNullParam);

    // Damaged files: cut short, or a stored form changed to one we do not write.
    const std::vector<uint8_t> bytes = FileBytes(path);
    ASSERT_TRUE(WriteWholeFile(dir.File("cut.aaf"), std::string(bytes.begin(), bytes.begin() + long(bytes.size() / 2))));
    EXPECT_EQ(AAFFileOpenExistingRead(Utf8ToAafString(dir.File("cut.aaf")).c_str(), 0, &none),
              AafStatusResult(AafStatus::Unreadable));
    EXPECT_EQ(AAFFileOpenExistingRead(Utf8ToAafString(dir.File("text.aaf")).c_str(), 0, &none),
              AafStatusResult(AafStatus::Unreadable));
    std::string why;
    EXPECT_EQ(AafOpenExistingFile(dir.File("pipe.aaf"), nullptr, &none, &why), AafStatus::Unreadable);
    EXPECT_NE(why.find("named pipe"), std::string::npos) << why;
    std::filesystem::copy_file(path, dir.File("form.aaf"));
    ASSERT_TRUE(PatchOnce(dir.File("form.aaf"), {0x01, 0x15, 0x82, 0x00, 0x08, 0x00}, {0x01, 0x15, 0x42, 0x00, 0x08, 0x00}));
    EXPECT_EQ(AAFFileOpenExistingRead(Utf8ToAafString(dir.File("form.aaf")).c_str(), 0, &none),
              AafStatusResult(AafStatus::WrongForm));
    EXPECT_EQ(none, nullptr);

    // Bytes changed anywhere: the file opens or is refused, and reading it
    // never leaves its bounds (the sanitizer builds watch).
    std::mt19937 rng(64);
    int refused = 0;
    for (int round = 0; round < 150; ++round) {
        std::vector<uint8_t> damaged = bytes;
        for (int k = 0; k < 8; ++k) damaged[rng() % damaged.size()] = uint8_t(rng());
        ASSERT_TRUE(WriteWholeFile(dir.File("damaged.aaf"), std::string(damaged.begin(), damaged.end())));
        std::unique_ptr<AafFile> maybe;
        const AafStatus s = AafOpenExistingFile(dir.File("damaged.aaf"), nullptr, &maybe);
        refused += s != AafStatus::Ok;
        EXPECT_EQ(s == AafStatus::Ok, maybe != nullptr);
    }
    EXPECT_GT(refused, 0);
}
