// fill_resynthesis.h — audio of any length for Fill and Bed layers from one source file.
//
// Index
//   FillSourceIdentity    what a fill's choices are keyed on: the layer's name, else its file id
//   ResynthesizeFill      trim, then excerpt, loop or grain resynthesis into a voice
//   ProcessResultClip     replay a result's stored chunk plan (resynthesis when it does not fit)
//   FillChunkPlanFits     whether a chunk plan can be replayed over a source of given length
//   LoadFillAudio         the fill loader of the voice builders: keeps the result's plan
//
// A resynthesised fill records the grains it used as chunk records {s, l, x}
// (source start, length, crossfade with the output before it, in frames at the
// engine rate); replaying them gives the same audio sample for sample without
// the analysis. Excerpt and loop fills write no chunks: they follow entirely
// from the source's identity, offset, duration and seed and are rebuilt each
// time. The identity is what the project holds of the source (the layer's
// name, or its file id), never the folder it lies in: the same project file
// sounds the same opened from any folder, after a Save As, on another machine
// and in every run.
//
// The voice's chunk log (`chunks`, `chunkCount`) is either complete or empty:
// a fill of more grains than the log holds leaves it empty, so nobody stores a
// plan that would replay with a silent tail. Splice markers are written as
// fractions of the output length (`spliceTimes` position, `spliceFades`
// length), so they stay in place when the voice is pitched afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/project.h"

struct PlaybackVoice;

// The source identity of a fill result: its name as the project stores it,
// else its file id. Neither changes when the project's folder is copied,
// moved or saved elsewhere; the name also stays the same in every run, where
// a layer stored without an id is given a new random one at each open.
std::string FillSourceIdentity(const RenderResult& result);

// Builds trunc(targetRate * duration) frames of fill audio from the source at
// `path` (loaded from `offset`, at most 600 s, through the processed-clip
// cache) into the voice's samples, stereo flag, sample count, splice markers
// and chunk log. `identity` keys the choices in place of the path
// (FillSourceIdentity); `seed` is the layer's variation seed (the result's
// groupTrack); `loop` tiles the body instead of resynthesising it. False when
// the source cannot be loaded or the length is not positive (nothing is
// allocated then); every choice is reproducible from identity, offset,
// duration, seed and the source's content, wherever the file lies.
bool ResynthesizeFill(const std::string& path, const std::string& identity, float offset, float duration,
                      int targetRate, bool stereo, PlaybackVoice& voice, uint32_t seed, bool loop);

// True when every chunk lies inside a source of `sourceFrames` frames (l >= 1,
// 0 <= x < l, x not beyond the output already laid) and the chunks together
// reach `need` frames of output.
bool FillChunkPlanFits(const std::vector<FillChunk>& plan, int64_t sourceFrames, int64_t need);

// Lays the result's `fillChunks` with equal-power crossfades into
// trunc(targetRate * duration) frames and writes the voice's markers and chunk
// log. The source is the given vectors (`sourceRight` may be null for a mono
// source) or, when `sourceLeft` is null, the result's file loaded from its
// `sourceOffset` with its `stereo` flag. A plan that does not fit the source
// (made for another file or region, or too short for the duration) is
// replaced: the fill is resynthesised and `fillChunks` becomes the new plan
// (empty when it is not complete). False when the source cannot be loaded or
// the length is not positive.
bool ProcessResultClip(RenderResult& result, int targetRate, PlaybackVoice& voice,
                       const std::vector<float>* sourceLeft = nullptr,
                       const std::vector<float>* sourceRight = nullptr, bool sourceStereo = false);

// The loader of a fill result (procMode 1): with no plan, ResynthesizeFill with
// the result's path, identity, offset, duration, stereo flag, groupTrack and fillLoop,
// storing the voice's complete chunk log as the result's `fillChunks`; with a
// plan, ProcessResultClip. Voice builders call this (directly or through
// LoadResultAudio) so that later builds of the layer sound the same.
bool LoadFillAudio(RenderResult& result, int targetRate, PlaybackVoice& voice);
