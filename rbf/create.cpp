// Creation of new files in an image and on the host.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "os9conv.h"
#include "os9path.h"
#include "rbf/image.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

// Opens the FD just made, with the access check of an open.
error_code open_new(os9_path_id* out, const target& t, int mode) {
    return open_on_image(out, t.image, t.whole, mode, t.raw);
}

error_code create_in(os9_path_id* out, const target& t, int mode, int perms) {
    *out = nullptr;
    os9_path_id parent = nullptr;
    if (error_code ec = open_on_image(&parent, t.image, t.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    const std::string& filename = t.name;
    auto fail = [&](error_code ec) {
        _os9_close(parent);
        return ec;
    };
    if (filename.empty() || filename.size() > NAME_FIELD || _os9_ok_filename(filename)) return fail(E_BPNAM);
    if (error_code ec = _os9_file_exists(parent, filename)) return fail(ec);

    fd_stats newFD{};
    newFD.fd_att = static_cast<u_char>(perms);
    UnixToOS9Time(std::time(nullptr), newFD.fd_dat);
    newFD.fd_lnk = 1;
    std::memcpy(newFD.fd_creat, newFD.fd_dat, 3);

    // The FD goes to the lowest free unit outside LSN 0 and the bitmap.
    std::int64_t first = std::max<std::int64_t>(2, static_cast<std::int64_t>(parent->geo.first_data_unit()));
    std::int64_t newLSN = getfreebit_from(alloc_bitmap(*parent), first, alloc_limit(*parent));
    if (newLSN < 0) return fail(E_FULL);
    auto give_back = [&](error_code ec) {
        _os9_delbit(alloc_bitmap(*parent), static_cast<int>(newLSN), 1);
        return fail(ec);
    };
    if (fd_store(*parent, newLSN, newFD) != E_SUCCESS) return give_back(E_FULL);

    fd_dentry newDEntry{};
    std::string stored = filename;
    StringToOS9Name(stored);
    std::memcpy(newDEntry.name, stored.data(), stored.size());
    put_be24(newDEntry.lsn, static_cast<std::uint32_t>(newLSN));

    // The first free slot from the start, else the end of the directory.
    std::int64_t slot = 0;
    error_code ec = dir_scan(*parent, 0, [](const fd_dentry& e, std::int64_t) { return e.name[0] == 0; }, &slot);
    if (ec != E_SUCCESS && ec != E_EOF) return give_back(ec);
    parent->filepos = slot;
    int size = DIRENT_SIZE;
    if ((ec = _os9_write(parent, &newDEntry, &size)) != E_SUCCESS) return give_back(ec);
    if ((ec = _os9_close(parent)) != E_SUCCESS) return ec;
    return open_new(out, t, mode);
}

}  // namespace

error_code _native_create(os9_path_id path, const std::string& pathlist, int, int perms) {
    path->fd.reset(std::fopen(pathlist.c_str(), (perms & 0x03) ? "w+" : "r"));
    path->writable = (perms & 0x03) != 0;
    if (!path->fd) return E_FNA;
    return path->writable ? lock_file(fileno(path->fd.get()), true) : E_SUCCESS;
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

error_code _os9_create(os9_path_id* out, const image_ref& image, const std::string& in_image, int mode,
                       int perms) {
    *out = nullptr;
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    return create_in(out, t, mode, perms);
}

}  // namespace rbf
