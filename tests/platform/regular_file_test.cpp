// Files a stranger's project can name: a pipe, a device, a folder or a
// socket is refused at once, saying what it is, and is never opened; copies
// never run on past the size that was checked.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/file_util.h"
#include "platform/path_refusal.h"
#include "support/temp_dir.h"
#include "support/tree_state.h"

std::string Quoted(const std::string& name) { return "\xE2\x80\x9C" + name + "\xE2\x80\x9D"; }

TEST(RegularFile, SpecialFilesAreRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.File("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = dir.File("s");
    ASSERT_TRUE(PlantSocket(socketPath));

    struct Case { std::string path; std::string sentence; };
    const std::string folderName = std::filesystem::path(dir.path()).filename().string();
    for (const Case& c : {Case{fifo, Quoted("pipe.wav") + " is a named pipe, not a file"},
                          Case{"/dev/zero", Quoted("zero") + " is a character device, not a file"},
                          Case{dir.path(), Quoted(folderName) + " is a folder, not a file"},
                          Case{dir.path() + "/", Quoted(folderName) + " is a folder, not a file"},
                          Case{socketPath, Quoted("s") + " is a socket, not a file"},
                          Case{dir.File("missing"), Quoted("missing") + " was not found"},
                          Case{dir.File("missing/below"), Quoted("below") + " was not found"}}) {
        const RegularFile file = OpenRegularFile(c.path);
        EXPECT_EQ(file.fd, -1) << c.path;
        EXPECT_EQ(file.problem, c.sentence);
        EXPECT_FALSE(FileIsReadable(c.path));
        EXPECT_EQ(RegularFileProblem(c.path), c.sentence);
        std::string problem;
        EXPECT_EQ(OpenRegularFileStream(c.path, &problem), nullptr);
        EXPECT_EQ(problem, file.problem);
        std::string text;
        EXPECT_EQ(ReadFileText(c.path, 1 << 20, text), kReadCannotOpen);
    }

    ASSERT_TRUE(WriteWholeFile(dir.File("ok.txt"), "twelve bytes"));
    const RegularFile ok = OpenRegularFile(dir.File("ok.txt"));
    ASSERT_GE(ok.fd, 0);
    EXPECT_EQ(ok.size, 12u);
    char buffer[32];
    // Reads block as usual again once the file is known to be regular.
    EXPECT_EQ(::read(ok.fd, buffer, sizeof buffer), 12);
    ::close(ok.fd);
    EXPECT_EQ(RegularFileProblem(dir.File("ok.txt")), "");
}

// A writer that opens a pipe without waiting fails (ENXIO) for as long as no
// reader has it open. Looking at the pipe as a file, reading it as text or
// copying it must never be that reader, not even for an instant: a writer
// blocked on it would go on, and a program that waits for the reader (a
// trap set in a project) would learn that its file was looked at.
TEST(RegularFile, APipeIsNeverOpenedForReading) {
    TempDir dir;
    const std::string fifo = dir.File("trap.tlproj");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> opened{0}, tries{0};
    std::thread writer([&] {
        while (!stop.load()) {
            const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (w >= 0) {
                opened.fetch_add(1);
                ::close(w);
            } else {
                EXPECT_EQ(errno, ENXIO);
            }
            tries.fetch_add(1);
        }
    });
    while (tries.load() == 0) std::this_thread::yield();
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        EXPECT_EQ(OpenRegularFile(fifo).fd, -1);
        EXPECT_EQ(ReadFileText(fifo, 1 << 20, text), kReadCannotOpen);
        EXPECT_FALSE(CopyFileContents(fifo, dir.File("copy")));
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(opened.load(), 0) << "the pipe had a reader during " << tries.load() << " tries";
}

TEST(PathRefusal, FoldersAndTheirSentences) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("take.wav"), "x"));
    EXPECT_EQ(FolderRefusal(dir.path()), "");
    EXPECT_EQ(FolderRefusal(dir.File("take.wav")), Quoted("take.wav") + " is a file, not a folder");
    EXPECT_EQ(FolderRefusal(dir.File("gone")), Quoted("gone") + " was not found");
    EXPECT_EQ(InspectPath(dir.File("take.wav")), PathKind::Regular);
    int error = 0;
    EXPECT_EQ(InspectPath("", &error), PathKind::Missing);
    EXPECT_EQ(error, ENOENT);
    // The kinds the file system cannot be made to show here without
    // privileges, and the system's own reason for a refused one.
    EXPECT_EQ(RefusalSentence("/dev/sda", PathKind::BlockDevice, PathWanted::File), Quoted("sda") + " is a block device, not a file");
    EXPECT_EQ(RefusalSentence("/a/x.wav", PathKind::Unreadable, PathWanted::File, EACCES),
              Quoted("x.wav") + " is unreadable (" + std::strerror(EACCES) + ")");
    EXPECT_EQ(RefusalSentence("/", PathKind::Regular, PathWanted::Folder), Quoted("/") + " is a file, not a folder");
    EXPECT_EQ(RefusalSentence("/a/b", PathKind::Regular, PathWanted::File), "");
    EXPECT_EQ(RefusalSentence("/a/b", PathKind::Folder, PathWanted::Folder), "");
}

TEST(RegularFile, CopiesOfSpecialFilesFailAndLeaveNothing) {
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // /dev/zero once filled the disk; a pipe blocked the copy forever.
    for (const std::string& source : {std::string("/dev/zero"), fifo, dir.path()}) {
        int error = 0;
        EXPECT_FALSE(CopyFileContents(source, dir.File("copy"), &error)) << source;
        EXPECT_EQ(error, EINVAL);
        EXPECT_FALSE(std::filesystem::exists(dir.File("copy")));
    }
}

namespace {

std::string gGrowing;  // the source the hook below appends to

// Called after the copy checked its source and before it writes: the file
// grows then, as a recording in progress or a hostile writer would make it.
int GrowSource(FileFaultPoint point, const std::string&) {
    if (point == FileFaultPoint::Write)
        if (std::FILE* f = std::fopen(gGrowing.c_str(), "ab")) {
            const std::string more(1 << 16, 'x');
            std::fwrite(more.data(), 1, more.size(), f);
            std::fclose(f);
        }
    return 0;
}

}  // namespace

TEST(RegularFile, ACopyStopsAtTheSizeTheSourceHadWhenChecked) {
    TempDir dir;
    gGrowing = dir.File("growing.wav");
    ASSERT_TRUE(WriteWholeFile(gGrowing, "twelve bytes"));
    const bool copied = CopyFileContents(gGrowing, dir.File("copy.wav"), nullptr, GrowSource);
    ASSERT_TRUE(copied);
    EXPECT_EQ(std::filesystem::file_size(gGrowing), 12u + (1u << 16)) << "the source did grow";
    EXPECT_EQ(ReadWholeFile(dir.File("copy.wav")), "twelve bytes");
}

namespace {

// Says "no such file" for one name, as a benchmark does for a library whose
// files are only records.
int NothingAtMissingName(FileFaultPoint point, const std::string& path) {
    return point == FileFaultPoint::Open && path.find("/missing-by-test") != std::string::npos ? ENOENT : 0;
}

}  // namespace

TEST(RegularFile, AnOpenFaultAnswersForThatPathAloneAsAMissingFile) {
    TempDir dir;
    const std::string named = dir.File("missing-by-test.wav");
    const std::string other = dir.File("present.wav");
    ASSERT_TRUE(WriteWholeFile(named, "there after all"));
    ASSERT_TRUE(WriteWholeFile(other, "there"));
    RegularFile refused = OpenRegularFile(named, NothingAtMissingName);
    RegularFile opened = OpenRegularFile(other, NothingAtMissingName);
    EXPECT_EQ(refused.fd, -1);
    EXPECT_EQ(refused.error, ENOENT);
    EXPECT_EQ(refused.problem, RefusalSentence(named, PathKind::Missing, PathWanted::File, ENOENT));
    ASSERT_GE(opened.fd, 0);
    ::close(opened.fd);
}
