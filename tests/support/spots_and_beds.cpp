// spots_and_beds.cpp — see spots_and_beds.h.
#include "support/spots_and_beds.h"

#include "document/event.h"
#include "support/audio_fixtures.h"

bool AddSpotsAndBeds(Project& project, const std::string& bedFile, int voices, std::vector<int>& beds) {
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.seconds = 1.0;
    if (!WriteTestAudio(bedFile, spec)) return false;
    const int spots = voices / 2;
    project.totalDuration = float(spots) * 0.1f + 10.0f;
    for (int e = 0; e < spots; ++e) {
        const int index = AddEvent(project, 0.1f * float(e), kShapeSpot, 0.5f);
        for (int k = 0; k < 2; ++k) {
            RenderResult r;
            r.placeholder = true;
            r.eventIdx = index;
            r.startTime = 0.1f * float(e) + 0.01f * float(k);
            r.duration = 0.05f;
            r.group = (e + k) % 3;
            r.fadeIn = r.fadeOut = 0.01f;
            project.results.push_back(r);
        }
    }
    for (float at : {2.0f, float(spots) * 0.05f}) {
        const int bed = AddEvent(project, at, kShapeBed, 0.5f);
        Event& e = project.events[size_t(bed)];
        e.duration = 3.0f;
        e.pinnedFiles = {bedFile};
        e.bedLayerWeight = {0.5f};
        beds.push_back(bed);
    }
    project.rendered = true;
    return true;
}
