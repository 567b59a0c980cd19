// The file system calls of a mounted image (FUSE 3, high-level interface):
// every one goes through the rbf library on the image the mount holds.
#pragma once

#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/types.h>

#include <ctime>
#include <string>

#include "os9disk.h"

namespace dv::mount {

// What the mount holds for its whole life: the image (its lock with it),
// whether it is read-only, the owner every file is shown with, and the time
// shown for a date no clock can show (the image file's own modification
// time when it was mounted).
struct mount_state {
    rbf::image_ref image;
    std::string name;  // the image's file name, as messages give it
    bool read_only = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::time_t unknown_date = 0;
};

// Bytes of the largest read and write the kernel is asked to send: each
// transfer reads and writes the file's FD once, so fewer, larger ones cost
// less.
inline constexpr unsigned TRANSFER = 1024 * 1024;

// The operations; fuse_main's private data must be a mount_state.
const fuse_operations& operations();

}  // namespace dv::mount
