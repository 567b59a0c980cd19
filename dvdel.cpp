// dvdel: deletes files from disk images (or from the host).  Directories
// are left to dvprune, which deletes whole trees.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "misc/endpoint.h"
#include "misc/frame.h"
#include "misc/operand_expand.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/disk_probe.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvdel {<pathlist> [<...>]}\n",
    "Usage:  deletes files; directories are deleted with dvprune\n",
    "Options:\n",
    "     -f    deletes a host file that holds a disk image too\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('f')};
const dv::Program program{.name = "dvdel", .help = helpMessage, .options = options};

// Why an operand was refused, beyond its error number.
enum class refusal { none, directory, disk_image };

// Deletes one operand; 0 or the error number.  `held` keeps the images of
// the operands before, so one naming the same image goes on with what the
// library learnt of it (its allocation map, which file claims what).
// A host file holding a disk goes only with `force`: "disk.dsk" for
// "disk.dsk:FILE" is one forgotten colon.
error_code delete_operand(const std::string& operand, dv::image_table& held, bool force, refusal* why) {
    pathlist pl;
    if (error_code ec = parse_pathlist(operand, &pl)) return ec;
    // "image:" is the root, as "image:.".
    const std::string name = pl.host ? dv::endpoint{nullptr, pl, pl.image, operand}.last_name()
                                     : (pl.names.empty() ? std::string(".") : pl.last());
    if (name == "." || name == "..") return E_ILLARG;
    if (name.empty() || pl.raw) return E_BPNAM;
    if (pl.host) {
        struct stat st {};
        if (stat(pl.image.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) *why = refusal::directory;
        else if (!force && host_file_is_disk_image(pl.image)) *why = refusal::disk_image;
        return *why != refusal::none ? E_FNA : _os9_delete(operand);
    }
    dv::endpoint e;
    if (error_code ec = dv::endpoint_of(held, operand, true, &e)) return ec;
    // A directory without the read attribute would pass the library's own
    // check and lose its entry, leaving its tree behind: look first.  An
    // entry whose FD cannot be read is not known to be a directory and goes
    // (the library frees nothing on its word).
    os9_stat st;
    error_code ec = _os9_stat_path(e.image, e.path, &st);
    if (ec != E_SUCCESS && ec != E_GENERAL) return ec;
    if (ec == E_SUCCESS && st.is_dir) {
        *why = refusal::directory;
        return E_FNA;
    }
    if (ec == E_SUCCESS && pl.dir_only) return E_FNA;  // "FILE/" names no directory
    const bool booted = dv::boots(e.image.get());
    ec = dv::remove_file(e);
    dv::tell_boot_lost("dvdel", pl.image, booted, e.image.get(), "deleted");
    if (ec == E_ISDIR) {
        *why = refusal::directory;
        return E_FNA;
    }
    return ec;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    bool force = false;
    for (const dv::Given& o : line.options)
        if (o.letter == 'f') force = true;
    dv::image_table held;
    int status = 0;
    for (const char* given : line.operands) {
        // A pattern stands for the files it matches, each deleted as if named.
        std::vector<dv::named_operand> named;
        if (error_code ec = dv::expand_operand(held, given, true, &named)) {
            dv::report_failure("dvdel", ec, "deleting", given);
            if (!status) status = ec;
        }
        for (const dv::named_operand& n : named) {
            const char* operand = n.shown.c_str();
            refusal why = refusal::none;
            const error_code ec = delete_operand(n.operand, held, force, &why);
            if (ec == E_SUCCESS) continue;
            dv::report_failure("dvdel", ec, "deleting", operand);
            if (why == refusal::directory)
                std::fprintf(stderr, "dvdel: '%s' is a directory: dvprune deletes directory trees\n", operand);
            if (why == refusal::disk_image)
                std::fprintf(stderr, "dvdel: '%s' is a disk image; use -f to delete it\n", operand);
            if (!status) status = ec;
        }
    }
    return status;
}
