// processor_count.h — how many processors the program may use.
//
// Index
//   ProcessorCount   the processors online when first asked (at least 1)
//
// The C++ library answers std::thread::hardware_concurrency() by reading
// /sys/devices/system/cpu/online on every call, some microseconds each; the
// render asks for every layer it scores. The answer is read once per process
// and kept: a processor brought online later is not used until the program
// starts again.
#pragma once

int ProcessorCount();
