// dvcheck: checks disk images, tree-wide, and with -r repairs what can be
// repaired without losing anything that still reads.  Exit status as a
// file-system checker's: 0 clean, 1 problems repaired, 4 problems left,
// 8 an image that cannot be checked (several images: the bits or'ed).
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "misc/operand_expand.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvcheck {[<opts>]} <image> {[<...>]} {[<opts>]}\n",
    "Usage:  checks disk images and repairs them\n",
    "Options:\n",
    "     -r    repairs what can be repaired\n",
    "     -n    never writes (the default)\n",
    "     -v    lists every file checked\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('r'), dv::flag('n'), dv::flag('v')};
const dv::Program program{.name = "dvcheck", .help = helpMessage, .options = options, .usage_status = 16};

constexpr int CLEAN = 0;
constexpr int REPAIRED = 1;
constexpr int LEFT = 4;
constexpr int UNCHECKED = 8;

// The image an operand names: a host file, "image:" (its root) or
// "image:.@" (all of it); a name inside it is no image (215).
error_code image_of(const std::string& operand, pathlist* pl) {
    if (error_code ec = parse_pathlist(operand, pl)) return ec;
    if (pl->host || pl->raw) return E_SUCCESS;
    return pl->names.empty() || (pl->names.size() == 1 && pl->names[0] == ".") ? E_SUCCESS : E_BPNAM;
}

int do_check(const std::string& operand, bool repair, bool verbose) {
    image_ref image;
    pathlist pl;
    // With -v, a pattern inside the image ("d.dsk:CMDS/*") chooses the files
    // listed, by their FD sectors; the whole image is checked all the same.
    const bool chosen = verbose && dv::names_by_pattern(operand);
    std::set<std::uint32_t> listed;
    dv::image_table held;  // the image the pattern was matched in, until the check ends
    error_code bad = chosen ? parse_pathlist(operand, &pl) : image_of(operand, &pl);
    if (!bad && chosen) {
        std::vector<dv::named_operand> named;
        bad = dv::expand_operand(held, operand, repair, &named);
        for (const dv::named_operand& n : named) listed.insert(n.fd_lsn);
    }
    const std::string name = pl.volume();
    if (error_code ec = bad ? bad : image_open(pl.image, repair, &image, pl.offset)) {
        dv::report_failure("dvcheck", ec, "checking", operand);
        return UNCHECKED;
    }
    check_options o;
    o.repair = repair;
    if (verbose)
        o.visit = [&](const std::string& place, std::uint32_t lsn, bool dir) {
            if (chosen && !listed.count(lsn)) return;
            std::printf("%s:%s (FD %u)%s\n", dv::shown(name).c_str(), dv::shown(place).c_str(), lsn, dir ? " directory" : "");
        };
    // A disk inside a container says which: a raw image says nothing.
    if (const std::string held_in = image_container(*image); !held_in.empty())
        std::printf("%s: %s\n", name.c_str(), held_in.c_str());
    check_result r;
    if (error_code ec = _os9_check(image, o, &r)) {
        dv::report_failure("dvcheck", ec, "checking", operand);
        return UNCHECKED;
    }
    std::string boot;  // the boot areas, as the summary names them
    for (const boot_area& a : r.boot_areas) {
        const std::string area = std::string(a.track ? "boot track" : "boot area") + ": LSN " +
                                 std::to_string(a.first) + "-" + std::to_string(a.first + a.count - 1);
        if (verbose) std::printf("%s: %s\n", name.c_str(), area.c_str());
        boot += "; " + area;
    }
    if (verbose && !r.boot_file.empty()) std::printf("%s: boot file: %s\n", name.c_str(), r.boot_file.c_str());
    int left = 0;
    for (const check_problem& p : r.problems) {
        // A run of sectors on one line: "LSN 1224-1241".
        std::string lsn = std::to_string(p.lsn);
        if (p.count > 1) {
            lsn += '-';
            lsn += std::to_string(p.lsn + p.count - 1);
        }
        std::printf("%s:%s (LSN %s): %s%s\n", dv::shown(name).c_str(), dv::shown(p.place).c_str(), lsn.c_str(), p.text.c_str(),
                    p.repaired ? " [repaired]" : "");
        if (!p.repaired) ++left;
    }
    std::printf("%s: %llu files, %llu directories; %llu units used, %llu free, %llu leaked%s; %zu problems found, %d repaired\n",
                name.c_str(), static_cast<unsigned long long>(r.files), static_cast<unsigned long long>(r.directories),
                static_cast<unsigned long long>(r.units_used), static_cast<unsigned long long>(r.units_free),
                static_cast<unsigned long long>(r.leaked), boot.c_str(), r.problems.size(), r.repaired);
    if (left) return LEFT;
    return r.repaired ? REPAIRED : CLEAN;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    bool repair = false;
    bool verbose = false;
    for (const dv::Given& o : line.options) {
        if (o.letter == 'r') repair = true;
        if (o.letter == 'n') repair = false;
        if (o.letter == 'v') verbose = true;
    }
    int status = CLEAN;
    for (const char* operand : line.operands) status |= do_check(operand, repair, verbose);
    return status;
}
