// Changing a file's date of last modification: the fd_dat bytes of its FD.
#include <cstddef>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

error_code _os9_set_modified(const image_ref& image, const std::string& in_image, std::time_t when) {
    // The date changes whatever the file's own attributes say, as its
    // attributes do.
    os9_path_id p = nullptr;
    int lsn = 0;
    fd_stats fd;
    if (error_code ec = writable_fd_of(image, in_image, &p, &lsn, &fd)) return ec;
    u_char date[5];
    UnixToOS9Time(when, date);
    // Five bytes of one sector: one write, nothing else of the FD touched.
    error_code ec = image_put(*p, unit_offset(*p, lsn) + static_cast<std::int64_t>(offsetof(fd_stats, fd_dat)), date,
                              sizeof date);
    if (error_code closed = _os9_close(p); !ec) ec = closed;
    return ec;
}

}  // namespace rbf
