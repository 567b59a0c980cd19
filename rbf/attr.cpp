// Changing a file's attributes: the fd_att byte of its FD.
#include <cstddef>

#include "os9disk.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

error_code _os9_set_attributes(const image_ref& image, const std::string& in_image, u_char set, u_char clear,
                               u_char* now) {
    // Whether a file is a directory is what its data is, not a permission.
    if ((set | clear) & ATT_DIR) return E_FNA;
    // The walk and the change need no access rights of the file itself, so
    // a file without the write attribute can be given it.
    os9_path_id p = nullptr;
    int lsn = 0;
    fd_stats fd;
    if (error_code ec = writable_fd_of(image, in_image, &p, &lsn, &fd)) return ec;
    const auto att = static_cast<u_char>((fd.fd_att & ~clear) | set);
    error_code ec = E_SUCCESS;
    // One byte of the FD: nothing else of it can be torn by a crash.
    if (att != fd.fd_att)
        ec = image_put(*p, unit_offset(*p, lsn) + static_cast<std::int64_t>(offsetof(fd_stats, fd_att)), &att, 1);
    if (ec == E_SUCCESS) *now = att;
    if (error_code closed = _os9_close(p); !ec) ec = closed;
    return ec;
}

}  // namespace rbf
