// The program under X asked to open, as a project or as the reference video,
// something that is no file it can read: a folder, a named pipe, a socket, a
// device, a missing or an unreadable file. The toast names what stands there
// ("“NAME” is a named pipe, not a file") and nothing is opened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/window_harness.h"

namespace {

const std::string kOpen = "\xE2\x80\x9C", kClose = "\xE2\x80\x9D";

struct Refused {
    std::string name;      // the file name, which the sentence quotes
    std::string sentence;  // after the quoted name
};

}  // namespace

using RefusalsWindow = ProgramScriptTest;

TEST_F(RefusalsWindow, EachKindIsNamedForAProjectAndForAVideo) {
    std::vector<Refused> kinds;
    const auto made = [&](const std::string& name, int result, const std::string& sentence) {
        if (result == 0) kinds.push_back({name, sentence});
        return result == 0;
    };
    ASSERT_TRUE(made("Folder.tlproj", ::mkdir(dir.File("Folder.tlproj").c_str(), 0755), " is a folder, not a file"));
    ASSERT_TRUE(made("Pipe.tlproj", ::mkfifo(dir.File("Pipe.tlproj").c_str(), 0600), " is a named pipe, not a file"));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, dir.File("Socket.tlproj").c_str(), sizeof addr.sun_path - 1);
    ASSERT_TRUE(made("Socket.tlproj", ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr),
                     " is a socket, not a file"));
    // Devices of the test's own (the null device's and a loop device's
    // numbers), where this user may make them.
    made("Null.tlproj", ::mknod(dir.File("Null.tlproj").c_str(), S_IFCHR | 0600, makedev(1, 3)),
         " is a character device, not a file");
    made("Disk.tlproj", ::mknod(dir.File("Disk.tlproj").c_str(), S_IFBLK | 0600, makedev(7, 200)),
         " is a block device, not a file");
    kinds.push_back({"Gone.tlproj", " was not found"});
    if (::geteuid() != 0) {  // permissions do not hold a privileged user back
        ASSERT_TRUE(WriteWholeFile(dir.File("Locked.tlproj"), "{}"));
        ASSERT_EQ(::chmod(dir.File("Locked.tlproj").c_str(), 0), 0);
        kinds.push_back({"Locked.tlproj", std::string(" is unreadable (") + std::strerror(EACCES) + ")"});
    }

    // Each path chosen in the Open dialog, then in the video's.
    std::string script = "frames 3\n";
    for (size_t i = 0; i < kinds.size(); ++i) {
        const std::string path = dir.File(kinds[i].name), n = std::to_string(i);
        script += "answer " + path + "\nmenu 34\nframes 3\ndump open" + n + ".txt\n";
        script += "answer " + path + "\nmenu 43\nframes 3\ndump video" + n + ".txt\n";
    }
    ProgramRun run = Run(script);
    ::close(listener);
    ASSERT_EQ(run.exitCode, 0) << run.log;

    for (size_t i = 0; i < kinds.size(); ++i) {
        const std::string expected = kOpen + kinds[i].name + kClose + kinds[i].sentence;
        auto open = ReadStateDump(dir.File("open" + std::to_string(i) + ".txt"));
        EXPECT_EQ(open["toast"], expected) << run.log;
        EXPECT_EQ(open["project.path"], "");
        auto video = ReadStateDump(dir.File("video" + std::to_string(i) + ".txt"));
        EXPECT_EQ(video["toast"], expected) << run.log;
        EXPECT_EQ(video["layout.hasVideo"], "0");
    }
    EXPECT_EQ(run.log.find("couldn't decode"), std::string::npos) << run.log;
}

// A reference video that is a playlist naming other files (a named pipe, and
// a file outside) is refused with the sentence that says so, opened neither
// as a project's video nor imported, and never waits on the pipe: SIGTERM
// then ends the program within 5 s.
TEST_F(RefusalsWindow, APlaylistNamingOtherFilesIsRefusedAndNeverWaitedOn) {
    ASSERT_EQ(::mkfifo(dir.File("segment.ts").c_str(), 0600), 0);
    ASSERT_TRUE(WriteWholeFile(dir.File("outside.ts"), std::string(4096, 'G')));
    auto playlist = [&](const std::string& name, const std::string& segment) {
        EXPECT_TRUE(WriteWholeFile(dir.File(name), "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\n"
                                                   "#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:10.0,\n" +
                                                       segment + "\n#EXT-X-ENDLIST\n"));
        return dir.File(name);
    };
    const std::string pipeList = playlist("Piped.m3u8", dir.File("segment.ts"));
    const std::string fileList = playlist("Outside.m3u8", dir.File("outside.ts"));
    // A project whose video is the playlist naming the pipe.
    ASSERT_TRUE(WriteWholeFile(dir.File("Piped.tlproj"), "{\"format\": \"Tessaloom\", \"videoPath\": \"" + pipeList + "\"}"));
    const std::string expected = "refers to other files (";

    WriteWholeFile(dir.File("script.txt"), "frames 3\nanswer " + dir.File("Piped.tlproj") +
                                               "\nmenu 34\nframes 5\ndump project.txt\nanswer " + pipeList +
                                               "\nmenu 43\nframes 3\ndump piped.txt\nanswer " + fileList +
                                               "\nmenu 43\nframes 3\ndump outside.txt\nwaitfile " +
                                               dir.File("never") + " 600\n");
    ProgramLaunch launch;
    launch.scriptPath = dir.File("script.txt");
    launch.environment = {{"HOME", dir.File("home")}, {"XDG_DATA_HOME", dir.File("home/data")}};
    std::atomic<int> pid{0};
    launch.started = [&pid](int p) { pid.store(p); };
    BackgroundProgram program(launch);
    ASSERT_TRUE(WaitForFile(dir.File("outside.txt"), 120)) << "the window waited on the playlist";
    auto project = ReadStateDump(dir.File("project.txt"));
    EXPECT_EQ(project["toast"], kOpen + "Piped.m3u8" + kClose + " " + expected + "Apple HTTP Live Streaming); only a "
                                "video held in one file is opened");
    for (const char* dump : {"piped.txt", "outside.txt"}) {
        auto video = ReadStateDump(dir.File(dump));
        EXPECT_NE(video["toast"].find(expected), std::string::npos) << dump << ": " << video["toast"];
        EXPECT_EQ(video["layout.hasVideo"], "0");
    }

    // The signal ends the program: nothing is left blocked on the pipe (a
    // program that hung would be killed at the run's time limit, not exit 0).
    ASSERT_GT(pid.load(), 0);
    ::kill(pid.load(), SIGTERM);
    const ProgramRun& run = program.Wait();
    EXPECT_EQ(run.exitCode, 0) << run.log;
    EXPECT_EQ(run.log.find("couldn't decode"), std::string::npos) << run.log;
}
