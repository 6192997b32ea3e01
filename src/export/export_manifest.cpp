// export_manifest.cpp — the hidden names, the manifest and note as JSON, and
// durable small files.
//
// Index
//   Names            ControlName, StagingName, HoldingName, NewExportToken, IsExportToken, TokenOfControlName
//   Json             Quoted (writing); Json / Parser (a small reader for these two records only)
//   Manifest / Note  ManifestJson, ParseManifestJson, NoteJson, ParseNoteJson
//   Files            WriteDurablyAt, ReadSmallFileAt
#include "export/export_manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/file_util.h"

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

std::string ControlName(const std::string& token) { return kExportMarkPrefix + token; }
std::string StagingName(const std::string& token) { return ControlName(token) + ".new"; }
std::string HoldingName(const std::string& token) { return ControlName(token) + ".old"; }

std::string NewExportToken() {
    unsigned char raw[16];
    FillRandomBytes(raw, sizeof raw);
    static const char kDigits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : raw) {
        token.push_back(kDigits[b >> 4]);
        token.push_back(kDigits[b & 15]);
    }
    return token;
}

bool IsExportToken(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::string TokenOfControlName(const std::string& name) {
    const std::string prefix = kExportMarkPrefix;
    if (name.compare(0, prefix.size(), prefix) != 0) return "";
    const std::string token = name.substr(prefix.size());
    return IsExportToken(token) ? token : "";
}

// ---------------------------------------------------------------------------
// Json
// ---------------------------------------------------------------------------

namespace {

// A JSON string. Control characters, quotes and backslashes are escaped;
// every other byte is written as it is, so a name that is not UTF-8 comes
// back byte for byte from the reader below.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
                    out += escape;
                } else {
                    out.push_back(char(c));
                }
        }
    }
    return out + "\"";
}

std::string Bool(bool b) { return b ? "true" : "false"; }

struct Json {
    enum Kind { Null, Boolean, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    std::string text;  // a string, or a number's digits
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json* Member(const std::string& key) const {
        const auto it = members.find(key);
        return it == members.end() ? nullptr : &it->second;
    }
    std::string Str(const std::string& key) const {
        const Json* m = Member(key);
        return m && m->kind == String ? m->text : std::string();
    }
    bool Flag(const std::string& key) const {
        const Json* m = Member(key);
        return m && m->kind == Boolean && m->boolean;
    }
    int64_t Int(const std::string& key, int64_t fallback = 0) const {
        const Json* m = Member(key);
        return m && m->kind == Number ? std::strtoll(m->text.c_str(), nullptr, 10) : fallback;
    }
    uint64_t Unsigned(const std::string& key) const {
        const Json* m = Member(key);
        return m && m->kind == Number ? std::strtoull(m->text.c_str(), nullptr, 10) : 0;
    }
};

// A strict reader of the JSON these records are written in; false on
// anything else (a torn file among them).
struct Parser {
    const std::string& s;
    size_t at = 0;
    int depth = 0;

    void Space() {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\t' || s[at] == '\r')) ++at;
    }
    bool Literal(const char* word) {
        const std::string w = word;
        if (s.compare(at, w.size(), w) != 0) return false;
        at += w.size();
        return true;
    }
    bool StringValue(std::string* out) {
        if (at >= s.size() || s[at] != '"') return false;
        ++at;
        while (at < s.size() && s[at] != '"') {
            const char c = s[at++];
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (at >= s.size()) return false;
            const char e = s[at++];
            switch (e) {
                case '"': out->push_back('"'); break;
                case '\\': out->push_back('\\'); break;
                case '/': out->push_back('/'); break;
                case 'n': out->push_back('\n'); break;
                case 't': out->push_back('\t'); break;
                case 'r': out->push_back('\r'); break;
                case 'b': out->push_back('\b'); break;
                case 'f': out->push_back('\f'); break;
                case 'u': {
                    if (at + 4 > s.size()) return false;
                    const unsigned long code = std::strtoul(s.substr(at, 4).c_str(), nullptr, 16);
                    at += 4;
                    if (code > 0x7f) return false;  // only control characters are written so
                    out->push_back(char(code));
                    break;
                }
                default: return false;
            }
        }
        if (at >= s.size()) return false;
        ++at;
        return true;
    }
    bool Value(Json* v) {
        if (++depth > 16) return false;
        Space();
        bool ok = false;
        if (at >= s.size()) {
            ok = false;
        } else if (s[at] == '"') {
            v->kind = Json::String;
            ok = StringValue(&v->text);
        } else if (s[at] == '{') {
            v->kind = Json::Object;
            ++at;
            Space();
            ok = true;
            if (at < s.size() && s[at] == '}') {
                ++at;
            } else {
                for (;;) {
                    std::string key;
                    Space();
                    Json member;
                    if (!StringValue(&key)) return false;
                    Space();
                    if (at >= s.size() || s[at++] != ':' || !Value(&member)) return false;
                    v->members[key] = std::move(member);
                    Space();
                    if (at < s.size() && s[at] == ',') {
                        ++at;
                        continue;
                    }
                    ok = at < s.size() && s[at++] == '}';
                    break;
                }
            }
        } else if (s[at] == '[') {
            v->kind = Json::Array;
            ++at;
            Space();
            ok = true;
            if (at < s.size() && s[at] == ']') {
                ++at;
            } else {
                for (;;) {
                    Json item;
                    if (!Value(&item)) return false;
                    v->items.push_back(std::move(item));
                    Space();
                    if (at < s.size() && s[at] == ',') {
                        ++at;
                        continue;
                    }
                    ok = at < s.size() && s[at++] == ']';
                    break;
                }
            }
        } else if (Literal("true") || Literal("false")) {
            v->kind = Json::Boolean;
            v->boolean = s[at - 1] == 'e' && s[at - 2] == 'u';
            ok = true;
        } else if (Literal("null")) {
            ok = true;
        } else {
            v->kind = Json::Number;
            while (at < s.size() && (s[at] == '-' || (s[at] >= '0' && s[at] <= '9'))) v->text.push_back(s[at++]);
            ok = !v->text.empty();
        }
        --depth;
        return ok;
    }
};

bool ParseWhole(const std::string& text, Json* root) {
    Parser p{text};
    if (!p.Value(root) || root->kind != Json::Object) return false;
    p.Space();
    return p.at == text.size();
}

std::string List(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + Quoted(items[i]);
    return out + "]";
}

std::vector<std::string> Strings(const Json* list) {
    std::vector<std::string> out;
    if (list && list->kind == Json::Array)
        for (const Json& item : list->items)
            if (item.kind == Json::String) out.push_back(item.text);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Manifest / Note
// ---------------------------------------------------------------------------

std::string ManifestJson(const ExportManifest& m) {
    std::string out = "{\n  \"format\": \"Tessaloom export\",\n  \"version\": 1,\n";
    out += "  \"token\": " + Quoted(m.token) + ",\n";
    out += "  \"exportFolder\": " + Quoted(m.exportFolder) + ",\n";
    out += "  \"started\": " + std::to_string(m.started) + ",\n";
    out += "  \"staging\": " + List(m.staging) + ",\n";
    out += "  \"made\": " + List(m.made) + ",\n";
    out += "  \"committing\": " + Bool(m.committing) + ",\n";
    out += "  \"entries\": [";
    for (size_t i = 0; i < m.entries.size(); ++i) {
        const CommitEntry& e = m.entries[i];
        out += std::string(i ? "," : "") + "\n    {\"folder\": " + Quoted(e.folder) + ", \"name\": " + Quoted(e.name) +
               ", \"stagedIn\": " + Quoted(e.stagedIn) + ", \"stagedPath\": " + Quoted(e.stagedPath) +
               ", \"placed\": " + Bool(e.placed) + ", \"isFolder\": " + Bool(e.isFolder) +
               ", \"stagedInode\": " + std::to_string(e.stagedInode) + ", \"stagedSize\": " +
               std::to_string(e.stagedSize) + ", \"stagedDigest\": " + Quoted(e.stagedDigest) +
               ", \"hasEarlier\": " + Bool(e.hasEarlier) +
               ", \"earlierInode\": " + std::to_string(e.earlierInode) +
               ", \"earlierSize\": " + std::to_string(e.earlierSize) + "}";
    }
    out += m.entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

bool ParseManifestJson(const std::string& text, ExportManifest* m) {
    Json root;
    if (!ParseWhole(text, &root) || root.Str("format") != "Tessaloom export") return false;
    ExportManifest out;
    out.token = root.Str("token");
    if (!IsExportToken(out.token)) return false;
    out.exportFolder = root.Str("exportFolder");
    out.started = root.Int("started");
    out.staging = Strings(root.Member("staging"));
    out.made = Strings(root.Member("made"));
    out.committing = root.Flag("committing");
    if (const Json* entries = root.Member("entries"); entries && entries->kind == Json::Array)
        for (const Json& e : entries->items) {
            if (e.kind != Json::Object) return false;
            CommitEntry c;
            c.folder = e.Str("folder");
            c.name = e.Str("name");
            c.stagedIn = e.Str("stagedIn");
            c.stagedPath = e.Str("stagedPath");
            c.placed = e.Flag("placed");
            c.isFolder = e.Flag("isFolder");
            c.stagedInode = e.Unsigned("stagedInode");
            c.stagedSize = e.Int("stagedSize", -1);
            c.stagedDigest = e.Str("stagedDigest");
            c.hasEarlier = e.Flag("hasEarlier");
            c.earlierInode = e.Unsigned("earlierInode");
            c.earlierSize = e.Int("earlierSize", -1);
            out.entries.push_back(std::move(c));
        }
    *m = std::move(out);
    return true;
}

std::string NoteJson(const ExportNote& note) {
    return "{\"format\": \"Tessaloom export note\", \"version\": 1, \"exportFolder\": " + Quoted(note.exportFolder) +
           ", \"token\": " + Quoted(note.token) + "}\n";
}

bool ParseNoteJson(const std::string& text, ExportNote* note) {
    Json root;
    if (!ParseWhole(text, &root) || root.Str("format") != "Tessaloom export note") return false;
    ExportNote out{root.Str("exportFolder"), root.Str("token")};
    if (!IsExportToken(out.token) || out.exportFolder.empty()) return false;
    *note = std::move(out);
    return true;
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

bool WriteDurablyAt(int folder, const std::string& name, const std::string& bytes) {
    const std::string tmp = NewTemporaryPathFor(name);
    const int fd = ::openat(folder, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const char* at = bytes.data();
    size_t left = bytes.size();
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) {
            at += n;
            left -= size_t(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!ok || ::renameat(folder, tmp.c_str(), folder, name.c_str()) != 0) {
        const int error = ok ? errno : saved;
        ::unlinkat(folder, tmp.c_str(), 0);
        errno = error;
        return false;
    }
    return ::fsync(folder) == 0 || errno == EINVAL;  // some drives cannot sync a folder
}

bool ReadSmallFileAt(int folder, const std::string& name, std::string* out, size_t maxBytes) {
    const int fd = OpenRegularFileAt(folder, name);
    if (fd < 0) return false;
    std::string text;
    char buffer[16384];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buffer, size_t(n));
        if (text.size() > maxBytes) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    if (ok) *out = std::move(text);
    return ok;
}
