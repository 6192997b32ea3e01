// audio_engine.cpp — the process-wide engine.
//
// Index
//   gAudioEngine          constructed by a static initialiser before the program starts
#include "playback/audio_engine.h"

AudioEngine gAudioEngine;
