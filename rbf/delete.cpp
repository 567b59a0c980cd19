// Deleting files from an image and from the host.
#include <unistd.h>

#include <cerrno>

#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/claims.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace detail {

error_code delete_entry(_pd& dir, std::int64_t pos, std::uint32_t lsn) {
    // The entry goes first, then the FD's link; units are freed last, so
    // that nothing on the disk points at a unit once it is free.  Only the
    // entry's first byte changes; the rest stays on the disk.
    const u_char free_mark = 0;
    const std::int64_t was = dir.filepos;  // the caller's place in the directory stays
    dir.filepos = pos;
    int size = 1;
    error_code ec = _os9_write(&dir, &free_mark, &size);
    dir.filepos = was;
    if (ec) return ec;
    return release_fd(dir, lsn);
}

error_code release_fd(_pd& dir, std::uint32_t lsn) {
    error_code ec = E_SUCCESS;
    // An entry naming the root (damage) goes; the root stays as it is.
    if (lsn == dir.geo.root_fd) return E_SUCCESS;
    fd_stats fd;
    // An FD that cannot be read is left as it is, and nothing is freed on
    // its word.
    if (fd_load(dir, lsn, fd) != E_SUCCESS) return E_SUCCESS;
    // A count already at 0 (a damaged FD) is not wrapped round: this was its
    // last entry all the same.
    if (fd.fd_lnk > 0) {
        fd.fd_lnk = static_cast<u_char>(fd.fd_lnk - 1);
        if ((ec = fd_store(dir, lsn, fd)) != E_SUCCESS) return ec;
    }
    if (fd.fd_lnk != 0) return E_SUCCESS;
    // The units come from the FD itself, so a file that cannot be opened
    // for reading gives back its units all the same; a unit that another
    // file claims too stays theirs.
    const std::vector<unit_run> runs = claimed_runs(dir, lsn, fd);
    claims_drop_fd(dir, lsn);
    // The cleared bits reach the disk with the directory's next write-back
    // (at the latest its close): until then they only leak.
    const std::int64_t kept = give_unclaimed(dir, runs);
    return kept > 0 ? E_SHARED : E_SUCCESS;
}

}  // namespace detail

namespace {

error_code delete_in(const target& t) {
    os9_path_id probe = nullptr;
    if (open_on_image(&probe, t.image, t.whole, MODE_DIR | MODE_READ, t.raw) == E_SUCCESS) {
        _os9_close(probe);
        return E_ISDIR;
    }
    os9_path_id parent = nullptr;
    if (error_code ec = open_on_image(&parent, t.image, t.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    const std::string& filename = t.name;
    if (NameEquals(filename, ".") || NameEquals(filename, "..")) {
        _os9_close(parent);
        return E_ILLARG;
    }
    if (filename.empty() || filename.size() > NAME_FIELD) {
        _os9_close(parent);
        return E_BPNAM;
    }
    // A directory is never deleted as a file, readable or not: its tree
    // would stay in use for ever.
    os9_stat st;
    if (!t.raw && _os9_stat_path(t.image, t.whole, &st) == E_SUCCESS && st.is_dir) {
        _os9_close(parent);
        return E_ISDIR;
    }
    std::int64_t where = 0;
    fd_dentry match{};
    error_code ec = dir_scan(*parent, 0, [&](const fd_dentry& e, std::int64_t) {
        if (e.name[0] == 0 || !NameFieldEquals(e.name, NAME_FIELD, filename)) return false;
        match = e;
        return true;
    }, &where);
    error_code result = E_SUCCESS;
    if (ec == E_SUCCESS) result = delete_entry(*parent, where, get_be24(match.lsn));
    error_code closed = _os9_close(parent);
    return result ? result : closed;
}

}  // namespace

u_char DecrementLinkCount(os9_path_id path, int fd_lsn) {
    fd_stats fd;
    // An FD that cannot be read or written is left as it is, and reported
    // as still linked so that nothing is freed on its word.
    if (fd_load(*path, fd_lsn, fd) != E_SUCCESS) return 0xFF;
    fd.fd_lnk = static_cast<u_char>(fd.fd_lnk - 1);
    if (fd_store(*path, fd_lsn, fd) != E_SUCCESS) return 0xFF;
    return fd.fd_lnk;
}

error_code _os9_freefile(const std::string& filePath, std::span<u_char> bitmap) {
    os9_path_id file = nullptr;
    if (error_code ec = _os9_open(&file, filePath, MODE_READ)) return ec;
    fd_stats fd;
    error_code ec = _os9_gs_fd(file, SECTOR_SIZE, &fd);
    if (ec == E_SUCCESS) free_segments(*file, fd, bitmap);
    _os9_close(file);
    return ec;
}

error_code _os9_freefile(const image_ref& image, const std::string& in_image, std::span<u_char> bitmap) {
    os9_path_id file = nullptr;
    if (error_code ec = _os9_open(&file, image, in_image, MODE_READ)) return ec;
    fd_stats fd;
    error_code ec = _os9_gs_fd(file, SECTOR_SIZE, &fd);
    if (ec == E_SUCCESS) free_segments(*file, fd, bitmap);
    _os9_close(file);
    return ec;
}

error_code _native_delete(const std::string& pathlist) {
    return unlink(pathlist.c_str()) == 0 ? E_SUCCESS : errno;
}

error_code _os9_delete(const std::string& pathlist) {
    if (pathlist.find(':') == std::string::npos) return _native_delete(pathlist);
    target t;
    if (error_code ec = target_of_pathlist(pathlist, &t)) return ec;
    return delete_in(t);
}

error_code _os9_delete(const image_ref& image, const std::string& in_image) {
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    return delete_in(t);
}

}  // namespace rbf
