// dvinit: formats a virtual disk: LSN 0, the allocation bitmap, the root
// directory, and free sectors that read as zeros.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "misc/errors.h"
#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"

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
    "     -i<disk ID>\n",
    nullptr,
};

// Each number within the LSN 0 field that keeps it: pd_cyl, dd_bit and
// dd_dsk are 16 bits, dd_tks 8.
const dv::Option options[] = {
    dv::number('t', 0, 0xFFFF), dv::number('s', 0, 0xFF), dv::text('n'),
    dv::flag('1'),              dv::flag('2'),            dv::number('c', 1, 0xFFFF),
    dv::hex_number('i', 1, 0xFFFF),
};
const dv::Program program{
    .name = "dvinit", .help = helpMessage, .options = options, .style = dv::Style::one_per_argument};

constexpr std::size_t DISK_NAME_BYTES = 32;

// A disk ID for a new disk, never 0.  OS-9 notices a change of disk by its
// ID alone, so two disks made alike must not share one: it would write one
// disk's bitmap over the other's.
std::uint16_t fresh_disk_id() {
    std::uint16_t id = 0;
    for (int tries = 0; id == 0 && tries < 4; ++tries)
        if (getrandom(&id, sizeof id, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof id)) id = 0;
    if (id == 0) {  // no random source: the clock and the process
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        id = static_cast<std::uint16_t>(now.tv_nsec ^ now.tv_sec ^ (getpid() << 4));
    }
    return id ? id : 1;
}

// Why the host would not let `vdisk`'s file be opened or made, in the
// host's words: "" when it can be.  Asked after the fact, without making
// the file.
std::string host_reason(const char* vdisk) {
    pathlist pl;
    if (parse_pathlist(vdisk, &pl) != E_SUCCESS) return {};
    const std::string& file = pl.image;
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
        int fd = open(file.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return std::strerror(errno);
        close(fd);
        return {};
    }
    if (errno != ENOENT) return std::strerror(errno);
    const std::string::size_type slash = file.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    if (access(parent.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return {};
}

// `diskId` 0: a fresh one for this disk.
int do_format(char** argv, const char* vdisk, int tracks, int sectorsPerTrack, int clusterSize, int sides,
              int sectorSize, const char* diskName, int sectorAllocationSize, std::uint16_t diskId) {
    (void)sectorSize;  // always one 256-byte sector
    format_params params;
    params.tracks = tracks;
    params.sectors_per_track = sectorsPerTrack;
    params.sides = sides;
    params.cluster_size = clusterSize;
    params.name = diskName;
    params.sas = sectorAllocationSize;
    params.when = std::time(nullptr);
    params.disk_id = diskId ? diskId : fresh_disk_id();
    // The geometry is checked before the file is touched.
    switch (format_check(params)) {
        case format_fault::too_large:
            // A larger cluster may shrink the bitmap enough.
            if (int c = format_cluster_needed(params); c > clusterSize)
                std::fprintf(stderr, "Disk too large: use -c%d or more\n", c);
            else
                std::fprintf(stderr, "Disk too large\n");
            return 1;
        case format_fault::bad_cluster:
            std::fprintf(stderr, "%s: the cluster size must be a power of two up to 32768\n", argv[0]);
            return 1;
        case format_fault::too_few_sectors: std::fprintf(stderr, "Too few sectors\n"); return 1;
        case format_fault::none: break;
    }

    os9_path_id path = nullptr;
    error_code ec = _os9_open(&path, vdisk, MODE_WRITE);
    // A disk in use is not made anew (the create would empty it at once).
    if (ec != E_SUCCESS && ec != E_BUSY) ec = _os9_create(&path, vdisk, MODE_WRITE, 3);
    if (ec != E_SUCCESS) {
        std::fprintf(stderr, "%s: cannot open virtual disk\n", argv[0]);
        if (ec == E_BUSY)
            dv::explain_busy(argv[0], ec);
        else if (std::string why = host_reason(vdisk); !why.empty())
            std::fprintf(stderr, "%s: '%s': %s\n", argv[0], dv::shown(vdisk).c_str(), why.c_str());
        else
            std::fprintf(stderr, "%s: '%s': error %d (%s)\n", argv[0], dv::shown(vdisk).c_str(), ec, dv::error_meaning(ec));
        return ec;
    }
    ec = _os9_format(path, params);
    if (error_code closed = _os9_close(path); ec == E_SUCCESS) ec = closed;
    if (ec != E_SUCCESS) {
        std::fprintf(stderr, "%s: cannot write virtual disk\n", argv[0]);
        // Half a disk would pass for a whole one (LSN 0 and the bitmap come
        // first): what was written goes.
        if (!std::strchr(vdisk, ':') && truncate(vdisk, 0) != 0) {
            // Nothing more to do: the failure is reported already.
        }
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    int tracks = 35, sectorsPerTrack = 18, clusterSize = 1, sides = 1;
    std::uint16_t diskId = 0;
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
            case 'i': diskId = static_cast<std::uint16_t>(o.number); break;
        }
    }
    std::size_t name_length = std::strlen(diskName);
    if (name_length == 0 || name_length > DISK_NAME_BYTES) {
        std::fprintf(stderr, "%s: the disk name must have 1 to %zu characters\n", argv[0], DISK_NAME_BYTES);
        return 1;
    }
    if (clusterSize > 32768 || (clusterSize & (clusterSize - 1)) != 0) {
        std::fprintf(stderr, "%s: the cluster size must be a power of two up to 32768\n", argv[0]);
        return 1;
    }
    int first_failure = 0;
    for (const char* disk : line.operands) {
        int ec = do_format(argv, disk, tracks, sectorsPerTrack, clusterSize, sides, SECTOR_SIZE, diskName, 8, diskId);
        if (ec != 0 && first_failure == 0) first_failure = ec;
    }
    return first_failure;
}
