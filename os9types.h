// On-disk records of an RBF disk: the identification sector (LSN 0), the file
// descriptor sector, its segment entries and the directory entry.  Every
// field is a byte or an array of bytes; multi-byte numbers are big-endian and
// are read and written only through the helpers of rbf/bigendian.h.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace rbf {

using u_char = unsigned char;
using error_code = int;

// Error numbers returned by the library (0 is success).  Host-directory and
// host-delete failures return the host's errno instead.
inline constexpr error_code E_SUCCESS = 0;
inline constexpr error_code E_GENERAL = 1;    // general failure
inline constexpr error_code E_ILLARG = 187;   // illegal argument ("." or "..")
inline constexpr error_code E_ISDIR = 192;    // path is a directory
inline constexpr error_code E_EOF = 211;      // end of file
inline constexpr error_code E_FNA = 214;      // file not accessible
inline constexpr error_code E_BPNAM = 215;    // bad pathname
inline constexpr error_code E_PNNF = 216;     // pathname not found
inline constexpr error_code E_SLF = 217;      // segment list full
inline constexpr error_code E_CEF = 218;      // file already exists
inline constexpr error_code E_SHARED = 241;   // units another file claims were kept
inline constexpr error_code E_FULL = 248;     // media full
inline constexpr error_code E_BTYP = 249;     // bad type: not an RBF disk
inline constexpr error_code E_BUSY = 253;     // non-sharable file busy: the image is in use

// Access mode bits of an open, and the attribute bits of fd_att.
inline constexpr int MODE_READ = 0x01;
inline constexpr int MODE_WRITE = 0x02;
inline constexpr int MODE_DIR = 0x80;
inline constexpr u_char ATT_DIR = 0x80;
inline constexpr u_char ATT_SHARE = 0x40;
inline constexpr u_char ATT_PEXEC = 0x20;
inline constexpr u_char ATT_PWRITE = 0x10;
inline constexpr u_char ATT_PREAD = 0x08;
inline constexpr u_char ATT_EXEC = 0x04;
inline constexpr u_char ATT_WRITE = 0x02;
inline constexpr u_char ATT_READ = 0x01;
inline constexpr u_char ATT_NEWDIR = 0xBF;

inline constexpr int SECTOR_SIZE = 256;
inline constexpr int SEGMENT_COUNT = 48;   // entries in an FD's segment list
inline constexpr int DIRENT_SIZE = 32;
inline constexpr int NAME_FIELD = 29;      // bytes of a directory entry's name, the longest name
inline constexpr int DIRENT_LSN = 29;      // offset of the entry's FD sector number

// Identification sector, LSN 0 (the first 100 bytes of the sector).
struct lsn0_sect {
    u_char dd_tot[3];    // total sectors on the disk
    u_char dd_tks;       // track size in sectors
    u_char dd_map[2];    // bytes in the allocation bitmap
    u_char dd_bit[2];    // sectors per cluster
    u_char dd_dir[3];    // LSN of the root directory's FD
    u_char dd_own[2];
    u_char dd_att;
    u_char dd_dsk[2];
    u_char dd_fmt;       // sides + 1
    u_char dd_spt[2];
    u_char dd_res[2];
    u_char dd_bt[3];
    u_char dd_bsz[2];
    u_char dd_dat[5];    // date of formatting
    u_char dd_nam[32];   // disk name, bit 7 set on its last character
    u_char pd_dtp;
    u_char pd_drv;
    u_char pd_stp;
    u_char pd_typ;
    u_char pd_dns;
    u_char pd_cyl[2];
    u_char pd_sid;
    u_char pd_vfy;
    u_char pd_sct[2];
    u_char pd_t0s[2];
    u_char pd_ilv;
    u_char pd_sas;       // segment allocation size, in units
    u_char pd_tfm;
    u_char pd_exten[2];
    u_char pd_stoff;
    u_char pd_att;
    u_char pd_fd[3];
    u_char pd_dfd[3];
    u_char pd_dcp[4];
    u_char pd_dvt[2];
    u_char dd_res1;
    u_char dd_sync[4];
};
using Lsn0_sect = lsn0_sect*;

// One entry of a segment list: `num` units starting at unit `lsn`.
struct fd_seg {
    u_char lsn[3];
    u_char num[2];
};
using Fd_seg = fd_seg*;
using fd_seg_entry = fd_seg;  // lets fd_stats name its member fd_seg

// File descriptor sector.
struct fd_stats {
    u_char fd_att;          // attributes
    u_char fd_own[2];
    u_char fd_dat[5];       // last modification
    u_char fd_lnk;          // link count
    u_char fd_siz[4];       // size in bytes
    u_char fd_creat[3];     // creation date: year, month, day
    fd_seg_entry fd_seg[SEGMENT_COUNT];
};
using Fd_stats = fd_stats*;

// Directory entry: a name of 1 to 29 characters, bit 7 set on its last
// one; a shorter name has a zero byte after it (a name of 29 ends at the
// FD's LSN).
struct fd_dentry {
    u_char name[NAME_FIELD];
    u_char lsn[3];
};
using Fd_dentry = fd_dentry*;

static_assert(sizeof(lsn0_sect) == 100);
static_assert(sizeof(fd_seg) == 5);
static_assert(sizeof(fd_stats) == 256);
static_assert(sizeof(fd_dentry) == 32);
static_assert(offsetof(fd_dentry, lsn) == DIRENT_LSN);
static_assert(offsetof(lsn0_sect, dd_nam) == 31);
static_assert(offsetof(lsn0_sect, pd_sas) == 77);
static_assert(offsetof(fd_stats, fd_siz) == 9);
static_assert(offsetof(fd_stats, fd_seg) == 16);

// Geometry of a disk: LSN 0 decoded and checked.  The only place where a
// sector number, a segment length or a bitmap bit becomes a byte offset.
// Every LSN and every segment length counts 256-byte sectors, whatever the
// cluster size; only the bitmap works in clusters: bit b stands for
// sectors b * dd_bit .. b * dd_bit + dd_bit - 1.
struct disk_geometry {
    std::uint32_t total_units = 0;      // dd_tot, sectors
    std::uint32_t cluster_sectors = 0;  // dd_bit, a power of two
    std::uint32_t bitmap_bytes = 0;     // dd_map
    std::uint32_t root_fd = 0;          // dd_dir
    std::uint32_t sas = 0;              // pd_sas, sectors per new segment (0: unset)
    std::uint32_t unit_bytes = 0;       // bytes of one addressing unit: a sector

    std::uint64_t unit_offset(std::uint64_t lsn) const { return lsn * unit_bytes; }
    std::uint64_t unit_bit(std::uint64_t lsn) const { return lsn / cluster_sectors; }
    // Bits the disk's clusters need: the last one may be partial.
    std::uint64_t cluster_count() const { return (std::uint64_t{total_units} + cluster_sectors - 1) / cluster_sectors; }
    std::uint64_t disk_bytes() const { return std::uint64_t{total_units} * unit_bytes; }
    // First byte after LSN 0 and the sectors of the bitmap: no FD or file
    // data may lie below it.
    std::uint64_t system_area_end() const {
        return SECTOR_SIZE + (std::uint64_t{bitmap_bytes} + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE;
    }
    // First sector after LSN 0 and the bitmap.
    std::uint64_t bitmap_end_unit() const { return (system_area_end() + unit_bytes - 1) / unit_bytes; }
    // First sector above the system area: past the bitmap and past the
    // sectors a format reserves between it and the root's FD (a Dragon
    // disk's boot code), which no file is ever given.
    std::uint64_t first_data_unit() const { return std::max<std::uint64_t>(bitmap_end_unit(), root_fd); }
    // First cluster wholly above the system area: the first that allocation
    // may hand out.
    std::uint64_t first_data_bit() const { return (first_data_unit() + cluster_sectors - 1) / cluster_sectors; }
    // True when sectors lsn .. lsn + units - 1 exist and lie above the system area.
    bool units_sane(std::int64_t lsn, std::int64_t units) const {
        return lsn > 0 && units >= 0 && lsn + units <= std::int64_t{total_units} &&
               unit_offset(static_cast<std::uint64_t>(lsn)) >= system_area_end();
    }
};

// Decodes the 256 bytes of LSN 0.  1 for a dd_bit that is not a power of
// two up to 32768; 249 when they cannot describe an RBF disk: dd_tot 0,
// dd_bit 0, a bitmap of fewer than dd_tot / dd_bit bits or longer
// than those bits need by more than a sector, or the root FD outside the
// disk or inside LSN 0 and the bitmap.
error_code decode_geometry(const u_char* lsn0, disk_geometry* geometry);

}  // namespace rbf
