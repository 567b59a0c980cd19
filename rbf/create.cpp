// Creation of new files in an image and on the host.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "os9conv.h"
#include "os9path.h"
#include "rbf/claims.h"
#include "rbf/directory.h"
#include "rbf/image.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace detail {

fd_dentry entry_for(const std::string& name, std::int64_t lsn) {
    fd_dentry e{};
    std::string stored = name;
    StringToOS9Name(stored);
    std::memcpy(e.name, stored.data(), std::min<std::size_t>(stored.size(), NAME_FIELD));
    put_be24(e.lsn, static_cast<std::uint32_t>(lsn));
    return e;
}

error_code new_fd(_pd& parent, const fd_stats& fd, std::int64_t* lsn) {
    // The lowest free cluster above the system area, marked in use on the
    // disk before the FD is written there.  The FD takes its first sector;
    // as OS-9 lays a file out, the rest of the cluster is the file's first
    // segment, so FD and data are one run from a cluster boundary and a
    // delete that frees the segments frees the FD's cluster with them.
    std::span<u_char> bitmap = alloc_bitmap(parent);
    const std::int64_t bit = getfreebit_from(bitmap, search_start(parent), alloc_limit(parent));
    if (bit < 0) return E_FULL;
    note_first_clear(parent, bit + 1);  // taken now
    map_changed(parent, bit, 1);
    note_taken(parent, bit, 1);
    const std::int64_t at = bit * parent.geo.cluster_sectors;
    fd_stats laid = fd;
    const std::int64_t rest =
        std::min<std::int64_t>(parent.geo.cluster_sectors, disk_units(parent) - at) - 1;
    if (rest > 0 && get_be24(laid.fd_seg[0].lsn) == 0) {
        put_be24(laid.fd_seg[0].lsn, static_cast<std::uint32_t>(at + 1));
        put_be16(laid.fd_seg[0].num, static_cast<std::uint32_t>(rest));
    }
    error_code ec = bitmap_sync(parent);
    if (!ec) ec = fd_store(parent, at, laid);
    if (ec) {
        abandon_fd(parent, at);
        return ec == E_GENERAL ? E_FULL : ec;
    }
    *lsn = at;
    return E_SUCCESS;
}

void abandon_fd(_pd& parent, std::int64_t lsn) {
    fd_stats fd;
    std::vector<unit_run> runs{{lsn, 1}};
    if (fd_load(parent, lsn, fd) == E_SUCCESS) runs = claimed_runs(parent, lsn, fd);
    claims_drop_fd(parent, lsn);
    for (const auto& [first, count] : runs) give_units(parent, first, count);
    bitmap_sync(parent);
}

}  // namespace detail

namespace {

// Opens the FD just made at `lsn`, with the access check of an open (by
// its FD: a walk by name would scan the whole directory again).
error_code open_new(os9_path_id* out, const target& t, int mode, std::int64_t lsn) {
    return open_on_image(out, t.image, t.whole, mode, t.raw, t.raw ? -1 : lsn);
}

// A new directory's ".." and "." entries, written through a path on its FD
// before any entry leads to it.
error_code fill_directory(const target& t, std::int64_t lsn, std::int64_t parent_lsn) {
    os9_path_id dir = nullptr;
    if (error_code ec = open_on_image(&dir, t.image, std::string(), MODE_DIR | MODE_WRITE, false, lsn)) return ec;
    error_code ec = dir_write_dots(dir, parent_lsn, lsn);
    if (error_code closed = _os9_close(dir); !ec) ec = closed;
    return ec;
}

// Makes the file `t.name` in its parent: its FD (and for a directory its
// ".." and "." entries) first, the entry in the parent last, each on the
// disk before the next.  Killed at any point, the disk holds at worst units
// marked in use that nothing claims.
error_code make_file(const target& t, int perms, bool directory, std::int64_t* made = nullptr) {
    os9_path_id parent = nullptr;
    if (error_code ec = open_on_image(&parent, t.image, t.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    const std::string& filename = t.name;
    auto fail = [&](error_code ec) {
        _os9_close(parent);
        return ec;
    };
    if (filename.empty() || filename.size() > NAME_FIELD || _os9_ok_filename(filename)) return fail(E_BPNAM);
    // The name taken already (case ignored), or the first free slot: from
    // the directory's index (built now), else one scan.
    dir_lookup found;
    if (error_code ec = dir_find(*parent, filename, index_use::build, &found)) return fail(ec);
    const bool taken = found.found();
    if (taken) return fail(E_CEF);

    fd_stats newFD{};
    newFD.fd_att = static_cast<u_char>(perms);
    UnixToOS9Time(std::time(nullptr), newFD.fd_dat);
    newFD.fd_lnk = 1;
    std::memcpy(newFD.fd_creat, newFD.fd_dat, 3);
    std::int64_t newLSN = 0;
    if (error_code ec = new_fd(*parent, newFD, &newLSN)) return fail(ec);
    auto give_back = [&](error_code ec) {
        abandon_fd(*parent, newLSN);
        return fail(ec);
    };
    if (directory) {
        if (error_code ec = fill_directory(t, newLSN, parent->pl_fd_lsn)) return give_back(ec);
    }
    if (error_code ec = dir_add(*parent, filename, newLSN, found.free_slot)) return give_back(ec);
    if (made) *made = newLSN;
    return _os9_close(parent);
}

error_code create_in(os9_path_id* out, const target& t, int mode, int perms) {
    *out = nullptr;
    std::int64_t lsn = -1;
    if (error_code ec = make_file(t, perms, false, &lsn)) return ec;
    return open_new(out, t, mode, lsn);
}

}  // namespace

error_code _native_create(os9_path_id path, const std::string& pathlist, int, int perms) {
    path->fd.reset(std::fopen(pathlist.c_str(), (perms & 0x03) ? "w+" : "r"));
    path->writable = (perms & 0x03) != 0;
    if (!path->fd) return E_FNA;
    return path->writable ? lock_file(fileno(path->fd.get()), true, path->imgfile) : E_SUCCESS;
}

error_code _os9_create(os9_path_id* out, const std::string& pathlist, int mode, int perms) {
    *out = nullptr;
    _pd parts;
    if (error_code ec = validate_pathlist(&parts, pathlist)) return ec;
    if (parts.isnative) {
        auto* path = new (std::nothrow) _pd;
        if (!path) return E_GENERAL;
        path->mode = mode;
        path->imgfile = parts.imgfile;
        path->isnative = 1;
        path->israw = !pathlist.empty() && pathlist.back() == '@';
        if (error_code ec = _native_create(path, pathlist, mode, perms)) {
            delete path;
            return ec;
        }
        *out = path;
        return E_SUCCESS;
    }
    target t;
    if (error_code ec = target_of_pathlist(pathlist, &t)) return ec;
    error_code ec = create_in(out, t, mode, perms);
    if (ec == E_SUCCESS) (*out)->imgfile = parts.imgfile;
    return ec;
}

namespace detail {

error_code make_directory(const target& t) { return make_file(t, ATT_NEWDIR, true); }

}  // namespace detail

error_code _os9_create(os9_path_id* out, const image_ref& image, const std::string& in_image, int mode,
                       int perms) {
    *out = nullptr;
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    return create_in(out, t, mode, perms);
}

}  // namespace rbf
