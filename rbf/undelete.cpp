// Deleted entries: what a delete left of them (the name but its first
// byte, the FD sector, the FD and its units until they are taken again),
// and the restore of one whose FD and units nothing has taken since.
//
// Order on the disk of a restore: the clusters marked in use, the FD's
// link count, a directory's "..", the entry last.  Killed in between, the
// file is still deleted and its units at worst leak (dvcheck -r frees them).
#include <algorithm>
#include <memory>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/claims.h"
#include "rbf/directory.h"

namespace rbf {

using namespace detail;

namespace {

// The units as the disk has them now: the allocation map this process
// sees (the writers' one when loaded, else the bitmap on the image) and
// which live file claims which unit.
class unit_view {
public:
    explicit unit_view(_pd& p) : p_(p), claims_(known_claims(p)) {
        const allocation_map& m = p.img->map;
        if (m.loaded && m.bytes_wanted == p.geo.bitmap_bytes) {
            bits_ = m.bits;
        } else {
            bits_.resize(p.geo.bitmap_bytes);
            bits_.resize(image_read(*p.img, SECTOR_SIZE, bits_.data(), bits_.size()));
        }
    }

    // The first of sectors lsn .. lsn + n - 1 whose cluster is marked in
    // use (a bit the image does not hold counts so) or holds a sector a
    // live file claims; -1 when none is.
    std::int64_t first_in_use(std::int64_t lsn, std::int64_t n) const {
        const std::int64_t c = p_.geo.cluster_sectors;
        const auto total = static_cast<std::int64_t>(claims_.count.size());
        for (std::int64_t b = lsn / c; b <= (lsn + n - 1) / c; ++b) {
            bool used = system_bit(p_, b) || static_cast<std::size_t>(b / 8) >= bits_.size() ||
                        (bits_[static_cast<std::size_t>(b / 8)] & (0x80 >> (b % 8))) != 0;
            for (std::int64_t u = b * c; !used && u < std::min((b + 1) * c, total); ++u)
                used = claims_.count[static_cast<std::size_t>(u)] > 0;
            if (used) return std::max(lsn, b * c);
        }
        return -1;
    }

private:
    _pd& p_;
    const unit_claims& claims_;
    std::vector<u_char> bits_;
};

// The runs an FD would claim back: its own sector and each segment.  False
// when the FD is no sane one: a segment after the end of the list, empty,
// off the disk or over another run, a size past the units, a directory
// without whole entries, its ".." and a "." naming itself.
bool sane_runs(_pd& p, std::uint32_t lsn, const fd_stats& fd, std::vector<unit_run>* runs) {
    runs->assign(1, unit_run{lsn, 1});
    std::int64_t allocated = 0;
    bool ended = false;
    for (int k = 0; k < SEGMENT_COUNT; ++k) {
        const std::int64_t first = get_be24(fd.fd_seg[k].lsn);
        const std::int64_t n = get_be16(fd.fd_seg[k].num);
        if (first == 0) {
            ended = true;
            continue;
        }
        if (ended || n == 0 || !units_sane(p, first, n)) return false;
        runs->emplace_back(first, n);
        allocated += n * unit_bytes(p);
    }
    std::vector<unit_run> sorted = *runs;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t k = 1; k < sorted.size(); ++k)
        if (sorted[k - 1].first + sorted[k - 1].second > sorted[k].first) return false;
    const std::int64_t size = fd_size(fd);
    if (size > allocated) return false;
    if (!(fd.fd_att & ATT_DIR)) return true;
    fd_dentry e[2];
    return size % DIRENT_SIZE == 0 && size >= 2 * DIRENT_SIZE && dir_read_first(p, fd, e, 2) == 2 &&
           NameFromField(e[0].name, NAME_FIELD) == ".." && NameFromField(e[1].name, NAME_FIELD) == "." &&
           get_be24(e[1].lsn) == lsn;
}

// Whether the directory `fd` names live entries past its ".." and ".".
bool holds_live_entries(_pd& p, const fd_stats& fd) {
    bool holds = false;
    dir_each(p, fd, [&](const fd_dentry&, std::int64_t pos) { return holds = pos >= 2 * DIRENT_SIZE; });
    return holds;
}

// What became of the entry's FD and units; *runs gets what it would claim.
void assess(_pd& p, const unit_view& view, os9_deleted& d, std::vector<unit_run>* runs) {
    runs->clear();
    const std::uint32_t lsn = d.fd_lsn;
    fd_stats fd;
    if (!units_sane(p, lsn, 1) || system_unit(p, lsn)) {
        d.state = deleted_state::fd_outside;
    } else if (view.first_in_use(lsn, 1) >= 0) {
        d.state = deleted_state::fd_in_use;
    } else if (fd_load(p, lsn, fd) != E_SUCCESS) {
        d.state = deleted_state::fd_damaged;
    } else {
        d.is_dir = (fd.fd_att & ATT_DIR) != 0;
        d.size = get_be32(fd.fd_siz);
        d.state = deleted_state::recoverable;
        if (!sane_runs(p, lsn, fd, runs)) {
            d.state = deleted_state::fd_damaged;
            return;
        }
        for (const auto& [first, n] : *runs)
            if (const std::int64_t u = view.first_in_use(first, n); u >= 0) {
                d.state = deleted_state::unit_in_use;
                d.unit = static_cast<std::uint32_t>(u);
                return;
            }
        if (d.is_dir && holds_live_entries(p, fd)) d.state = deleted_state::holds_entries;
    }
}

struct closer {
    void operator()(_pd* p) const { _os9_close(p); }
};

}  // namespace

error_code _os9_deleted_entries(os9_path_id dir, std::vector<os9_deleted>* entries) {
    entries->clear();
    if (!dir || dir->isnative || dir->israw || !dir->img) return E_FNA;
    fd_stats dfd;
    if (error_code ec = fd_load(*dir, dir->pl_fd_lsn, dfd)) return ec;
    if (!(dfd.fd_att & ATT_DIR)) return E_FNA;
    const std::int64_t size = fd_size(dfd);
    std::int64_t where = 0;
    const error_code ec = dir_scan(*dir, 0, [&](const fd_dentry& e, std::int64_t pos) {
        // A part entry at the end of the directory is none.
        if (pos + DIRENT_SIZE <= size && e.name[0] == 0 && get_be24(e.lsn) != 0)
            entries->push_back(os9_deleted{NameFromField(e.name + 1, NAME_FIELD - 1), get_be24(e.lsn), pos});
        return false;
    }, &where);
    if (!entries->empty()) {
        const unit_view view(*dir);
        std::vector<unit_run> runs;
        for (os9_deleted& d : *entries) assess(*dir, view, d, &runs);
    }
    return ec == E_EOF ? E_SUCCESS : ec;
}

error_code _os9_undelete(const image_ref& image, const std::string& dir_in_image, std::uint32_t fd_lsn,
                         const std::string& newname, undelete_report* report) {
    *report = undelete_report{};
    if (!dir_in_image.empty() && dir_in_image.back() == '@') return E_BPNAM;
    if (newname.empty() || newname.size() > NAME_FIELD || _os9_ok_filename(newname)) return E_BPNAM;
    os9_path_id opened = nullptr;
    if (error_code ec = open_on_image(&opened, image, dir_in_image, MODE_DIR | MODE_WRITE, false)) return ec;
    const std::unique_ptr<_pd, closer> dir(opened);
    const auto dir_lsn = static_cast<std::uint32_t>(dir->pl_fd_lsn);

    std::vector<os9_deleted> deleted;
    const error_code listed = _os9_deleted_entries(dir.get(), &deleted);
    const auto it = std::find_if(deleted.begin(), deleted.end(), [&](const os9_deleted& d) { return d.fd_lsn == fd_lsn; });
    if (it == deleted.end()) return listed ? listed : E_PNNF;
    report->entry = *it;
    dir_lookup clash;
    if (error_code ec = dir_find(*dir, newname, index_use::if_known, &clash)) return ec;
    if (clash.found()) return E_CEF;
    if (it->state != deleted_state::recoverable) return E_FNA;

    // Assessed afresh with the runs to take: nothing has changed since.
    std::vector<unit_run> runs;
    assess(*dir, unit_view(*dir), report->entry, &runs);
    if (report->entry.state != deleted_state::recoverable) return E_FNA;
    fd_stats fd;
    if (error_code ec = fd_load(*dir, fd_lsn, fd)) return ec;
    auto undo = [&](error_code ec) {
        claims_drop_fd(*dir, fd_lsn);
        for (const auto& [first, n] : runs) give_units(*dir, first, n);
        bitmap_sync(*dir);
        return ec;
    };
    for (const auto& [first, n] : runs) take_units(*dir, first, n);
    if (error_code ec = bitmap_sync(*dir)) return undo(ec);
    fd.fd_lnk = 1;
    if (error_code ec = fd_store(*dir, fd_lsn, fd)) return undo(ec);
    if (report->entry.is_dir) {
        std::uint32_t parent = 0;
        if (error_code ec = dir_read_parent(*dir, fd_lsn, &parent)) return undo(ec);
        if (parent != dir_lsn) {
            if (error_code ec = dir_set_parent(*dir, fd_lsn, dir_lsn)) return undo(ec);
            report->parent_fixed = true;
        }
    }
    if (error_code ec = dir_write_entry_alone(*dir, report->entry.pos, newname, fd_lsn)) return undo(ec);
    return E_SUCCESS;
}

}  // namespace rbf
