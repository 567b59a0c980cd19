// Making directories in an image and on the host.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "os9conv.h"
#include "os9path.h"
#include "rbf/directory.h"

namespace rbf {

using namespace detail;

namespace {

error_code makdir_in(const image_ref& image, const std::string& in_image) {
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    return make_directory(t);
}

// A pathlist with nothing after its colon names a host file (the whole
// pathlist): its parent is the image's root, through the "." entry, and
// the host file receives the new directory's ".." and "." entries.
error_code makdir_host_file(const target& t, const std::string& pathlist) {
    os9_path_id parent_path = nullptr;
    if (error_code ec = open_on_image(&parent_path, t.image, t.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    int parentLSN = parent_path->pl_fd_lsn;
    _os9_close(parent_path);

    os9_path_id dir_path = nullptr;
    if (error_code ec = _os9_create(&dir_path, pathlist, MODE_DIR | MODE_WRITE, ATT_NEWDIR)) return ec;
    error_code ec = dir_write_dots(dir_path, parentLSN, dir_path->pl_fd_lsn);
    error_code closed = _os9_close(dir_path);
    return ec ? ec : closed;
}

}  // namespace

error_code _native_makdir(const std::string& pathlist) {
    return mkdir(pathlist.c_str(), 0755) == 0 ? E_SUCCESS : errno;
}

error_code _os9_makdir(const std::string& pathlist) {
    if (pathlist.find(':') == std::string::npos) return _native_makdir(pathlist);
    target t;
    if (error_code ec = target_of_pathlist(pathlist, &t)) return ec;
    _pd whole;
    if (validate_pathlist(&whole, pathlist) == E_SUCCESS && whole.isnative) return makdir_host_file(t, pathlist);
    // The in-image path as the pathlist names it, with its parent's "." as
    // the parent lookups of the pathlist calls take it.
    return makdir_in(t.image, t.parent_dot.substr(0, t.parent_dot.size() - 1) + t.name);
}

error_code _os9_makdir(const image_ref& image, const std::string& in_image) { return makdir_in(image, in_image); }

}  // namespace rbf
