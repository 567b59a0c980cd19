// Directory iteration.
#include <algorithm>
#include <cstring>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

constexpr std::int64_t READ_AHEAD = 64 * DIRENT_SIZE;

// Fills the path's read-ahead with the directory bytes from `pos` on: up to
// READ_AHEAD bytes, clipped at fd_siz.  211 at the end, 1 when no segment
// holds the position.
error_code fill_ahead(_pd& p, std::int64_t pos) {
    fd_stats fd;
    if (error_code ec = fd_load(p, p.pl_fd_lsn, fd)) return ec;
    std::int64_t size = fd_size(fd);
    if (pos >= size) return E_EOF;
    std::int64_t want = std::min(READ_AHEAD, size - pos);
    p.dir_ahead.resize(static_cast<std::size_t>(want));
    std::int64_t got = 0;
    error_code ec = file_transfer(p, fd, pos, p.dir_ahead.data(), want, false, false, &got);
    p.dir_ahead.resize(static_cast<std::size_t>(got));
    p.dir_ahead_pos = pos;
    p.dir_ahead_gen = p.img->generation;
    return ec;
}

}  // namespace

error_code _os9_readdir(os9_path_id dir, os9_dirent* entry) {
    if (dir->isnative || dir->israw || !dir->img) return E_FNA;
    for (;;) {
        const std::int64_t pos = dir->filepos;
        const std::int64_t ahead_end = dir->dir_ahead_pos + static_cast<std::int64_t>(dir->dir_ahead.size());
        // The read-ahead serves while nothing was written to the image since
        // it was filled and it holds the whole entry.
        if (dir->dir_ahead_gen != dir->img->generation || pos < dir->dir_ahead_pos || pos + DIRENT_SIZE > ahead_end) {
            if (error_code ec = fill_ahead(*dir, pos)) return ec;
            if (static_cast<std::int64_t>(dir->dir_ahead.size()) < DIRENT_SIZE) {
                // A directory whose size ends inside an entry: the part is
                // no entry, and the directory ends there.
                dir->filepos = pos + static_cast<std::int64_t>(dir->dir_ahead.size());
                return E_EOF;
            }
        }
        const u_char* raw = dir->dir_ahead.data() + (pos - dir->dir_ahead_pos);
        dir->filepos = pos + DIRENT_SIZE;
        if (raw[0] == 0) continue;  // a free or deleted slot
        fd_dentry e;
        std::memcpy(&e, raw, sizeof e);
        entry->name = NameFromField(e.name, NAME_FIELD);
        entry->fd_lsn = get_be24(e.lsn);
        entry->pos = pos;
        return E_SUCCESS;
    }
}

}  // namespace rbf
