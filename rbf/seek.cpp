// Positioning.
#include <climits>

#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

error_code _os9_seek(os9_path_id path, int pos, int mode) {
    if (path->isnative) {
        std::fseek(path->fd.get(), pos, mode);
        return E_SUCCESS;
    }
    if (path->israw) {
        // Moves only where the next raw write lands, as a host stream would.
        std::int64_t base = mode == 0 ? 0
                            : mode == 1 ? path->raw_pos
                            : mode == 2 ? static_cast<std::int64_t>(image_size(*path->img))
                                        : -1;
        if (base >= 0 && base + pos >= 0) path->raw_pos = base + pos;
        return E_SUCCESS;
    }
    std::int64_t base;
    if (mode == 0) {
        base = 0;
    } else if (mode == 1) {
        base = path->filepos;
    } else if (mode == 2) {
        fd_stats fd;
        if (error_code ec = fd_load(*path, path->pl_fd_lsn, fd)) return ec;
        base = fd_size(fd);
    } else {
        return E_SUCCESS;
    }
    std::int64_t target = base + pos;
    if (target < 0 || target > INT_MAX) return E_GENERAL;
    path->filepos = target;
    return E_SUCCESS;
}

}  // namespace rbf
