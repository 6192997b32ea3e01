// aaf_session.cpp — the AAF session writers: opening the file through the
// runtime, the mobs of the essence files, and the steps around the
// composition (aaf_composition.cpp).
//
// Index
//   Text                 MakeAafFileLocator, Utf8ToAafString
//   Log helpers          "[AAF]" lines with the failing result
//   OpenAafFile          runtime, file, header, dictionary, Sound definition
//   Essence mobs         AafWaveSummary, CreateAafSourceMobs
//   WriteSession         the steps both writers share
//   ExportAafSession / ExportAafSessionExtended
#include "export/aaf_session.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unordered_map>

#include "document/text_util.h"
#include "export/aaf_object_checks.h"
#include "export/aaf_runtime.h"

// --- Text -----------------------------------------------------------------------------

std::string MakeAafFileLocator(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    url.reserve(url.size() + path.size() * 3);
    for (unsigned char c : path) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '.' || c == '_' || c == '~' || c == '/';
        if (keep) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    return url;
}

std::u16string Utf8ToAafString(const std::string& utf8) { return Utf8ToWide(utf8); }

// --- Log helpers ------------------------------------------------------------------------

namespace {

unsigned long Hr(AafResult r) { return static_cast<unsigned long>(static_cast<uint32_t>(r)); }

void LogFailure(const char* step, AafResult r) { std::printf("[AAF] %s FAILED hr=0x%08lX\n", step, Hr(r)); }

// An essence path as the locator must name it: absolute, so that the URL
// has no host part and does not depend on where the editor runs from.
std::string AbsoluteEssencePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

}  // namespace

// --- Opening ------------------------------------------------------------------------------

bool OpenAafFile(const std::string& path, AafSession* session) {
    // The runtime stays loaded until the process exits, so this loads it once
    // per process; a failed load is tried again by the next export. A library
    // loaded already (by a forwarder) is used as it is.
    if (!AafLoadedLibrary()) {
        AafResult r = AAFLoad(nullptr);
        if (r < 0) {
            LogFailure("AAFLoad", r);
            return false;
        }
        std::unique_ptr<AafPluginManager> manager;
        if (AAFGetPluginManager(&manager) >= 0 && manager && manager->registerSharedPlugins)
            manager->registerSharedPlugins();
    }

    AafProductIdentification identification;
    identification.companyName = "Tessaloom";
    identification.productName = "Tessaloom";
    identification.productVersion = AafProductVersion{1, 0, 0, 0, 0};
    std::u16string widePath = Utf8ToAafString(path);
    // The runtime takes the path as UTF-16: a path that is not valid UTF-8
    // would come back as another name, so it is refused.
    AafResult r = WideToUtf8(widePath) == path ? AAFFileOpenNewModifyEx(widePath.c_str(), &kAafFileKindAaf512Binary,
                                                                       0, &identification, &session->file)
                                               : AafStatusResult(AafStatus::InvalidName);
    if (r < 0 || !session->file) {
        std::printf("[AAF] OpenNewModifyEx FAILED hr=0x%08lX path='%s'\n", Hr(r < 0 ? r : kAafResultNullParam),
                    path.c_str());
        return false;
    }
    session->header = session->file->header;
    if (!session->header) {
        LogFailure("GetHeader", AafStatusResult(AafStatus::NotFound));
        return false;
    }
    session->dictionary = session->file->dictionary;
    if (!session->dictionary) {
        LogFailure("GetDictionary", AafStatusResult(AafStatus::NotFound));
        return false;
    }
    AafStatus s = AafLookupDefinition(*session->file, AafDefinitionKind::Data, kAafDataDefSound, &session->sound);
    if (s != AafStatus::Ok) {
        LogFailure("LookupDataDef", AafStatusResult(s));
        return false;
    }
    return true;
}

// --- Essence mobs ---------------------------------------------------------------------------

std::vector<uint8_t> AafWaveSummary(int64_t fileLength, int32_t sampleRate) {
    // 24-bit mono: 3 bytes a frame; a size the header cannot hold is all ones.
    uint64_t bytes = fileLength > 0 ? static_cast<uint64_t>(fileLength) * 3 : 0;
    uint32_t dataSize = bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
    uint32_t rate = static_cast<uint32_t>(sampleRate);
    std::vector<uint8_t> s;
    s.reserve(44);
    auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i) s.push_back(static_cast<uint8_t>(t[i]));
    };
    tag("RIFF");
    AafAppendUInt32(s, static_cast<uint32_t>(std::min<uint64_t>(uint64_t(dataSize) + 36u, 0xFFFFFFFFull)));
    tag("WAVE");
    tag("fmt ");
    AafAppendUInt32(s, 16);
    AafAppendUInt16(s, 1);  // PCM
    AafAppendUInt16(s, 1);  // channels
    AafAppendUInt32(s, rate);
    AafAppendUInt32(s, rate * 3u);  // byte rate
    AafAppendUInt16(s, 3);          // block align
    AafAppendUInt16(s, 24);         // bits per sample
    tag("data");
    AafAppendUInt32(s, dataSize);
    return s;
}

AafStatus CreateAafSourceMobs(AafSession& session, const std::string& essencePath, const std::string& essenceName,
                              int64_t fileLength, int32_t sampleRate, AafObject** masterMob, AafMobId* masterId) {
    if (!session.file || !masterMob || !masterId) return AafStatus::NullArgument;
    AafFile& f = *session.file;
    const AafRational rate{sampleRate, 1};
    AafFirstFailure fail;

    // The file source mob: what the essence file is and where it lies.
    AafObject *source = nullptr, *descriptor = nullptr, *locator = nullptr, *clip = nullptr, *slot = nullptr;
    fail += AafCreateMob(f, AafMobKind::Source, essenceName, &source);
    fail += AafCreateWaveDescriptor(f, rate, fileLength, AafWaveSummary(fileLength, sampleRate), &descriptor);
    fail += AafCreateNetworkLocator(f, MakeAafFileLocator(AbsoluteEssencePath(essencePath)), &locator);
    fail += AafAppendLocator(descriptor, locator);
    fail += AafSetEssenceDescriptor(source, descriptor);
    fail += AafCreateSourceClip(f, session.sound, fileLength, AafSourceRef{}, &clip);
    fail += AafAppendTimelineSlot(f, source, rate, clip, 1, "Audio", 0, &slot);
    fail += AafSetPhysicalTrackNumber(slot, 1);  // the file's one channel
    AafMobId sourceId;
    fail += AafGetMobId(source, &sourceId);
    fail += AafAddMob(f, source);
    if (fail.status != AafStatus::Ok) return fail.status;

    // The master mob: the clip the composition's tracks refer to.
    AafObject* master = nullptr;
    fail += AafCreateMob(f, AafMobKind::Master, essenceName, &master);
    fail += AafCreateSourceClip(f, session.sound, fileLength, AafSourceRef{sourceId, 1, 0}, &clip);
    fail += AafAppendTimelineSlot(f, master, rate, clip, 1, "Audio", 0, &slot);
    fail += AafSetPhysicalTrackNumber(slot, 1);
    fail += AafGetMobId(master, masterId);
    fail += AafAddMob(f, master);
    if (fail.status != AafStatus::Ok) return fail.status;
    *masterMob = master;
    return AafStatus::Ok;
}

// --- The writers ---------------------------------------------------------------------------------

namespace {

struct SessionInput {
    const std::vector<std::string>& essencePaths;
    const std::vector<std::string>& essenceNames;
    const std::vector<int64_t>& positions;
    const std::vector<int64_t>& lengths;
    const std::vector<int64_t>& sourceOffsets;
    const std::vector<int64_t>& fileLengths;
    const std::vector<int32_t>& tracks;
    const std::vector<std::string>& trackNames;
    int32_t sampleRate;
    const std::vector<int32_t>& fadeIns;
    const std::vector<int32_t>& fadeOuts;
    const std::vector<AafMarker>& markers;
    const std::vector<AafGainCurve>& gainCurves;
    const std::vector<float>& gains;
};

// `sharePaths`: entries with one essence path share one mob pair (the first
// entry's); otherwise every entry gets its own.
bool WriteSession(const std::string& aafPath, const SessionInput& in, bool sharePaths, WriteFault* fault) {
    const size_t n = in.essencePaths.size();
    if (in.essenceNames.size() != n || in.positions.size() != n || in.lengths.size() != n ||
        in.fileLengths.size() != n || in.tracks.size() != n) {
        std::printf("[AAF] clip list FAILED: its vectors differ in length\n");
        return false;
    }

    AafSession session;
    if (!OpenAafFile(aafPath, &session)) return false;
    session.file->writeFault = fault;

    std::vector<AafMobId> masterIds(n);
    std::unordered_map<std::string, size_t> firstEntryOfPath;
    for (size_t i = 0; i < n; ++i) {
        if (sharePaths) {
            auto [known, isNew] = firstEntryOfPath.emplace(in.essencePaths[i], i);
            if (!isNew) {
                masterIds[i] = masterIds[known->second];
                continue;
            }
        }
        AafObject* master = nullptr;
        AafStatus s = CreateAafSourceMobs(session, in.essencePaths[i], in.essenceNames[i], in.fileLengths[i],
                                          in.sampleRate, &master, &masterIds[i]);
        if (s != AafStatus::Ok) {
            std::printf("[AAF] CreateSourceMobs FAILED hr=0x%08lX (%s) essence='%s'\n", Hr(AafStatusResult(s)),
                        AafStatusText(s), in.essencePaths[i].c_str());
            return false;
        }
    }

    AafObject* composition = nullptr;
    AafStatus s = BuildAafComposition(session, masterIds, in.positions, in.lengths, in.sourceOffsets, in.tracks,
                                      in.trackNames, in.sampleRate, in.fadeIns, in.fadeOuts, in.gainCurves,
                                      in.gains, &composition);
    if (s != AafStatus::Ok) {
        std::printf("[AAF] BuildComposition FAILED hr=0x%08lX (%s)\n", Hr(AafStatusResult(s)), AafStatusText(s));
        return false;
    }
    if (!in.markers.empty()) {
        s = AddAafMarkerSlot(session, composition, in.markers, in.sampleRate);
        if (s != AafStatus::Ok) {
            std::printf("[AAF] AddMarkerSlot FAILED hr=0x%08lX (%s)\n", Hr(AafStatusResult(s)), AafStatusText(s));
            return false;
        }
    }

    std::string detail;
    s = AafSaveFile(*session.file, &detail);
    if (s != AafStatus::Ok) {
        LogFailure("Save", AafStatusResult(s));
        if (!detail.empty()) std::printf("[AAF] %s\n", detail.c_str());
        AafCloseFile(*session.file);
        return false;
    }
    s = AafCloseFile(*session.file);
    if (s != AafStatus::Ok) {
        LogFailure("Close", AafStatusResult(s));
        return false;
    }
    return true;
}

}  // namespace

bool ExportAafSession(const std::string& aafPath, const std::vector<std::string>& essencePaths,
                      const std::vector<std::string>& essenceNames, const std::vector<int64_t>& positions,
                      const std::vector<int64_t>& lengths, const std::vector<int64_t>& fileLengths,
                      const std::vector<int32_t>& tracks, const std::vector<std::string>& trackNames,
                      int32_t sampleRate, const std::vector<AafMarker>& markers,
                      const std::vector<AafGainCurve>& gainCurves, const std::vector<float>& gains,
                      WriteFault* fault) {
    // This writer places every clip from the start of its file, without fades.
    const std::vector<int64_t> noOffsets;
    const std::vector<int32_t> noFades;
    return WriteSession(aafPath,
                        SessionInput{essencePaths, essenceNames, positions, lengths, noOffsets, fileLengths, tracks,
                                     trackNames, sampleRate, noFades, noFades, markers, gainCurves, gains},
                        false, fault);
}

bool ExportAafSessionExtended(const std::string& aafPath, const std::vector<std::string>& essencePaths,
                              const std::vector<std::string>& essenceNames, const std::vector<int64_t>& positions,
                              const std::vector<int64_t>& lengths, const std::vector<int64_t>& sourceOffsets,
                              const std::vector<int64_t>& fileLengths, const std::vector<int32_t>& tracks,
                              const std::vector<std::string>& trackNames, int32_t sampleRate,
                              const std::vector<int32_t>& fadeIns, const std::vector<int32_t>& fadeOuts,
                              const std::vector<AafMarker>& markers, const std::vector<AafGainCurve>& gainCurves,
                              const std::vector<float>& gains, WriteFault* fault) {
    return WriteSession(aafPath,
                        SessionInput{essencePaths, essenceNames, positions, lengths, sourceOffsets, fileLengths,
                                     tracks, trackNames, sampleRate, fadeIns, fadeOuts, markers, gainCurves, gains},
                        true, fault);
}
