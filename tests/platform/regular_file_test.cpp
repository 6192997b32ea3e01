// Files a stranger's project can name: a pipe, a device, a folder or a
// socket is refused at once, saying what it is; copies never run on past the
// size that was checked.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/file_util.h"
#include "support/temp_dir.h"

TEST(RegularFile, SpecialFilesAreRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.File("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = dir.File("s");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    struct Case { std::string path; const char* kind; };
    for (const Case& c : {Case{fifo, "a named pipe"}, Case{"/dev/zero", "a device"}, Case{dir.path(), "a folder"},
                          Case{socketPath, "a socket"}, Case{dir.File("missing"), "No such file"}}) {
        const RegularFile file = OpenRegularFile(c.path);
        EXPECT_EQ(file.fd, -1) << c.path;
        EXPECT_NE(file.problem.find(c.kind), std::string::npos) << file.problem;
        EXPECT_NE(file.problem.find(c.path), std::string::npos) << "the message names the path";
        EXPECT_FALSE(FileIsReadable(c.path));
        std::string problem;
        EXPECT_EQ(OpenRegularFileStream(c.path, &problem), nullptr);
        EXPECT_EQ(problem, file.problem);
        std::string text;
        EXPECT_EQ(ReadFileText(c.path, 1 << 20, text), kReadCannotOpen);
    }
    ::close(fd);

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
    SetFileFaultHookForTests(GrowSource);
    const bool copied = CopyFileContents(gGrowing, dir.File("copy.wav"));
    SetFileFaultHookForTests(nullptr);
    ASSERT_TRUE(copied);
    EXPECT_EQ(std::filesystem::file_size(gGrowing), 12u + (1u << 16)) << "the source did grow";
    EXPECT_EQ(ReadWholeFile(dir.File("copy.wav")), "twelve bytes");
}
