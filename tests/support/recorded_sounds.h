// recorded_sounds.h — recorded sounds at several rates, channel counts and
// sample formats: the recordings of a sound theme a Debian package ships
// (scripts/setup installs it), converted by sox at run time.
//
// Index
//   RecordedSound       one file of the set: where it is, its rate and channels
//   MakeRecordedSounds  the set, written into a folder
//   OtherRecording      another recording written over a file (other content, other length)
#pragma once

#include <string>
#include <vector>

struct RecordedSound {
    std::string path;
    int rate = 0;
    int channels = 0;
    double seconds = 0;
};

// Ten files in `folder` (made with its parents): each recording converted to
// its own rate (22.05 to 96 kHz), mono or stereo, 16-bit, 24-bit or float
// WAV, looped and cut to `seconds`. Each call's set is at a level of its own
// (no two sets of a process share content). Empty when a recording or sox
// is not there (the test then fails on the empty set).
std::vector<RecordedSound> MakeRecordedSounds(const std::string& folder, double seconds = 2.0);

// Writes, over `path`, a recording that no file of the set holds, at
// `rate` with `channels`, `seconds` long; false when sox fails.
bool OtherRecording(const std::string& path, int rate, int channels, double seconds);
