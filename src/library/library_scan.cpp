// library_scan.cpp — the folder walk, the analysis of every file (on several
// cores, committed in file order), checkpoints and the hand-over.
//
// Index
//   Naming helpers       stems, last components, names already taken
//   ParallelAnalysis     helpers analyse within a window ahead of the in-order commit
//   IsSupportedAudioExtension / LibraryNameForFolder / StartLibraryScan
//   ScanLibraryFolder    walk, analyse, checkpoint, hand over
#include "library/library_scan.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "document/text_util.h"
#include "library/library_index_file.h"
#include "library/library_summary.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "platform/processor.h"

namespace fs = std::filesystem;

namespace {

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string WithoutTrailingSeparators(std::string folder) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return folder;
}

std::string FolderStem(const std::string& folder) {
    fs::path p(WithoutTrailingSeparators(folder));
    std::string stem = p.filename().empty() ? std::string() : p.stem().string();
    if (stem.empty() || stem == "/" || stem == "." || stem == "..") stem = "Library";
    return stem;
}

std::string LastComponent(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool NameTaken(SoundLibrary& library, const std::string& name) {
    for (const LibraryIndex& l : library.libraries)
        if (l.name == name) return true;
    {
        std::lock_guard<std::mutex> lock(library.scanMutex);
        for (const LibraryIndex& l : library.finishedScans)
            if (l.name == name) return true;
    }
    if (!library.indexFolder.empty()) {
        std::error_code ec;
        if (fs::exists(LibraryIndexFilePath(library.indexFolder, name), ec)) return true;
    }
    return false;
}

struct AnalysedFile {
    bool done = false;
    bool ok = false;
    bool tooShort = false;  // a sound that opened, shorter than the analysis needs
    LibraryEntry entry;
};

// Analyses the collected files on several threads; the caller takes the
// results strictly in file order, so entries, progress and texts are exactly
// those of a one-by-one scan. The analysis is CPU-bound, so by default there
// is one helper per core. Helpers stay at most `window` files ahead of the
// file the caller takes next: a stop wastes little work, and the finished
// results waiting for their turn (a ring of `window` slots) keep memory flat
// however large the folder. A file costs in proportion to its length (up to
// the 30 s analysed), and a library mixes clicks with long ambiences: the
// window is many files per helper, so that the others go on past a long file
// instead of waiting for it to be taken.
class ParallelAnalysis {
public:
    ParallelAnalysis(const std::vector<std::string>& files, std::atomic<uint8_t>& running, size_t workers)
        : files_(files), running_(running) {
        workers = std::clamp<size_t>(workers, 1, std::max<size_t>(files.size(), 1));
        window_ = std::max<size_t>(16 * workers, 64);
        slots_.resize(window_);
        for (size_t w = 0; w < workers; ++w) {
            try {
                threads_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;  // fewer helpers; the committing thread analyses what is left
            }
        }
    }
    ~ParallelAnalysis() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_) t.join();
    }

    // Waits for file i, the next in order (analysing it here when no helper
    // took it yet), and hands its result over.
    AnalysedFile Take(size_t i) {
        if (Claim(i)) Analyse(i);
        AnalysedFile result;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            AnalysedFile& slot = slots_[i % window_];
            cv_.wait(lock, [&] { return slot.done; });
            result = std::move(slot);
            slot = AnalysedFile{};
            taken_ = i + 1;
        }
        cv_.notify_all();  // a helper may now claim one more file
        return result;
    }

private:
    bool Claim(size_t i) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (i < next_) return false;
        next_ = i + 1;
        return true;
    }
    void Analyse(size_t i) {
        AnalysedFile result;
        try {
            result.ok = AnalyzeSoundFile(files_[i], result.entry);
            result.tooShort = !result.ok && TooShortToAnalyse(result.entry);
        } catch (const std::exception&) {
            result.ok = false;
        }
        result.done = true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slots_[i % window_] = std::move(result);
        }
        cv_.notify_all();
    }
    void Work() {
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                // The slot of file i is free once file i - window is taken.
                cv_.wait(lock, [&] {
                    return stop_ || !running_.load() || next_ >= files_.size() || next_ < taken_ + window_;
                });
                if (stop_ || !running_.load() || next_ >= files_.size()) return;
                i = next_++;
            }
            Analyse(i);
        }
    }

    const std::vector<std::string>& files_;
    std::atomic<uint8_t>& running_;
    size_t window_ = 1;
    std::vector<AnalysedFile> slots_;  // file i lives in slot i % window_ until taken
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable cv_;
    size_t next_ = 0;   // first file nobody has claimed
    size_t taken_ = 0;  // files handed to the caller so far
    bool stop_ = false;
};

size_t ScanWorkerCount(const SoundLibrary& library) {
    const int32_t asked = library.scanWorkers.load();
    if (asked > 0) return static_cast<size_t>(asked);
    return static_cast<size_t>(ProcessorCount());
}

// A failed write keeps the scan going (the library is still handed over),
// but the designer sees why the index file is missing.
bool WriteCheckpoint(SoundLibrary& library, LibraryIndex& index, const std::string& indexPath) {
    ++index.indexWrites;
    std::string error;
    if (!WriteLibraryIndexFile(index, indexPath, &error)) {
        std::printf("[Library] could not write %s: %s\n", indexPath.c_str(), error.c_str());
        if (!error.empty()) SetScanError(library, error);
        return false;
    }
    return true;
}

}  // namespace

bool IsSupportedAudioExtension(std::string_view extension) {
    static const char* const kExtensions[] = {".wav", ".aif", ".aiff", ".flac", ".caf", ".w64", ".rf64"};
    std::string lower = LowerAscii(extension);
    for (const char* e : kExtensions)
        if (lower == e) return true;
    return false;
}

std::string LibraryNameForFolder(SoundLibrary& library, const std::string& folder) {
    const std::string wanted = WithoutTrailingSeparators(folder);
    for (const LibraryIndex& l : library.libraries)
        if (!l.path.empty() && WithoutTrailingSeparators(l.path) == wanted) return l.name;
    const std::string stem = FolderStem(folder);
    if (!NameTaken(library, stem)) return stem;
    for (int k = 2; k < 100000; ++k) {
        std::string candidate = stem + " " + std::to_string(k);
        if (!NameTaken(library, candidate)) return candidate;
    }
    return stem;
}

bool StartLibraryScan(SoundLibrary& library, const std::string& folder, uint8_t enabled, int32_t group) {
    if (library.scanRunning.load()) return false;
    if (library.scanThread.joinable()) library.scanThread.join();
    std::string name = LibraryNameForFolder(library, folder);
    library.scanRunning.store(1);
    library.scanProgress.store(0.0f);
    library.scanFilesDone.store(0);
    library.scanFilesFound.store(0);
    SetScanStatus(library, "");
    CopyTextField(library.scanFolderName, LastComponent(WithoutTrailingSeparators(folder)));
    auto request = std::make_unique<ScanRequest>();
    request->library = &library;
    request->folder = WithoutTrailingSeparators(folder);  // one folder, one spelling
    request->enabled = enabled;
    request->group = group;
    library.scanFolder = QueuedLibraryFolder{request->folder, enabled, group};
    try {
        ScanRequest* raw = request.get();
        library.scanThread = std::thread(ScanLibraryFolder, raw, std::move(name));
        request.release();
    } catch (const std::system_error& e) {
        std::printf("[Library] could not start the scan thread: %s\n", e.what());
        library.scanRunning.store(0);
        SetScanError(library, std::string("Scan could not start: ") + e.what());
        return false;
    }
    return true;
}

void ScanLibraryFolder(ScanRequest* rawRequest, std::string name) {
    std::unique_ptr<ScanRequest> request(rawRequest);
    SoundLibrary& library = *request->library;

    LibraryIndex index;
    index.path = request->folder;
    index.name = name;
    index.enabled = request->enabled;
    index.group = request->group;
    SetScanError(library, "");
    ClearFailedFiles(library);

    // Walk first, so the progress fraction is exact during the analysis.
    std::vector<std::string> files;
    std::string walkError;
    {
        std::error_code ec;
        fs::recursive_directory_iterator it(request->folder, fs::directory_options::skip_permission_denied, ec);
        const fs::recursive_directory_iterator end;
        while (!ec && it != end && library.scanRunning.load()) {
            std::error_code statusError;
            const bool regular = it->is_regular_file(statusError);
            const bool supported = IsSupportedAudioExtension(it->path().extension().string());
            if (statusError) {
                // A dangling link, or a file that vanished between listing and
                // looking: that one sound is lost, not the rest of the folder.
                if (supported) AddFailedFile(library, it->path().filename().string());
            } else if (regular && supported) {
                files.push_back(it->path().string());
            }
            it.increment(ec);
        }
        if (ec) {
            std::string message = ec.message();
            walkError = message.empty() ? std::string("Scan interrupted: folder became inaccessible")
                                        : "Scan interrupted: " + message;
            SetScanError(library, walkError);
        }
    }

    ScanNote note;
    note.folder = request->folder;
    note.name = LastComponent(WithoutTrailingSeparators(request->folder));
    const int n = static_cast<int>(files.size());
    library.scanFilesFound.store(n);
    if (n == 0) {
        SetScanStatus(library, kNoAudioFilesFound);
        note.error = walkError;
        note.nothingFound = true;
        AddScanNote(library, std::move(note));
        library.scanRunning.store(0);
        return;
    }
    const std::string indexPath =
        library.indexFolder.empty() ? std::string() : LibraryIndexFilePath(library.indexFolder, index.name);
    if (!library.indexFolder.empty() && indexPath.empty()) {
        // The library still reaches the program; only its index file is refused.
        SetScanError(library, "Library name \"" + index.name + "\" cannot be used as a file name; its index is not saved.");
    }

    int visited = 0;
    int vanished = 0;  // files gone before their analysis: the folder went away under the scan
    int tooShort = 0;  // sound files that open but end before one analysis block
    {
        ParallelAnalysis analysis(files, library.scanRunning, ScanWorkerCount(library));
        for (int i = 0; i < n && library.scanRunning.load(); ++i) {
            const std::string fileName = LastComponent(files[static_cast<size_t>(i)]);
            SetScanStatus(library, fileName);
            library.scanFilesDone.store(i);
            library.scanProgress.store(static_cast<float>(i) / static_cast<float>(n));
            if (library.scanBeforeFile) library.scanBeforeFile();
            AnalysedFile result = analysis.Take(static_cast<size_t>(i));
            std::error_code gone;
            if (result.ok) {
                // As the index file will give it back in the next run.
                KeepIndexedPrecision(result.entry);
                index.entries.push_back(std::move(result.entry));
            } else if (result.tooShort) {
                ++tooShort;
            } else if (!fs::exists(files[static_cast<size_t>(i)], gone)) {
                ++vanished;
            } else {
                AddFailedFile(library, fileName);
            }
            visited = i + 1;
            if ((i + 1) % 500 == 0 && !indexPath.empty() && !index.entries.empty())
                WriteCheckpoint(library, index, indexPath);
        }
    }

    library.scanFilesDone.store(n);
    library.scanProgress.store(1.0f);
    index.scanTime = static_cast<int64_t>(std::time(nullptr));
    // A walk that broke off or files that vanished mean the folder went away
    // under the scan: what was found is kept, marked as part of the folder.
    index.incomplete = !walkError.empty() || vanished > 0;
    BuildLibrarySummary(index);
    const int indexed = static_cast<int>(index.entries.size());
    if (!index.entries.empty()) {
        if (!indexPath.empty()) WriteCheckpoint(library, index, indexPath);
        std::lock_guard<std::mutex> lock(library.scanMutex);
        library.finishedScans.push_back(index);
    }
    char text[160];
    if (visited < n) {
        std::snprintf(text, sizeof text, "Scan stopped \xE2\x80\x94 %d of %d files indexed.", indexed, n);
    } else {
        std::snprintf(text, sizeof text, "Done! %d files indexed.", indexed);
    }
    SetScanStatus(library, text);
    note.skipped = static_cast<int32_t>(FailedFileCount(library));
    note.tooShort = tooShort;
    note.incomplete = index.incomplete != 0;
    if (note.incomplete) {
        char told[200];
        std::snprintf(told, sizeof told, "%s \xE2\x80\x94 %d of %d files indexed; rescan when it is back",
                      walkError.empty() ? "Folder became inaccessible during the scan" : walkError.c_str(), indexed,
                      n);
        note.error = told;
    }
    AddScanNote(library, std::move(note));
    library.scanRunning.store(0);
}
