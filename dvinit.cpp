// dvinit: formats a virtual disk: LSN 0, the allocation bitmap, the root
// directory, and free sectors that read as zeros; as a raw image, in a
// container (JVC, VDK, DMK), or as a partition at an offset of a host file.
#include <fcntl.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "misc/errors.h"
#include "misc/container_names.h"
#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"
#include "rbf/container_write.h"
#include "rbf/device.h"

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
    "     -f<container> = raw, jvc, vdk or dmk (also --to <container>);\n",
    "                     default from the disk's extension, else raw\n",
    nullptr,
};

// Each number within the LSN 0 field that keeps it: pd_cyl, dd_bit and
// dd_dsk are 16 bits, dd_tks 8.
const dv::Option options[] = {
    dv::number('t', 0, 0xFFFF), dv::number('s', 0, 0xFF), dv::text('n'),
    dv::flag('1'),              dv::flag('2'),            dv::number('c', 1, 0xFFFF),
    dv::hex_number('i', 1, 0xFFFF), dv::spelled(dv::text('f'), "to"),
    // dd_tot is 24 bits, pd_t0s taken from a track of at most 255, pd_sas 8.
    dv::number('T', 1, 0xFFFFFF), dv::number('z', 1, 0xFF), dv::number('a', 1, 0xFF),
    dv::flag('S'), dv::number('k', 48, 135),
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

// Where a disk goes: a whole host file, raw or in a container, or the bytes
// of a host file from `offset` on (a partition).
struct target {
    std::string file;
    container_kind kind = container_kind::raw;
    std::optional<std::uint64_t> offset;
};

// Reads an operand: "file", or "file@@OFFSET" for a partition.  Says why
// and returns false when it cannot be made as asked.
bool target_of(const char* argv0, const std::string& operand, std::optional<container_kind> asked, target* t) {
    t->file = operand;
    if (const std::size_t at = operand.rfind("@@"); at != std::string::npos) {
        std::string spelled = operand.substr(at + 2);
        while (!spelled.empty() && spelled.back() == ':') spelled.pop_back();  // "hd.img@@0x8000:" as a pathlist has it
        std::uint64_t offset = 0;
        if (!parse_partition_offset(spelled, &offset)) {
            std::fprintf(stderr, "%s: bad partition offset '%s' in '%s'\n", argv0, spelled.c_str(), operand.c_str());
            return false;
        }
        t->file = operand.substr(0, at);
        t->offset = offset;
    }
    if (asked) t->kind = *asked;
    else if (!t->offset && operand.find(':') == std::string::npos)
        t->kind = dv::container_of_name(operand).value_or(container_kind::raw);
    if (t->kind == container_kind::imd) {
        std::fprintf(stderr, "%s: %s\n", argv0, dv::NO_IMD_WRITING);
        return false;
    }
    if (t->kind != container_kind::raw && (t->offset || operand.find(':') != std::string::npos)) {
        std::fprintf(stderr, "%s: a %s image is a host file of its own: '%s'\n", argv0,
                     dv::container_title(t->kind), operand.c_str());
        return false;
    }
    return true;
}

track_geometry tracks_of(const format_params& params) {
    return {static_cast<std::uint32_t>(params.sectors_per_track), static_cast<std::uint32_t>(params.sides),
            static_cast<std::uint32_t>(params.tracks)};
}

// 0 when the geometry makes a disk (checked before any file is touched).
int check_geometry(char** argv, const format_params& params) {
    switch (format_check(params)) {
        case format_fault::too_large:
            // A larger cluster may shrink the bitmap enough.
            if (int c = format_cluster_needed(params); c > params.cluster_size)
                std::fprintf(stderr, "Disk too large: use -c%d or more\n", c);
            else
                std::fprintf(stderr, "Disk too large\n");
            return 1;
        case format_fault::bad_cluster:
            std::fprintf(stderr, "%s: the cluster size must be a power of two up to 32768\n", argv[0]);
            return 1;
        case format_fault::too_few_sectors: std::fprintf(stderr, "Too few sectors\n"); return 1;
        case format_fault::bad_geometry:
            std::fprintf(stderr, "%s: track 0 cannot have more sectors than the other tracks (-z)\n", argv[0]);
            return 1;
        case format_fault::none: break;
    }
    return 0;
}

int format_raw(char** argv, const char* vdisk, const format_params& params) {
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

bool put_all(int fd, const u_char* bytes, std::size_t n, std::uint64_t at) {
    while (n > 0) {
        const ssize_t w = pwrite(fd, bytes, n, static_cast<off_t>(at));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        bytes += w;
        at += static_cast<std::uint64_t>(w);
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Writes a new disk into bytes [offset, offset + its size) of the open file
// and nowhere else: the old bytes there cleared (LSN 0 first, so that a run
// cut short leaves nothing that looks like a disk), the file grown with
// zeros when it ends inside, LSN 0 written last.  `size` is the file's size.
bool write_disk_at(int fd, std::uint64_t offset, std::uint64_t size, const format_params& params) {
    std::uint64_t total = 0;
    const std::vector<u_char> head = format_head(params, &total);
    const std::uint64_t end = offset + total;
    const std::uint64_t inside_end = std::min(end, size);
    if (inside_end > offset) {
        const std::vector<u_char> zeros(1 << 16, 0);
        for (std::uint64_t at = offset; at < inside_end;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), inside_end - at));
            if (!put_all(fd, zeros.data(), n, at)) return false;
            at += n;
        }
    }
    if (end > size && ftruncate(fd, static_cast<off_t>(end)) != 0) return false;
    return put_all(fd, head.data() + SECTOR_SIZE, head.size() - SECTOR_SIZE, offset + SECTOR_SIZE) &&
           put_all(fd, head.data(), SECTOR_SIZE, offset);
}

// Opens the host file of a container or partition for writing, made when
// missing, and holds its lock: the descriptor, or -1 after saying why
// (`*status` the exit status).  Anything but a plain file (or, with
// `block`, a block device) is refused with 214.
int open_locked(char** argv, const std::string& file, bool block, int* status) {
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || (block && S_ISBLK(st.st_mode)))) {
        std::fprintf(stderr, "%s: cannot open virtual disk\n", argv[0]);
        if (fd >= 0) close(fd);
        *status = E_FNA;
        return -1;
    }
    if (error_code ec = lock_file(fd, true)) {
        std::fprintf(stderr, "%s: cannot open virtual disk\n", argv[0]);
        dv::explain_busy(argv[0], ec);
        close(fd);
        *status = ec;
        return -1;
    }
    return fd;
}

// A partition: only its own bytes of the file change.  A failure gives the
// file back its old length; the partition's old disk is gone.
int format_partition(char** argv, const target& t, const format_params& params) {
    int status = 0;
    const int fd = open_locked(argv, t.file, true, &status);
    if (fd < 0) return status;
    const off_t size = lseek(fd, 0, SEEK_END);  // a block device's size too
    bool done = size >= 0 && write_disk_at(fd, *t.offset, static_cast<std::uint64_t>(size), params);
    if (!done && size >= 0) {
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > size && ftruncate(fd, size) != 0) {
            // Nothing more to do: the failure is reported below.
        }
    }
    if (close(fd) != 0) done = false;
    if (!done) {
        std::fprintf(stderr, "%s: cannot write virtual disk\n", argv[0]);
        return 1;
    }
    return 0;
}

// A container: the whole file is the container's bytes.  JVC is its header
// and the disk after it (sparse, as a raw image); VDK and DMK are made in
// memory (at most a few MiB: 255 cylinders of two sides).
int format_container(char** argv, const target& t, const format_params& params) {
    int status = 0;
    const int fd = open_locked(argv, t.file, false, &status);
    if (fd < 0) return status;
    const track_geometry tracks = tracks_of(params);
    bool done = ftruncate(fd, 0) == 0;
    if (done && t.kind == container_kind::jvc) {
        const std::vector<u_char> header = jvc_header(tracks);
        done = put_all(fd, header.data(), header.size(), 0) && write_disk_at(fd, header.size(), header.size(), params);
    } else if (done) {
        std::uint64_t total = 0;
        std::vector<u_char> disk = format_head(params, &total);
        disk.resize(static_cast<std::size_t>(total), 0);
        std::vector<u_char> bytes;
        done = encode_container(t.kind, disk, tracks, &bytes) == E_SUCCESS && put_all(fd, bytes.data(), bytes.size(), 0);
    }
    if (!done && ftruncate(fd, 0) != 0) {
        // Nothing more to do: the failure is reported below.
    }
    if (close(fd) != 0) done = false;
    if (!done) {
        std::fprintf(stderr, "%s: cannot write virtual disk\n", argv[0]);
        return 1;
    }
    return 0;
}

int do_format(char** argv, const target& t, const format_params& params) {
    if (t.offset) return format_partition(argv, t, params);
    if (t.kind != container_kind::raw) return format_container(argv, t, params);
    return format_raw(argv, t.file.c_str(), params);
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    int tracks = 35, sectorsPerTrack = 18, clusterSize = 1, sides = 1, track0 = 0, sas = 8, tpi = 48;
    long long totalSectors = 0;
    bool singleDensity = false, tracksGiven = false, twoSides = false;
    std::uint16_t diskId = 0;
    const char* diskName = "CoCo Disk";
    std::optional<container_kind> container;
    for (const dv::Given& o : line.options) {
        const int n = static_cast<int>(o.number);
        switch (o.letter) {
            case 't': tracks = n; tracksGiven = true; break;
            case 'T': totalSectors = static_cast<long long>(o.number); break;
            case 'z': track0 = n; break;
            case 'a': sas = n; break;
            case 'S': singleDensity = true; break;
            case 'k':
                if (n != 48 && n != 96 && n != 135) {
                    std::fprintf(stderr, "%s: the track density must be 48, 96 or 135 tpi\n", argv[0]);
                    return 1;
                }
                tpi = n;
                break;
            case 's': sectorsPerTrack = n; break;
            case 'n': diskName = o.text; break;
            case '1': sides = 1; break;
            case '2': sides = 2; twoSides = true; break;
            case 'c': clusterSize = n; break;
            case 'i': diskId = static_cast<std::uint16_t>(o.number); break;
            case 'f':
                container = dv::container_named(o.text);
                if (!container) {
                    std::fprintf(stderr, "%s: unknown container '%s': raw, jvc, vdk or dmk\n", argv[0], o.text);
                    return 1;
                }
                break;
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
    if (totalSectors > 0 && (tracksGiven || twoSides || track0 > 0)) {
        std::fprintf(stderr, "%s: -T gives the whole disk, one side: not with -t, -2 or -z\n", argv[0]);
        return 1;
    }
    format_params params;
    params.total_sectors = totalSectors;
    params.track0_sectors = track0;
    params.double_density = !singleDensity;
    params.tpi = tpi;
    params.tracks = tracks;
    params.sectors_per_track = sectorsPerTrack;
    params.sides = sides;
    params.cluster_size = clusterSize;
    params.name = diskName;
    params.sas = sas;
    // Every operand is read, and its container checked, before any is touched.
    std::vector<target> targets(line.operands.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!target_of(argv[0], line.operands[i], container, &targets[i])) return 1;
        if (check_geometry(argv, params) != 0) return 1;
        // A track image holds whole tracks of one length each.
        if (targets[i].kind != container_kind::raw && (totalSectors > 0 || track0 > 0)) {
            std::fprintf(stderr, "%s: cannot make '%s': a %s image needs whole tracks (no -T or -z)\n", argv[0],
                         line.operands[i], dv::container_title(targets[i].kind));
            return 1;
        }
        const track_geometry g = tracks_of(params);
        const std::uint64_t bytes = std::uint64_t{g.cylinders} * g.sides * g.sectors_per_track * SECTOR_SIZE;
        if (const container_fit fit = container_fits(targets[i].kind, g, bytes);
            fit.what != container_fit::fault::none) {
            std::fprintf(stderr, "%s: cannot make '%s': %s\n", argv[0], line.operands[i],
                         dv::fit_problem(targets[i].kind, fit).c_str());
            return 1;
        }
    }
    int first_failure = 0;
    for (const target& t : targets) {
        params.when = std::time(nullptr);
        params.disk_id = diskId ? diskId : fresh_disk_id();
        int ec = do_format(argv, t, params);
        if (ec != 0 && first_failure == 0) first_failure = ec;
    }
    return first_failure;
}
