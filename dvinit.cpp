// dvinit: formats a virtual disk: LSN 0, the allocation bitmap, the root
// directory, and free sectors that read as zeros.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9path.h"
#include "os9sys.h"
#include "rbf/bigendian.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvinit {[<opts>]} <disk> {[<...>]} {[<opts>]}\n",
    "Usage:  formats a virtual disk\n",
    "Options:\n",
    "     -t<tracks>\n",
    "     -s<sectors/track>\n",
    "     -n<disk name>\n",
    "     -1 = 1 side\n",
    "     -2 = 2 sides\n",
    "     -c = cluser size\n",
    nullptr,
};

// Each number within the LSN 0 field that keeps it: pd_cyl and dd_bit are
// 16 bits, dd_tks 8.
const dv::Option options[] = {
    dv::number('t', 0, 0xFFFF), dv::number('s', 0, 0xFF), dv::text('n'),
    dv::flag('1'),              dv::flag('2'),            dv::number('c', 1, 0xFFFF),
};
const dv::Program program{
    .name = "dvinit", .help = helpMessage, .options = options, .style = dv::Style::one_per_argument};

constexpr long long LARGEST_LSN_COUNT = 0xFFFFFF;
constexpr long long LARGEST_BITMAP_BYTES = 0xFFFF;  // dd_map is 16 bits
constexpr std::size_t DISK_NAME_BYTES = 32;

// Writes `n` bytes; the host takes them or the disk is not made.
bool put(os9_path_id path, const void* data, int n) {
    int size = n;
    return _os9_write(path, data, &size) == E_SUCCESS && size == n;
}

int do_format(char** argv, const char* vdisk, int tracks, int sectorsPerTrack, int clusterSize, int sides,
              int sectorSize, const char* diskName, int sectorAllocationSize) {
    // The geometry is checked before the file is touched.
    long long total = static_cast<long long>(tracks) * sectorsPerTrack * sides;
    if (total > LARGEST_LSN_COUNT || total / 8 + 1 > LARGEST_BITMAP_BYTES) {
        std::fprintf(stderr, "Disk too large\n");
        return 1;
    }
    const int map_bytes = static_cast<int>(total / 8 + 1);
    const int bitmapSectors = map_bytes / sectorSize + 1;
    const int root_units = SAS(2, sectorAllocationSize);
    const int allocated = 1 + bitmapSectors + root_units;
    if (total <= 3 || total < allocated) {
        std::fprintf(stderr, "Too few sectors\n");
        return 1;
    }

    os9_path_id path = nullptr;
    error_code ec = _os9_open(&path, vdisk, MODE_WRITE);
    if (ec != E_SUCCESS) ec = _os9_create(&path, vdisk, MODE_WRITE, 3);
    if (ec != E_SUCCESS) {
        std::fprintf(stderr, "%s: cannot open virtual disk\n", argv[0]);
        return ec;
    }
    _os9_seek(path, 0, 0);

    const int dd_dir = map_bytes / sectorSize + 2;
    std::time_t now = std::time(nullptr);

    // LSN 0.
    std::vector<u_char> sector(static_cast<std::size_t>(sectorSize), 0);
    auto* s0 = reinterpret_cast<lsn0_sect*>(sector.data());
    put_be24(s0->dd_tot, static_cast<std::uint32_t>(total));
    s0->dd_tks = static_cast<u_char>(sectorsPerTrack);
    put_be16(s0->dd_map, static_cast<std::uint32_t>(map_bytes));
    put_be16(s0->dd_bit, static_cast<std::uint32_t>(clusterSize));
    put_be24(s0->dd_dir, static_cast<std::uint32_t>(dd_dir));
    s0->dd_att = 0xFF;
    s0->dd_dsk[0] = 0x01;
    s0->dd_dsk[1] = 0x80;
    s0->dd_fmt = static_cast<u_char>(sides + 1);
    put_be16(s0->dd_spt, static_cast<std::uint32_t>(sectorsPerTrack));
    UnixToOS9Time(now, s0->dd_dat);
    std::string name = diskName;
    StringToOS9Name(name);
    std::memcpy(s0->dd_nam, name.data(), name.size());
    s0->pd_dtp = 1;
    s0->pd_drv = 1;
    s0->pd_typ = 0x20;
    s0->pd_dns = 1;
    put_be16(s0->pd_cyl, static_cast<std::uint32_t>(tracks));
    s0->pd_sid = static_cast<u_char>(sides);
    put_be16(s0->pd_sct, static_cast<std::uint32_t>(sectorsPerTrack));
    put_be16(s0->pd_t0s, static_cast<std::uint32_t>(sectorsPerTrack));
    s0->pd_ilv = 3;
    s0->pd_sas = static_cast<u_char>(sectorAllocationSize);
    bool ok = put(path, sector.data(), sectorSize);

    // Bitmap: units past the disk's end, then LSN 0, the bitmap sectors and
    // the root directory's allocation.
    std::vector<u_char> bitmap(static_cast<std::size_t>(bitmapSectors) * sectorSize, 0);
    _os9_allocate_bits(bitmap.data(), bitmap.size(), static_cast<int>(total),
                       static_cast<int>(bitmap.size() * 8 - total));
    _os9_allocate_bits(bitmap.data(), bitmap.size(), 0, allocated);
    ok = ok && put(path, bitmap.data(), static_cast<int>(bitmap.size()));

    // Root directory: its FD, then its data with ".." and ".".
    std::vector<u_char> root(static_cast<std::size_t>(root_units) * sectorSize, 0);
    auto* fd = reinterpret_cast<fd_stats*>(root.data());
    fd->fd_att = ATT_NEWDIR;
    UnixToOS9Time(now, fd->fd_dat);
    fd->fd_lnk = 1;
    put_be32(fd->fd_siz, 2 * DIRENT_SIZE);
    std::memcpy(fd->fd_creat, fd->fd_dat, 3);
    put_be24(fd->fd_seg[0].lsn, static_cast<std::uint32_t>(dd_dir + 1));
    put_be16(fd->fd_seg[0].num, static_cast<std::uint32_t>(root_units - 1));
    auto* entries = reinterpret_cast<fd_dentry*>(root.data() + sectorSize);
    entries[0].name[0] = '.';
    entries[0].name[1] = '.' | 0x80;
    put_be24(entries[0].lsn, static_cast<std::uint32_t>(dd_dir));
    entries[1].name[0] = '.' | 0x80;
    put_be24(entries[1].lsn, static_cast<std::uint32_t>(dd_dir));
    ok = ok && put(path, root.data(), static_cast<int>(root.size()));

    // Free sectors read as zeros: a hole past the file's end, old bytes
    // cleared inside it.
    long long sectorsLeft = total - allocated;
    if (ok && path->isnative) {
        ok = _native_zero_fill(path, sectorsLeft * sectorSize) == E_SUCCESS;
    } else if (ok) {
        for (long long i = 0; ok && i < sectorsLeft; ++i) ok = put(path, std::vector<u_char>(sectorSize).data(), sectorSize);
    }
    _os9_close(path);
    if (!ok) {
        std::fprintf(stderr, "%s: cannot write virtual disk\n", argv[0]);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    int tracks = 35, sectorsPerTrack = 18, clusterSize = 1, sides = 1;
    const char* diskName = "CoCo Disk";
    for (const dv::Given& o : line.options) {
        const int n = static_cast<int>(o.number);
        switch (o.letter) {
            case 't': tracks = n; break;
            case 's': sectorsPerTrack = n; break;
            case 'n': diskName = o.text; break;
            case '1': sides = 1; break;
            case '2': sides = 2; break;
            case 'c': clusterSize = n; break;
        }
    }
    std::size_t name_length = std::strlen(diskName);
    if (name_length == 0 || name_length > DISK_NAME_BYTES) {
        std::fprintf(stderr, "%s: the disk name must have 1 to %zu characters\n", argv[0], DISK_NAME_BYTES);
        return 1;
    }
    int first_failure = 0;
    for (const char* disk : line.operands) {
        int ec = do_format(argv, disk, tracks, sectorsPerTrack, clusterSize, sides, SECTOR_SIZE, diskName, 8);
        if (ec != 0 && first_failure == 0) first_failure = ec;
    }
    return first_failure;
}
