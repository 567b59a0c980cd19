// Decoding and checking LSN 0 into the disk's geometry.
#include "os9types.h"
#include "rbf/bigendian.h"

namespace rbf {

error_code decode_geometry(const u_char* s0, disk_geometry* g) {
    const auto* lsn0 = reinterpret_cast<const lsn0_sect*>(s0);
    disk_geometry d;
    d.total_units = get_be24(lsn0->dd_tot);
    d.cluster_sectors = get_be16(lsn0->dd_bit);
    d.bitmap_bytes = get_be16(lsn0->dd_map);
    d.root_fd = get_be24(lsn0->dd_dir);
    d.sas = lsn0->pd_sas;
    d.unit_bytes = SECTOR_SIZE;
    if (d.total_units == 0 || d.cluster_sectors == 0) return E_BTYP;
    const std::uint64_t bits_needed = (std::uint64_t{d.total_units} + d.cluster_sectors - 1) / d.cluster_sectors;
    if (std::uint64_t{d.bitmap_bytes} * 8 < bits_needed) return E_BTYP;
    // A formatter writes the bytes the bits need (some one more); a bitmap
    // longer than that by more than a sector describes some other disk, or
    // is not LSN 0 at all (text, another file system).
    if (d.bitmap_bytes > (bits_needed + 7) / 8 + SECTOR_SIZE) return E_BTYP;
    // The root's FD lies on the disk, above LSN 0 and the bitmap.
    if (d.root_fd >= d.total_units || d.root_fd < d.bitmap_end_unit()) return E_BTYP;
    // A disk all the same, but with clusters that are not 1, 2, 4, ... 32768
    // sectors as OS-9 allows: not one to use.
    if (d.cluster_sectors > 32768 || (d.cluster_sectors & (d.cluster_sectors - 1)) != 0) return E_GENERAL;
    *g = d;
    return E_SUCCESS;
}

}  // namespace rbf
