// Status calls: end of file, the FD sector, the size.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "os9conv.h"
#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

// An FD made from what the host says of a host file.
error_code native_fd(os9_path_id path, fd_stats& fd) {
    fd = fd_stats{};
    struct stat st {};
    if (stat(path->imgfile.c_str(), &st) != 0) return E_FNA;
    u_char att = 0;
    if (st.st_mode & 0x4000) att |= ATT_DIR;
    if (st.st_mode & 0001) att |= ATT_PEXEC;
    if (st.st_mode & 0002) att |= ATT_PWRITE;
    if (st.st_mode & 0004) att |= ATT_PREAD;
    if (st.st_mode & 0100) att |= ATT_EXEC;
    if (st.st_mode & 0200) att |= ATT_WRITE;
    if (st.st_mode & 0400) att |= ATT_READ;
    fd.fd_att = att;
    UnixToOS9Time(st.st_mtime, fd.fd_dat);
    fd.fd_lnk = 1;
    put_be32(fd.fd_siz, static_cast<std::uint32_t>(st.st_size));
    std::memcpy(fd.fd_creat, fd.fd_dat, 3);
    return E_SUCCESS;
}

std::size_t fd_count(int count) { return static_cast<std::size_t>(std::clamp(count, 0, SECTOR_SIZE)); }

}  // namespace

error_code _os9_gs_eof(os9_path_id path) {
    if (path->isnative) {
        int c = std::getc(path->fd.get());
        if (c == EOF) return E_EOF;
        std::ungetc(c, path->fd.get());
        return E_SUCCESS;
    }
    if (path->israw) return path->filepos >= disk_bytes(*path) ? E_EOF : E_SUCCESS;
    fd_stats fd;
    if (error_code ec = current_fd(*path, fd)) return ec;
    return path->filepos >= std::int64_t{fd_size(fd)} ? E_EOF : E_SUCCESS;
}

error_code _os9_gs_fd(os9_path_id path, int count, fd_stats* fdbuf) {
    fd_stats fd;
    if (path->isnative) {
        std::memset(fdbuf, 0, fd_count(count));
        if (error_code ec = native_fd(path, fd)) return ec;
    } else if (path->israw) {
        return E_FNA;  // a raw image has no FD
    } else if (error_code ec = fd_load(*path, path->pl_fd_lsn, fd)) {
        return ec;
    }
    std::memcpy(fdbuf, &fd, fd_count(count));
    return E_SUCCESS;
}

error_code _os9_gs_fd_set(os9_path_id path, int count, const fd_stats* fdbuf) {
    if (path->isnative) {
        struct stat st {};
        return stat(path->imgfile.c_str(), &st) != 0 ? E_FNA : E_GENERAL;
    }
    if (path->israw) return E_FNA;
    return fd_store(*path, path->pl_fd_lsn, *fdbuf, static_cast<int>(fd_count(count)));
}

error_code _os9_gs_size(os9_path_id path, int* size) {
    std::int64_t bytes;
    if (path->isnative) {
        struct stat st {};
        if (stat(path->imgfile.c_str(), &st) != 0) return E_FNA;
        bytes = st.st_size;
    } else if (path->israw) {
        bytes = disk_bytes(*path);
    } else {
        fd_stats fd;
        if (error_code ec = fd_load(*path, path->pl_fd_lsn, fd)) return ec;
        bytes = fd_size(fd);
    }
    *size = static_cast<int>(std::min<std::int64_t>(bytes, INT_MAX));
    return E_SUCCESS;
}

}  // namespace rbf
