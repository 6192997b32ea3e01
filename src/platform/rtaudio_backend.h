// rtaudio_backend.h — the sound card through RtAudio: PulseAudio when a
// sound server answers, else ALSA.
//
// Index
//   CreateRtAudioBackend   the back-end (never null; with no system to play
//                          through it lists no devices and every open fails)
//
// Every RtAudioError is caught and turned into a false return, and ALSA's
// own messages on stderr are silenced for the whole process when the first
// back-end is created.
#pragma once

#include <memory>

#include "platform/audio_backend.h"

std::unique_ptr<AudioBackend> CreateRtAudioBackend();
