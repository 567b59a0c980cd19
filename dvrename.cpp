// dvrename: gives a file or directory of a disk image (or a host file) a new
// name in its own directory, or moves it to another place in the same
// image when the second operand is a pathlist.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "misc/endpoint.h"
#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvrename <pathlist> <newname>\n",
    "        dvrename <pathlist> <image>:<path>\n",
    "Usage:  renames a file or directory in its directory, or moves it to a path in the same image\n",
    "        (into a directory when the path ends in '/' or is one, keeping its name)\n",
    nullptr,
};

const dv::Program program{.name = "dvrename", .help = helpMessage, .min_operands = 2, .max_operands = 2};

error_code rename_operand(const std::string& operand, const std::string& newname) {
    dv::image_table images;
    dv::endpoint e;
    if (error_code ec = dv::endpoint_of(images, operand, true, &e)) return ec;
    if (e.on_host()) return _native_rename(e.pl.image, newname);
    // "image:" is the root, which has no name in a directory (as "image:.").
    dv::facts f;
    if (!e.pl.raw && dv::look(e, &f) == E_SUCCESS)
        if (error_code ec = dv::fits_trailing_slash(e, f)) return ec;
    const bool booted = dv::boots(e.image.get());
    const error_code ec = dv::rename_to(e, newname);
    dv::tell_boot_lost("dvrename", e.pl.image, booted, e.image.get(), "renamed");
    return ec;
}

// Whether two pathlists name the disk of one host file (the same file by
// device and inode, whatever its name, at the same offset).
bool same_disk(const pathlist& a, const pathlist& b) {
    struct stat sa {}, sb {};
    if (stat(a.image.c_str(), &sa) != 0 || stat(b.image.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino && a.offset.value_or(0) == b.offset.value_or(0);
}

// The in-image path the file at `from` goes to for the destination `to` of
// the same image: into a directory (named with a trailing '/', or one that
// is there and is not the file itself) under its own name, else to that
// name.  216 for "DIR/" that is not there, 214 for "FILE/".
error_code move_target(const dv::endpoint& from, const dv::facts& moving, const dv::endpoint& to,
                       std::string* target) {
    dv::facts there;
    if (error_code ec = dv::look(to, &there)) return ec;
    if (to.pl.dir_only && !there.exists) return E_PNNF;
    if (error_code ec = dv::fits_trailing_slash(to, there)) return ec;
    const bool into = there.exists && there.dir && (to.pl.dir_only || there.id != moving.id);
    if (!into) {
        *target = to.path;
        return E_SUCCESS;
    }
    *target = to.path.empty() ? from.last_name() : to.path + "/" + from.last_name();
    return E_SUCCESS;
}

// Moves `operand` to the pathlist `destination`, which must be in the
// same image (else 214 with *elsewhere set).
error_code move_operand(const std::string& operand, const std::string& destination, bool* elsewhere) {
    dv::image_table images;
    dv::endpoint from;
    if (error_code ec = dv::endpoint_of(images, operand, true, &from)) return ec;
    pathlist dest;
    if (error_code ec = parse_pathlist(destination, &dest)) return ec;
    *elsewhere = from.on_host() || !same_disk(from.pl, dest);
    if (*elsewhere) return E_FNA;
    // The destination joins the source's image: one handle, one lock.
    images[dest.volume()] = from.image;
    dv::endpoint to;
    if (error_code ec = dv::endpoint_of(images, destination, true, &to)) return ec;
    if (from.pl.raw || to.pl.raw) return E_BPNAM;
    if (from.path.empty()) return E_ILLARG;  // the root, as "image:."
    dv::facts moving;
    if (error_code ec = dv::look(from, &moving)) return ec;
    if (!moving.exists) return E_PNNF;
    if (error_code ec = dv::fits_trailing_slash(from, moving)) return ec;
    std::string target;
    if (error_code ec = move_target(from, moving, to, &target)) return ec;
    const bool booted = dv::boots(from.image.get());
    const error_code ec = _os9_move(from.image, from.path, target, false);
    dv::tell_boot_lost("dvrename", from.pl.image, booted, from.image.get(), "renamed");
    return ec;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    const std::string second = line.operands[1];
    // A bare name stays in its directory; a pathlist (it holds a colon) moves.
    if (second.find(':') != std::string::npos) {
        bool elsewhere = false;
        const error_code ec = move_operand(line.operands[0], second, &elsewhere);
        if (ec == E_SUCCESS) return 0;
        dv::report_failure("dvrename", ec, "moving", line.operands[0], second);
        if (elsewhere && std::string(line.operands[0]).find(':') == std::string::npos)
            std::fprintf(stderr, "dvrename: '%s' is a host file: a new name without a colon renames it\n",
                         dv::shown(line.operands[0]).c_str());
        else if (elsewhere)
            std::fprintf(stderr, "dvrename: '%s' is in another image than '%s': a move stays in one image\n",
                         dv::shown(second).c_str(), dv::shown(line.operands[0]).c_str());
        return ec;
    }
    const error_code ec = rename_operand(line.operands[0], second);
    if (ec == E_SUCCESS) return 0;
    dv::report_failure("dvrename", ec, "renaming", line.operands[0]);
    return ec;
}
