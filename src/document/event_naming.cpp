// event_naming.cpp — display names and shape names of events.
#include "document/event_naming.h"

#include "document/event.h"
#include "document/project.h"
#include "document/shortened_text.h"
#include "document/text_util.h"

namespace {

constexpr size_t kDisplayNameMax = 62;  // characters (code points), the "…" included

}  // namespace

std::string EventShapeName(const Project& project, const Event& event) {
    if (event.userShapeIdx >= 0 && size_t(event.userShapeIdx) < project.userShapes.size())
        return std::string(TextFieldView(project.userShapes[size_t(event.userShapeIdx)].name));
    return EventShapeName(event.shape);
}

std::string EventDisplayName(const Project& project, const Event& event) {
    std::string label;
    int words = 0;
    WalkKeywordTokens(TextFieldView(event.keywords), [&](std::string_view token) {
        if (!label.empty()) label += ' ';
        label += token;
        char& first = label[label.size() - token.size()];
        if (first >= 'a' && first <= 'z') first = char(first - 'a' + 'A');
        return ++words < 3 && CodePointCount(label) <= kDisplayNameMax;
    });
    // Words past the limit are cut between whole characters, and the "…"
    // says so: a Hebrew or Arabic name keeps as many letters as a Latin one.
    label = ShortenedText(label, [](const std::string& s) { return CodePointCount(s) <= kDisplayNameMax; });
    return label.empty() ? EventShapeName(project, event) : label;
}
