// Changing who owns a file and when it was made: the fd_own and fd_creat
// bytes of its FD.
#include <cstddef>

#include "os9disk.h"
#include "rbf/bigendian.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

// Writes `n` bytes at `field` of the FD of `in_image`, whatever the file's
// own attributes say, in one write of one sector.
error_code put_fd_field(const image_ref& image, const std::string& in_image, std::size_t field, const u_char* bytes,
                        std::size_t n) {
    os9_path_id p = nullptr;
    int lsn = 0;
    fd_stats fd;
    if (error_code ec = writable_fd_of(image, in_image, &p, &lsn, &fd)) return ec;
    error_code ec = image_put(*p, unit_offset(*p, lsn) + static_cast<std::int64_t>(field), bytes, n);
    if (error_code closed = _os9_close(p); !ec) ec = closed;
    return ec;
}

}  // namespace

error_code _os9_set_owner(const image_ref& image, const std::string& in_image, std::uint16_t owner) {
    u_char own[2];
    put_be16(own, owner);
    return put_fd_field(image, in_image, offsetof(fd_stats, fd_own), own, sizeof own);
}

error_code _os9_set_created(const image_ref& image, const std::string& in_image,
                            const std::array<u_char, 3>& created) {
    return put_fd_field(image, in_image, offsetof(fd_stats, fd_creat), created.data(), created.size());
}

}  // namespace rbf
