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

#include <cerrno>
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
