// allocation_counter.h — counts the heap allocations one thread makes.
//
// This test executable replaces the global operator new and delete (in
// allocation_counter.cpp) with versions that count while the calling thread
// has counting switched on; nothing else changes.
#pragma once

#include <cstdint>

void StartCountingAllocations();
// Stops counting on this thread and returns how many allocations it saw.
int64_t StopCountingAllocations();
