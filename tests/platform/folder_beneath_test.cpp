// Paths below a folder held open, one component at a time: a link anywhere
// in a path, "..", "." or an absolute path is refused, a missing folder is
// made only where no link stands, and a temporary file is always made new.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/file_util.h"
#include "platform/folder_beneath.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

TEST(FolderBeneath, LinksAndLeavingPathsAreRefusedAndNothingIsMadeThroughALink) {
    TempDir dir;
    const std::string root = dir.File("root"), outside = dir.File("outside");
    fs::create_directories(root + "/a/b");
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, root + "/esc");
    fs::create_directory_symlink(outside, root + "/a/esc");
    ASSERT_TRUE(WriteWholeFile(root + "/a/file", "a file"));
    FolderFd top(::open(root.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_TRUE(top.Valid());

    std::vector<std::string> parts;
    for (const char* refused : {"", "/etc/passwd", "a/../b", "./a", "a//b", "..", "a/"})
        EXPECT_FALSE(SplitBeneathPath(refused, parts)) << refused;
    ASSERT_TRUE(SplitBeneathPath("a/b/c.wav", parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", "c.wav"}));

    std::string leaf;
    int error = 0;
    FolderFd parent = OpenParentBeneath(top.Get(), "a/b/c.wav", false, &leaf, &error);
    EXPECT_TRUE(parent.Valid());
    EXPECT_EQ(leaf, "c.wav");
    // A link as the first part, a middle part, and a file in the way.
    for (const char* path : {"esc/x", "a/esc/x", "a/esc/new/sub/x", "a/file/x"}) {
        for (bool create : {false, true}) {
            FolderFd through = OpenParentBeneath(top.Get(), path, create, &leaf, &error);
            EXPECT_FALSE(through.Valid()) << path;
            EXPECT_TRUE(error == ELOOP || error == ENOTDIR) << path << ": " << error;
        }
    }
    EXPECT_FALSE(OpenParentBeneath(top.Get(), "../x", true, &leaf, &error).Valid());
    EXPECT_EQ(error, EINVAL);
    EXPECT_TRUE(fs::is_empty(outside)) << "nothing was made through a link";

    // Missing folders are made where no link stands.
    EXPECT_FALSE(OpenParentBeneath(top.Get(), "new/sub/x", false, &leaf, &error).Valid());
    EXPECT_EQ(error, ENOENT);
    EXPECT_TRUE(OpenParentBeneath(top.Get(), "new/sub/x", true, &leaf, &error).Valid());
    EXPECT_TRUE(fs::is_directory(root + "/new/sub"));
}

TEST(FolderBeneath, TemporaryFilesAreMadeNewAndNeverThroughALink) {
    TempDir dir;
    const std::string target = dir.File("precious.txt");
    ASSERT_TRUE(WriteWholeFile(target, "the designer's own"));
    const std::string planted = dir.File("Reel.tlproj.tmp");
    ASSERT_EQ(::symlink(target.c_str(), planted.c_str()), 0);
    const int fd = OpenNewTemporaryFile(planted);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "new", 3), 3);
    ::close(fd);
    EXPECT_EQ(ReadWholeFile(target), "the designer's own");
    EXPECT_EQ(ReadWholeFile(planted), "new");
    struct stat st {};
    ASSERT_EQ(::lstat(planted.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link went, not its target";

    // A folder at the name is not removed; the writer fails.
    const std::string folder = dir.File("Mix.wav.tmp");
    fs::create_directories(folder + "/inside");
    int error = 0;
    EXPECT_LT(OpenNewTemporaryFile(folder, &error), 0);
    EXPECT_EQ(error, EISDIR);
    EXPECT_TRUE(fs::is_directory(folder + "/inside"));

    // The durable writer of projects and preferences goes through it too.
    const std::string prefs = dir.File("prefs");
    ASSERT_EQ(::symlink(target.c_str(), (prefs + ".tmp").c_str()), 0);
    ASSERT_TRUE(WriteTextFileAtomic(prefs, "a=1\n"));
    EXPECT_EQ(ReadWholeFile(prefs), "a=1\n");
    EXPECT_EQ(ReadWholeFile(target), "the designer's own");
}

// A folder held open: every create, move and removal lands in the folder
// that was opened, after its path was swapped for a link to another folder;
// a copy never writes through a link at its name; a move into place never
// replaces a link or a pipe that appeared there, only a regular file.
TEST(FolderBeneath, AHeldFolderIsWrittenWhateverItsPathNowLeadsTo) {
    TempDir dir;
    const std::string opened = dir.File("Clips"), outside = dir.File("outside");
    fs::create_directories(opened);
    fs::create_directories(outside);
    ASSERT_TRUE(WriteWholeFile(outside + "/Reel - A.wav", "outside"));
    const int fd = ::open(opened.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    ASSERT_GE(fd, 0);
    const HeldFolder held{fd, nullptr};
    fs::rename(opened, dir.File("Clips.moved"));
    ASSERT_EQ(::symlink(outside.c_str(), opened.c_str()), 0);

    const std::string path = opened + "/Reel - A.wav";
    const int file = OpenNewTemporaryFileIn(&held, path + ".tmp");
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "inside", 6), 6);
    ASSERT_TRUE(CommitTemporaryFileIn(file, &held, path + ".tmp", path));
    ::close(file);
    EXPECT_EQ(ReadWholeFile(outside + "/Reel - A.wav"), "outside");
    EXPECT_EQ(ReadWholeFile(dir.File("Clips.moved/Reel - A.wav")), "inside");
    FileIdentity there;
    ASSERT_TRUE(IdentityAt(fd, "Reel - A.wav", &there));
    EXPECT_EQ(there.size, 6) << "the file moved in is the one written";

    // Something not a file at the name since: the move fails and leaves it.
    ASSERT_EQ(::mkfifo(dir.File("Clips.moved/Reel - B.wav").c_str(), 0600), 0);
    const int second = OpenNewTemporaryFileIn(&held, opened + "/Reel - B.wav.tmp");
    ASSERT_GE(second, 0);
    EXPECT_FALSE(CommitTemporaryFileIn(second, &held, opened + "/Reel - B.wav.tmp", opened + "/Reel - B.wav"));
    ::close(second);
    struct stat st {};
    ASSERT_EQ(::lstat(dir.File("Clips.moved/Reel - B.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_FALSE(fs::exists(dir.File("Clips.moved/Reel - B.wav.tmp")));
    ::close(fd);

    // A copy's new file is made new: a link at its name goes, its target stays.
    const std::string copy = dir.File("copy.wav");
    ASSERT_EQ(::symlink((outside + "/Reel - A.wav").c_str(), copy.c_str()), 0);
    ASSERT_TRUE(CopyFileContents(dir.File("Clips.moved/Reel - A.wav"), copy));
    EXPECT_EQ(ReadWholeFile(outside + "/Reel - A.wav"), "outside");
    EXPECT_EQ(ReadWholeFile(copy), "inside");
}
