// sound_file_open.h — opening sound files for reading from any thread.
//
// libsndfile records the reason of a failed open in process-wide state, so
// two threads that fail to open files at the same moment race on it (the
// scan's analysis workers, the busy task and the recipe preview all open
// files). Opens go through this one gate; reads need no lock.
#pragma once

#include <sndfile.h>

#include <string>

SNDFILE* OpenSoundFileForReading(const std::string& path, SF_INFO* info);

// True when `path` is a regular file that opens as sound with at least one
// frame and one channel: what a file must be before a sound reference may
// point at it.
bool FileOpensAsSound(const std::string& path);
