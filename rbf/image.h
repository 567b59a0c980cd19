// The volume: one per image a process holds, shared by every path on it.
// It holds the device that reaches the image's bytes (rbf/device.h), LSN 0
// decoded once, the writers' allocation map, the claims and the directory
// indexes: everything the library caches about the disk.  Every read and
// write of the library goes through it, so the caches above the device learn
// of each write here, and nothing below calls up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <array>

#include "os9disk.h"
#include "rbf/container.h"
#include "rbf/device.h"
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
    // The clusters this process took since it loaded the map (a bit each):
    // they were free, so no other file claims them, and giving them back
    // needs no walk of the tree to learn who else does.
    std::vector<u_char> taken;
};

// The key offset of a volume that is a whole file (not a partition).
inline constexpr std::uint64_t NO_OFFSET = ~std::uint64_t{0};

struct os9_image {
    std::unique_ptr<device> dev;
    std::pair<std::uint64_t, std::uint64_t> key{};  // host file identity (device, inode)
    std::uint64_t key_offset = NO_OFFSET;           // the partition's offset, part of the identity
    container_info container;                       // what the disk's sectors are wrapped in
    // LSN 0 and its geometry, read and decoded once: valid until a write
    // reaches LSN 0 or the volume forgets what it knows.
    bool geometry_known = false;
    error_code geometry_error = E_SUCCESS;
    std::array<u_char, SECTOR_SIZE> lsn0{};
    disk_geometry geometry;
    // Bumped by every write, so that a path's read-ahead knows it is stale.
    std::uint64_t generation = 0;
    allocation_map map;
    bool map_writing = false;  // the write in progress is the map's own
    // Which file claims which unit, built when a writer first frees units.
    std::unique_ptr<unit_claims> claims;
    // Names of directories this process is filling (rbf/dir_index.h).
    dir_indexes indexes;

    bool rw() const { return dev && dev->writable(); }

    os9_image() = default;
    os9_image(const os9_image&) = delete;
    os9_image& operator=(const os9_image&) = delete;
    ~os9_image();
};

// A volume on `dev` (not one the process could join by name).
image_ref image_on_device(std::unique_ptr<device> dev);

// LSN 0 of the volume, decoded: 1 when the image holds less than a sector,
// 249 as decode_geometry.  Read once while nothing writes LSN 0.
error_code volume_geometry(os9_image& img, const disk_geometry** geometry, const u_char** lsn0 = nullptr);

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
