// An hour's export in bounded memory: a generated one-hour project of 5,000
// events (a layer each), opened as the program opens it (its voices
// streamed), exported with the mixdown, the stems and the AAF session in a
// process of its own (a fork of the test's process before it made
// anything), so that nothing another test did is counted. Its peak resident
// size stays under 2.5 GB, and once the export is over the process is back
// within 200 MB of its size before it.
//
// Built without sanitizers the figures are the process's own: its resident
// high-water mark and resident size. Under AddressSanitizer the resident
// size also holds the sanitizer's shadow (an eighth of all memory in use),
// the redzones around every block and the quarantine of freed blocks, which
// together put it some 40% above the program's. There the program's share is
// measured instead: the resident size before the export plus the most the
// program had allocated during it beyond what it had before (counted by the
// sanitizer's hooks on every allocation and free, so that no peak, however
// short, is missed), and afterwards the
// resident size before plus what is still allocated beyond it. The export's
// malloc_trim is what gives the C library's retained memory back; the
// benchmark of long projects measures that on a build without sanitizers.
//
// The project's sounds are short (0.3 s), its events have a layer each, its
// layers are in one group (one stem) and the reverb is off, which keeps the
// test to a couple of minutes under the sanitizers: the hour's mix and its files are what decided the memory (the
// passes hold a window of the mix at a time, the reverb adds none). The
// benchmark of long projects measures three layers per event with the reverb.
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "document/busy_task.h"
#include "operations/export_job.h"
#include "operations/project_lifecycle.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TL_ASAN 1
#endif
#ifdef TL_ASAN
// The sanitizer runtime's own calls (its header is not installed here).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                                         void (*onFree)(const volatile void*));
#endif

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// What the child measured, in bytes.
struct ExportMemory {
    long long before = 0, peak = 0, after = 0;
    int files = 0;
};

// Runs `body` in a child process; its figures through a pipe. False when
// the child failed.
bool InChild(const std::function<bool(ExportMemory&)>& body, ExportMemory& out) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::close(fds[0]);
        ExportMemory m;
        const bool ok = body(m);
        const ssize_t n = ::write(fds[1], &m, sizeof m);
        std::fflush(nullptr);
        ::_exit(ok && n == ssize_t(sizeof m) ? 0 : 1);
    }
    ::close(fds[1]);
    const ssize_t n = ::read(fds[0], &out, sizeof out);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return n == ssize_t(sizeof out) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The program's live heap as the sanitizer counts it; -1 without one.
long long AllocatedBytes() {
#ifdef TL_ASAN
    return (long long)__sanitizer_get_current_allocated_bytes();
#else
    return -1;
#endif
}

// The live heap's growth since Start, moved by every allocation and free
// of the process (the sanitizer runs the hooks on the thread that allocates
// or frees, a free while the block is still whole), and its highest value.
std::atomic<long long> gHeapGrowth{0};
std::atomic<long long> gMostHeapGrowth{0};

#ifdef TL_ASAN
void OnMalloc(const volatile void*, size_t size) {
    const long long now = gHeapGrowth.fetch_add((long long)size) + (long long)size;
    long long most = gMostHeapGrowth.load();
    while (now > most && !gMostHeapGrowth.compare_exchange_weak(most, now)) {
    }
}

void OnFree(const volatile void* block) {
    if (block) gHeapGrowth.fetch_sub((long long)__sanitizer_get_allocated_size(block));
}
#endif

// From here on the most the live heap grew is counted; once per process
// (the hooks stay installed: the child that counts ends after the export).
void StartHeapGrowthCount() {
#ifdef TL_ASAN
    gHeapGrowth.store(0);
    gMostHeapGrowth.store(0);
    __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree);
#endif
}

bool OpenAndExport(const std::string& project, const std::string& out, ExportMemory& m) {
    LifecycleRig rig;
    rig.engine->streamVoices = 1;
    if (!OpenProject(rig.ctx, project)) return false;
    BusyTask& task = rig.app->busyTask;
    task.snapshotRequested = false;
    while (!task.done.load()) {
        PumpBusyTask(task);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FinishBusyTask(*rig.app);
    const ExportContext ctx = rig.ExportContextOf(ProgramAafStep());
    rig.engine->reverb.enabled = 0;
    ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel");
    job.exportAAF = true;
    job.exportWAV = true;
    job.wavMixdown = true;
    job.wavStems = true;
    job.wavTracks = false;
    job.wavClips = false;
    m.before = PeakMemoryProbe::CurrentBytes();
    const long long allocatedBefore = AllocatedBytes();
    PeakMemoryProbe probe;
    StartHeapGrowthCount();
    const ExportReport report = RunExportJob(job, ctx);
    m.peak = probe.PeakBytes();
    m.after = PeakMemoryProbe::CurrentBytes();
    if (allocatedBefore >= 0) {
        std::printf("[Test] with the sanitizer: peak %lld MiB, after %lld MiB\n", m.peak >> 20, m.after >> 20);
        m.peak = m.before + gMostHeapGrowth.load();
        m.after = m.before + (AllocatedBytes() - allocatedBefore);
    }
    m.files = report.filesWritten;
    std::printf("[Test] %s\n", report.finalText.c_str());
    return probe.Available() && report.Succeeded();
}

}  // namespace

TEST(ExportMemory, AnHoursExportStaysUnderItsPeakAndGivesBackWhatItTook) {
    if (!PeakMemoryProbe().Available()) GTEST_SKIP() << "the resident high-water mark cannot be read here";
    TempDir dir;
    std::string project;
    // The project is made in a child of its own too: the one that exports
    // starts as lean as the program does.
    ExportMemory made;
    ASSERT_TRUE(InChild(
        [&dir](ExportMemory&) {
            LargeProjectSpec spec{.eventCount = 5000, .seconds = 3600, .layers = LargeProjectLayers::Made,
                                  .layersPerEvent = 1, .soundCount = 24, .soundSeconds = 0.3f};
            LargeProject large = MakeLargeProject(spec, dir.File("Library"));
            // One group: the stems pass writes one hour-long stem, not three.
            for (RenderResult& r : large.project.results) r.group = 0;
            return !WriteLargeProject(large, dir.path(), "Hour").empty();
        },
        made));
    project = dir.File("Hour/Hour.tlproj");

    ExportMemory m;
    ASSERT_TRUE(InChild([&](ExportMemory& into) { return OpenAndExport(project, dir.File("out"), into); }, m));
    std::printf("[Test] resident before %.0f MiB, peak %.0f MiB, after %.0f MiB, %d files\n", m.before / kMiB,
                m.peak / kMiB, m.after / kMiB, m.files);
    // The mixdown, one stem, the session and its audio files: the count
    // holds every file, as a count of files not written would.
    size_t audioFiles = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("out/Reel/Audio Files"), ec))
        audioFiles += entry.is_regular_file() ? 1 : 0;
    EXPECT_GT(audioFiles, 5000u);
    EXPECT_EQ(size_t(m.files), 3 + audioFiles);
    EXPECT_LT(m.peak, 2500LL * 1000 * 1000);
    EXPECT_LT(m.after - m.before, 200LL * 1000 * 1000);
}
