// dvinit: formats a virtual disk: LSN 0, the allocation bitmap, the root
// directory, and free sectors that read as zeros.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"

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

constexpr std::size_t DISK_NAME_BYTES = 32;

int do_format(char** argv, const char* vdisk, int tracks, int sectorsPerTrack, int clusterSize, int sides,
              int sectorSize, const char* diskName, int sectorAllocationSize) {
    (void)sectorSize;  // always one 256-byte sector
    format_params params;
    params.tracks = tracks;
    params.sectors_per_track = sectorsPerTrack;
    params.sides = sides;
    params.cluster_size = clusterSize;
    params.name = diskName;
    params.sas = sectorAllocationSize;
    params.when = std::time(nullptr);
    // The geometry is checked before the file is touched.
    switch (format_check(params)) {
        case format_fault::too_large: std::fprintf(stderr, "Disk too large\n"); return 1;
        case format_fault::too_few_sectors: std::fprintf(stderr, "Too few sectors\n"); return 1;
        case format_fault::none: break;
    }

    os9_path_id path = nullptr;
    error_code ec = _os9_open(&path, vdisk, MODE_WRITE);
    if (ec != E_SUCCESS) ec = _os9_create(&path, vdisk, MODE_WRITE, 3);
    if (ec != E_SUCCESS) {
        std::fprintf(stderr, "%s: cannot open virtual disk\n", argv[0]);
        return ec;
    }
    ec = _os9_format(path, params);
    if (error_code closed = _os9_close(path); ec == E_SUCCESS) ec = closed;
    if (ec != E_SUCCESS) {
        std::fprintf(stderr, "%s: cannot write virtual disk\n", argv[0]);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        show_help(helpMessage);
        return 0;
    }
    int tracks = 35, sectorsPerTrack = 18, clusterSize = 1, sides = 1;
    const char* diskName = "CoCo Disk";
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] != '-') continue;
        switch (a[1]) {
            case '\0': break;
            case 't': tracks = std::atoi(a + 2); break;
            case 's': sectorsPerTrack = std::atoi(a + 2); break;
            case 'n': diskName = a + 2; break;
            case '1': sides = 1; break;
            case '2': sides = 2; break;
            case 'c': clusterSize = std::atoi(a + 2); break;
            case '?':
            case 'h': show_help(helpMessage); return 0;
            default: std::fprintf(stderr, "%s: unknown option '%c'\n", argv[0], a[1]); return 0;
        }
    }
    std::size_t name_length = std::strlen(diskName);
    if (name_length == 0 || name_length > DISK_NAME_BYTES) {
        std::fprintf(stderr, "%s: the disk name must have 1 to %zu characters\n", argv[0], DISK_NAME_BYTES);
        return 1;
    }
    if (clusterSize < 1 || clusterSize > 0xFFFF) {
        std::fprintf(stderr, "%s: the cluster size must be 1 to 65535 sectors\n", argv[0]);
        return 1;
    }
    int first_failure = 0;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') continue;
        int ec = do_format(argv, argv[i], tracks, sectorsPerTrack, clusterSize, sides, SECTOR_SIZE, diskName, 8);
        if (ec != 0 && first_failure == 0) first_failure = ec;
    }
    return first_failure;
}
