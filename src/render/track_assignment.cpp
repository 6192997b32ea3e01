// track_assignment.cpp — first-fit packing of layers onto group tracks.
//
// Index
//   Helpers            the results as packing items (track_packing.h), the
//                      assignment's packing with its order kept for repacks (track_repack.h)
//   WritePacking       every decision taken back, the used tracks, the numbers
//   AssignTracks / PackResultsAsPassEnd
//   KeepTrackMemo      the record of tracks already as the assignment leaves them
//   TakePacking / NumberTrack
//   CountUsedTracks
#include "render/track_assignment.h"

#include <algorithm>

#include "document/event.h"
#include "document/project.h"
#include "render/track_packing.h"
#include "render/track_repack.h"

namespace {

std::vector<PackItem> ItemsOf(const Project& project) {
    std::vector<PackItem> items;
    items.reserve(project.results.size());
    for (const RenderResult& r : project.results) items.push_back(PackItemOf(project, r));
    return items;
}

// The assignment's packing, group by group, keeping the order each group
// placed its layers in (by start, without a budget) for the record a later
// repack starts from.
void PackForAssignment(const Project& project, std::vector<PackItem>& items, std::vector<int> (&orders)[3],
                       PackScratch& scratch) {
    for (int g = 0; g < 3; ++g) {
        scratch.byStart.clear();
        PackGroupAsAssignment(items, g, project.budgetMode, project.groups[g].trackCount, scratch);
        if (!project.budgetMode) orders[g].swap(scratch.byStart);
    }
}

void RecordOrders(Project& project, const std::vector<int> (&orders)[3]) {
    const std::vector<int>* const lists[3] = {&orders[0], &orders[1], &orders[2]};
    RecordTrackMemo(project, lists);
}

}  // namespace

void WritePacking(Project& project, const std::vector<PackItem>& items) {
    for (size_t i = 0; i < items.size() && i < project.results.size(); ++i)
        TakePacking(project.results[i], items[i].groupTrack, items[i].budgetMuted);
    // The global numbers follow from every group's used tracks.
    CountUsedTracks(project.groups, project.results);
    for (RenderResult& r : project.results) NumberTrack(project.groups, r);
}

void AssignTracks(Project& project) {
    PackScratch scratch;
    AssignTracks(project, scratch);
}

void AssignTracks(Project& project, PackScratch& scratch) {
    std::vector<PackItem> items = ItemsOf(project);
    std::vector<int> orders[3];
    PackForAssignment(project, items, orders, scratch);
    WritePacking(project, items);
    RecordOrders(project, orders);
}

void PackResultsAsPassEnd(Project& project, PackScratch& scratch) {
    std::vector<PackItem> items = ItemsOf(project);
    int32_t counts[3], used[3];
    for (int g = 0; g < 3; ++g) counts[g] = project.groups[g].trackCount;
    PackAsPassEnd(items, project.budgetMode, counts, used, scratch);
    WritePacking(project, items);
    project.trackMemo.memo.reset();
}

bool KeepTrackMemo(Project& project) {
    const TrackMemo* memo = project.trackMemo.memo.get();
    if (memo && memo->revision == project.resultsRevision && memo->resultCount == project.results.size() &&
        memo->results == project.results.data())
        return memo->usable;
    if (project.budgetMode) return false;
    // The assignment made again on the side: its record is kept only when it
    // places every layer where the layer is.
    PackScratch scratch;
    std::vector<PackItem> items = ItemsOf(project);
    std::vector<int> orders[3];
    PackForAssignment(project, items, orders, scratch);
    int used[3] = {0, 0, 0};
    for (size_t i = 0; i < items.size(); ++i) {
        const RenderResult& r = project.results[i];
        const bool inGroups = r.group >= 0 && r.group <= 2;
        const int32_t track = inGroups ? items[i].groupTrack : -1;
        const bool budgetMuted = inGroups && items[i].budgetMuted;
        // A bare mute is the designer's once an assignment has taken it (TakePacking).
        if (r.groupTrack != track || ((r.muteReasons & kMuteBudget) != 0) != budgetMuted ||
            (r.muted && r.muteReasons == 0))
            return false;
        if (inGroups) used[r.group] = std::max(used[r.group], track + 1);
    }
    // The global numbers too, from the counts every rebuild takes from the
    // tracks (CountUsedTracks).
    MixGroup groups[3] = {project.groups[0], project.groups[1], project.groups[2]};
    for (int g = 0; g < 3; ++g) groups[g].usedTracks = used[g];
    for (const RenderResult& r : project.results)
        if (GlobalTrack(groups, r.group, r.groupTrack) != r.track) return false;
    // Every layer is where the packing puts it: written back, only the
    // groups' used tracks can change.
    WritePacking(project, items);
    RecordOrders(project, orders);
    return project.trackMemo.memo->usable;
}

void TakePacking(RenderResult& r, int32_t groupTrack, bool budgetMuted) {
    if (r.muted && r.muteReasons == 0) SetUserMuted(r, true);
    if (r.group < 0 || r.group > 2) {
        groupTrack = -1;
        budgetMuted = false;
    }
    r.groupTrack = groupTrack;
    SetMuteReason(r, kMuteBudget, budgetMuted);
}

int32_t GlobalTrack(const MixGroup* groups, int32_t group, int32_t groupTrack) {
    return groupTrack < 0 || group < 0 || group > 2 ? -1 : GroupFirstTrack(groups, group) + groupTrack;
}

void NumberTrack(const MixGroup* groups, RenderResult& r) { r.track = GlobalTrack(groups, r.group, r.groupTrack); }

void CountUsedTracks(MixGroup* groups, const std::vector<RenderResult>& results) {
    int used[3] = {0, 0, 0};
    for (const RenderResult& r : results) {
        if (r.group < 0 || r.group > 2) continue;
        used[r.group] = std::max(used[r.group], r.groupTrack + 1);
    }
    for (int g = 0; g < 3; ++g) groups[g].usedTracks = used[g];
}
