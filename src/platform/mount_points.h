// mount_points.h — which mounted drive holds a folder, for messages.
//
// Index
//   MountPointOf     the mount point of the drive a descriptor's file lies on
//
// A full disk is the drive's, not the folder's: the message names where the
// drive is mounted, so the designer knows which one to clear.
#pragma once

#include <string>

// The mount point (as /proc/self/mountinfo gives it, its escapes undone) of
// the file system that the file or folder open as `fd` lies on; "" when it
// cannot be told.
std::string MountPointOf(int fd);
