// An earlier export set aside where it stands: on file systems with and
// without birth times (a loop-mounted ext2 of 128-byte inodes, ext4, tmpfs),
// a re-export killed in each pass and restarted; a subfolder on another file
// system; files another program writes at the export's names while it runs;
// a hidden folder that is a link for one start; a folder shared by a group.
// Every case ends with the earlier export whole, and nothing the export did
// not make removed or written over.
//
// Index
//   PassRig            a small project, exported in child processes, killed or stopped in one pass
//   Identity           a freed inode number that comes back is another file
//   Killed             a kill in each pass on three file systems, another writer, a restart
//   Stopped            a subfolder on another file system; newcomers at the export's names;
//                      entries at old temporary names; a folder at an export's name
//   HiddenLink         a hidden folder that is a link for one start
//   SharedFolder       another user's export killed in a group's folder
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "export/replacement_record.h"
#include "export/replacement_settling.h"
#include "export/replacing_rig.h"
#include "platform/file_util.h"
#include "support/child_process.h"
#include "support/exported_files.h"
#include "support/run_command.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/test_drives.h"
#include "support/tree_state.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// PassRig
// ---------------------------------------------------------------------------

constexpr ExportPass kEveryPass[] = {ExportPass::Aaf, ExportPass::Mixdown, ExportPass::Stems, ExportPass::Tracks,
                                     ExportPass::Clips};
const char* NameOf(ExportPass p) {
    switch (p) {
        case ExportPass::Aaf: return "AAF";
        case ExportPass::Mixdown: return "mixdown";
        case ExportPass::Stems: return "stems";
        case ExportPass::Tracks: return "tracks";
        default: return "clips";
    }
}

std::string gOut;
std::string gMarker;
ExportPass gPass = ExportPass::Clips;
int gMoves = 0;
int gBlockAt = 0;
std::atomic<bool>* gStop = nullptr;
std::function<void()> gAtFirstMove;

// Whether `path` is a file that `pass` moves into place.
bool OfPass(ExportPass pass, const std::string& path) {
    const std::string folder = path.substr(0, path.find_last_of('/'));
    const std::string name = path.substr(path.find_last_of('/') + 1);
    switch (pass) {
        case ExportPass::Aaf: return path.find("/Reel/") != std::string::npos;
        case ExportPass::Mixdown: return folder == gOut && name == "Reel.wav";
        case ExportPass::Stems: return folder == gOut && name.rfind("Reel - ", 0) == 0;
        case ExportPass::Tracks: return folder == gOut + "/Tracks";
        default: return folder == gOut + "/Clips";
    }
}

// In a child: the `gBlockAt`-th file of the pass stops on its way into
// place (written, the ones before it in place) and waits for the kill.
int BlockInPass(FileFaultPoint point, const std::string& path) {
    if (point != FileFaultPoint::Move || !OfPass(gPass, path) || ++gMoves < gBlockAt) return 0;
    HoldUntilKilled(gMarker);
}

// In the test's process: the first file of the pass raises the stop; the
// first file of the export runs gAtFirstMove (another program at work).
int StopInPass(FileFaultPoint point, const std::string& path) {
    if (point != FileFaultPoint::Move) return 0;
    if (gMoves++ == 0 && gAtFirstMove) gAtFirstMove();
    if (gStop && OfPass(gPass, path)) gStop->store(true);
    return 0;
}

bool Yes(const char*, const char*) { return true; }

// Six short sourced layers on the three groups, exported whole (session,
// mixdown, stems, tracks, clips) into <temp>/out as "Reel". The data folder
// (and with it the notes of replacements under way) is the rig's own.
struct PassRig : ReplacingRig {
    ScopedEnvironment env;

    PassRig() {
        env.UnsetUserFolderVariables();
        env.Set("XDG_DATA_HOME", dir.File("data"));
        onCallingThread = true;
        app->exportSettings.exportWavTracks = true;
        engine->reverb.enabled = 0;
        project->totalDuration = 4.0f;
        const std::string src = Source("short.wav", 0.5);
        for (int i = 0; i < 6; ++i)
            AddSourced(src, 0.1f, 0.25f, 0.3f * float(i), "layer " + std::to_string(i), false, i % 3, i % 2);
        AssignTracks();
        app->questionDialog = &Yes;
        gOut = Out();
        gMarker = dir.File("blocked");
    }

    ExportStart Start() { return Run(Out()); }
    // The project changed: every file of a new export differs from the earlier one's.
    void Change() {
        engine->masterGain = 0.5f;
        for (PlaybackVoice& v : engine->voices) v.gain = v.gain.load() * 0.5f;
    }

    // The first export, in a child (the test's process starts no worker before it forks).
    void ExportInChild() { ASSERT_EQ(RunInChild([this] { ::_exit(Start() == ExportStart::Started ? 0 : 1); }), 0); }

    // A re-export of the changed project in a child (which first runs
    // `before`, when given), killed in `pass` at its `blockAt`-th file.
    // False when it never got there; `whileHeld` runs before the kill.
    bool KillIn(ExportPass pass, int blockAt, const std::function<void()>& before = nullptr,
                const std::function<void()>& whileHeld = nullptr) {
        fs::remove(gMarker);
        ChildProcess child([this, pass, blockAt, &before] {
            if (before) before();
            Change();
            gPass = pass;
            gMoves = 0;
            gBlockAt = blockAt;
            observer.fileFault = &BlockInPass;
            Start();
            ::_exit(3);
        });
        const bool blocked = WaitForHold(child, gMarker);
        if (blocked && whileHeld) whileHeld();
        ::kill(child.pid, SIGKILL);
        child.Wait();
        return blocked;
    }

    // An export on this thread that runs gAtFirstMove at its first file and,
    // when `stop`, is stopped at the first file of `pass`.
    ExportStart StopIn(ExportPass pass, bool stop = true) {
        gPass = pass;
        gMoves = 0;
        gStop = stop ? &app->exportCancel : nullptr;
        observer.fileFault = &StopInPass;
        const ExportStart started = Start();
        observer.fileFault = nullptr;
        gAtFirstMove = nullptr;
        gStop = nullptr;
        return started;
    }
};

// A start of the program in a process of its own: it settles what killed exports left.
int StartInChild() {
    return RunInChild([] { SettleInterruptedExports(); });
}

// The regular files under `root` that are not the program's hidden entries.
std::map<std::string, std::string> Visible(const std::string& root) {
    std::map<std::string, std::string> files = Snapshot(root);
    for (auto it = files.begin(); it != files.end();)
        it = it->first.find(".tessaloom-") != std::string::npos || it->first == "lost+found" ? files.erase(it)
                                                                                               : std::next(it);
    return files;
}

// Every entry under `root` whose name begins with ".tessaloom-".
std::vector<std::string> Hidden(const std::string& root) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind(".tessaloom-", 0) == 0) found.push_back(it->path().string());
    return found;
}

}  // namespace

// ---------------------------------------------------------------------------
// Identity
// ---------------------------------------------------------------------------

// A file removed and another of the same size made at its name: even given
// the same inode number (the rule on a file system without birth times), its
// change time tells it apart; a rename changes the change time too. A
// temporary file that grew is still the one begun only where a birth time
// proves it.
TEST(EarlierInPlace, AFreedInodeNumberThatComesBackIsAnotherFile) {
    TempDir dir;
    const std::string a = dir.File("clip.wav");
    ASSERT_TRUE(WriteWholeFile(a, "0123456789"));
    FileIdentity first, again, renamed;
    ASSERT_TRUE(IdentityAt(AT_FDCWD, a, &first));
    ASSERT_TRUE(IdentityAt(AT_FDCWD, a, &again));
    EXPECT_TRUE(first.Same(again));
    EXPECT_NE(first.change, 0);

    FileIdentity reused = first;  // what ext2 hands out: same number, same size
    reused.birth = 0;
    FileIdentity without = first;
    without.birth = 0;
    reused.change = first.change + 1;
    EXPECT_FALSE(without.Same(reused)) << "without a birth time the change time decides";
    EXPECT_FALSE(FileIdentity{}.Same(FileIdentity{})) << "nothing known proves nothing";

    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(::rename(a.c_str(), dir.File("moved.wav").c_str()), 0);
    ASSERT_TRUE(IdentityAt(AT_FDCWD, dir.File("moved.wav"), &renamed));
    EXPECT_FALSE(renamed.Same(first)) << "a rename changes what the file is known by";
    EXPECT_EQ(renamed.GrewFrom(first), first.birth != 0);
    EXPECT_FALSE(renamed.GrewFrom(without));
}

// ---------------------------------------------------------------------------
// Killed
// ---------------------------------------------------------------------------

// On each file system, a re-export killed in each pass; then another
// program writes a file of the same size at the name of a file the killed
// export had put in place (a temporary file renamed there, often given the
// inode just freed); then the next start. The other program's file stays,
// every other name holds the earlier export's bytes, and no temporary file
// is left.
TEST(EarlierInPlace, AKillInEachPassAnotherWriterAndARestartOnThreeFileSystems) {
    for (const char* kind : {"ext2", "ext4", "tmpfs"}) {
        SCOPED_TRACE(kind);
        PassRig rig;
        TestDrive fs_(kind, rig.Out());
        if (!fs_.mounted) {
            std::printf("[test] skipped on %s: %s\n", kind, fs_.why.c_str());
            continue;
        }
        rig.ExportInChild();
        const std::map<std::string, std::string> earlier = Visible(rig.Out());
        ASSERT_GE(earlier.size(), 12u);
        for (ExportPass pass : kEveryPass) {
            SCOPED_TRACE(NameOf(pass));
            const int blockAt = pass == ExportPass::Mixdown ? 1 : 2;
            ASSERT_TRUE(rig.KillIn(pass, blockAt)) << "the export never reached the pass";

            // A file the killed export put in place, replaced the way a sync
            // tool replaces a file: a temporary file of the same size renamed
            // over it.
            std::string taken, theirs;
            for (const auto& [name, bytes] : Visible(rig.Out())) {
                const auto was = earlier.find(name);
                if (was == earlier.end() || was->second == bytes || bytes.size() != was->second.size()) continue;
                taken = name;
                theirs = std::string(bytes.size(), 'x');
                break;
            }
            if (!taken.empty()) {
                const std::string path = rig.Out() + "/" + taken;
                struct stat before {}, after {};
                ::lstat(path.c_str(), &before);
                fs::remove(path);
                ASSERT_TRUE(WriteWholeFile(path + ".sync", theirs));
                fs::rename(path + ".sync", path);
                ::lstat(path.c_str(), &after);
                std::printf("[test] %s: %s written again by another program (inode %s)\n", kind, taken.c_str(),
                            before.st_ino == after.st_ino ? "reused" : "new");
            }
            ASSERT_EQ(StartInChild(), 0);
            std::map<std::string, std::string> expected = earlier;
            if (!taken.empty()) expected[taken] = theirs;
            EXPECT_EQ(FirstDifference(Visible(rig.Out()), expected), "")
                << "one whole earlier export, and the other program's file";
            for (const std::string& h : Hidden(rig.Out()))
                EXPECT_EQ(h.find(".tmp"), std::string::npos) << h << ": a temporary file is left";
            if (taken.empty()) {
                EXPECT_TRUE(Hidden(rig.Out()).empty());
                EXPECT_EQ(rig.Notes().size(), 0u);
                continue;
            }
            // The earlier file of the taken name waits beside it, readable,
            // and its note stays for a later start. Put back by hand, the
            // folder is the earlier export again for the next pass.
            EXPECT_EQ(rig.Notes().size(), 1u);
            std::string waiting;
            for (const std::string& h : Hidden(rig.Out()))
                if (fs::path(h).parent_path() == fs::path(rig.Out() + "/" + taken).parent_path() &&
                    h.find(".tessaloom-earlier-") != std::string::npos)
                    waiting = h;
            ASSERT_FALSE(waiting.empty());
            EXPECT_EQ(ReadWholeFile(waiting), earlier.at(taken));
            fs::remove(rig.Out() + "/" + taken);
            ASSERT_EQ(StartInChild(), 0);
            EXPECT_EQ(FirstDifference(Visible(rig.Out()), earlier), "");
            EXPECT_TRUE(Hidden(rig.Out()).empty());
            EXPECT_EQ(rig.Notes().size(), 0u);
        }
    }
}

// ---------------------------------------------------------------------------
// Stopped
// ---------------------------------------------------------------------------

// "Clips" is a tmpfs of its own: its earlier clips are set aside in it, not
// moved to another file system, so a stop in any pass leaves the earlier
// export whole, byte for byte, with nothing hidden left.
TEST(EarlierInPlace, ASubfolderOnAnotherFileSystemAndAStopInEachPass) {
    PassRig rig;
    TestDrive clips("tmpfs", rig.Out() + "/Clips");
    if (!clips.mounted) GTEST_SKIP() << clips.why;
    ASSERT_EQ(rig.Start(), ExportStart::Started);
    const std::map<std::string, std::string> earlier = Snapshot(rig.Out());
    ASSERT_GE(earlier.size(), 12u);
    rig.Change();
    for (ExportPass pass : kEveryPass) {
        SCOPED_TRACE(NameOf(pass));
        ASSERT_EQ(rig.StopIn(pass), ExportStart::Started);
        EXPECT_EQ(rig.app->toastText, "Export stopped");
        EXPECT_EQ(FirstDifference(Snapshot(rig.Out()), earlier), "");
        rig.app->exportCancel.store(false);
    }
    ASSERT_EQ(rig.Start(), ExportStart::Started);
    EXPECT_EQ(rig.app->toastText, "Export complete") << "the clips replaced in their own file system";
    EXPECT_NE(Snapshot(rig.Out()).at("Clips/Reel - layer 0.wav"), earlier.at("Clips/Reel - layer 0.wav"));
    EXPECT_TRUE(Hidden(rig.Out()).empty());
}

// Files another program puts at the export's names while it runs: a
// colleague's clip copied into "Clips" after the export set the earlier clip
// aside, and earlier clips in a "Clips" that was a link while the export
// listed its folder and a folder again by the time the clips are written.
// None is written over: the clips pass does not write them, the status names
// one, and a stop in the clips pass leaves them as they are.
TEST(EarlierInPlace, NewcomersAtTheExportsNamesAreNeverWrittenOver) {
    for (const bool stop : {false, true}) {
        for (const bool linked : {false, true}) {
            SCOPED_TRACE(std::string(linked ? "a linked folder swapped back" : "a colleague's clip") +
                         (stop ? ", stopped" : ""));
            PassRig rig;
            ASSERT_EQ(rig.Start(), ExportStart::Started);
            const std::map<std::string, std::string> earlier = Snapshot(rig.Out());
            const std::string clips = rig.Out() + "/Clips";
            // A clip name the earlier export did not have.
            rig.project->results[3].name = "layer 3b";
            const std::string colleague = clips + "/Reel - layer 3b.wav";
            if (linked) {
                fs::rename(clips, rig.Out() + "/Clips.real");
                fs::create_directory_symlink("Clips.real", clips);
                gAtFirstMove = [&] {
                    fs::remove(clips);
                    fs::rename(rig.Out() + "/Clips.real", clips);
                };
            } else {
                gAtFirstMove = [&] { EXPECT_TRUE(WriteWholeFile(colleague, "a colleague's clip")); };
            }
            rig.Change();
            ASSERT_EQ(rig.StopIn(ExportPass::Clips, stop), ExportStart::Started);
            const std::map<std::string, std::string> after = Snapshot(rig.Out());
            if (linked) {
                for (const auto& [name, bytes] : earlier) {
                    if (name.rfind("Clips/", 0) != 0) continue;
                    EXPECT_EQ(after.at(name), bytes) << name;
                }
            } else {
                EXPECT_EQ(after.at("Clips/Reel - layer 3b.wav"), "a colleague's clip");
            }
            if (stop) {
                EXPECT_EQ(rig.app->toastText, "Export stopped");
            } else {
                const std::string status = ExportStatusText(*rig.app);
                EXPECT_NE(status.find("Reel - layer"), std::string::npos) << status;
                EXPECT_EQ(rig.app->toastText, status) << "the toast says what the status says";
                EXPECT_NE(after.at("Reel.wav"), earlier.at("Reel.wav")) << "the other passes were written";
            }
            for (const std::string& h : Hidden(rig.Out()))
                EXPECT_EQ(h.find(".tmp"), std::string::npos) << h << ": a temporary file is left";
        }
    }
}

// Whatever stands at a writer's old temporary names ("<name>.tmp": a
// designer's file, a link, a pipe) is not the export's: it is neither
// removed nor written through, and the export completes beside it.
TEST(EarlierInPlace, EntriesAtTemporaryNamesAreNotTheExports) {
    PassRig rig;
    fs::create_directories(rig.Out() + "/Clips");
    ASSERT_TRUE(WriteWholeFile(rig.Out() + "/Reel.wav.tmp", "the designer's notes"));
    fs::create_symlink(rig.dir.File("elsewhere"), rig.Out() + "/Clips/Reel - layer 0.wav.tmp");
    ASSERT_EQ(::mkfifo((rig.Out() + "/Reel - Group 1.wav.tmp").c_str(), 0644), 0);
    ASSERT_EQ(rig.Start(), ExportStart::Started);
    EXPECT_EQ(rig.app->toastText, "Export complete");
    EXPECT_EQ(ReadWholeFile(rig.Out() + "/Reel.wav.tmp"), "the designer's notes");
    EXPECT_TRUE(fs::is_symlink(rig.Out() + "/Clips/Reel - layer 0.wav.tmp"));
    EXPECT_FALSE(fs::exists(rig.dir.File("elsewhere")));
    EXPECT_TRUE(fs::is_fifo(rig.Out() + "/Reel - Group 1.wav.tmp"));
    EXPECT_TRUE(Hidden(rig.Out()).empty());
}

namespace {

std::string gQuestion;
bool RecordingYes(const char*, const char* text) {
    gQuestion = text;
    return true;
}

}  // namespace

// Four odd entries at the export's names (pipes, a link) and, past them, a
// folder holding the designer's notes at a clip's name. The designer says
// yes: a folder the question named goes with what it holds once its pass has
// succeeded; one it did not name is never set aside nor removed, and the clip
// of its name is not written (the status names it).
TEST(EarlierInPlace, AFolderAtAnExportsNameGoesOnlyWhenTheQuestionNamedIt) {
    PassRig rig;
    const std::string out = rig.Out();
    fs::create_directories(out + "/Clips/Reel - layer 5.wav");
    ASSERT_TRUE(WriteWholeFile(out + "/Clips/Reel - layer 5.wav/notes.txt", "the designer's notes"));
    ASSERT_EQ(::mkfifo((out + "/Reel - BG.wav").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((out + "/Reel - FX A.wav").c_str(), 0644), 0);
    fs::create_symlink(rig.dir.File("nowhere"), out + "/Reel - FX B.wav");
    ASSERT_EQ(::mkfifo((out + "/Clips/Reel - layer 0.wav").c_str(), 0644), 0);
    rig.app->questionDialog = &RecordingYes;
    ASSERT_EQ(rig.Start(), ExportStart::Started);
    const std::string status = ExportStatusText(*rig.app);
    // The question names the folder by its path below the export folder.
    if (gQuestion.find("Reel - layer 5.wav\xE2\x80\x9D is a folder") != std::string::npos) {
        EXPECT_EQ(status.rfind("Export complete", 0), 0u) << status;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Clips/Reel - layer 5.wav")));
    } else {
        EXPECT_EQ(ReadWholeFile(out + "/Clips/Reel - layer 5.wav/notes.txt"), "the designer's notes") << gQuestion;
        EXPECT_NE(status.find("Reel - layer 5.wav"), std::string::npos) << status;
        EXPECT_TRUE(fs::is_fifo(out + "/Clips/Reel - layer 0.wav")) << "the clips pass was undone whole";
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Reel - FX B.wav"))) << "the stems pass was whole";
    EXPECT_FALSE(fs::exists(rig.dir.File("nowhere")));
    EXPECT_TRUE(Hidden(out).empty());
}

// ---------------------------------------------------------------------------
// HiddenLink
// ---------------------------------------------------------------------------

// Killed in the clips pass; at the next start the pass's hidden folder is a
// link (to a copy of itself): it is not followed, nothing moves, and the note
// stays. Back as it was, the start after settles it: the earlier export whole.
TEST(EarlierInPlace, AHiddenFolderThatIsALinkForOneStartIsSettledByTheNext) {
    PassRig rig;
    rig.ExportInChild();
    const std::map<std::string, std::string> earlier = Visible(rig.Out());
    ASSERT_TRUE(rig.KillIn(ExportPass::Clips, 2));
    const std::map<std::string, std::string> killed = Snapshot(rig.Out());
    // Each pass keeps its own record: every one of their folders becomes a link.
    std::vector<std::string> folders;
    for (const fs::directory_entry& e : fs::directory_iterator(rig.Out()))
        if (e.path().filename().string().rfind(kReplacingFolderPrefix, 0) == 0) folders.push_back(e.path().string());
    ASSERT_EQ(folders.size(), 5u);
    ASSERT_EQ(rig.Notes().size(), folders.size());
    for (size_t i = 0; i < folders.size(); ++i) {
        fs::rename(folders[i], rig.dir.File("away" + std::to_string(i)));
        fs::create_directory_symlink(rig.dir.File("away" + std::to_string(i)), folders[i]);
    }
    ASSERT_EQ(StartInChild(), 0);
    EXPECT_EQ(rig.Notes().size(), folders.size()) << "the notes stay for a later start";
    for (size_t i = 0; i < folders.size(); ++i) {
        fs::remove(folders[i]);
        fs::rename(rig.dir.File("away" + std::to_string(i)), folders[i]);
    }
    EXPECT_EQ(FirstDifference(Snapshot(rig.Out()), killed), "") << "nothing was settled through the links";
    ASSERT_EQ(StartInChild(), 0);
    EXPECT_EQ(rig.Notes().size(), 0u);
    EXPECT_EQ(FirstDifference(Visible(rig.Out()), earlier), "");
    EXPECT_TRUE(Hidden(rig.Out()).empty());
}

// ---------------------------------------------------------------------------
// SharedFolder
// ---------------------------------------------------------------------------

namespace {

// A user of the test's own, in a group of the test's own, removed again;
// in a child it has its data folder (XDG_DATA_HOME) at `data`, when given.
struct TestUser {
    std::string name, group, data;
    uid_t uid = 0;
    gid_t gid = 0;
    bool made = false;
    TestUser(const std::string& user, const std::string& shared) : name(user), group(shared) {
        RunCommand({"groupadd", "-f", group});
        made = RunCommand({"useradd", "-M", "-N", "-g", group, "-s", "/usr/sbin/nologin", user}).exitCode == 0 ||
               ::getpwnam(user.c_str()) != nullptr;
        if (const passwd* pw = ::getpwnam(user.c_str())) {
            uid = pw->pw_uid;
            gid = pw->pw_gid;
        } else {
            made = false;
        }
    }
    ~TestUser() {
        if (made) RunCommand({"userdel", name});
        RunCommand({"groupdel", group});
    }
    // In a child: become this user, with the group's umask and its data folder.
    void Become() const {
        BecomeColleague({uid, gid, 002});
        if (!data.empty()) ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    }
};

// Whether every file of `files` opens for reading by `user`, in a child.
bool ReadableBy(const TestUser& user, const std::vector<std::string>& files) {
    return RunInChild([&] {
               user.Become();
               for (const std::string& f : files) {
                   const int fd = ::open(f.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                   if (fd < 0) ::_exit(1);
                   ::close(fd);
               }
           }) == 0;
}

// The regular files under `root`, hidden ones and those in hidden folders
// too, but for the manifests (a replacement's own record).
std::vector<std::string> FilesUnder(const std::string& root) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file() && it->path().filename() != "manifest") files.push_back(it->path().string());
    return files;
}

}  // namespace

// A folder shared by a group (mode 2775): its owner exported into it; then
// another user of the group exports there and is killed in the clips pass.
// The owner can read every earlier file throughout, the ones that wait
// under hidden names included (they wait where they stood, with their own
// access), and the owner's next start leaves the other user's replacement
// to its own program.
TEST(EarlierInPlace, AGroupsFolderKeepsTheOwnersFilesReadableWhenAnotherUsersExportIsKilled) {
    if (::geteuid() != 0) GTEST_SKIP() << "two users are needed, and only root can make them here";
    const std::string tag = std::to_string(::getpid());
    const std::string group = "tlshare" + tag;
    TestUser owner("tlown" + tag, group), other("tloth" + tag, group);
    if (!owner.made || !other.made) GTEST_SKIP() << "useradd could not make the two users of the test";
    PassRig rig;
    // The rig's folder is the test's; the users reach it, and share "out".
    fs::permissions(rig.dir.path(), fs::perms::all);
    fs::create_directories(rig.Out());
    ASSERT_EQ(::chown(rig.Out().c_str(), owner.uid, owner.gid), 0);
    ASSERT_EQ(::chmod(rig.Out().c_str(), 02775), 0);
    owner.data = rig.dir.File("data-owner");
    other.data = rig.dir.File("data-other");
    for (const TestUser* user : {&owner, &other}) {
        fs::create_directories(user->data);
        ::chmod(user->data.c_str(), 0777);
    }
    ::chmod(rig.dir.path().c_str(), 0777);
    ASSERT_EQ(RunInChild([&] {
                  owner.Become();
                  ::_exit(rig.Start() == ExportStart::Started ? 0 : 1);
              }),
              0);
    const std::map<std::string, std::string> earlier = Visible(rig.Out());
    ASSERT_GE(earlier.size(), 12u);
    const std::vector<std::string> earlierFiles = FilesUnder(rig.Out());
    ASSERT_TRUE(ReadableBy(owner, earlierFiles));

    std::vector<std::string> whileRunning;
    const auto asOther = [&] { other.Become(); };
    ASSERT_TRUE(rig.KillIn(ExportPass::Clips, 2, asOther, [&] { whileRunning = FilesUnder(rig.Out()); }))
        << "the other user's export never reached its clips";
    EXPECT_TRUE(ReadableBy(owner, whileRunning)) << "every file, hidden or not, while the export runs";
    EXPECT_GE(whileRunning.size(), earlierFiles.size());
    EXPECT_FALSE(Hidden(rig.Out()).empty()) << "the killed export left its earlier entries set aside";
    EXPECT_TRUE(ReadableBy(owner, FilesUnder(rig.Out()))) << "and the owner still reads them all";
    const auto startAs = [](const TestUser& user) {
        return RunInChild([&user] {
            user.Become();
            SettleInterruptedExports();
        });
    };
    ASSERT_EQ(startAs(owner), 0);
    EXPECT_TRUE(ReadableBy(owner, FilesUnder(rig.Out())));
    ASSERT_EQ(startAs(other), 0);
    EXPECT_EQ(FirstDifference(Visible(rig.Out()), earlier), "")
        << "the other user's next start puts the earlier export back";
    EXPECT_TRUE(Hidden(rig.Out()).empty());
}
