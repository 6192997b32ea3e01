// track_assignment.cpp — first-fit packing of layers onto group tracks.
//
// Index
//   PackResults        the results as packing items, packed in either order
//                      (track_packing.h), every decision taken back by TakePacking
//   AssignTracks / PackResultsAsPassEnd
//   TakePacking / NumberTrack
//   CountUsedTracks
#include "render/track_assignment.h"

#include <algorithm>

#include "document/event.h"
#include "document/project.h"
#include "render/track_packing.h"

namespace {

enum class PackOrder { PassEnd, Assignment };

void PackResults(Project& project, PackOrder order, PackScratch& scratch) {
    std::vector<PackItem> items;
    items.reserve(project.results.size());
    for (const RenderResult& r : project.results) items.push_back(PackItemOf(project, r));
    int32_t counts[3], used[3];
    for (int g = 0; g < 3; ++g) counts[g] = project.groups[g].trackCount;
    if (order == PackOrder::PassEnd) {
        PackAsPassEnd(items, project.budgetMode, counts, used, scratch);
    } else {
        PackAsAssignment(items, project.budgetMode, counts, scratch);
    }
    for (size_t i = 0; i < items.size(); ++i) TakePacking(project.results[i], items[i].groupTrack, items[i].budgetMuted);
    if (order == PackOrder::PassEnd) {
        for (int g = 0; g < 3; ++g) project.groups[g].usedTracks = used[g];
    } else {
        CountUsedTracks(project.groups, project.results);
    }
    // The global numbers follow from every group's used tracks.
    for (RenderResult& r : project.results) NumberTrack(project.groups, r);
}

}  // namespace

void AssignTracks(Project& project) {
    PackScratch scratch;
    AssignTracks(project, scratch);
}

void AssignTracks(Project& project, PackScratch& scratch) { PackResults(project, PackOrder::Assignment, scratch); }

void PackResultsAsPassEnd(Project& project, PackScratch& scratch) { PackResults(project, PackOrder::PassEnd, scratch); }

void TakePacking(RenderResult& r, int32_t groupTrack, bool budgetMuted) {
    if (r.muted && r.muteReasons == 0) SetUserMuted(r, true);
    if (r.group < 0 || r.group > 2) {
        groupTrack = -1;
        budgetMuted = false;
    }
    r.groupTrack = groupTrack;
    SetMuteReason(r, kMuteBudget, budgetMuted);
}

void NumberTrack(const MixGroup* groups, RenderResult& r) {
    r.track = r.groupTrack < 0 || r.group < 0 || r.group > 2 ? -1 : GroupFirstTrack(groups, r.group) + r.groupTrack;
}

void CountUsedTracks(MixGroup* groups, const std::vector<RenderResult>& results) {
    int used[3] = {0, 0, 0};
    for (const RenderResult& r : results) {
        if (r.group < 0 || r.group > 2) continue;
        used[r.group] = std::max(used[r.group], r.groupTrack + 1);
    }
    for (int g = 0; g < 3; ++g) groups[g].usedTracks = used[g];
}
