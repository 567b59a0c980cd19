// Directory iteration.
#include <cstring>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

error_code _os9_readdir(os9_path_id dir, os9_dirent* entry) {
    if (dir->isnative || dir->israw || !dir->img) return E_FNA;
    for (;;) {
        const std::int64_t pos = dir->filepos;
        fd_stats fd;
        if (error_code ec = current_fd(*dir, fd)) return ec;
        const std::int64_t size = fd_size(fd);
        if (pos >= size) return E_EOF;
        if (pos + DIRENT_SIZE > size) {
            // A directory whose size ends inside an entry: the part is no
            // entry, and the directory ends there.
            dir->filepos = size;
            return E_EOF;
        }
        const u_char* raw = ahead_span(*dir, pos, DIRENT_SIZE);
        if (!raw) {
            if (error_code ec = ahead_fill(*dir, fd, pos, size)) return ec;
            raw = ahead_span(*dir, pos, DIRENT_SIZE);
            if (!raw) return E_GENERAL;  // the segments end inside the entry
        }
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
