// dvmount: makes a disk image a directory of the host (FUSE), read and
// write, until it is unmounted with fusermount3 -u.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "mount/host.h"
#include "mount/ops.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvmount {[<opts>]} <image> <mountpoint>\n",
    "Usage:  mounts a disk image as a directory; unmount with fusermount3 -u <mountpoint>\n",
    "Options:\n",
    "     -r    read-only (also when the image cannot be written)\n",
    "     -f    stays in the foreground\n",
    "     -o <options>  mount options passed to FUSE (comma-separated)\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('r'), dv::flag('f'), dv::text('o')};
const dv::Program program{
    .name = "dvmount", .help = helpMessage, .options = options, .min_operands = 2, .max_operands = 2, .next_word_values = true};

// A mount option's value with the characters FUSE's option list treats
// specially escaped.
std::string option_value(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == ',' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    bool read_only = false, foreground = false;
    std::vector<std::string> fuse_options;
    for (const dv::Given& g : line.options) {
        if (g.letter == 'r') read_only = true;
        if (g.letter == 'f') foreground = true;
        if (g.letter == 'o' && *g.text) fuse_options.emplace_back(g.text);
    }
    const std::string image_name = line.operands[0];
    // The image may be a partition of a larger file: "hd.img@@OFFSET".
    pathlist where;
    if (parse_pathlist(image_name + ":", &where) != E_SUCCESS) {
        dv::report_failure("dvmount", E_BPNAM, "mounting", image_name);
        return E_BPNAM;
    }
    const std::string mountpoint = line.operands[1];

    // Refused before the image is opened (and its lock waited for) and FUSE
    // is asked: a second mount would hide the first, and FUSE's own failure
    // says little of why.
    if (dv::mount::is_mount_point(mountpoint)) {
        std::fprintf(stderr, "dvmount: '%s' is already a mount point\n", mountpoint.c_str());
        return 1;
    }
    bool denied = false;
    if (const std::string why = dv::mount::fuse_unusable(&denied); !why.empty()) {
        std::fprintf(stderr, "dvmount: %s: %s\n", denied ? "no permission to use FUSE" : "FUSE cannot be used",
                     why.c_str());
        return 1;
    }

    dv::mount::mount_state state;
    state.uid = getuid();
    state.gid = getgid();
    error_code ec = E_SUCCESS;
    if (!read_only) {
        ec = image_open(where.image, true, &state.image, where.offset);
        // An image that cannot be written is mounted to be read: a host
        // file without write permission, or a container that is not
        // written (write-protected, or only read).
        const bool host_refused =
            ec == E_PNNF && access(where.image.c_str(), R_OK) == 0 && access(where.image.c_str(), W_OK) != 0;
        if (host_refused || ec == E_FNA) {
            std::fprintf(stderr, "dvmount: '%s' cannot be written: mounted read-only\n", image_name.c_str());
            if (ec == E_FNA)
                if (const std::string why = image_container_note(where.image, where.offset, ec); !why.empty())
                    std::fprintf(stderr, "dvmount: '%s' is %s\n", where.image.c_str(), why.c_str());
            read_only = true;
        }
    }
    if (read_only) ec = image_open(where.image, false, &state.image, where.offset);
    disk_geometry geo;
    if (ec == E_SUCCESS) ec = image_geometry(*state.image, &geo);
    if (ec != E_SUCCESS) {
        dv::report_failure("dvmount", ec, "mounting", image_name);
        return ec;
    }
    state.read_only = read_only;
    // A file whose date no clock can show gets the image's own: a time the
    // host's tools take for real, and one that does not change as the mount
    // writes.
    state.unknown_date = std::time(nullptr);
    if (struct stat st {}; stat(where.image.c_str(), &st) == 0) state.unknown_date = st.st_mtime;
    state.name = image_name;

    // One thread: the library's calls on an image never run side by side.
    std::vector<std::string> fuse_args = {"dvmount", mountpoint, "-s"};
    if (foreground) fuse_args.emplace_back("-f");
    std::string mount_options = "fsname=" + option_value(image_name) + ",subtype=dv,max_read=" +
                                std::to_string(dv::mount::TRANSFER);
    if (read_only) mount_options += ",ro";
    fuse_args.emplace_back("-o");
    fuse_args.push_back(mount_options);
    for (const std::string& o : fuse_options) {
        fuse_args.emplace_back("-o");
        fuse_args.push_back(o);
    }
    std::vector<char*> fuse_argv;
    for (std::string& a : fuse_args) fuse_argv.push_back(a.data());
    fuse_argv.push_back(nullptr);
    // fuse_main's own numbers (2 no mount point, 4 the mount failed, ...)
    // follow its line saying why; the status is that of any refused mount.
    const int status = fuse_main(static_cast<int>(fuse_args.size()), fuse_argv.data(), &dv::mount::operations(),
                                 &state);
    if (status != 0) {
        std::fprintf(stderr, "dvmount: '%s' not mounted on '%s'\n", image_name.c_str(), mountpoint.c_str());
        return 1;
    }
    return 0;
}
