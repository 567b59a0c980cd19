// dvspace: reports a disk image's name, date, capacity and free space.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvspace {[<opts>]} {<disk> [<...>]} {[<opts>]}\n",
    "Usage:  display OS-9 disk utilization\n",
    "Options:\n",
    nullptr,
};

// Room for the argument, ":." and "@" in the completed pathlist.
constexpr std::size_t PATHLIST_BUFFER = 256;

int do_free(char** argv, const char* p) {
    // The whole image, whatever the operand names inside it.
    pathlist pl;
    std::string os9pathlist = p;
    if (parse_pathlist(os9pathlist, &pl) == E_SUCCESS && pl.host) os9pathlist += ":.";
    os9pathlist += "@";
    os9_path_id path = nullptr;
    error_code ec = os9pathlist.size() >= PATHLIST_BUFFER ? E_BPNAM : _os9_open(&path, os9pathlist, MODE_READ);
    if (ec != E_SUCCESS) {
        dv::report_failure(argv[0], ec, "opening", p);
        std::exit(ec);
    }

    lsn0_sect sector0{};
    _os9_seek(path, 0, 0);
    int size = sizeof sector0;
    _os9_read(path, &sector0, &size);
    os9_usage usage;
    ec = _os9_usage(path, &usage);
    if (ec != E_SUCCESS) {
        dv::report_failure(argv[0], ec, "opening", p);
        std::exit(ec);
    }
    // The bitmap counts clusters; the report counts sectors of 256 bytes.
    // Unsigned 64 bits hold every product below.
    const unsigned long long total_sectors = usage.total_units;
    const unsigned long long sectors_per_cluster = usage.cluster_sectors;
    const unsigned long long cs = usage.unit_bytes;
    const unsigned long long free_sectors = usage.free_units * sectors_per_cluster;
    const unsigned long long largest_free_block = usage.largest_free_run * sectors_per_cluster;
    const unsigned long long bytes_free = free_sectors * cs;

    std::string name = NameFromField(sector0.dd_nam, sizeof sector0.dd_nam);
    const u_char* d = sector0.dd_dat;
    if (OS9TimeIsPossible(d))
        std::printf("\n\"%s\" created on %02d/%02d/%04d\n", name.c_str(), d[1], d[2], d[0] + 1900);
    else  // a date no clock can show: question marks in the same places
        std::printf("\n\"%s\" created on \?\?/\?\?/\?\?\?\?\n", name.c_str());
    // A disk in a container says which; a raw image's report is as always.
    if (const std::string held_in = image_container(*path->img); !held_in.empty())
        std::printf("Container: %s\n", held_in.c_str());
    std::printf("Capacity: %lluK (%llu sectors) %llu-sector clusters\n",
                total_sectors * cs / 1024, total_sectors, sectors_per_cluster);
    std::printf("%llu Free sectors, largest block %llu sectors\n", free_sectors, largest_free_block);
    if (bytes_free >= 1024)
        std::printf("Free space: %lluK (%llu bytes)\n", bytes_free / 1024, bytes_free);
    else
        std::printf("Free space: %llu bytes\n", bytes_free);
    std::printf("\n");
    _os9_close(path);
    return 0;
}

const dv::Program program{.name = "dvspace", .help = helpMessage};

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    for (const char* disk : line.operands) do_free(argv, disk);
    return 0;
}
