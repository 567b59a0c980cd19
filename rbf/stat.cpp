// File status and disk usage.
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "os9disk.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

void status_of(const _pd& p, const fd_stats& fd, std::uint32_t lsn, os9_stat* st) {
    *st = os9_stat{};
    st->fd_lsn = lsn;
    st->attributes = fd.fd_att;
    st->owner = get_be16(fd.fd_own);
    st->links = fd.fd_lnk;
    st->size = get_be32(fd.fd_siz);
    st->is_dir = (fd.fd_att & ATT_DIR) != 0;
    std::memcpy(st->created, fd.fd_creat, sizeof st->created);
    std::memcpy(st->modified, fd.fd_dat, sizeof st->modified);
    const segment_list list = segments_of(p, fd);
    st->segments = list.count;
    for (int k = 0; k < list.count; ++k) st->allocated += static_cast<std::uint64_t>(list.seg[k].end - list.seg[k].start);
}

}  // namespace

error_code _os9_stat(os9_path_id path, os9_stat* st) {
    if (path->israw && !path->isnative) return E_FNA;
    fd_stats fd;
    if (error_code ec = _os9_gs_fd(path, SECTOR_SIZE, &fd)) return ec;
    if (path->isnative) {
        *st = os9_stat{};
        st->attributes = fd.fd_att;
        st->links = fd.fd_lnk;
        st->is_dir = (fd.fd_att & ATT_DIR) != 0;
        std::memcpy(st->created, fd.fd_creat, sizeof st->created);
        std::memcpy(st->modified, fd.fd_dat, sizeof st->modified);
        struct stat hs {};
        if (stat(path->imgfile.c_str(), &hs) != 0) return E_FNA;
        st->size = static_cast<std::uint32_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(hs.st_size), 0xFFFFFFFFu));
        st->allocated = static_cast<std::uint64_t>(hs.st_blocks) * 512;
        return E_SUCCESS;
    }
    status_of(*path, fd, static_cast<std::uint32_t>(path->pl_fd_lsn), st);
    return E_SUCCESS;
}

error_code _os9_stat_fd(os9_path_id on, std::uint32_t fd_lsn, os9_stat* st) {
    if (on->isnative || !on->img) return E_FNA;
    fd_stats fd;
    if (error_code ec = fd_load(*on, fd_lsn, fd)) return ec;
    status_of(*on, fd, fd_lsn, st);
    return E_SUCCESS;
}

error_code _os9_stat_path(const image_ref& image, const std::string& in_image, os9_stat* st) {
    // A raw path carries the geometry; the walk needs no access rights.
    os9_path_id raw = nullptr;
    if (error_code ec = open_on_image(&raw, image, in_image, MODE_READ, true)) return ec;
    int lsn = 0;
    error_code ec = walk_path(*raw, in_image, &lsn);
    if (ec == E_SUCCESS) ec = _os9_stat_fd(raw, static_cast<std::uint32_t>(lsn), st);
    _os9_close(raw);
    return ec;
}

error_code _os9_usage(os9_path_id path, os9_usage* usage) {
    if (path->isnative || !path->img) return E_FNA;
    if (!load_bitmap(*path)) return E_GENERAL;
    os9_usage u;
    u.total_units = path->geo.total_units;
    u.cluster_sectors = path->geo.cluster_sectors;
    u.unit_bytes = path->geo.unit_bytes;
    // Bits the image's bitmap does not hold count as in use.
    const std::span<const u_char> map(path->bitmap);
    const std::uint64_t held = std::min<std::uint64_t>(path->geo.cluster_count(), std::uint64_t{map.size()} * 8);
    // Eight bytes at a time, first bit highest: runs of clear and set bits
    // are measured with leading-zero and leading-one counts.
    std::uint64_t run = 0;
    auto feed = [&](std::uint64_t word, int bits) {
        while (bits > 0) {
            if (!(word >> 63)) {
                const int zeros = std::min(std::countl_zero(word), bits);
                run += static_cast<std::uint64_t>(zeros);
                u.free_units += static_cast<std::uint64_t>(zeros);
                bits -= zeros;
                word = zeros < 64 ? word << zeros : 0;
            } else {
                const int ones = std::min(std::countl_one(word), bits);
                u.largest_free_run = std::max(u.largest_free_run, run);
                run = 0;
                bits -= ones;
                word = ones < 64 ? word << ones : 0;
            }
        }
    };
    std::uint64_t k = 0;
    for (; k + 64 <= held; k += 64) {
        std::uint64_t word = 0;
        for (std::uint64_t b = 0; b < 8; ++b) word = word << 8 | map[(k >> 3) + b];
        feed(word, 64);
    }
    for (; k < held; k += 8) {  // the last bits, a byte at a time
        const int bits = static_cast<int>(std::min<std::uint64_t>(8, held - k));
        feed(std::uint64_t{map[k >> 3]} << 56, bits);
    }
    u.largest_free_run = std::max(u.largest_free_run, run);
    *usage = u;
    return E_SUCCESS;
}

}  // namespace rbf
