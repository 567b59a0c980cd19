// Reads and writes at a byte position of an open file, and changes of a
// file's size, both ways.  Growth goes through the ordinary write (units
// marked in use first, then the zeros, then the FD); shrinking writes the
// shorter FD first and frees the units it no longer names after, so a crash
// between the two only leaks them.
#include <algorithm>
#include <vector>

#include "os9disk.h"
#include "rbf/claims.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

constexpr std::size_t ZERO_CHUNK = 64 * 1024;

bool image_file(const _pd& p) { return !p.isnative && !p.israw && p.img; }

// Appends zeros from the end of the file up to `size`.
error_code grow_to(_pd& p, std::int64_t from, std::int64_t size) {
    static const std::vector<u_char> zeros(ZERO_CHUNK, 0);
    p.filepos = from;
    while (p.filepos < size) {
        int n = static_cast<int>(std::min<std::int64_t>(ZERO_CHUNK, size - p.filepos));
        if (error_code ec = _os9_write(&p, zeros.data(), &n)) return ec;
    }
    return E_SUCCESS;
}

// Cuts the file to `size` bytes and its segment list to the whole clusters
// those bytes need.
error_code shrink_to(_pd& p, std::int64_t size) {
    fd_stats fd;
    if (error_code ec = fd_load(p, p.pl_fd_lsn, fd)) return ec;
    const segment_list list = segments_of(p, fd);
    bool sane = true;
    for (int k = 0; k < list.count; ++k) sane = sane && units_sane(p, list.seg[k].lsn, list.seg[k].units);
    std::vector<unit_run> freed;
    // A list naming units outside the disk keeps its units: only what is
    // certainly the file's own is given back.  What stays is whole clusters.
    if ((fd.fd_att & ATT_DIR) != 0) sane = false;
    if (sane) cut_segments(p, p.pl_fd_lsn, fd, (size + unit_bytes(p) - 1) / unit_bytes(p), &freed);
    put_be32(fd.fd_siz, static_cast<std::uint32_t>(size));
    if (error_code ec = fd_store(p, p.pl_fd_lsn, fd)) return ec;
    if (freed.empty()) return E_SUCCESS;
    give_unclaimed(p, freed);
    return bitmap_sync(p);
}

}  // namespace

error_code _os9_read_at(os9_path_id path, std::uint64_t pos, void* buffer, std::size_t size, std::size_t* got) {
    *got = 0;
    if (!image_file(*path)) return E_FNA;
    auto* out = static_cast<u_char*>(buffer);
    while (*got < size) {
        path->filepos = static_cast<std::int64_t>(std::min<std::uint64_t>(pos + *got, 0xFFFFFFFFu + 1ull));
        int n = static_cast<int>(std::min<std::size_t>(size - *got, 1u << 30));
        const error_code ec = _os9_read(path, out + *got, &n);
        if (ec == E_EOF) break;
        if (ec) return ec;
        if (n <= 0) return E_GENERAL;  // the segments hold less than fd_siz says
        *got += static_cast<std::size_t>(n);
    }
    return E_SUCCESS;
}

error_code _os9_write_at(os9_path_id path, std::uint64_t pos, const void* buffer, std::size_t size) {
    if (!image_file(*path)) return E_FNA;
    if (!path->writable) return E_FNA;
    if (pos + size > 0xFFFFFFFFull) return E_FULL;  // fd_siz is 32 bits
    fd_stats fd;
    if (error_code ec = fd_load(*path, path->pl_fd_lsn, fd)) return ec;
    const std::int64_t had = fd_size(fd);
    const auto at = static_cast<std::int64_t>(pos);
    if (at > had) {
        if (error_code ec = grow_to(*path, had, at)) {
            shrink_to(*path, had);  // the gap goes again: the file is as it was
            return ec;
        }
    }
    path->filepos = at;
    const auto* in = static_cast<const u_char*>(buffer);
    for (std::size_t done = 0; done < size;) {
        int n = static_cast<int>(std::min<std::size_t>(size - done, 1u << 30));
        if (error_code ec = _os9_write(path, in + done, &n)) {
            if (at > had) shrink_to(*path, had);
            return ec;
        }
        done += static_cast<std::size_t>(n);
    }
    return E_SUCCESS;
}

error_code _os9_set_size(os9_path_id path, std::uint64_t size) {
    if (!image_file(*path)) return E_FNA;
    if (!path->writable) return E_FNA;
    if (size > 0xFFFFFFFFull) return E_FULL;
    fd_stats fd;
    if (error_code ec = fd_load(*path, path->pl_fd_lsn, fd)) return ec;
    if (fd.fd_att & ATT_DIR) return E_ISDIR;
    const std::int64_t had = fd_size(fd);
    const auto want = static_cast<std::int64_t>(size);
    const std::int64_t keep_pos = path->filepos;
    error_code ec = E_SUCCESS;
    if (want < had) ec = shrink_to(*path, want);
    else if (want > had && (ec = grow_to(*path, had, want)) != E_SUCCESS) shrink_to(*path, had);
    path->filepos = keep_pos;
    return ec;
}

}  // namespace rbf
