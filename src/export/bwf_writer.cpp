// bwf_writer.cpp — 24-bit broadcast WAV files through libsndfile.
//
// Index
//   BwfTimeReference
//   RewriteBextChunk  version 1 with an empty coding history, after libsndfile
//   IsOwnBroadcastWavFile
//   File layer        BwfFile: the temporary file (made new) under libsndfile's
//                     virtual I/O, where a test's WriteFault meets every write
//   Shared steps      BwfOpen (file and bext chunk), BwfClose (close, move into place),
//                     RemovePartial, Stopped
//   WriteBWFStereo
//   BwfMonoWriter     one channel written block by block
//   WriteBWFClipMono / WriteBWFClipMonoAtSample
#include "export/bwf_writer.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "document/text_util.h"
#include "export/sample_hygiene.h"
#include "platform/file_util.h"

uint64_t BwfTimeReference(int32_t sampleRate, double startSeconds) {
    const double samples = double(sampleRate) * startSeconds;
    if (!(samples > 0)) return 0;  // negative, zero or not a number
    if (samples >= 18446744073709549568.0) return UINT64_MAX;
    return uint64_t(samples);
}

// ---------------------------------------------------------------------------
// RewriteBextChunk
// ---------------------------------------------------------------------------

namespace {

constexpr size_t kBextFixedBytes = 602;  // the chunk without its coding history
constexpr size_t kBextVersionAt = 346;

void PutLe32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// Runs a positioned read or write until all `size` bytes are through
// (either may move fewer at a time); false on an error or the file's end.
template <class Byte, class Transfer>
bool WholeAt(Byte* bytes, size_t size, off_t offset, Transfer&& transfer) {
    while (size > 0) {
        const ssize_t n = transfer(bytes, size, offset);
        if (n <= 0) return false;
        bytes += n;
        size -= size_t(n);
        offset += n;
    }
    return true;
}

bool ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    return WholeAt(static_cast<uint8_t*>(buffer), size, offset,
                   [fd](uint8_t* at, size_t n, off_t from) { return ::pread(fd, at, n, from); });
}

bool WriteAt(int fd, const void* buffer, size_t size, off_t offset) {
    return WholeAt(static_cast<const uint8_t*>(buffer), size, offset,
                   [fd](const uint8_t* at, size_t n, off_t from) { return ::pwrite(fd, at, n, from); });
}

// Moves everything from `from` to the end of the file back to `to` and cuts
// the file there.
bool ShiftTail(int fd, off_t from, off_t to, off_t fileSize) {
    std::vector<uint8_t> block(1 << 16);
    for (off_t at = from; at < fileSize;) {
        const size_t n = size_t(std::min<off_t>(off_t(block.size()), fileSize - at));
        if (!ReadAt(fd, block.data(), n, at) || !WriteAt(fd, block.data(), n, to + (at - from))) return false;
        at += off_t(n);
    }
    return ::ftruncate(fd, to + (fileSize - from)) == 0;
}

}  // namespace

bool RewriteBextChunk(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool ok = regular && RewriteBextChunk(fd);
    ::close(fd);
    return ok;
}

bool RewriteBextChunk(int fd) {
    const off_t fileSize = ::lseek(fd, 0, SEEK_END);
    uint8_t riff[12];
    if (fileSize < 12 || !ReadAt(fd, riff, sizeof riff, 0) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return false;

    for (off_t at = 12; at + 8 <= fileSize;) {
        uint8_t head[8];
        if (!ReadAt(fd, head, sizeof head, at)) return false;
        const uint32_t size = GetLe32(head + 4);
        const off_t body = at + 8;
        const off_t padded = off_t(size) + off_t(size & 1);
        if (std::memcmp(head, "bext", 4) != 0) {
            at = body + padded;
            continue;
        }
        if (size < kBextFixedBytes || body + padded > fileSize) return false;
        // Version 1: no loudness fields (reserved, so zero) and no coding history.
        uint8_t fixed[kBextFixedBytes];
        if (!ReadAt(fd, fixed, sizeof fixed, body)) return false;
        fixed[kBextVersionAt] = 1;
        fixed[kBextVersionAt + 1] = 0;
        std::memset(fixed + 412, 0, kBextFixedBytes - 412);  // loudness and reserved bytes
        PutLe32(head + 4, uint32_t(kBextFixedBytes));
        if (!WriteAt(fd, head, sizeof head, at) || !WriteAt(fd, fixed, sizeof fixed, body)) return false;

        // What the coding history held becomes a chunk readers skip, or, when
        // too small for a chunk header, goes by moving the rest of the file.
        const off_t freedAt = body + off_t(kBextFixedBytes);
        const off_t freed = padded - off_t(kBextFixedBytes);
        if (freed == 0) return true;
        if (freed >= 8) {
            std::vector<uint8_t> junk(size_t(freed), 0);
            std::memcpy(junk.data(), "JUNK", 4);
            PutLe32(junk.data() + 4, uint32_t(freed - 8));
            return WriteAt(fd, junk.data(), junk.size(), freedAt);
        }
        if (!ShiftTail(fd, freedAt + freed, freedAt, fileSize)) return false;
        PutLe32(riff + 4, uint32_t(fileSize - freed - 8));
        return WriteAt(fd, riff, sizeof riff, 0);
    }
    return true;  // no bext chunk: libsndfile refused it, which the writer has logged
}

bool IsOwnBroadcastWavFile(int fd) {
    if (fd < 0) return false;
    // The bext chunk lies in the header, before the samples.
    uint8_t head[4096];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    if (n < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return false;
    const size_t size = size_t(n);
    for (size_t at = 12; at + 8 <= size;) {
        const uint32_t chunk = GetLe32(head + at + 4);
        if (std::memcmp(head + at, "bext", 4) == 0) {
            const size_t originator = at + 8 + 256;
            if (chunk < 288 || originator + 32 > size) return false;
            const size_t length = strnlen(reinterpret_cast<const char*>(head + originator), 32);
            return std::string(reinterpret_cast<const char*>(head + originator), length) == kBwfOriginator;
        }
        at += 8 + size_t(chunk) + (chunk & 1);
    }
    return false;
}

// ---------------------------------------------------------------------------
// File layer
// ---------------------------------------------------------------------------

namespace {

// The temporary file libsndfile writes through its virtual I/O, so that every
// byte goes through one write routine of ours.
struct BwfFile {
    int fd = -1;
    std::string path;      // the final path, what a failure names
    std::string fileName;  // of the final path, what a fault names
    const HeldFolder* folder = nullptr;  // where it is made; null: by its path
    WriteFault* fault = nullptr;         // a test's full disk (write_fault.h); null in the program
    // libsndfile does not look at the count of its header writes: a short
    // one is remembered here and fails the file at its close.
    bool shortWrite = false;
    int error = 0;  // the system's error of the first short write
    ~BwfFile() {
        if (fd >= 0) ::close(fd);
    }
};

sf_count_t FileLength(void* user) {
    struct stat st;
    return ::fstat(static_cast<BwfFile*>(user)->fd, &st) == 0 ? sf_count_t(st.st_size) : -1;
}

sf_count_t FileSeek(sf_count_t offset, int whence, void* user) {
    return ::lseek(static_cast<BwfFile*>(user)->fd, off_t(offset), whence);
}

sf_count_t FileRead(void* ptr, sf_count_t count, void* user) {
    const ssize_t n = ::read(static_cast<BwfFile*>(user)->fd, ptr, size_t(count));
    return n < 0 ? 0 : sf_count_t(n);
}

sf_count_t FileWrite(const void* ptr, sf_count_t count, void* user) {
    BwfFile& file = *static_cast<BwfFile*>(user);
    if (WriteFaultHits(file.fault, file.fileName)) {
        file.shortWrite = true;
        if (file.error == 0) file.error = errno;
        return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(ptr);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(file.fd, bytes + done, size_t(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {  // a full disk
            if (file.error == 0) file.error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    if (done < count) file.shortWrite = true;
    return done;
}

sf_count_t FileTell(void* user) { return ::lseek(static_cast<BwfFile*>(user)->fd, 0, SEEK_CUR); }

}  // namespace

// ---------------------------------------------------------------------------
// Shared steps
// ---------------------------------------------------------------------------

namespace {

constexpr int64_t kStereoBlockFrames = 8192;
constexpr const char* kMonoWho = "WriteBWFClipMono";

void RemovePartial(const HeldFolder* folder, const std::string& tmpPath) { RemoveTemporaryIn(folder, tmpPath); }

// In a folder an export holds, a hidden name no file has had: whatever
// another program left at "<name>.tmp" is never this writer's to remove.
// By path (a file written on its own) the plain "<name>.tmp".
std::string TemporaryPathOf(const HeldFolder* folder, const std::string& path) {
    return folder ? NewTemporaryPathFor(path) : path + ".tmp";
}

// Tells the folder's holder of the file just made, or just put in place.
void NoteMadeFile(const HeldFolder* folder, const std::string& path, int fd, bool inPlace) {
    FileIdentity identity;
    if (!folder || !folder->made || !IdentityOf(fd, &identity)) return;
    if (!inPlace) identity.size = -1;
    folder->made(path, identity);
}

// A writer's open file: libsndfile's handle over our file layer.
struct BwfHandle {
    std::unique_ptr<BwfFile> file;
    SNDFILE* sound = nullptr;
    explicit operator bool() const { return sound != nullptr; }
};

// Opens "<path>.tmp" for 24-bit PCM and sets the bext chunk. A refused bext
// is logged under `who` and the file is written anyway (it lands at zero).
BwfHandle BwfOpen(const HeldFolder* folder, WriteFault* fault, const std::string& path, const std::string& tmpPath,
                  int channels, int32_t sampleRate, uint64_t timeReference, const char* description,
                  const char* who) {
    SF_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.frames = 0;
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    BwfHandle handle;
    handle.file = std::make_unique<BwfFile>();
    // A new file: a stale temporary file or a link planted at its name is
    // removed, never written through.
    int error = 0;
    handle.file->fd = OpenNewTemporaryFileIn(folder, tmpPath, &error);
    if (handle.file->fd < 0) {
        std::printf("[Export] %s: cannot create %s (%s)\n", who, tmpPath.c_str(), std::strerror(error));
        NoteWriteFailure(path, error);
        return handle;
    }
    handle.file->folder = folder;
    handle.file->fault = fault;
    NoteMadeFile(folder, tmpPath, handle.file->fd, false);
    const size_t slash = path.find_last_of('/');
    handle.file->fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    handle.file->path = path;
    SF_VIRTUAL_IO io{FileLength, FileSeek, FileRead, FileWrite, FileTell};
    handle.sound = sf_open_virtual(&io, SFM_WRITE, &info, handle.file.get());
    if (!handle.sound) {
        NoteWriteFailure(path, handle.file->error != 0 ? handle.file->error : EIO);
        handle.file.reset();
        RemovePartial(folder, tmpPath);
        return handle;
    }
    SNDFILE* file = handle.sound;

    SF_BROADCAST_INFO bext;
    std::memset(&bext, 0, sizeof(bext));
    CopyTextField(bext.description, description ? description : kBwfDefaultDescription);
    CopyTextField(bext.originator, kBwfOriginator);
    bext.time_reference_low = uint32_t(timeReference & 0xFFFFFFFFu);
    bext.time_reference_high = uint32_t(timeReference >> 32);
    bext.version = 1;
    bext.coding_history_size = 0;
    if (sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof(bext)) != SF_TRUE)
        std::printf("[Export] %s: BEXT timecode failed — clip will land at 00:00:00:00 — %s\n", who,
                    path.c_str());
    return handle;
}

// Closes libsndfile's handle (the file stays open); the error of the close,
// or a system error when any write of the file came up short.
int BwfCloseSound(BwfHandle& handle) {
    int error = handle.sound ? sf_close(handle.sound) : 0;
    if (handle.file && handle.file->shortWrite) NoteWriteFailure(handle.file->path, handle.file->error);
    if (error == 0 && handle.file && handle.file->shortWrite) error = SF_ERR_SYSTEM;
    handle.sound = nullptr;
    return error;
}

// Closes libsndfile's handle, then the file.
int BwfCloseHandle(BwfHandle& handle) {
    const int error = BwfCloseSound(handle);
    handle.file.reset();
    return error;
}

// True when the caller's stop flag is raised: the file is given up.
bool Stopped(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

// Closes the file, puts its bext chunk right and moves it over `path`. A
// close that reports an error (the header could not be finished), a chunk
// that cannot be rewritten or a move that fails leaves nothing.
bool BwfClose(BwfHandle& file, const std::string& path, const std::string& tmpPath, const char* who) {
    const HeldFolder* folder = file.file ? file.file->folder : nullptr;
    const int closeError = BwfCloseSound(file);
    if (closeError != 0) {
        NoteWriteFailure(path, EIO);  // a short write noted its own error first
        file.file.reset();
        std::printf("[Export] %s: closing failed (%s) — Deleting %s\n", who, sf_error_number(closeError),
                    path.c_str());
        RemovePartial(folder, tmpPath);
        return false;
    }
    // libsndfile always writes version 2 and a coding-history line of its
    // own. Rewritten and committed through the descriptor the file was
    // written through: what is moved into place is that file.
    const std::unique_ptr<BwfFile> written = std::move(file.file);
    if (!RewriteBextChunk(written->fd)) {
        NoteWriteFailure(path, EIO);
        std::printf("[Export] %s: could not finish the bext chunk — Deleting %s\n", who, path.c_str());
        RemovePartial(folder, tmpPath);
        return false;
    }
    FileReplaceFailure failure;
    if (!CommitTemporaryFileIn(written->fd, folder, tmpPath, path, &failure)) {
        NoteWriteFailure(path, failure.error != 0 ? failure.error : EIO);
        std::printf("[Export] %s: could not put the file in place (step %d, %s) — %s\n", who,
                    int(failure.step), std::strerror(failure.error), path.c_str());
        return false;
    }
    NoteMadeFile(folder, path, written->fd, true);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// WriteBWFStereo
// ---------------------------------------------------------------------------

bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int32_t sampleRate, double startSeconds, const char* description,
                    const std::atomic<bool>* stop, const HeldFolder* folder, WriteFault* fault) {
    constexpr const char* kWho = "WriteBWFStereo";
    if (frames < 1 || !left || !right || sampleRate < 1) return false;
    const int64_t limit = int64_t(sampleRate) * 3600;
    if (frames > limit) {
        std::printf("[Export] WriteBWFStereo: numFrames %lld exceeds 1hr limit (%lld) — %s\n", (long long)frames,
                    (long long)limit, path.c_str());
        NoteWriteFailure(path, EFBIG);
        return false;
    }
    const std::string tmpPath = TemporaryPathOf(folder, path);
    BwfHandle file = BwfOpen(folder, fault, path, tmpPath, 2, sampleRate, BwfTimeReference(sampleRate, startSeconds),
                             description, kWho);
    if (!file) return false;

    std::vector<float> block(size_t(kStereoBlockFrames) * 2);
    for (int64_t at = 0; at < frames; at += kStereoBlockFrames) {
        if (Stopped(stop)) {
            BwfCloseHandle(file);
            std::printf("[Export] %s: stopped at frame %lld/%lld — Deleting %s\n", kWho, (long long)at,
                        (long long)frames, path.c_str());
            RemovePartial(folder, tmpPath);
            return false;
        }
        const int64_t n = std::min(kStereoBlockFrames, frames - at);
        for (int64_t i = 0; i < n; ++i) {
            block[size_t(2 * i)] = left[at + i];
            block[size_t(2 * i + 1)] = right[at + i];
        }
        SanitizeSamples(block.data(), 2 * n);
        if (sf_writef_float(file.sound, block.data(), n) < n) {
            BwfCloseHandle(file);
            std::printf("[Export] WriteBWFStereo: short write at frame %lld/%lld — disk full? Deleting %s\n",
                        (long long)at, (long long)frames, path.c_str());
            RemovePartial(folder, tmpPath);
            return false;
        }
    }
    return BwfClose(file, path, tmpPath, kWho);
}

// ---------------------------------------------------------------------------
// BwfMonoWriter
// ---------------------------------------------------------------------------

struct BwfMonoWriter::State {
    BwfHandle file;
    std::string path, tmpPath;
    int64_t frames = 0;
    int64_t limit = 0;
    bool failed = false;
    int channels = 1;
    const std::atomic<bool>* stop = nullptr;
    const HeldFolder* folder = nullptr;
    std::vector<float> block;

    // Frames from each channel's samples, interleaved a block at a time.
    bool Put(const float* const* samples, int64_t frames);
};

bool BwfMonoWriter::State::Put(const float* const* samples, int64_t count) {
    if (!file || failed) return false;
    if (count < 0 || (count > 0 && !samples[0]) || frames + count > limit) {
        std::printf("[Export] %s: numFrames %lld exceeds 1hr limit (%lld) — %s\n", kMonoWho,
                    (long long)(frames + count), (long long)limit, path.c_str());
        NoteWriteFailure(path, EFBIG);
        failed = true;
        return false;
    }
    for (int64_t at = 0; at < count; at += kStereoBlockFrames) {
        if (Stopped(stop)) {
            failed = true;  // given up: Finish and the destructor leave nothing
            return false;
        }
        const int64_t n = std::min(kStereoBlockFrames, count - at);
        for (int64_t i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c) block[size_t(i * channels + c)] = samples[c][at + i];
        SanitizeSamples(block.data(), n * channels);
        if (sf_writef_float(file.sound, block.data(), n) < n) {
            std::printf("[Export] %s: short write at frame %lld — disk full? Deleting %s\n", kMonoWho,
                        (long long)(frames + at), path.c_str());
            failed = true;
            return false;
        }
    }
    frames += count;
    return true;
}

BwfMonoWriter::BwfMonoWriter() = default;

BwfMonoWriter::~BwfMonoWriter() {
    if (!state_ || !state_->file) return;
    BwfCloseHandle(state_->file);
    RemovePartial(state_->folder, state_->tmpPath);
}

bool BwfMonoWriter::Open(const std::string& path, int32_t sampleRate, uint64_t timeReference,
                         const char* description, const std::atomic<bool>* stop, int channels,
                         const HeldFolder* folder, WriteFault* fault) {
    state_.reset();
    if (sampleRate < 1 || Stopped(stop) || channels < 1 || channels > 2) return false;
    auto state = std::make_unique<State>();
    state->stop = stop;
    state->folder = folder;
    state->channels = channels;
    state->path = path;
    state->tmpPath = TemporaryPathOf(folder, path);
    state->limit = int64_t(sampleRate) * 3600;
    state->file =
        BwfOpen(folder, fault, path, state->tmpPath, channels, sampleRate, timeReference, description, kMonoWho);
    if (!state->file) return false;
    state->block.resize(size_t(kStereoBlockFrames) * size_t(channels));
    state_ = std::move(state);
    return true;
}

bool BwfMonoWriter::Write(const float* samples, int64_t frames) {
    if (!state_ || state_->channels != 1) return false;
    const float* const channels[1] = {samples};
    return state_->Put(channels, frames);
}

bool BwfMonoWriter::WriteStereo(const float* left, const float* right, int64_t frames) {
    if (!state_ || state_->channels != 2 || (frames > 0 && !right)) return false;
    const float* const channels[2] = {left, right};
    return state_->Put(channels, frames);
}

bool BwfMonoWriter::Finish() {
    if (!state_ || !state_->file) return false;
    State& s = *state_;
    if (s.failed || s.frames < 1) {
        BwfCloseHandle(s.file);
        RemovePartial(s.folder, s.tmpPath);
        return false;
    }
    return BwfClose(s.file, s.path, s.tmpPath, kMonoWho);
}

int64_t BwfMonoWriter::Frames() const { return state_ ? state_->frames : 0; }

// ---------------------------------------------------------------------------
// WriteBWFClipMono / WriteBWFClipMonoAtSample
// ---------------------------------------------------------------------------

namespace {

bool WriteMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
               uint64_t timeReference, const char* description, const std::atomic<bool>* stop,
               const HeldFolder* folder, WriteFault* fault) {
    if (frames < 1 || !samples || sampleRate < 1) return false;
    const int64_t limit = int64_t(sampleRate) * 3600;
    if (frames > limit) {
        std::printf("[Export] WriteBWFClipMono: numFrames %d exceeds 1hr limit (%lld) — %s\n", frames,
                    (long long)limit, path.c_str());
        NoteWriteFailure(path, EFBIG);
        return false;
    }
    BwfMonoWriter writer;
    return writer.Open(path, sampleRate, timeReference, description, stop, 1, folder, fault) &&
           writer.Write(samples, frames) &&
           writer.Finish();
}

}  // namespace

bool WriteBWFClipMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
                      double startSeconds, const char* description, const std::atomic<bool>* stop,
                      const HeldFolder* folder, WriteFault* fault) {
    return WriteMono(path, samples, frames, sampleRate, BwfTimeReference(sampleRate, startSeconds), description,
                     stop, folder, fault);
}

bool WriteBWFClipMonoAtSample(const std::string& path, const float* samples, int32_t frames,
                              int32_t sampleRate, int64_t timeReferenceSamples, const char* description,
                              const std::atomic<bool>* stop, const HeldFolder* folder, WriteFault* fault) {
    return WriteMono(path, samples, frames, sampleRate, timeReferenceSamples > 0 ? uint64_t(timeReferenceSamples) : 0,
                     description, stop, folder, fault);
}
