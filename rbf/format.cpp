// The layout of a new disk: LSN 0, the allocation bitmap and the root
// directory, with every other sector free and zero.
#include <algorithm>
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
    long long total;       // sectors
    long long cluster;     // dd_bit
    long long clusters;    // bits: the last cluster may be partial
    int map_bytes;         // dd_map
    int bitmap_sectors;    // sectors the bitmap occupies
    long long dd_dir;      // the sector after LSN 0 and the bitmap
    long long root_data;   // sectors of the root's data, right after its FD
    long long allocated;   // sectors from LSN 0 to the end of the root's data
};

layout layout_of(const format_params& f) {
    layout l{};
    l.total = format_total_sectors(f);
    l.cluster = std::max(f.cluster_size, 1);
    l.clusters = (l.total + l.cluster - 1) / l.cluster;
    // One bit per cluster.  A one-sector-cluster disk gets a byte more than
    // its bits need, as formatters have always written it; larger clusters
    // get what the bits need, so that the largest disks fit.
    l.map_bytes = static_cast<int>(l.cluster == 1 ? l.clusters / 8 + 1 : (l.clusters + 7) / 8);
    l.bitmap_sectors = l.map_bytes / SECTOR_SIZE + 1;
    // As OS-9 lays a disk out: the root's FD right after the bitmap and its
    // data (pd_sas sectors less the FD's) right after the FD, the whole
    // system area one run from LSN 0 that ends on a cluster boundary, so
    // that every cluster of it belongs to the root or to the system.
    l.dd_dir = 1 + l.bitmap_sectors;
    const long long end = (l.dd_dir + SAS(2, f.sas) + l.cluster - 1) / l.cluster * l.cluster;
    l.root_data = end - l.dd_dir - 1;
    l.allocated = end;
    return l;
}

bool power_of_two(long long n) { return n > 0 && (n & (n - 1)) == 0; }

// dd_fmt: bit 0 two sides, bit 1 double density, bit 2 96 tpi (48 when
// clear).  135 tpi drives step 80 tracks as 96 tpi ones do, so they set bit
// 2 too; pd_typ bit 1 tells the 3½-inch drive from a 5¼-inch one.
u_char dd_fmt_of(const format_params& f) {
    return static_cast<u_char>((f.sides == 2 ? 1 : 0) | (f.double_density ? 2 : 0) | (f.tpi != 48 ? 4 : 0));
}

}  // namespace

long long format_total_sectors(const format_params& f) {
    if (f.total_sectors > 0) return f.total_sectors;
    const long long tracks = static_cast<long long>(f.tracks) * f.sides;
    if (tracks <= 0 || f.sectors_per_track <= 0) return 0;
    const long long t0 = f.track0_sectors > 0 ? f.track0_sectors : f.sectors_per_track;
    return t0 + (tracks - 1) * f.sectors_per_track;
}

format_fault format_check(const format_params& f) {
    if (f.track0_sectors < 0 || f.track0_sectors > f.sectors_per_track || f.total_sectors < 0 ||
        (f.total_sectors > 0 && (f.sides != 1 || f.track0_sectors != 0)) || (f.tpi != 48 && f.tpi != 96 && f.tpi != 135))
        return format_fault::bad_geometry;
    const long long total = format_total_sectors(f);
    if (!power_of_two(f.cluster_size) || f.cluster_size > 32768) return format_fault::bad_cluster;
    if (total > LARGEST_LSN_COUNT) return format_fault::too_large;
    const layout l = layout_of(f);
    if (l.map_bytes > LARGEST_BITMAP_BYTES) return format_fault::too_large;
    if (f.sas <= 0) return format_fault::too_few_sectors;
    if (l.total <= 3 || l.total < l.allocated) return format_fault::too_few_sectors;
    return format_fault::none;
}

int format_cluster_needed(const format_params& f) {
    format_params g = f;
    for (g.cluster_size = 1; g.cluster_size <= 32768; g.cluster_size *= 2)
        if (layout_of(g).total <= LARGEST_LSN_COUNT && layout_of(g).map_bytes <= LARGEST_BITMAP_BYTES)
            return g.cluster_size;
    return 0;
}

std::vector<u_char> format_head(const format_params& f, std::uint64_t* total_bytes) {
    const layout l = layout_of(f);
    *total_bytes = static_cast<std::uint64_t>(l.total) * SECTOR_SIZE;
    std::vector<u_char> head(static_cast<std::size_t>(l.allocated) * SECTOR_SIZE, 0);
    const int first_partial = static_cast<int>(l.total / l.cluster);  // no whole cluster from here on

    // LSN 0.
    auto* s0 = reinterpret_cast<lsn0_sect*>(head.data());
    put_be24(s0->dd_tot, static_cast<std::uint32_t>(l.total));
    s0->dd_tks = static_cast<u_char>(f.sectors_per_track);
    put_be16(s0->dd_map, static_cast<std::uint32_t>(l.map_bytes));
    put_be16(s0->dd_bit, static_cast<std::uint32_t>(f.cluster_size));
    put_be24(s0->dd_dir, static_cast<std::uint32_t>(l.dd_dir));
    s0->dd_att = 0xFF;
    put_be16(s0->dd_dsk, f.disk_id);
    s0->dd_fmt = dd_fmt_of(f);
    put_be16(s0->dd_spt, static_cast<std::uint32_t>(f.sectors_per_track));
    UnixToOS9Time(f.when, s0->dd_dat);
    std::string name = f.name.substr(0, sizeof s0->dd_nam);
    StringToOS9Name(name);
    std::memcpy(s0->dd_nam, name.data(), name.size());
    s0->pd_dtp = 1;
    s0->pd_drv = 1;
    s0->pd_typ = static_cast<u_char>(f.tpi == 135 ? 0x22 : 0x20);
    s0->pd_dns = static_cast<u_char>((f.double_density ? 1 : 0) | (f.tpi != 48 ? 2 : 0));
    // A total-sector disk has as many cylinders as its sectors fill, as far
    // as the 16-bit field goes.
    long long cylinders = f.tracks;
    if (f.total_sectors > 0)
        cylinders = std::min<long long>((l.total + f.sectors_per_track - 1) / std::max(f.sectors_per_track, 1), 0xFFFF);
    put_be16(s0->pd_cyl, static_cast<std::uint32_t>(cylinders));
    s0->pd_sid = static_cast<u_char>(f.sides);
    put_be16(s0->pd_sct, static_cast<std::uint32_t>(f.sectors_per_track));
    put_be16(s0->pd_t0s, static_cast<std::uint32_t>(f.track0_sectors > 0 ? f.track0_sectors : f.sectors_per_track));
    s0->pd_ilv = 3;
    s0->pd_sas = static_cast<u_char>(f.sas);

    // Bitmap: clusters not wholly on the disk, then LSN 0, the bitmap
    // sectors and the root directory's allocation.
    u_char* bitmap = head.data() + SECTOR_SIZE;
    const std::size_t bitmap_bytes = static_cast<std::size_t>(l.bitmap_sectors) * SECTOR_SIZE;
    _os9_allocate_bits(bitmap, bitmap_bytes, first_partial,
                       static_cast<int>(static_cast<long long>(bitmap_bytes) * 8 - first_partial));
    _os9_allocate_bits(bitmap, bitmap_bytes, 0, static_cast<int>(l.allocated / l.cluster));

    // Root directory: its FD, then its data with ".." and ".".
    u_char* root = head.data() + l.dd_dir * SECTOR_SIZE;
    auto* fd = reinterpret_cast<fd_stats*>(root);
    fd->fd_att = ATT_NEWDIR;
    UnixToOS9Time(f.when, fd->fd_dat);
    fd->fd_lnk = 1;
    put_be32(fd->fd_siz, 2 * DIRENT_SIZE);
    std::memcpy(fd->fd_creat, fd->fd_dat, 3);
    put_be24(fd->fd_seg[0].lsn, static_cast<std::uint32_t>(l.dd_dir + 1));
    put_be16(fd->fd_seg[0].num, static_cast<std::uint32_t>(l.root_data));
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
