// Byte reads on host files, raw images and image files.
#include <algorithm>
#include <cstring>

#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

error_code _native_read(os9_path_id path, void* buffer, int* size) {
    int want = std::max(*size, 0);
    std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(want), path->fd.get());
    *size = static_cast<int>(got);
    return (got == 0 && want > 0) ? E_EOF : E_SUCCESS;
}

// Raw reads deliver only bytes that exist: below dd_tot units and inside
// the image file.
error_code raw_read(os9_path_id path, void* buffer, int* size) {
    std::int64_t end = std::min<std::int64_t>(disk_bytes(*path), static_cast<std::int64_t>(image_size(*path->img)));
    if (path->filepos >= disk_bytes(*path)) return E_EOF;
    std::int64_t want = std::clamp<std::int64_t>(*size, 0, std::max<std::int64_t>(end - path->filepos, 0));
    if (*size > 0 && want == 0) return E_EOF;
    std::size_t got = image_read(*path->img, static_cast<std::uint64_t>(path->filepos), buffer,
                                 static_cast<std::size_t>(want));
    path->filepos += static_cast<std::int64_t>(got);
    path->raw_pos = path->filepos;
    *size = static_cast<int>(got);
    return got == 0 && want > 0 ? E_EOF : E_SUCCESS;  // the file shrank under the path
}

}  // namespace

error_code _os9_read(os9_path_id path, void* buffer, int* size) {
    if (path->isnative) return _native_read(path, buffer, size);
    if (path->israw) return raw_read(path, buffer, size);
    return detail::file_read(*path, static_cast<u_char*>(buffer), size, false);
}

namespace detail {

error_code file_read(_pd& p, u_char* buffer, int* size, bool line) {
    fd_stats fd;
    if (error_code ec = current_fd(p, fd)) return ec;
    std::int64_t fsize = fd_size(fd);
    if (p.filepos >= fsize) return E_EOF;
    std::int64_t want = std::min<std::int64_t>(std::max(*size, 0), fsize - p.filepos);
    *size = static_cast<int>(want);
    if (want == 0) return E_SUCCESS;
    std::int64_t done = 0;
    // Small reads (lines, entries) come from the read-ahead, refilled from
    // the position when it does not hold the whole request.
    const u_char* held = want <= READ_AHEAD / 2 ? ahead_span(p, p.filepos, want) : nullptr;
    if (!held && want <= READ_AHEAD / 2 && ahead_fill(p, fd, p.filepos, fsize) == E_SUCCESS)
        held = ahead_span(p, p.filepos, want);
    if (held) {
        done = want;
        if (line) {
            if (const void* cr = std::memchr(held, 0x0D, static_cast<std::size_t>(want)))
                done = static_cast<const u_char*>(cr) - held + 1;
        }
        std::memcpy(buffer, held, static_cast<std::size_t>(done));
    } else if (error_code ec = file_transfer(p, fd, p.filepos, buffer, want, false, line, &done)) {
        return ec;
    }
    p.filepos += done;
    // A byte read reports only the bytes really read; a line read reports
    // the request clipped at the end of the file, its line ending at the
    // first 0x0D.
    if (!line) *size = static_cast<int>(done);
    return E_SUCCESS;
}

}  // namespace detail

}  // namespace rbf
