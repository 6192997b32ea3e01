// thread_fft.h — KISS FFT real-transform configurations, one per thread and size.
//
// Index
//   ThreadRealFft   the calling thread's forward configuration of a size, built on first use
//
// kiss_fftr works in scratch space inside its configuration while it
// transforms, so one configuration cannot serve two threads at once; and
// building one (its twiddle tables) costs about as much as transforming a
// handful of blocks, too much to repeat for every short file of a library.
// Each thread therefore keeps its own configuration of each size it asks
// for, built the first time and freed when the thread ends: a scan worker
// builds one for all the files it analyses.
#pragma once

#include <kiss_fftr.h>

// The calling thread's forward configuration of `size` points (even, at
// least 2), or null when it cannot be built; a later call tries again.
// Valid until the thread ends; never hand it to another thread.
kiss_fftr_cfg ThreadRealFft(int size);
