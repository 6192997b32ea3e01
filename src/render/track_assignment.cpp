// track_assignment.cpp — first-fit packing of layers onto group tracks.
//
// Index
//   AssignTracks       the results as packing items, PackAsAssignment
//                      (track_packing.h), then the global numbers
//   CountUsedTracks
#include "render/track_assignment.h"

#include <algorithm>

#include "document/event.h"
#include "document/project.h"
#include "render/track_packing.h"

void AssignTracks(Project& project) {
    PackScratch scratch;
    AssignTracks(project, scratch);
}

void AssignTracks(Project& project, PackScratch& scratch) {
    std::vector<PackItem> items;
    items.reserve(project.results.size());
    for (RenderResult& r : project.results) {
        if (r.group >= 0 && r.group <= 2) {
            // A bare `muted` without a reason was set by the designer; lifting
            // the budget's reason must not silently clear it.
            if (r.muted && r.muteReasons == 0) SetUserMuted(r, true);
            SetMuteReason(r, kMuteBudget, false);
        }
        items.push_back(PackItemOf(project, r));
    }
    int32_t counts[3];
    for (int g = 0; g < 3; ++g) counts[g] = project.groups[g].trackCount;
    PackAsAssignment(items, project.budgetMode, counts, scratch);
    for (size_t i = 0; i < items.size(); ++i) {
        RenderResult& r = project.results[i];
        if (r.group < 0 || r.group > 2) continue;
        r.groupTrack = items[i].groupTrack;
        SetMuteReason(r, kMuteBudget, items[i].budgetMuted);
    }

    CountUsedTracks(project.groups, project.results);

    int firstTrack[3];
    for (int g = 0; g < 3; ++g) firstTrack[g] = GroupFirstTrack(project.groups, g);
    for (RenderResult& r : project.results) {
        if (r.groupTrack < 0) {
            r.track = -1;
        } else if (r.group >= 0 && r.group <= 2) {
            r.track = r.groupTrack + firstTrack[r.group];
        }
    }
}

void CountUsedTracks(MixGroup* groups, const std::vector<RenderResult>& results) {
    int used[3] = {0, 0, 0};
    for (const RenderResult& r : results) {
        if (r.group < 0 || r.group > 2) continue;
        used[r.group] = std::max(used[r.group], r.groupTrack + 1);
    }
    for (int g = 0; g < 3; ++g) groups[g].usedTracks = used[g];
}
