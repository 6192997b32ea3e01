// region_measure.h — where a region of a sound file starts, peaks and fades.
//
// Index
//   FindPeakTime           seconds from the region start to its loudest frame
//   FindOnsetTime          seconds from the region start to the first 2 ms window at 0.2 of the loudest
//   EstimateFadeInLength   natural fade-in of a region, from its level envelope
//   EstimateFadeOutLength  natural fade-out of the tail of a region
//   CosineSimilarity       similarity of two level profiles, 0..1
//
// A region is (start, length) in seconds from the beginning of the file. Each
// routine opens the file, reads only what it needs and closes it again; none
// keeps state, so every one may run on any thread. None reports an error: a
// file that cannot be read or an empty region gives the fixed answer named at
// each routine.
#pragma once

#include <string>

// Seconds from the region start to the first frame whose summed channel
// magnitude is the largest; 0 for an unreadable file, an empty or silent region.
float FindPeakTime(const std::string& path, float start, float length);

// Seconds from the region start to the first 2 ms window (at least 32 frames)
// whose RMS reaches 0.2 of the loudest window; regions shorter than two
// windows answer with FindPeakTime. 0 for an unreadable file, an empty or
// silent region.
float FindOnsetTime(const std::string& path, float start, float length);

// Fade-in in seconds, from the first min(2 s, length) of the region.
// 0.005 when length <= 0.01; 0.02 for an unreadable file or an empty or
// silent region.
float EstimateFadeInLength(const std::string& path, float start, float length);

// Fade-out in seconds of the span [regionStart + analyseFrom, regionStart +
// regionLength). Only the last 10 s of a longer span are read, so the result
// describes the span's real end. 0.01 when the span is shorter than 0.02 s or
// silent (the file is not opened for a short span); 0.05 for an unreadable
// file or an empty span. The result lies in 0.02..3.0 otherwise.
float EstimateFadeOutLength(const std::string& path, float regionStart, float regionLength,
                            float analyseFrom);

// Cosine of the angle between a[0..count) and b[0..count), clamped to 0..1
// (opposite profiles count as 0). 0 when count < 1 or either run is all but zero.
float CosineSimilarity(const float* a, const float* b, int count);
