// The one layer through which the library reaches an image's bytes: a host
// file read and written with pread / pwrite, or a buffer in memory.  No
// mapping: a file that shrinks while open reads short instead of faulting,
// and a full host disk fails a write instead of killing the process.
//
// A host file keeps the blocks this process last read in a small cache:
// every write of the process goes through here and updates them, so the
// paths of one image see each other's writes; another process's writes to
// the same file meanwhile are not seen (writers take turns on an image).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os9disk.h"

namespace rbf {

struct os9_image {
    bool memory = false;
    std::vector<u_char> mem;   // memory images
    int fd = -1;               // host file images
    bool rw = false;
    std::pair<std::uint64_t, std::uint64_t> key{};  // device and inode
    struct cached_block {
        std::vector<u_char> bytes;  // the block as far as the file holds it
        std::uint64_t used = 0;     // when it was last used, for eviction
    };
    mutable std::unordered_map<std::uint64_t, cached_block> blocks;  // by block number
    mutable std::uint64_t clock = 0;
    // Bumped by every write, so that a path's read-ahead knows it is stale.
    std::uint64_t generation = 0;
    // Writes still taken before every write fails (memory images; negative:
    // no limit).
    long writes_left = -1;

    os9_image() = default;
    os9_image(const os9_image&) = delete;
    os9_image& operator=(const os9_image&) = delete;
    ~os9_image();
};

// Takes flock's shared or exclusive lock on the open file, waiting for a
// busy one up to DV_LOCK_TIMEOUT seconds (default 10; 0: no wait): 253 when
// it stays busy.  A file system without locks is used unlocked.
error_code lock_file(int fd, bool exclusive);

// Lets go of the image's lock while the caller holds no path on it (a
// question to the user, another program run meanwhile), and takes it again:
// the cache is dropped, since others may have written meanwhile.  253 when
// it stays busy.
void image_unlock(os9_image& img);
error_code image_relock(os9_image& img);

// Bytes the image holds now.
std::uint64_t image_size(const os9_image& img);

// Copies up to n bytes at `off`; returns how many the image delivered.
std::size_t image_read(const os9_image& img, std::uint64_t off, void* buf, std::size_t n);

// Writes n bytes at `off`, extending the image when they reach past its
// end; returns how many were written (0 on an image opened read-only).
std::size_t image_write(os9_image& img, std::uint64_t off, const void* buf, std::size_t n);

}  // namespace rbf
