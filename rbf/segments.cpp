// Geometry checks, FD sector I/O and the mapping of file bytes through a
// segment list to image bytes.
#include <algorithm>
#include <cstring>
#include <new>

#include "rbf/claims.h"
#include "rbf/internal.h"

namespace rbf::detail {

bool load_bitmap(_pd& p) {
    if (p.bitmap_loaded || !p.img) return p.bitmap_loaded;
    // The buffer spans whole bitmap units, but holds only what the image has.
    std::int64_t want = (std::int64_t{p.geo.bitmap_bytes} / SECTOR_SIZE + 1) * unit_bytes(p);
    std::int64_t size = static_cast<std::int64_t>(image_size(*p.img));
    std::int64_t have = std::clamp<std::int64_t>(size - SECTOR_SIZE, 0, want);
    try {
        p.bitmap.resize(static_cast<std::size_t>(have));
        p.bitmap.resize(image_read(*p.img, SECTOR_SIZE, p.bitmap.data(), p.bitmap.size()));
        if (p.writable) p.bitmap_base = p.bitmap;
    } catch (const std::bad_alloc&) {
        p.bitmap.clear();
        p.bitmap_base.clear();
        return false;
    }
    p.bitmap_loaded = true;
    return true;
}

error_code fd_load(const _pd& p, std::int64_t lsn, fd_stats& fd) {
    if (!p.img || !units_sane(p, lsn, 1)) return E_GENERAL;
    if (image_read(*p.img, static_cast<std::uint64_t>(unit_offset(p, lsn)), &fd, sizeof fd) != sizeof fd)
        return E_GENERAL;
    return E_SUCCESS;
}

error_code fd_store(_pd& p, std::int64_t lsn, const fd_stats& fd, int count) {
    if (!p.img || !units_sane(p, lsn, 1)) return E_GENERAL;
    if (!p.writable) return E_FNA;
    // Only the root's own path writes the root's FD.
    if (lsn == p.geo.root_fd && p.pl_fd_lsn != static_cast<int>(lsn)) return E_FNA;
    std::size_t n = static_cast<std::size_t>(std::clamp(count, 0, SECTOR_SIZE));
    // What a counted FD claimed until now is what the disk says of it.
    fd_stats was;
    const bool counted = claims_count_fd(p, lsn) && fd_load(p, lsn, was) == E_SUCCESS;
    if (error_code ec = image_put(p, unit_offset(p, lsn), &fd, n)) return ec;
    if (p.img->claims) {
        fd_stats now;
        if (fd_load(p, lsn, now) == E_SUCCESS) claims_note_fd(p, lsn, counted ? &was : nullptr, now);
    }
    return E_SUCCESS;
}

error_code current_fd(_pd& p, fd_stats& fd) {
    if (p.ahead_valid && p.img && p.ahead_gen == p.img->generation) {
        fd = p.ahead_fd;
        return E_SUCCESS;
    }
    if (error_code ec = fd_load(p, p.pl_fd_lsn, fd)) return ec;
    p.ahead_fd = fd;
    p.ahead.clear();
    p.ahead_pos = 0;
    p.ahead_gen = p.img->generation;
    p.ahead_valid = true;
    return E_SUCCESS;
}

error_code ahead_fill(_pd& p, const fd_stats& fd, std::int64_t pos, std::int64_t end) {
    std::int64_t want = std::clamp<std::int64_t>(end - pos, 0, READ_AHEAD);
    p.ahead.resize(static_cast<std::size_t>(want));
    std::int64_t got = 0;
    error_code ec = file_transfer(p, fd, pos, p.ahead.data(), want, false, false, &got);
    p.ahead.resize(static_cast<std::size_t>(got));
    p.ahead_pos = pos;
    return got > 0 || want == 0 ? E_SUCCESS : ec;
}

const u_char* ahead_span(const _pd& p, std::int64_t pos, std::int64_t n) {
    if (!p.ahead_valid || !p.img || p.ahead_gen != p.img->generation) return nullptr;
    if (pos < p.ahead_pos || n < 0 || pos + n > p.ahead_pos + static_cast<std::int64_t>(p.ahead.size())) return nullptr;
    return p.ahead.data() + (pos - p.ahead_pos);
}

error_code image_put(_pd& p, std::int64_t off, const void* buf, std::size_t n) {
    if (!p.img || off < 0) return E_GENERAL;
    return image_write(*p.img, static_cast<std::uint64_t>(off), buf, n) == n ? E_SUCCESS : write_error(*p.img);
}

segment_list segments_of(const _pd& p, const fd_stats& fd) {
    segment_list list;
    std::int64_t at = 0;
    for (int k = 0; k < SEGMENT_COUNT; ++k) {
        std::int64_t lsn = get_be24(fd.fd_seg[k].lsn);
        if (lsn == 0) break;
        std::int64_t units = get_be16(fd.fd_seg[k].num);
        std::int64_t bytes = units * unit_bytes(p);
        list.seg[list.count++] = segment{lsn, units, at, at + bytes};
        at += bytes;
    }
    return list;
}

error_code file_transfer(_pd& p, const fd_stats& fd, std::int64_t pos, u_char* buf,
                         std::int64_t n, bool write, bool stop_at_cr, std::int64_t* done) {
    *done = 0;
    if (n <= 0) return E_SUCCESS;
    const segment_list list = segments_of(p, fd);
    int k = 0;
    while (k < list.count && list.seg[k].end <= pos) ++k;
    std::int64_t moved = 0;
    for (; k < list.count && moved < n; ++k) {
        const segment& s = list.seg[k];
        if (s.end <= pos + moved) continue;  // an empty segment
        if (!units_sane(p, s.lsn, s.units)) break;
        std::int64_t at = pos + moved;
        std::int64_t len = std::min(s.end - at, n - moved);
        auto off = static_cast<std::uint64_t>(unit_offset(p, s.lsn) + (at - s.start));
        std::size_t got;
        if (write) {
            // A segment over the root's FD is damage: nothing is written there.
            if (!p.writable || (s.lsn <= p.geo.root_fd && p.geo.root_fd < s.lsn + s.units)) break;
            got = image_write(*p.img, off, buf + moved, static_cast<std::size_t>(len));
        } else {
            got = image_read(*p.img, off, buf + moved, static_cast<std::size_t>(len));
        }
        if (stop_at_cr) {
            auto* cr = static_cast<u_char*>(std::memchr(buf + moved, 0x0D, got));
            if (cr) {
                moved += (cr - (buf + moved)) + 1;
                break;
            }
        }
        moved += static_cast<std::int64_t>(got);
        if (static_cast<std::int64_t>(got) < len) break;  // the image ends here
    }
    *done = moved;
    return moved > 0 ? E_SUCCESS : E_GENERAL;
}

void cut_segments(const _pd& p, std::int64_t fd_lsn, fd_stats& fd, std::int64_t sectors,
                  std::vector<std::pair<std::int64_t, std::int64_t>>* cut) {
    const std::int64_t c = p.geo.cluster_sectors;
    // Sectors of the FD's own cluster stay with the FD: they cannot be freed
    // while it is there.
    const std::int64_t fd_cluster_end = (fd_lsn / c + 1) * c;
    std::int64_t need = std::max<std::int64_t>(sectors, 0);
    for (int k = 0; k < SEGMENT_COUNT; ++k) {
        fd_seg& e = fd.fd_seg[k];
        const std::int64_t lsn = get_be24(e.lsn);
        if (lsn == 0) break;
        const std::int64_t num = get_be16(e.num);
        std::int64_t stays = std::min(need, num);
        // The segment that holds the last sector needed keeps the rest of
        // that sector's cluster: what goes is whole clusters, whether the
        // segment starts on a cluster boundary or right after its FD.
        if (stays > 0 && stays < num) stays = std::min(num, (lsn + stays + c - 1) / c * c - lsn);
        if (lsn == fd_lsn + 1) stays = std::max(stays, std::min(num, fd_cluster_end - lsn));
        need -= std::min(need, num);
        if (stays == num) continue;
        cut->emplace_back(lsn + stays, num - stays);
        put_be16(e.num, static_cast<std::uint32_t>(stays));
        if (stays == 0) put_be24(e.lsn, 0);
    }
}

void free_segments(const _pd& p, const fd_stats& fd, std::span<u_char> bitmap) {
    const segment_list list = segments_of(p, fd);
    for (int k = 0; k < list.count; ++k) {
        const segment& s = list.seg[k];
        if (s.units <= 0 || !units_sane(p, s.lsn, s.units)) continue;
        // The clusters the segment touches, those holding system sectors excepted.
        const std::int64_t from = s.lsn / p.geo.cluster_sectors;
        const std::int64_t to = (s.lsn + s.units - 1) / p.geo.cluster_sectors + 1;
        for (std::int64_t b = from; b < to; ++b)
            if (!system_bit(p, b)) _os9_delbit(bitmap, static_cast<int>(b), 1);
    }
}

}  // namespace rbf::detail
