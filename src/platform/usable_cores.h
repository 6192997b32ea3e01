// usable_cores.h — how many cores this process may run on.
//
// Index
//   UsableCoreCount   the cores of the process's affinity mask, at least 1
//
// std::thread::hardware_concurrency counts every core of the machine, also
// when the process was started on fewer (taskset, a container's cpuset): the
// workers that spread over every core ask here, so a process held to one core
// runs them on one.
#pragma once

// The number of cores in the calling thread's affinity mask; the machine's
// core count when the mask cannot be read; never below 1.
int UsableCoreCount();
