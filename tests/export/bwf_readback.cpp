#include "export/bwf_readback.h"

#include <sndfile.h>

#include <csignal>
#include <cstring>
#include <sstream>

#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

uint32_t Le32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

std::string FieldText(const std::string& b, size_t at, size_t size) {
    const std::string field = b.substr(at, size);
    return field.substr(0, field.find('\0'));
}

}  // namespace

BwfReadBack ReadBwfFile(const std::string& path) {
    BwfReadBack r;
    const std::string bytes = ReadWholeFile(path);
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return r;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = Le32(bytes, at + 4);
        const size_t body = at + 8;
        if (body + size > bytes.size()) break;
        r.chunks.push_back(id);
        if (id == "fmt " && size >= 16) {
            r.bitsPerSample = int(uint8_t(bytes[body + 14])) | int(uint8_t(bytes[body + 15])) << 8;
        } else if (id == "bext" && size >= 346) {
            r.hasBext = true;
            r.description = FieldText(bytes, body, 256);
            r.descriptionBytes = r.description.size();
            r.originator = FieldText(bytes, body + 256, 32);
            r.timeReferenceLow = Le32(bytes, body + 338);
            r.timeReferenceHigh = Le32(bytes, body + 342);
            r.bextVersion = int(uint8_t(bytes[body + 346])) | int(uint8_t(bytes[body + 347])) << 8;
            r.bextSize = size;
            if (size > 602) r.codingHistory = bytes.substr(body + 602, size - 602);
        }
        at = body + size + (size & 1);
    }
    SF_INFO info;
    std::memset(&info, 0, sizeof(info));
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return r;
    SF_BROADCAST_INFO bext;
    std::memset(&bext, 0, sizeof(bext));
    if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE) {
        r.sndfileBextVersion = bext.version;
        r.sndfileCodingHistorySize = bext.coding_history_size;
    }
    r.channels = info.channels;
    r.sampleRate = info.samplerate;
    r.frames = info.frames;
    r.samples.resize(size_t(info.frames) * size_t(info.channels));
    const sf_count_t got = sf_readf_float(file, r.samples.data(), info.frames);
    r.codes.resize(r.samples.size());
    sf_seek(file, 0, SEEK_SET);
    const sf_count_t gotCodes = sf_readf_int(file, r.codes.data(), info.frames);
    for (int32_t& c : r.codes) c >>= 8;  // libsndfile returns 24-bit codes in the top bits
    sf_close(file);
    r.ok = got == info.frames && gotCodes == info.frames;
    return r;
}

ProbeReadBack ProbeWav(const std::string& path) {
    ProbeReadBack p;
    const CommandResult run = RunCommand({"ffprobe", "-v", "error", "-show_entries",
                                          "stream=sample_rate,channels,bits_per_sample:format_tags=time_reference,coding_history,encoded_by",
                                          "-of", "default=noprint_wrappers=1", path});
    if (run.exitCode != 0) {
        p.message = "ffprobe failed: " + run.err;
        return p;
    }
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "sample_rate") p.sampleRate = std::stoi(value);
        if (key == "channels") p.channels = std::stoi(value);
        if (key == "bits_per_sample") p.bits = std::stoi(value);
        if (key == "TAG:time_reference") p.timeReference = std::stoll(value);
        if (key == "TAG:coding_history") p.hasCodingHistory = !value.empty();
        if (key == "TAG:encoded_by") p.originator = value;  // ffprobe's name for the bext originator
    }
    p.ok = true;
    return p;
}

std::vector<float> ChannelOf(const std::vector<float>& interleaved, int channels, int channel) {
    std::vector<float> out;
    for (size_t i = size_t(channel); i < interleaved.size(); i += size_t(channels)) out.push_back(interleaved[i]);
    return out;
}

ScopedFileSizeLimit::ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
}
