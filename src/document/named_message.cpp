// named_message.cpp — names in messages: finding and shortening them.
//
// Index
//   Marks             the quotes and the isolate's marks as UTF-8
//   MessageNames      quotes, and an isolate's matching end
//   ShortenedMessage  the names first, then the message
#include "document/named_message.h"

#include "document/shortened_text.h"

namespace {

// ---------------------------------------------------------------------------
// Marks
// ---------------------------------------------------------------------------

constexpr std::string_view kOpenQuote = "\xE2\x80\x9C";   // “
constexpr std::string_view kCloseQuote = "\xE2\x80\x9D";  // ”
constexpr std::string_view kFirstStrongIsolate = "\xE2\x81\xA8";  // U+2068
constexpr std::string_view kPopIsolate = "\xE2\x81\xA9";          // U+2069
constexpr size_t kMarkBytes = 3;  // each of the four above

// U+2066..U+2068 (LRI, RLI, FSI) open an isolate, U+2069 closes one: 1 or
// -1 for the mark at `i`, 0 for anything else.
int IsolateStep(std::string_view text, size_t i) {
    if (i + kMarkBytes > text.size() || text[i] != '\xE2' || text[i + 1] != '\x81') return 0;
    const unsigned char last = static_cast<unsigned char>(text[i + 2]);
    if (last >= 0xA6 && last <= 0xA8) return 1;
    return last == 0xA9 ? -1 : 0;
}

// Where the isolate opened at `open` ends (its U+2069), npos when it is
// never closed.
size_t IsolateEnd(std::string_view text, size_t open) {
    int depth = 0;
    for (size_t i = open; i < text.size(); ++i) {
        const int step = IsolateStep(text, i);
        if (step == 0) continue;
        depth += step;
        if (depth == 0) return i;
        i += kMarkBytes - 1;
    }
    return std::string_view::npos;
}

std::string Wrapped(std::string_view name) {
    std::string out(kFirstStrongIsolate);
    out.append(name);
    out.append(kPopIsolate);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// MessageNames
// ---------------------------------------------------------------------------

std::vector<MessageName> MessageNames(std::string_view message) {
    std::vector<MessageName> names;
    size_t from = 0;
    while (true) {
        const size_t open = message.find(kOpenQuote, from);
        if (open == std::string_view::npos) break;
        const size_t start = open + kOpenQuote.size();
        if (message.substr(start, kMarkBytes) == kFirstStrongIsolate) {
            const size_t end = IsolateEnd(message, start);
            if (end != std::string_view::npos && message.substr(end + kMarkBytes, kCloseQuote.size()) == kCloseQuote) {
                names.push_back({start + kMarkBytes, end, true});
                from = end + kMarkBytes + kCloseQuote.size();
                continue;
            }
        }
        const size_t close = message.find(kCloseQuote, start);
        if (close == std::string_view::npos) break;
        names.push_back({start, close, false});
        from = close + kCloseQuote.size();
    }
    return names;
}

// ---------------------------------------------------------------------------
// ShortenedMessage
// ---------------------------------------------------------------------------

namespace {

// The message with each name replaced by `shown`, every name that needs its
// own direction in an isolate.
struct NamedText {
    std::string_view text;
    std::vector<MessageName> names;
    std::vector<bool> isolate;       // per name, in the message drawn
    std::vector<std::string> shown;  // per name

    std::string Compose() const {
        std::string out;
        out.reserve(text.size() + 8 * names.size());
        size_t at = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            const MessageName& n = names[i];
            const size_t begin = n.isolated ? n.begin - kMarkBytes : n.begin;
            out.append(text.substr(at, begin - at));
            out += isolate[i] ? Wrapped(shown[i]) : shown[i];
            at = n.isolated ? n.end + kMarkBytes : n.end;
        }
        out.append(text.substr(at));
        return out;
    }
};

std::string Shortened(NamedText& named, const std::function<bool(const std::string&)>& fits) {
    for (const MessageName& n : named.names) {
        const std::string_view name = named.text.substr(n.begin, n.end - n.begin);
        named.shown.emplace_back(name);
        named.isolate.push_back(n.isolated || HasRightToLeft(name));
    }
    const std::string whole = named.Compose();
    if (fits(whole)) return whole;
    static const std::string kEllipsis = "\xE2\x80\xA6";
    for (size_t i = 0; i < named.names.size(); ++i) {
        const std::string name = named.shown[i];
        const std::string cut = ShortenedText(name, [&](const std::string& candidate) {
            named.shown[i] = candidate;
            return fits(named.Compose());
        });
        named.shown[i] = cut.empty() ? kEllipsis : cut;
        if (!cut.empty()) return named.Compose();
    }
    // Not even with every name down to "…": the message's own end goes.
    return ShortenedText(named.Compose(), fits);
}

}  // namespace

std::string ShortenedMessage(std::string_view message, const std::function<bool(const std::string&)>& fits) {
    NamedText named{message, MessageNames(message), {}, {}};
    return Shortened(named, fits);
}

std::string ShortenedMessage(std::string_view before, std::string_view name, std::string_view after,
                             const std::function<bool(const std::string&)>& fits) {
    std::string text;
    text.reserve(before.size() + name.size() + after.size());
    text.append(before);
    text.append(name);
    text.append(after);
    NamedText named{text, {{before.size(), before.size() + name.size(), false}}, {}, {}};
    return Shortened(named, fits);
}
