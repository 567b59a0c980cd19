// What the host must allow before an image is mounted: a mount point that
// is not one already, and a FUSE device this user may open.  No FUSE in
// it, so the tests always build it.
#pragma once

#include <string>

namespace dv::mount {

// Whether `dir` is the mount point of a mounted file system (listed in
// /proc/self/mountinfo, or on another device than its parent).  A mount
// whose server is gone, which no longer answers stat, still counts; a path
// that does not exist does not.
bool is_mount_point(const std::string& dir);

// Why FUSE cannot be used by this process ("" when /dev/fuse opens for
// reading and writing): the device's name and the host's reason.
// `denied` is set when the reason is a permission.
std::string fuse_unusable(bool* denied);

}  // namespace dv::mount
