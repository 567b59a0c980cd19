// The disk's boot code and a look at what makes a disk boot.  The boot code
// (the CoCo kernel track, the Dragon's boot area) lies in sectors that no
// file holds; installing it marks their clusters in use before it writes
// them, so that a stop between the two leaves only units nothing claims.
#include <algorithm>
#include <vector>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/claims.h"
#include "rbf/directory.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

constexpr std::uint32_t KERNEL_TRACK = 34;
constexpr std::uint32_t KERNEL_SECTORS = 18;
constexpr std::uint32_t DRAGON_FIRST = 2;
constexpr std::uint32_t DRAGON_SECTORS = 16;
constexpr char SYSTEM_OWNER[] = "LSN 0 and the bitmap";

error_code place_on(const os9_image& img, const disk_geometry& g, boot_code kind, boot_code_place* place) {
    u_char s0[SECTOR_SIZE];
    if (image_read(img, 0, s0, SECTOR_SIZE) != SECTOR_SIZE) return E_GENERAL;
    const auto* lsn0 = reinterpret_cast<const lsn0_sect*>(s0);
    boot_code_place at;
    if (kind == boot_code::dragon_area) {
        at = {DRAGON_FIRST, DRAGON_SECTORS};
    } else {
        const std::uint32_t sides = (lsn0->dd_fmt & 1) ? 2 : 1;
        if (lsn0->dd_tks == 0) return E_GENERAL;
        at = {KERNEL_TRACK * sides * lsn0->dd_tks, KERNEL_SECTORS};
    }
    if (std::uint64_t{at.first} + at.count > g.total_units) return E_GENERAL;
    *place = at;
    return E_SUCCESS;
}

// What the tree makes of the disk: who holds the boot code's sectors, and
// which file the boot pointer names.  One walk, each FD once.
struct boot_walk {
    _pd& p;
    boot_code_place code;
    boot_pointer pointer;
    std::vector<std::string> places{"/"};
    std::string owner;
    bool found = false;
    std::uint32_t found_lsn = 0;
    std::string found_place;
    fd_stats found_fd{};

    boot_walk(_pd& path, boot_code_place area, boot_pointer b) : p(path), code(area), pointer(b) {}

    bool overlaps(const unit_run& r) const {
        return r.first < std::int64_t{code.first} + code.count && std::int64_t{code.first} < r.first + r.second;
    }

    void run(bool find_owner) {
        walk_tree(
            p, p.geo.root_fd, 0,
            [&](const walk_node& t, fd_stats& fd) {
                if (fd_load(p, t.lsn, fd) != E_SUCCESS) return walk_next::skip;
                const std::string& place = places[t.tag];
                if (find_owner && owner.empty())
                    for (const unit_run& r : claimed_runs(p, t.lsn, fd))
                        if (overlaps(r)) owner = place;
                const bool dir = (fd.fd_att & ATT_DIR) != 0;
                if (!dir && !found && names_boot_file(pointer, t.lsn, fd)) {
                    found = true;
                    found_lsn = t.lsn;
                    found_place = place;
                    found_fd = fd;
                }
                return dir ? walk_next::descend : walk_next::skip;
            },
            [&](const walk_node& t, const fd_dentry& e, std::int64_t off, bool seen, std::size_t* tag) {
                if (off < 2 * DIRENT_SIZE || seen || e.name[0] == 0) return walk_next::skip;
                const std::string name = NameFromField(e.name, NAME_FIELD);
                if (name == "." || name == "..") return walk_next::skip;
                const std::string& parent = places[t.tag];
                *tag = places.size();
                places.push_back(parent == "/" ? "/" + name : parent + "/" + name);
                return walk_next::descend;
            });
    }
};

bool cluster_in_use(_pd& p, std::int64_t lsn) {
    const std::span<u_char> bits = alloc_bitmap(p);
    const std::int64_t b = unit_bit(p, lsn);
    return b / 8 < static_cast<std::int64_t>(bits.size()) && (bits[static_cast<std::size_t>(b / 8)] & (0x80 >> (b % 8)));
}

// The root opened to read: the geometry, the map and the walk's start.
error_code open_root(const image_ref& image, os9_path_id* p) {
    return open_on_image(p, image, "", MODE_DIR | MODE_READ, false);
}

}  // namespace

error_code boot_code_place_of(const image_ref& image, boot_code kind, boot_code_place* place) {
    disk_geometry g;
    if (error_code ec = image_geometry(*image, &g)) return ec;
    return place_on(*image, g, kind, place);
}

error_code _os9_install_boot_code(const image_ref& image, boot_code kind, std::span<const u_char> code,
                                  std::string* owner) {
    owner->clear();
    os9_path_id root = nullptr;
    if (error_code ec = open_root(image, &root)) return ec;
    _pd& p = *root;
    auto done = [&](error_code ec) {
        error_code closed = _os9_close(root);
        return ec ? ec : closed;
    };
    boot_code_place at;
    if (error_code ec = place_on(*image, p.geo, kind, &at)) return done(ec);
    if (code.size() > std::size_t{at.count} * SECTOR_SIZE) return done(E_FULL);
    if (at.first < p.geo.bitmap_end_unit()) {
        *owner = SYSTEM_OWNER;
        return done(E_FNA);
    }
    boot_walk w(p, at, boot_pointer{});
    w.run(true);
    if (!w.owner.empty()) {
        *owner = w.owner;
        return done(E_FNA);
    }
    if (!image->rw()) return done(E_FNA);
    // In use first: until the code is written, the sectors are at worst leaked.
    bool all_marked = true;
    for (std::uint32_t u = at.first; u < at.first + at.count; ++u) all_marked &= cluster_in_use(p, u);
    if (!all_marked) {
        take_units(p, at.first, at.count);
        if (error_code ec = bitmap_sync(p)) return done(ec);
    }
    std::vector<u_char> sectors(std::size_t{at.count} * SECTOR_SIZE, 0);
    std::copy(code.begin(), code.end(), sectors.begin());
    if (image_write(*image, static_cast<std::uint64_t>(unit_offset(p, at.first)), sectors.data(), sectors.size()) !=
        sectors.size())
        return done(write_error(*image));
    return done(E_SUCCESS);
}

error_code _os9_boot_report(const image_ref& image, boot_code kind, boot_report* report) {
    *report = boot_report{};
    os9_path_id root = nullptr;
    if (error_code ec = open_root(image, &root)) return ec;
    _pd& p = *root;
    report->pointer = boot_pointer_in(*image);
    report->code_on_disk = place_on(*image, p.geo, kind, &report->code) == E_SUCCESS;
    boot_walk w(p, report->code, report->pointer);
    w.run(report->code_on_disk);
    if (report->code_on_disk) {
        const boot_code_place& at = report->code;
        report->code_owner = at.first < p.geo.bitmap_end_unit() ? SYSTEM_OWNER : w.owner;
        for (std::uint32_t u = at.first; u < at.first + at.count; ++u) report->code_marked += cluster_in_use(p, u);
        report->code_bytes.resize(std::size_t{at.count} * SECTOR_SIZE);
        report->code_bytes.resize(image_read(*image, static_cast<std::uint64_t>(unit_offset(p, at.first)),
                                             report->code_bytes.data(), report->code_bytes.size()));
    }
    if (w.found) {
        const fd_stats& fd = w.found_fd;
        report->file_found = true;
        report->file_place = w.found_place;
        report->file_fd = w.found_lsn;
        report->file_first = get_be24(fd.fd_seg[0].lsn);
        report->file_size = static_cast<std::uint32_t>(fd_size(fd));
        report->file_segments = segments_of(p, fd).count;
        report->file_one_segment = in_one_run(fd);
        // Never more than the disk holds, whatever fd_siz says.
        const std::int64_t want = std::min<std::int64_t>(fd_size(fd), disk_bytes(p));
        report->file_bytes.resize(static_cast<std::size_t>(want));
        std::int64_t got = 0;
        if (want > 0) file_transfer(p, fd, 0, report->file_bytes.data(), want, false, false, &got);
        report->file_bytes.resize(static_cast<std::size_t>(got));
    }
    return _os9_close(root);
}

}  // namespace rbf
