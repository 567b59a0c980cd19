// The layout of a new disk: LSN 0, the allocation bitmap and the root
// directory, with every other sector free and zero.
#include <cstring>

#include "os9conv.h"
#include "os9disk.h"
#include "os9sys.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

constexpr long long LARGEST_LSN_COUNT = 0xFFFFFF;
constexpr long long LARGEST_BITMAP_BYTES = 0xFFFF;  // dd_map is 16 bits

struct layout {
    long long total;     // sectors
    int map_bytes;       // dd_map
    int bitmap_sectors;  // sectors the bitmap occupies
    int root_units;      // the root directory's FD and data
    int allocated;       // LSN 0, the bitmap and the root
    int dd_dir;
};

layout layout_of(const format_params& f) {
    layout l{};
    l.total = static_cast<long long>(f.tracks) * f.sectors_per_track * f.sides;
    l.map_bytes = static_cast<int>(l.total / 8 + 1);
    l.bitmap_sectors = l.map_bytes / SECTOR_SIZE + 1;
    l.root_units = SAS(2, f.sas);
    l.allocated = 1 + l.bitmap_sectors + l.root_units;
    l.dd_dir = l.map_bytes / SECTOR_SIZE + 2;
    return l;
}

}  // namespace

format_fault format_check(const format_params& f) {
    long long total = static_cast<long long>(f.tracks) * f.sectors_per_track * f.sides;
    if (total > LARGEST_LSN_COUNT || total / 8 + 1 > LARGEST_BITMAP_BYTES) return format_fault::too_large;
    if (f.sas <= 0) return format_fault::too_few_sectors;
    const layout l = layout_of(f);
    if (l.total <= 3 || l.total < l.allocated) return format_fault::too_few_sectors;
    return format_fault::none;
}

std::vector<u_char> format_head(const format_params& f, std::uint64_t* total_bytes) {
    const layout l = layout_of(f);
    *total_bytes = static_cast<std::uint64_t>(l.total) * SECTOR_SIZE;
    std::vector<u_char> head(static_cast<std::size_t>(l.allocated) * SECTOR_SIZE, 0);

    // LSN 0.
    auto* s0 = reinterpret_cast<lsn0_sect*>(head.data());
    put_be24(s0->dd_tot, static_cast<std::uint32_t>(l.total));
    s0->dd_tks = static_cast<u_char>(f.sectors_per_track);
    put_be16(s0->dd_map, static_cast<std::uint32_t>(l.map_bytes));
    put_be16(s0->dd_bit, static_cast<std::uint32_t>(f.cluster_size));
    put_be24(s0->dd_dir, static_cast<std::uint32_t>(l.dd_dir));
    s0->dd_att = 0xFF;
    s0->dd_dsk[0] = 0x01;
    s0->dd_dsk[1] = 0x80;
    s0->dd_fmt = static_cast<u_char>(f.sides + 1);
    put_be16(s0->dd_spt, static_cast<std::uint32_t>(f.sectors_per_track));
    UnixToOS9Time(f.when, s0->dd_dat);
    std::string name = f.name.substr(0, sizeof s0->dd_nam);
    StringToOS9Name(name);
    std::memcpy(s0->dd_nam, name.data(), name.size());
    s0->pd_dtp = 1;
    s0->pd_drv = 1;
    s0->pd_typ = 0x20;
    s0->pd_dns = 1;
    put_be16(s0->pd_cyl, static_cast<std::uint32_t>(f.tracks));
    s0->pd_sid = static_cast<u_char>(f.sides);
    put_be16(s0->pd_sct, static_cast<std::uint32_t>(f.sectors_per_track));
    put_be16(s0->pd_t0s, static_cast<std::uint32_t>(f.sectors_per_track));
    s0->pd_ilv = 3;
    s0->pd_sas = static_cast<u_char>(f.sas);

    // Bitmap: units past the disk's end, then LSN 0, the bitmap sectors and
    // the root directory's allocation.
    u_char* bitmap = head.data() + SECTOR_SIZE;
    const std::size_t bitmap_bytes = static_cast<std::size_t>(l.bitmap_sectors) * SECTOR_SIZE;
    _os9_allocate_bits(bitmap, bitmap_bytes, static_cast<int>(l.total),
                       static_cast<int>(static_cast<long long>(bitmap_bytes) * 8 - l.total));
    _os9_allocate_bits(bitmap, bitmap_bytes, 0, l.allocated);

    // Root directory: its FD, then its data with ".." and ".".
    u_char* root = bitmap + bitmap_bytes;
    auto* fd = reinterpret_cast<fd_stats*>(root);
    fd->fd_att = ATT_NEWDIR;
    UnixToOS9Time(f.when, fd->fd_dat);
    fd->fd_lnk = 1;
    put_be32(fd->fd_siz, 2 * DIRENT_SIZE);
    std::memcpy(fd->fd_creat, fd->fd_dat, 3);
    put_be24(fd->fd_seg[0].lsn, static_cast<std::uint32_t>(l.dd_dir + 1));
    put_be16(fd->fd_seg[0].num, static_cast<std::uint32_t>(l.root_units - 1));
    auto* entries = reinterpret_cast<fd_dentry*>(root + SECTOR_SIZE);
    entries[0].name[0] = '.';
    entries[0].name[1] = '.' | 0x80;
    put_be24(entries[0].lsn, static_cast<std::uint32_t>(l.dd_dir));
    entries[1].name[0] = '.' | 0x80;
    put_be24(entries[1].lsn, static_cast<std::uint32_t>(l.dd_dir));
    return head;
}

error_code _os9_format(os9_path_id path, const format_params& params) {
    std::uint64_t total_bytes = 0;
    const std::vector<u_char> head = format_head(params, &total_bytes);
    auto put = [&](const void* data, std::size_t n) {
        int size = static_cast<int>(n);
        return _os9_write(path, data, &size) == E_SUCCESS && size == static_cast<int>(n);
    };
    _os9_seek(path, 0, 0);
    if (!put(head.data(), head.size())) return E_GENERAL;
    // Free sectors read as zeros: a hole past a host file's end, old bytes
    // cleared inside it.
    const long long rest = static_cast<long long>(total_bytes - head.size());
    if (path->isnative) return _native_zero_fill(path, rest) == E_SUCCESS ? E_SUCCESS : E_GENERAL;
    const std::vector<u_char> zeros(SECTOR_SIZE * 64, 0);
    for (long long left = rest; left > 0;) {
        std::size_t n = static_cast<std::size_t>(std::min<long long>(left, static_cast<long long>(zeros.size())));
        if (!put(zeros.data(), n)) return E_GENERAL;
        left -= static_cast<long long>(n);
    }
    return E_SUCCESS;
}

}  // namespace rbf
