// post_passes.h — the passes that run over all layers after a render.
//
// Index
//   ResultTimesUsable    guard: a layer whose times are not finite or lie more
//                        than a day outside the project is skipped by every pass
//   ProtectSilencePass   cut layers that would ring on into a gap between events
//   DeconflictPass       stagger layers of one event that start together, and
//                        give layers that do not own a crowded band a gain curve
//   DensityPass          lower non-hero layers where many layers play at once
//   DestructiveEqPass    per-band cuts of layers that are drowned by their neighbours
//   BandCrowdingAt       how crowded one band is at one time (timeline heatmap)
//   BandCrowdingColumns  the same for all five bands at many ascending times at once
//
// Order on every render: ProtectSilencePass (optional), DeconflictPass,
// DensityPass, DestructiveEqPass (optional), then the track assignment.
#pragma once

struct Project;
struct RenderResult;

bool ResultTimesUsable(const Project& project, const RenderResult& result);

// Cuts layers that ring on into a gap between events. A mute of the budget
// alone does not exempt a layer (the track assignment decides it again);
// Bed layers keep their crossfade tail.
void ProtectSilencePass(Project& project);
void DeconflictPass(Project& project);
void DensityPass(Project& project);
void DestructiveEqPass(Project& project);

// Crowding >= 0 of band 0..4 at time t: sum / largest - 1 over the unmuted
// layers playing there (0 with fewer than two, or a largest level below 0.01).
// `raw` ignores the offsets and gain curves of the passes. Allocates nothing.
float BandCrowdingAt(const Project& project, float t, int band, bool raw);

// out[i * 5 + band] == BandCrowdingAt(project, times[i], band, raw) for every
// i < count and band 0..4, bit for bit, in one sweep over the layers. Times
// should ascend (a heatmap row); other orders work, only slower.
void BandCrowdingColumns(const Project& project, const float* times, int count, bool raw,
                         float* out);
