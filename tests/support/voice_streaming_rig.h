// voice_streaming_rig.h — running the streaming window's owner step the way
// the frame loop does, until the workers have caught up with the playhead.
//
// Index
//   VoicesMissingInWindow   evicted voices inside the window that could be prepared
//   LoadedVoiceCount        voices whose samples are loaded now
//   SettleVoiceStreaming    the owner's step again and again until nothing is missing
#pragma once

#include <functional>
#include <vector>

#include "operations/voice_streaming.h"

int VoicesMissingInWindow(const AudioEngine& engine, int resultCount);
int LoadedVoiceCount(const AudioEngine& engine);

// PrepareVoicesAtPlayhead (as a frame would) until no voice inside the
// window lacks samples and the workers are idle; `eachStep` (may be null)
// runs after every step. False when that has not happened within 60 s.
bool SettleVoiceStreaming(VoiceStreamer& streamer, AudioEngine& engine, const std::vector<RenderResult>& results,
                          const std::function<void()>& eachStep = nullptr);
