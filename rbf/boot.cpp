// The boot file as LSN 0 names it: dd_bt, the first data sector of a boot
// file in one run, and dd_bsz its size; or, with dd_bsz 0, dd_bt the FD of
// a boot file in several segments.  These two fields are the only bytes of
// LSN 0 the library ever writes, through store_boot_pointer alone.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <vector>

#include "os9disk.h"
#include "rbf/claims.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

constexpr std::size_t BT_AT = offsetof(lsn0_sect, dd_bt);
constexpr std::uint32_t LARGEST_BSZ = 0xFFFF;  // dd_bsz is 16 bits
constexpr char BOOT_NAME[] = "OS9Boot";

bool plain_file(const _pd& p) { return p.img && !p.isnative && !p.israw; }

// The file's sectors but its FD: what a move of its bytes gives back.
std::vector<unit_run> data_runs(const _pd& p, std::int64_t lsn, const fd_stats& fd) {
    std::vector<unit_run> runs = claimed_runs(p, lsn, fd);
    std::erase_if(runs, [&](const unit_run& r) { return r.first == lsn && r.second == 1; });
    return runs;
}

// Copies the file's bytes into the lowest run of free clusters that holds
// them all and switches the FD to that one segment (one write): *old gets
// the units it held before, for the caller to give back once LSN 0 no longer
// names them.  248 when no run is long enough; nothing changed then.
error_code lay_in_one_run(_pd& p, std::int64_t lsn, fd_stats& fd, std::vector<unit_run>* old) {
    const segment_list list = segments_of(p, fd);
    for (int k = 0; k < list.count; ++k)
        if (!units_sane(p, list.seg[k].lsn, list.seg[k].units)) return E_GENERAL;  // not certainly its own
    const std::int64_t size = fd_size(fd);
    std::int64_t first = 0, sectors = 0;
    if (error_code ec = take_one_run(p, size, &first, &sectors)) return ec;
    auto give_back = [&](error_code ec) {
        give_units(p, first, sectors);
        bitmap_sync(p);
        return ec;
    };
    std::vector<u_char> chunk(64 * 1024);
    for (std::int64_t pos = 0; pos < size;) {
        const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), size - pos);
        std::int64_t got = 0;
        if (file_transfer(p, fd, pos, chunk.data(), n, false, false, &got) != E_SUCCESS || got != n)
            return give_back(E_GENERAL);
        if (image_put(p, unit_offset(p, first) + pos, chunk.data(), static_cast<std::size_t>(n)) != E_SUCCESS)
            return give_back(write_error(*p.img));
        pos += n;
    }
    // While the FD switches, LSN 0 names the file by its FD: both lists hold it.
    const boot_pointer was = boot_pointer_in(*p.img);
    if (names_boot_file(was, lsn, fd) && was.size != 0) {
        if (error_code ec = store_boot_pointer(p, boot_pointer{static_cast<std::uint32_t>(lsn), 0}))
            return give_back(ec);
    }
    fd_stats moved = fd;
    std::fill(std::begin(moved.fd_seg), std::end(moved.fd_seg), fd_seg{});
    put_be24(moved.fd_seg[0].lsn, static_cast<std::uint32_t>(first));
    put_be16(moved.fd_seg[0].num, static_cast<std::uint32_t>(sectors));
    *old = data_runs(p, lsn, fd);
    if (error_code ec = fd_store(p, lsn, moved)) return give_back(ec);
    fd = moved;
    return E_SUCCESS;
}

}  // namespace

namespace detail {

boot_pointer boot_pointer_in(const os9_image& img) {
    u_char field[5] = {};
    if (image_read(img, BT_AT, field, sizeof field) != sizeof field) return boot_pointer{};
    return boot_pointer{get_be24(field), get_be16(field + 3)};
}

bool names_boot_file(const boot_pointer& b, std::int64_t lsn, const fd_stats& fd) {
    if (b.lsn == 0) return false;
    if (b.size == 0) return b.lsn == lsn;
    return get_be24(fd.fd_seg[0].lsn) == b.lsn;
}

bool in_one_run(const fd_stats& fd) {
    return get_be24(fd.fd_seg[0].lsn) != 0 && std::int64_t{get_be16(fd.fd_seg[0].num)} * SECTOR_SIZE >= fd_size(fd);
}

boot_pointer pointer_to(std::int64_t lsn, const fd_stats& fd) {
    const std::int64_t size = fd_size(fd);
    if (size > 0 && size <= LARGEST_BSZ && in_one_run(fd))
        return boot_pointer{get_be24(fd.fd_seg[0].lsn), static_cast<std::uint32_t>(size)};
    return boot_pointer{static_cast<std::uint32_t>(lsn), 0};
}

error_code store_boot_pointer(_pd& p, const boot_pointer& b) {
    if (!p.img) return E_GENERAL;
    if (!p.writable) return E_FNA;
    // Read, the two fields changed, the whole sector written in one write.
    u_char s0[SECTOR_SIZE];
    if (image_read(*p.img, 0, s0, SECTOR_SIZE) != SECTOR_SIZE) return E_GENERAL;
    auto* lsn0 = reinterpret_cast<lsn0_sect*>(s0);
    if (get_be24(lsn0->dd_bt) == b.lsn && get_be16(lsn0->dd_bsz) == b.size) return E_SUCCESS;
    put_be24(lsn0->dd_bt, b.lsn);
    put_be16(lsn0->dd_bsz, b.size);
    if (image_write(*p.img, 0, s0, SECTOR_SIZE) != SECTOR_SIZE) return write_error(*p.img);
    return E_SUCCESS;
}

error_code take_one_run(_pd& p, std::int64_t bytes, std::int64_t* first, std::int64_t* sectors) {
    *first = *sectors = 0;
    if (bytes <= 0) return E_SUCCESS;
    const std::int64_t c = p.geo.cluster_sectors;
    const std::int64_t clusters = (bytes + c * unit_bytes(p) - 1) / (c * unit_bytes(p));
    if (clusters * c > 0xFFFF) return E_FULL;  // a segment counts 16 bits of sectors
    const std::int64_t bit = lowest_free_run(p, clusters);
    if (bit < 0) return E_FULL;
    *first = bit * c;
    // The disk's last cluster may be partial: the run stops at the end.
    *sectors = std::min<std::int64_t>(clusters * c, disk_units(p) - *first);
    take_units(p, *first, *sectors);
    if (error_code ec = bitmap_sync(p)) {
        give_units(p, *first, *sectors);
        *first = *sectors = 0;
        return ec;
    }
    return E_SUCCESS;
}

bool is_boot_name(const std::string& name) {
    return std::equal(name.begin(), name.end(), BOOT_NAME, BOOT_NAME + sizeof BOOT_NAME - 1, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

error_code forget_boot_file(_pd& p, std::int64_t lsn, const fd_stats& fd) {
    if (!p.img || !names_boot_file(boot_pointer_in(*p.img), lsn, fd)) return E_SUCCESS;
    return store_boot_pointer(p, boot_pointer{});
}

error_code boot_file_moved(_pd& p, std::int64_t lsn, std::uint32_t dir_lsn, const std::string& name) {
    fd_stats fd;
    if (!p.img || fd_load(p, lsn, fd) != E_SUCCESS) return E_SUCCESS;
    return dir_lsn == p.geo.root_fd && is_boot_name(name) ? E_SUCCESS : forget_boot_file(p, lsn, fd);
}

}  // namespace detail

error_code image_boot_pointer(const os9_image& image, boot_pointer* pointer) {
    if (image_size(image) < SECTOR_SIZE) return E_GENERAL;
    *pointer = boot_pointer_in(image);
    return E_SUCCESS;
}

bool _os9_is_boot_file(os9_path_id path) {
    fd_stats fd;
    if (!path || !plain_file(*path) || fd_load(*path, path->pl_fd_lsn, fd) != E_SUCCESS) return false;
    return names_boot_file(boot_pointer_in(*path->img), path->pl_fd_lsn, fd);
}

error_code _os9_boot_hold(os9_path_id path) {
    if (!path || !plain_file(*path)) return E_FNA;
    return store_boot_pointer(*path, boot_pointer{static_cast<std::uint32_t>(path->pl_fd_lsn), 0});
}

error_code _os9_boot_follow(os9_path_id path) {
    if (!path || !plain_file(*path) || !path->writable) return E_FNA;
    _pd& p = *path;
    const std::int64_t lsn = p.pl_fd_lsn;
    fd_stats fd;
    if (error_code ec = fd_load(p, lsn, fd)) return ec;
    if (fd.fd_att & ATT_DIR) return E_FNA;
    std::vector<unit_run> old;
    if (fd_size(fd) > 0 && !in_one_run(fd)) {
        if (error_code ec = lay_in_one_run(p, lsn, fd, &old)) return ec;
    }
    // LSN 0 names the new run before the old units go.
    if (error_code ec = store_boot_pointer(p, pointer_to(lsn, fd))) return ec;
    if (old.empty()) return E_SUCCESS;
    give_unclaimed(p, old);
    return bitmap_sync(p);
}

}  // namespace rbf
