// What an open path is and where it stands: the answers callers read instead
// of the descriptor's fields.
#include <climits>

#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

bool path_is_host(os9_path_id path) { return path && path->isnative; }
bool path_is_raw(os9_path_id path) { return path && path->israw; }
bool path_is_writable(os9_path_id path) { return path && path->writable; }

int path_mode(os9_path_id path) { return path->mode; }

const std::string& path_image_file(os9_path_id path) { return path->imgfile; }
const std::string& path_in_image(os9_path_id path) { return path->pathlist; }

int path_fd_sector(os9_path_id path) { return path->pl_fd_lsn; }

std::int64_t path_position(os9_path_id path) { return path->filepos; }

error_code path_set_position(os9_path_id path, std::int64_t pos) {
    if (path->isnative) return E_FNA;
    if (pos < 0 || (!path->israw && pos > INT_MAX)) return E_GENERAL;
    path->filepos = pos;
    return E_SUCCESS;
}

error_code path_geometry(os9_path_id path, disk_geometry* geometry) {
    if (path->isnative || !path->img) return E_FNA;
    *geometry = path->geo;
    return E_SUCCESS;
}

std::span<u_char> path_bitmap(os9_path_id path) {
    if (path->isnative) return {};
    return std::span<u_char>(path->bitmap);
}

}  // namespace rbf
