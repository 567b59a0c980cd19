// Changing a file's date of last modification: the fd_dat bytes of its FD.
#include <cstddef>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

error_code _os9_set_modified(const image_ref& image, const std::string& in_image, std::time_t when) {
    if (!in_image.empty() && in_image.back() == '@') return E_BPNAM;
    // A raw path carries the geometry and the write access; a date changes
    // whatever the file's own attributes say, as its attributes do.
    os9_path_id p = nullptr;
    if (error_code ec = open_on_image(&p, image, in_image, MODE_WRITE, true)) return ec;
    int lsn = 0;
    fd_stats fd;
    error_code ec = walk_path(*p, in_image, &lsn);
    if (ec == E_SUCCESS) ec = fd_load(*p, lsn, fd);
    if (ec == E_SUCCESS) {
        u_char date[5];
        UnixToOS9Time(when, date);
        // Five bytes of one sector: one write, nothing else of the FD touched.
        ec = image_put(*p, unit_offset(*p, lsn) + static_cast<std::int64_t>(offsetof(fd_stats, fd_dat)), date,
                       sizeof date);
    }
    if (error_code closed = _os9_close(p); !ec) ec = closed;
    return ec;
}

}  // namespace rbf
