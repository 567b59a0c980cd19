// dvdel: deletes files from disk images (or from the host).  Directories
// are left to dvprune, which deletes whole trees.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "misc/frame.h"
#include "os9disk.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvdel {<pathlist> [<...>]}\n",
    "Usage:  deletes files; directories are deleted with dvprune\n",
    nullptr,
};

const dv::Program program{.name = "dvdel", .help = helpMessage, .help_without_operands = true};

// The last component of an in-image path or of a host path.
std::string last_name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Deletes one operand; 0 or the error number.  `held` keeps the image
// of the previous operand, so one naming the same image goes on with what
// the library learnt of it (its allocation map, which file claims what).
error_code delete_operand(const std::string& operand, image_ref& held, bool* directory) {
    _pd parts;
    if (error_code ec = validate_pathlist(&parts, operand)) return ec;
    const std::string& path = parts.isnative ? parts.imgfile : parts.pathlist;
    const std::string name = last_name(path);
    if (name == "." || name == "..") return E_ILLARG;
    if (name.empty() || path.back() == '@') return E_BPNAM;
    if (parts.isnative) {
        struct stat st {};
        *directory = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        return *directory ? E_FNA : _os9_delete(operand);
    }
    image_ref image;
    if (error_code ec = image_open(parts.imgfile, true, &image)) return ec;
    held = image;
    // A directory without the read attribute would pass the library's own
    // check and lose its entry, leaving its tree behind: look first.  An
    // entry whose FD cannot be read is not known to be a directory and goes
    // (the library frees nothing on its word).
    os9_stat st;
    error_code ec = _os9_stat_path(image, path, &st);
    if (ec != E_SUCCESS && ec != E_GENERAL) return ec;
    *directory = (ec == E_SUCCESS && st.is_dir);
    if (*directory) return E_FNA;
    const bool booted = dv::boots(image.get());
    ec = _os9_delete(image, path);
    dv::tell_boot_lost("dvdel", parts.imgfile, booted, image.get(), "deleted");
    if (ec == E_ISDIR) {
        *directory = true;
        return E_FNA;
    }
    return ec;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    image_ref held;
    int status = 0;
    for (const char* operand : line.operands) {
        bool directory = false;
        const error_code ec = delete_operand(operand, held, &directory);
        if (ec == E_SUCCESS) continue;
        dv::report_failure("dvdel", ec, "deleting", operand);
        dv::explain_busy("dvdel", ec);
        if (directory) std::fprintf(stderr, "dvdel: '%s' is a directory: dvprune deletes directory trees\n", operand);
        if (!status) status = ec;
    }
    return status;
}
