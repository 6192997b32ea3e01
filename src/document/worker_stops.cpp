// worker_stops.cpp — the one registry of self-starting workers' stop routines.
#include "document/worker_stops.h"

BackgroundWorkerStops gBackgroundWorkerStops;
