// level_memo.h — what the last full level pass worked out, kept so that an
// edit of a few voices can redo only their part of it.
//
// Index
//   HeadroomSpan / LevelSum / LevelUnits / LevelOfUnits   a voice's level over its span, in exact units
//   HeadroomCells / HeadroomGrid   the grid moments and the sum of levels playing at each
//   BuildHeadroomGrid / HeadroomCellsOf / AddToHeadroomGrid / LoudestOfGrid
//   VoiceLevelMemo        per voice: the pass's inputs and results; per event: its voices
//
// The loudest moment is a sum over every voice playing at once. Summed in
// floating point its last bits would depend on the order of the terms, and a
// pass that adds and removes a few voices could never give the bits of a pass
// over all of them. The levels are therefore summed as exact integers (units
// of 2^-83): any order, and any number of additions and removals, gives the
// one sum, rounded to a double only when it is read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// A voice's level playing over [start, end).
struct HeadroomSpan {
    double start = 0;
    double end = 0;
    double level = 0;
};

// Exact sums of levels. A level is held to its 53 bits from 2^-30 up, and
// levels above 2^16 (no real voice comes near) count as 2^16, so that a sum
// over millions of voices stays inside the 127 bits.
using LevelSum = __int128;
LevelSum LevelUnits(double level);
double LevelOfUnits(LevelSum units);

// A span plays at the grid indices [first, past) (grid time origin + k step).
struct HeadroomCells {
    int64_t first = 0;
    int64_t past = 0;
};

// The sums at the grid moments where a span starts (the sum only grows
// there, so the loudest moment is one of them), as a tree that adds an
// amount over a run of moments and knows the largest sum, each in log time.
struct HeadroomGrid {
    double origin = 0;  // the earliest start of a finite span
    double step = 0.02;
    int64_t atOrigin = 0;  // finite spans that start exactly at the origin
    int64_t finite = 0;    // spans with a finite start, end and level
    std::vector<int64_t> points;         // grid indices of the moments, ascending
    std::vector<LevelSum> top, pending;  // the tree over `points`
};

// The grid of `spans` with each span's cells (parallel to spans; a span that
// is not finite gets first == past) and its exact amount. `quiet` spans add
// nothing and leave the origin alone, but their starts are moments too (a
// muted voice that sounds again later adds itself there).
HeadroomGrid BuildHeadroomGrid(const std::vector<HeadroomSpan>& spans, double step,
                               std::vector<HeadroomCells>* cells = nullptr, std::vector<LevelSum>* amounts = nullptr,
                               const std::vector<HeadroomSpan>* quiet = nullptr);
// The cells of [start, end) on the grid.
HeadroomCells HeadroomCellsOf(const HeadroomGrid& grid, double start, double end);
// Adds `amount` at every moment in cells. False when cells start at no
// moment of the grid (the tree would have to grow a moment).
bool AddToHeadroomGrid(HeadroomGrid& grid, const HeadroomCells& cells, LevelSum amount);
// The largest sum at a moment (0 without moments).
double LoudestOfGrid(const HeadroomGrid& grid);

// What the last full level pass took and gave, per voice (parallel to the
// voices while `valid`), and what it was taken from. The pass that owns the
// voices writes it; it is read by the next pass on that thread only.
struct VoiceLevelMemo {
    bool valid = false;
    // What the voices, the document and the faders were when it was made:
    // the next pass may build on it only while all of them still are.
    uint64_t inputEdits = 0;
    bool documentKnown = false;
    uint32_t resultsRevision = 0;
    size_t resultCount = 0;
    std::array<float, 3> groupGain{};
    float masterGain = 1.0f;

    std::vector<double> input;  // the gain given to the pass
    std::vector<double> scale;  // its level scale
    std::vector<double> level;  // after the event's equal power, before the headroom cut
    std::vector<int32_t> event;
    std::vector<uint8_t> muted;
    std::vector<uint8_t> finite;  // the span counts for the grid's origin
    std::vector<double> start;
    std::vector<HeadroomCells> cells;
    std::vector<LevelSum> amount;  // 0 when muted or not finite
    std::vector<uint32_t> eventFirst;   // event e's voices: eventVoices[eventFirst[e], eventFirst[e + 1])
    std::vector<uint32_t> eventVoices;  // ascending within an event
    int64_t audible = 0;   // unmuted voices: without any, no cut is taken
    int64_t levelled = 0;  // voices whose levels the last pass worked out
    double cut = 1.0;
    HeadroomGrid grid;
};
