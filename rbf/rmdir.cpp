// Removing an empty directory: its entry goes, then its FD and units, as a
// file's do (rbf/delete.cpp's order).
#include "os9conv.h"
#include "os9disk.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace detail {

error_code dir_holds_entries(const image_ref& image, std::uint32_t lsn, bool* holds) {
    *holds = false;
    os9_path_id dir = nullptr;
    // The directory bit alone: an empty directory is empty whatever its
    // attributes say.
    if (error_code ec = _os9_open_fd(&dir, image, lsn, MODE_DIR)) return ec;
    os9_dirent e;
    error_code ec;
    while ((ec = _os9_readdir(dir, &e)) == E_SUCCESS) {
        if (e.name != "." && e.name != "..") {
            *holds = true;
            break;
        }
    }
    _os9_close(dir);
    return ec == E_EOF || ec == E_SUCCESS ? E_SUCCESS : ec;
}

}  // namespace detail

error_code _os9_delete_dir(const image_ref& image, const std::string& in_image) {
    if (!in_image.empty() && in_image.back() == '@') return E_BPNAM;
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    if (t.name.empty()) return E_BPNAM;
    if (NameEquals(t.name, ".") || NameEquals(t.name, "..")) return E_ILLARG;
    os9_path_id parent = nullptr;
    if (error_code ec = open_on_image(&parent, image, t.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    auto done = [&](error_code ec) {
        const error_code closed = _os9_close(parent);
        return ec ? ec : closed;
    };
    std::int64_t where = 0;
    std::uint32_t lsn = 0;
    error_code ec = dir_scan(*parent, 0, [&](const fd_dentry& e, std::int64_t) {
        if (e.name[0] == 0 || !NameFieldEquals(e.name, NAME_FIELD, t.name)) return false;
        lsn = get_be24(e.lsn);
        return true;
    }, &where);
    if (ec == E_EOF) return done(E_PNNF);
    if (ec) return done(ec);
    if (lsn == parent->geo.root_fd) return done(E_FNA);
    os9_stat st;
    if ((ec = _os9_stat_fd(parent, lsn, &st)) != E_SUCCESS) return done(ec);
    if (!st.is_dir) return done(E_FNA);
    bool holds = false;
    if ((ec = dir_holds_entries(image, lsn, &holds)) != E_SUCCESS) return done(ec);
    if (holds) return done(E_CEF);
    return done(delete_entry(*parent, where, lsn));
}

}  // namespace rbf
