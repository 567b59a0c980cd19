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

}  // namespace

error_code _native_makdir(const std::string& pathlist) {
    return mkdir(pathlist.c_str(), 0755) == 0 ? E_SUCCESS : errno;
}

error_code _os9_makdir(const std::string& pathlist) {
    if (pathlist.find(':') == std::string::npos) return _native_makdir(pathlist);
    target t;
    if (error_code ec = target_of_pathlist(pathlist, &t)) return ec;
    _pd whole;
    // Nothing after the colon is the image's root, which exists (it once
    // made a host file of that name holding a directory's two entries).
    if (validate_pathlist(&whole, pathlist) == E_SUCCESS && whole.isnative) return E_CEF;
    // The in-image path as the pathlist names it, with its parent's "." as
    // the parent lookups of the pathlist calls take it.
    return makdir_in(t.image, t.parent_dot.substr(0, t.parent_dot.size() - 1) + t.name);
}

error_code _os9_makdir(const image_ref& image, const std::string& in_image) { return makdir_in(image, in_image); }

}  // namespace rbf
