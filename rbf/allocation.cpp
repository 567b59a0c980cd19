// The allocation bitmap as the library's writers use it.  A path on a file
// works on the image's one map (the process holds the image alone while it
// writes, so the map stays true), and the write order keeps the disk sound
// at every moment: bits are set and written before anything uses their
// units, and cleared only after nothing on the disk points at them.  A raw
// path keeps the copy it was opened with, written back at its close.
#include <algorithm>
#include <utility>

#include "rbf/claims.h"
#include "rbf/internal.h"

namespace rbf::detail {

namespace {

allocation_map& loaded_map(_pd& p) {
    allocation_map& m = p.img->map;
    if (m.loaded && m.bytes_wanted == p.geo.bitmap_bytes) return m;
    m = allocation_map{};
    const std::uint64_t size = image_size(*p.img);
    const std::uint64_t have = size > SECTOR_SIZE ? std::min<std::uint64_t>(size - SECTOR_SIZE, p.geo.bitmap_bytes) : 0;
    m.bits.resize(static_cast<std::size_t>(have));
    m.bits.resize(image_read(*p.img, SECTOR_SIZE, m.bits.data(), m.bits.size()));
    m.bytes_wanted = p.geo.bitmap_bytes;
    m.loaded = true;
    // The system clusters are in use whatever a damaged bitmap says: they
    // are never handed out, and the next write-back marks them on the disk
    // too.
    const std::span<u_char> bits(m.bits);
    const auto mark = [&](std::int64_t bit) {
        if (!_os9_ckbit(bits, static_cast<int>(bit))) {
            _os9_allbit(bits, static_cast<int>(bit), 1);
            map_changed(p, bit, 1);
        }
    };
    for (std::int64_t b = 0; b < static_cast<std::int64_t>(p.geo.first_data_bit()); ++b) mark(b);
    mark(static_cast<std::int64_t>(p.geo.unit_bit(p.geo.root_fd)));
    return m;
}

// The clusters that sectors first .. first + count - 1 touch.
std::pair<std::int64_t, std::int64_t> bits_of(const _pd& p, std::int64_t first, std::int64_t count) {
    const std::int64_t c = p.geo.cluster_sectors;
    return {first / c, (first + count - 1) / c + 1};
}

}  // namespace

std::span<u_char> alloc_bitmap(_pd& p) {
    if (p.israw || !p.img) {
        load_bitmap(p);
        std::size_t n = std::min<std::size_t>(p.bitmap.size(), static_cast<std::size_t>(p.geo.bitmap_bytes));
        return std::span<u_char>(p.bitmap.data(), n);
    }
    return std::span<u_char>(loaded_map(p).bits);
}

std::int64_t search_start(_pd& p) {
    const auto first = static_cast<std::int64_t>(p.geo.first_data_bit());
    if (p.israw || !p.img || !p.img->map.loaded) return first;
    return std::max(first, p.img->map.full_below);
}

void note_first_clear(_pd& p, std::int64_t bit) {
    if (p.israw || !p.img || !p.img->map.loaded) return;
    p.img->map.full_below = std::max(p.img->map.full_below, bit);
}

std::int64_t alloc_limit(_pd& p) {
    return std::min<std::int64_t>(static_cast<std::int64_t>(p.geo.cluster_count()),
                                  static_cast<std::int64_t>(alloc_bitmap(p).size()) * 8);
}

bool system_unit(const _pd& p, std::int64_t lsn) {
    return lsn < static_cast<std::int64_t>(p.geo.first_data_unit()) || lsn == p.geo.root_fd;
}

bool system_bit(const _pd& p, std::int64_t bit) {
    return bit < static_cast<std::int64_t>(p.geo.first_data_bit()) ||
           bit == static_cast<std::int64_t>(p.geo.unit_bit(p.geo.root_fd));
}

std::int64_t lowest_free_run(_pd& p, std::int64_t clusters) {
    if (clusters <= 0) return -1;
    const std::span<u_char> bitmap = alloc_bitmap(p);
    const std::int64_t limit = alloc_limit(p);
    std::int64_t count = 0;
    for (std::int64_t k = search_start(p); k < limit; ++k) {
        count = _os9_ckbit(bitmap, static_cast<int>(k)) || system_bit(p, k) ? 0 : count + 1;
        if (count == clusters) return k - clusters + 1;
    }
    return -1;
}

void map_changed(_pd& p, std::int64_t first, std::int64_t count) {  // bits
    if (p.israw || !p.img || count <= 0 || first < 0) return;
    allocation_map& m = p.img->map;
    if (!m.loaded) return;
    const auto from = static_cast<std::size_t>(std::min<std::int64_t>(first / 8, m.bits.size()));
    const auto to = static_cast<std::size_t>(std::min<std::int64_t>((first + count - 1) / 8 + 1, m.bits.size()));
    if (from >= to) return;
    if (m.dirty_from >= m.dirty_to) {
        m.dirty_from = from;
        m.dirty_to = to;
    } else {
        m.dirty_from = std::min(m.dirty_from, from);
        m.dirty_to = std::max(m.dirty_to, to);
    }
}

void note_taken(_pd& p, std::int64_t first_bit, std::int64_t count) {
    if (p.israw || !p.img || !p.img->map.loaded || count <= 0 || first_bit < 0) return;
    allocation_map& m = p.img->map;
    if (m.taken.size() < m.bits.size()) m.taken.resize(m.bits.size(), 0);
    _os9_allbit(m.taken, static_cast<int>(first_bit), static_cast<int>(count));
}

bool all_taken(const _pd& p, std::int64_t first, std::int64_t count) {
    if (p.israw || !p.img || !p.img->map.loaded || count <= 0 || first < 0) return false;
    const allocation_map& m = p.img->map;
    const auto [from, to] = bits_of(p, first, count);
    for (std::int64_t b = from; b < to; ++b)
        if (static_cast<std::size_t>(b / 8) >= m.taken.size() || !(m.taken[static_cast<std::size_t>(b / 8)] & (0x80 >> (b % 8))))
            return false;
    return true;
}

void take_units(_pd& p, std::int64_t first, std::int64_t count) {
    if (count <= 0) return;
    const auto [from, to] = bits_of(p, first, count);
    _os9_allbit(alloc_bitmap(p), static_cast<int>(from), static_cast<int>(to - from));
    map_changed(p, from, to - from);
    note_taken(p, from, to - from);
}

void give_units(_pd& p, std::int64_t first, std::int64_t count) {
    if (count <= 0 || first < 0) return;
    std::span<u_char> bits = alloc_bitmap(p);
    const auto [from, to] = bits_of(p, first, count);
    for (std::int64_t at = from; at < to;) {
        if (system_bit(p, at)) {
            ++at;
            continue;
        }
        std::int64_t stop = at;
        while (stop < to && !system_bit(p, stop)) ++stop;
        _os9_delbit(bits, static_cast<int>(at), static_cast<int>(stop - at));
        map_changed(p, at, stop - at);
        if (!p.israw && p.img && !p.img->map.taken.empty()) _os9_delbit(p.img->map.taken, static_cast<int>(at), static_cast<int>(stop - at));
        if (!p.israw && p.img) p.img->map.full_below = std::min(p.img->map.full_below, at);
        at = stop;
    }
}

error_code bitmap_sync(_pd& p) {
    if (p.israw || !p.img) return E_SUCCESS;
    return image_map_write_back(*p.img);
}

}  // namespace rbf::detail

namespace rbf {

error_code image_map_write_back(os9_image& img) {
    allocation_map& m = img.map;
    if (!m.loaded || m.dirty_from >= m.dirty_to) return E_SUCCESS;
    const std::size_t n = m.dirty_to - m.dirty_from;
    img.map_writing = true;
    const std::size_t done = image_write(img, SECTOR_SIZE + m.dirty_from, m.bits.data() + m.dirty_from, n);
    img.map_writing = false;
    if (done != n) {
        // What the disk holds now is not known: read it afresh when next needed.
        const error_code ec = write_error(img);
        m = allocation_map{};
        return ec;
    }
    m.dirty_from = m.dirty_to = 0;
    return E_SUCCESS;
}

}  // namespace rbf
