// Removing an empty directory: its entry goes, then its FD and units, as a
// file's do (rbf/delete.cpp's order).
#include "os9conv.h"
#include "os9disk.h"
#include "rbf/directory.h"

namespace rbf {

using namespace detail;

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
    dir_lookup found;
    error_code ec = dir_find(*parent, t.name, index_use::if_known, &found);
    if (ec) return done(ec);
    if (!found.found()) return done(E_PNNF);
    const std::uint32_t lsn = found.lsn;
    if (lsn == parent->geo.root_fd) return done(E_FNA);
    os9_stat st;
    if ((ec = _os9_stat_fd(parent, lsn, &st)) != E_SUCCESS) return done(ec);
    if (!st.is_dir) return done(E_FNA);
    bool holds = false;
    if ((ec = dir_holds_entries(image, lsn, &holds)) != E_SUCCESS) return done(ec);
    if (holds) return done(E_CEF);
    return done(delete_entry(*parent, found.pos, lsn));
}

}  // namespace rbf
