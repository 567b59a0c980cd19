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
#include "rbf/dir_index.h"

namespace rbf {

struct unit_claims;  // rbf/claims.h

// The allocation bitmap as the writers of this process use it: one copy per
// image, read under the lock, written back range by range (see
// rbf/allocation.cpp).
struct allocation_map {
    bool loaded = false;
    std::uint32_t bytes_wanted = 0;  // dd_map it was loaded for
    std::vector<u_char> bits;        // as far as the image holds them
    std::size_t dirty_from = 0;      // bytes changed since the last write-back
    std::size_t dirty_to = 0;
    // Every bit below this one is set: searches for free clusters start
    // here instead of at the system area, so filling a disk stays linear.
    std::int64_t full_below = 0;
};

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
    // The host file's size as this process last learnt it (-1: ask the
    // host); only the lock holder's own writes change it meanwhile.
    mutable std::int64_t known_size = -1;
    // Bumped by every write, so that a path's read-ahead knows it is stale.
    std::uint64_t generation = 0;
    // Writes still taken before every write fails (memory images; negative:
    // no limit).
    long writes_left = -1;
    int refusal = 5;  // errno of those refused writes (EIO)
    std::uint64_t refuse_beyond = UINT64_MAX;  // memory images: writes past it refused
    // errno of the last write the host refused (0: none yet).
    int last_errno = 0;
    allocation_map map;
    bool map_writing = false;  // the write in progress is the map's own
    // Which file claims which unit, built when a writer first frees units.
    std::unique_ptr<unit_claims> claims;
    // Names of directories this process is filling (rbf/dir_index.h).
    dir_indexes indexes;

    os9_image() = default;
    os9_image(const os9_image&) = delete;
    os9_image& operator=(const os9_image&) = delete;
    ~os9_image();
};

// Writes the allocation map's changes not yet on the disk (frees wait for
// the next write-back): 0, or the error of the write.
error_code image_map_write_back(os9_image& img);

// Forgets what this process knows beyond the cached blocks (the allocation
// map and the claims): another writer may have changed the image, or a raw
// write did.
void image_forget(os9_image& img);

// The error of the last write the image refused: 248 when the host had no
// room for it (no space, quota, file-size limit), else 1.
error_code write_error(const os9_image& img);

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
