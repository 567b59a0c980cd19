// dvconvert: copies a disk image into another container (raw, JVC, VDK,
// DMK): the sectors byte for byte, the tracks as LSN 0 describes them.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "misc/container_names.h"
#include "misc/endpoint.h"
#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "rbf/container_write.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvconvert {[<opts>]} <from> <to>\n",
    "Usage:  copies a disk image into another container\n",
    "Options:\n",
    "     -f<container> = raw, jvc, vdk or dmk (also --to <container>);\n",
    "                     default from the extension of <to>\n",
    nullptr,
};

const dv::Option options[] = {dv::spelled(dv::text('f'), "to")};
const dv::Program program{.name = "dvconvert", .help = helpMessage, .options = options, .min_operands = 2, .max_operands = 2};

int say(const std::string& message) {
    std::fprintf(stderr, "dvconvert: %s\n", message.c_str());
    return 1;
}

// Writes `bytes` to a new file beside `to` and renames it over `to`: the
// destination is whole or as it was.  0, or the error of the host.
error_code write_whole(const std::string& to, const std::vector<u_char>& bytes) {
    mode_t mode = 0666;
    struct stat st {};
    if (stat(to.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return E_ISDIR;
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    std::string temp = to + ".dvconvert-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return dv::host_error(errno);
    error_code ec = E_SUCCESS;
    for (std::size_t at = 0; at < bytes.size() && !ec;) {
        const ssize_t w = write(fd, bytes.data() + at, bytes.size() - at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) ec = dv::host_error(w < 0 ? errno : ENOSPC);
        else at += static_cast<std::size_t>(w);
    }
    if (!ec && fchmod(fd, mode) != 0) ec = dv::host_error(errno);
    if (!ec && fsync(fd) != 0) ec = dv::host_error(errno);
    if (close(fd) != 0 && !ec) ec = dv::host_error(errno);
    if (!ec && rename(temp.c_str(), to.c_str()) != 0) ec = dv::host_error(errno);
    if (ec) unlink(temp.c_str());
    return ec;
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int convert(const std::string& from, const std::string& to, container_kind kind) {
    if (same_file(from, to)) return say("'" + from + "' and '" + to + "' are the same file");
    image_ref image;
    error_code ec = image_open(from, false, &image);
    std::vector<u_char> disk;
    track_geometry geometry;
    if (ec == E_SUCCESS) {
        disk = image_contents(*image);
        ec = disk.size() < SECTOR_SIZE ? E_BTYP : geometry_from_lsn0(disk.data(), disk.size(), &geometry);
    }
    if (ec != E_SUCCESS) {
        dv::report_failure("dvconvert", ec, "reading", from);
        return ec;
    }
    const container_fit fit = container_fits(kind, geometry, disk.size());
    if (fit.what != container_fit::fault::none)
        return say("cannot convert '" + from + "': " + dv::fit_problem(kind, fit));
    std::vector<u_char> out;
    if ((ec = encode_container(kind, disk, geometry, &out)) == E_SUCCESS) ec = write_whole(to, out);
    if (ec != E_SUCCESS) return dv::report_failure("dvconvert", ec, "writing", to);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    const std::string to = line.operands[1];
    std::optional<container_kind> kind = dv::container_of_name(to);
    for (const dv::Given& o : line.options) {
        kind = dv::container_named(o.text);
        if (!kind) return say(std::string("unknown container '") + o.text + "': raw, jvc, vdk or dmk");
    }
    if (kind == container_kind::imd) return say(dv::NO_IMD_WRITING);
    return convert(line.operands[0], to, kind.value_or(container_kind::raw));
}
